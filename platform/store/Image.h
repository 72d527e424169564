#ifndef PLATFORM_STORE_IMAGE_H
#define PLATFORM_STORE_IMAGE_H
// A picture held as its encoded bytes (PNG or JPEG), made only from bytes that start with one
// of those signatures and carry a readable header (size from ns::ImageSize). The picture is not
// decoded; whoever shows it decodes the bytes.
//
// ns::Value has no image kind: where an image travels in a dictionary (the bridge's chapter
// image, "SVChapterImageKey"), it travels as an ns::Data of Bytes(), and the receiver may make
// the Image again with FromBytes.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/store/ImageSize.h"

namespace ns {

class Image {
public:
    Image() = default;

    // Makes the image from bytes that begin with the PNG signature (89 50 4E 47 0D 0A 1A 0A) or
    // the JPEG start of image (FF D8 FF) and whose header gives a size. False, with `image`
    // unchanged and `error` (when given) saying why, for anything else: empty or short input,
    // another format, a garbled or truncated header.
    static bool FromBytes(const std::vector<uint8_t>& bytes, Image& image,
                          std::string* error = nullptr);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    ImageSize::Format GetFormat() const { return size_.GetFormat(); }
    uint32_t Width() const { return size_.Width(); }
    uint32_t Height() const { return size_.Height(); }
    // No bytes: a default-made image.
    bool IsEmpty() const { return bytes_.empty(); }

    // The bytes as a value's data, for dictionaries.
    Data ToData() const { return Data(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    ImageSize size_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_IMAGE_H
