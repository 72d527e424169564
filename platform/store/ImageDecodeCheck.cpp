#include "platform/store/ImageDecodeCheck.h"

#include <string>
#include <vector>

#include "platform/store/ImageCodecErrors.h"
#include "platform/store/ImageSize.h"

namespace ns {

namespace {

// Kept apart from the function that calls setjmp: nothing of it lives across the jump.
bool JpegDecodes(std::string_view bytes, std::string* error) {
    jpeg_decompress_struct info;
    image_codec::JpegFailure failure;
    image_codec::JpegUseFailure(info, failure);
    jpeg_create_decompress(&info);
    // Allocated before the jump point and freed after it, so the jump leaks nothing.
    std::vector<JSAMPLE> row;
    if (setjmp(failure.jump) != 0) {
        jpeg_destroy_decompress(&info);
        if (error) *error = image_codec::DoesNotDecode("JPEG", failure.message);
        return false;
    }
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (info.image_width > ImageDecodeCheck::kMaxSide ||
        info.image_height > ImageDecodeCheck::kMaxSide) {
        jpeg_destroy_decompress(&info);
        if (error) *error = "the JPEG is too large to show";
        return false;
    }
    // Every byte of the entropy-coded data is still read and decoded; only the pixels made
    // from it are fewer.
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    row.resize(static_cast<size_t>(info.output_width) * info.output_components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool PngDecodes(std::string_view bytes, std::string* error) {
    image_codec::PngInput input{bytes};
    png_structp png = nullptr;
    png_infop info = nullptr;
    if (!image_codec::PngCreate(input, png, info, error)) return false;
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (error) *error = image_codec::DoesNotDecode("PNG", input.message);
        return false;
    }
    png_set_user_limits(png, ImageDecodeCheck::kMaxSide, ImageDecodeCheck::kMaxSide);
    png_read_info(png, info);
    // The passes of an interlaced picture are read into the one row as well: only the decoding
    // matters, not the pixels.
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    row.resize(png_get_rowbytes(png, info));
    const png_uint_32 height = png_get_image_height(png, info);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row.data(), nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool ImageDecodeCheck::Decodes(std::string_view bytes, std::string* error) {
    ImageSize size;
    if (!ImageSize::ReadBytes(bytes, size, error)) return false;
    return size.GetFormat() == ImageSize::Format::PNG ? PngDecodes(bytes, error)
                                                      : JpegDecodes(bytes, error);
}

}  // namespace ns
