// Feeds arbitrary bytes to the picture check and to the scaled decoder, as a thumbnail answer
// would arrive. Whatever the bytes, each ends with an answer (no crash, no read past the end,
// bounded memory), the check the same answer twice, a reason whenever one refuses, and a
// decoded picture of the size that covers the box with all its pixels.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/store/ImageDecodeCheck.h"
#include "platform/store/ImageSize.h"
#include "platform/store/ScaledImageDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string why;
    const bool decodes = ns::ImageDecodeCheck::Decodes(bytes, &why);
    if (!decodes && why.empty()) std::abort();
    if (ns::ImageDecodeCheck::Decodes(bytes) != decodes) std::abort();

    ns::ScaledImageDecoder::Picture picture;
    why.clear();
    if (!ns::ScaledImageDecoder::Decode(bytes, 200, 160, picture, &why)) {
        if (why.empty()) std::abort();
        return 0;
    }
    ns::ImageSize header;
    uint32_t width = 0, height = 0;
    if (!ns::ImageSize::ReadBytes(bytes, header)) std::abort();
    ns::ScaledImageDecoder::FillSize(header.Width(), header.Height(), 200, 160, width, height);
    if (picture.width != width || picture.height != height ||
        picture.rgba.size() != size_t{width} * height * 4) {
        std::abort();
    }
    return 0;
}
