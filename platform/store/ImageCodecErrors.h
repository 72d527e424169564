#ifndef PLATFORM_STORE_IMAGECODECERRORS_H
#define PLATFORM_STORE_IMAGECODECERRORS_H
// How the picture decoders of this folder take libjpeg's and libpng's fatal errors: each
// library reports one through a callback that must not return, so the callback keeps the
// message and jumps back to the decoding function's setjmp. Warnings (corrupt data the decoder
// goes on past) are not printed: stderr is the log's. PNG bytes are read from memory, every
// read checked against what is left.
//
// Whoever calls setjmp keeps every object with a destructor outside the stretch the jump can
// skip: made before the setjmp, freed after it. RunUntilJump does so for work handed to it.

// libjpeg's header needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <string>
#include <string_view>

#include <jpeglib.h>
#include <png.h>

namespace ns::image_codec {

// Runs `work`, which a fatal error of either library may end by jumping to `jump`: true when it
// ran to its end. This frame holds nothing but its arguments across the jump, and `work` keeps
// its state in its caller's objects (made before, read after), so nothing is clobbered and no
// destructor is skipped.
template <typename Work>
bool RunUntilJump(std::jmp_buf& jump, const Work& work) {
    if (setjmp(jump) != 0) return false;
    work();
    return true;
}

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

inline void JpegErrorExit(j_common_ptr info) {
    auto* failure = reinterpret_cast<JpegFailure*>(info->err);
    (*info->err->format_message)(info, failure->message);
    std::longjmp(failure->jump, 1);
}

inline void JpegQuiet(j_common_ptr /*info*/, int /*level*/) {}

// Points the decompressor's errors at `failure`; call setjmp(failure.jump) next.
inline void JpegUseFailure(jpeg_decompress_struct& info, JpegFailure& failure) {
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = &JpegErrorExit;
    failure.manager.emit_message = &JpegQuiet;
    failure.message[0] = '\0';
}

struct PngInput {
    std::string_view bytes;
    size_t at = 0;
    char message[256] = "";
};

inline void PngRead(png_structp png, png_bytep out, png_size_t size) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (size > input->bytes.size() - input->at) png_error(png, "the data end too early");
    std::memcpy(out, input->bytes.data() + input->at, size);
    input->at += size;
}

inline void PngError(png_structp png, png_const_charp message) {
    auto* input = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(input->message, sizeof input->message, "%s", message);
    png_longjmp(png, 1);
}

inline void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// A read struct whose errors and reads go through `input`, and its info struct; false (both
// freed, and `error`, when given, saying so) when there is no memory for them.
inline bool PngCreate(PngInput& input, png_structp& png, png_infop& info, std::string* error) {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &input, &PngError, &PngWarning);
    info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        if (error) *error = "no memory to decode the PNG";
        return false;
    }
    png_set_read_fn(png, &input, &PngRead);
    return true;
}

// The error for a picture of `format` ("JPEG", "PNG") that its library gave up on with `message`.
inline std::string DoesNotDecode(const char* format, const char* message) {
    return std::string("the ") + format + " does not decode: " + message;
}

}  // namespace ns::image_codec

#endif  // PLATFORM_STORE_IMAGECODECERRORS_H
