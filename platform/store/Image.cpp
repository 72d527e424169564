#include "platform/store/Image.h"

#include <cstring>
#include <string_view>

namespace ns {

namespace {

const uint8_t kJpegStart[3] = {0xFF, 0xD8, 0xFF};

bool StartsWith(const std::vector<uint8_t>& bytes, const uint8_t* prefix, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), prefix, n) == 0;
}

}  // namespace

bool Image::FromBytes(const std::vector<uint8_t>& bytes, Image& image, std::string* error) {
    ImageSize::Format expected = ImageSize::Format::None;
    if (StartsWith(bytes, ImageSize::kPngSignature, sizeof ImageSize::kPngSignature)) {
        expected = ImageSize::Format::PNG;
    } else if (StartsWith(bytes, kJpegStart, sizeof kJpegStart)) {
        expected = ImageSize::Format::JPEG;
    } else {
        if (error) *error = bytes.empty() ? "no image bytes" : "not a PNG or JPEG image";
        return false;
    }
    ImageSize size;
    std::string why;
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!ImageSize::ReadBytes(view, size, &why)) {
        if (error) *error = why;
        return false;
    }
    if (size.GetFormat() != expected) {
        if (error) *error = "image header does not match its signature";
        return false;
    }
    image.bytes_ = bytes;
    image.size_ = size;
    return true;
}

}  // namespace ns
