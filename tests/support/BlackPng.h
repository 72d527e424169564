#ifndef TESTS_SUPPORT_BLACKPNG_H
#define TESTS_SUPPORT_BLACKPNG_H
// A PNG of width x height black 8-bit pixels (grey, or RGB), written a row at a time through
// libpng: its rows deflate to next to nothing, so a picture of hundreds of megabytes decoded is
// a few hundred kilobytes on disk, as a hostile thumbnail would be.

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace SvTestSupport {

inline bool WriteBlackPng(const std::string& path, uint32_t width, uint32_t height,
                          bool rgb = false) {
    FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    volatile bool written = false;  // set between setjmp and a possible longjmp
    // Made before the jump point and freed after it.
    std::vector<png_byte> row(static_cast<size_t>(width) * (rgb ? 3 : 1), 0);
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_set_compression_level(png, 9);
        png_write_info(png, info);
        for (uint32_t y = 0; y < height; ++y) png_write_row(png, row.data());
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

}  // namespace SvTestSupport

#endif  // TESTS_SUPPORT_BLACKPNG_H
