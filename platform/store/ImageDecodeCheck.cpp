#include "platform/store/ImageDecodeCheck.h"

// libjpeg's header needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "platform/store/ImageSize.h"

namespace ns {

namespace {

// --- JPEG: libjpeg reports a fatal error through error_exit, which must not return; it jumps
// back to the check with the message kept.

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
    auto* failure = reinterpret_cast<JpegFailure*>(info->err);
    (*info->err->format_message)(info, failure->message);
    std::longjmp(failure->jump, 1);
}

// Warnings (corrupt data the decoder goes on past) are not printed: stderr is the log's.
void JpegQuiet(j_common_ptr /*info*/, int /*level*/) {}

// Kept apart from the function that calls setjmp: nothing of it lives across the jump.
bool JpegDecodes(std::string_view bytes, std::string* error) {
    jpeg_decompress_struct info;
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = &JpegErrorExit;
    failure.manager.emit_message = &JpegQuiet;
    failure.message[0] = '\0';
    jpeg_create_decompress(&info);
    // Allocated before the jump point and freed after it, so the jump leaks nothing.
    std::vector<JSAMPLE> row;
    if (setjmp(failure.jump) != 0) {
        jpeg_destroy_decompress(&info);
        if (error) *error = std::string("the JPEG does not decode: ") + failure.message;
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

// --- PNG: libpng reports a fatal error through png_error, which jumps back the same way.

struct PngInput {
    std::string_view bytes;
    size_t at = 0;
    char message[256] = "";
};

void PngRead(png_structp png, png_bytep out, png_size_t size) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (size > input->bytes.size() - input->at) png_error(png, "the data end too early");
    std::memcpy(out, input->bytes.data() + input->at, size);
    input->at += size;
}

void PngError(png_structp png, png_const_charp message) {
    auto* input = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(input->message, sizeof input->message, "%s", message);
    png_longjmp(png, 1);
}

void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

bool PngDecodes(std::string_view bytes, std::string* error) {
    PngInput input;
    input.bytes = bytes;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, &PngError, &PngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        if (error) *error = "no memory to decode the PNG";
        return false;
    }
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (error) *error = std::string("the PNG does not decode: ") + input.message;
        return false;
    }
    png_set_read_fn(png, &input, &PngRead);
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
