#ifndef PLATFORM_STORE_SCALEDIMAGEDECODER_H
#define PLATFORM_STORE_SCALEDIMAGEDECODER_H
// PNG or JPEG bytes decoded straight to the size they are shown at. The rows stream through
// and are averaged into the small picture as they arrive, so the memory a decode takes is that
// of the small picture and a row, whatever the size of the picture itself: a JPEG is read at
// the smallest eighth, quarter or half that still covers the box; an interlaced PNG, whose rows
// are whole only after its last pass, is held whole while it decodes and is therefore taken
// only up to kMaxInterlacedPixels.
//
// Before anything is decoded, the size in the header is held against a pixel budget: a
// picture of more than kMaxPixels pixels, or wider or taller than kMaxSide, is refused at once.
// A file of a few kilobytes can claim 8192 x 8192 pixels; decoding that would cost a quarter
// of a gigabyte or most of a second, for a picture drawn a few hundred pixels wide.
//
// Decoding and its errors as in ImageDecodeCheck (a JPEG cut short passes, a PNG cut short
// fails). Slow for large pictures: not for the main thread. Any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

class ScaledImageDecoder {
public:
    static constexpr uint64_t kMaxPixels = uint64_t{4096} * 4096;
    static constexpr uint64_t kMaxInterlacedPixels = uint64_t{2048} * 2048;
    static constexpr uint32_t kMaxSide = 8192;

    // RGBA, 4 bytes a pixel, alpha not premultiplied, rows top down.
    struct Picture {
        uint32_t width = 0;
        uint32_t height = 0;
        std::vector<uint8_t> rgba;
    };

    // The size a width x height picture is decoded at to fill a box of boxWidth x boxHeight as
    // an aspect fill draws it: both sides scaled by the larger of boxWidth / width and
    // boxHeight / height, never enlarged (a factor over 1 counts as 1), each rounded to the
    // nearest whole pixel and at least 1. A side of 0 (picture or box) gives 0 x 0.
    static void FillSize(uint32_t width, uint32_t height, uint32_t boxWidth, uint32_t boxHeight,
                         uint32_t& outWidth, uint32_t& outHeight);

    // Decodes to FillSize of the box, each pixel the average of the pixels it covers
    // (weighted by their alpha). False, with `picture` unchanged and `error` (when given)
    // saying why, for bytes that are no PNG or JPEG, that do not decode, or that are over the
    // budget.
    static bool Decode(std::string_view bytes, uint32_t boxWidth, uint32_t boxHeight,
                       Picture& picture, std::string* error = nullptr);
};

}  // namespace ns

#endif  // PLATFORM_STORE_SCALEDIMAGEDECODER_H
