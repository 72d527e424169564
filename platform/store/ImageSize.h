#ifndef PLATFORM_STORE_IMAGESIZE_H
#define PLATFORM_STORE_IMAGESIZE_H
// The pixel size of a PNG or JPEG picture, read from its header alone (the PNG IHDR chunk, the
// JPEG frame header SOF0-SOF15), without decoding the picture. Every length is checked before
// it is used: a truncated, oversized or garbled header is an error, never a read past the end.

#include <cstdint>
#include <string>
#include <string_view>

namespace ns {

class ImageSize {
public:
    enum class Format { None, PNG, JPEG };
    // The eight bytes every PNG file starts with.
    static constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    // JPEG files may carry large metadata segments before the frame header; the search stops
    // this far into the file.
    static constexpr uint64_t kMaxJpegScan = 16u << 20;

    ImageSize() = default;
    ImageSize(Format format, uint32_t width, uint32_t height)
        : format_(format), width_(width), height_(height) {}

    Format GetFormat() const { return format_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }

    // Reads the size of the picture in the file at path / in bytes. False, with size left
    // unchanged and error (if given) saying why, for anything but a well-formed PNG or JPEG
    // header.
    static bool ReadFile(const std::string& path, ImageSize& size, std::string* error = nullptr);
    static bool ReadBytes(std::string_view bytes, ImageSize& size, std::string* error = nullptr);

    bool operator==(const ImageSize& other) const {
        return format_ == other.format_ && width_ == other.width_ && height_ == other.height_;
    }

private:
    Format format_ = Format::None;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace ns

#endif  // PLATFORM_STORE_IMAGESIZE_H
