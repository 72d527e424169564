#ifndef PLATFORM_UI_IMAGE_H
#define PLATFORM_UI_IMAGE_H
// A picture as the view models hold it: a name, a size in points (one point per pixel), cap
// insets for stretching, and what it is made of: the encoded PNG or JPEG bytes of a bundle
// resource or file (the renderer decodes them; the model reads only the size from the header)
// or RGBA pixels the toolkit generated itself (Filled). Images are immutable and shared.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/ImageSize.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

class Image {
public:
    using Ptr = std::shared_ptr<const Image>;
    enum class Source { Encoded, Pixels };

    // The bundle picture of that name (ns::Bundle::Main(); "name", "name.png", "name.jpg"),
    // loaded once and kept by name; null when there is none or it is not a readable PNG/JPEG
    // (a missing picture is looked for again on the next call).
    static Ptr Named(const std::string& name);
    // Forgets the pictures kept by Named (tests that change the bundle).
    static void ClearNamedCache();
    // A PNG or JPEG file; null, with `error` saying why, when it cannot be read or is neither.
    static Ptr FromFile(const std::string& path, std::string* error = nullptr);
    // Encoded bytes; null, with `error`, when they are not a PNG or JPEG with a readable size.
    static Ptr FromBytes(const std::vector<uint8_t>& bytes, const std::string& name = {},
                         std::string* error = nullptr);
    // A rectangle of colour with rounded corners (radius clamped to half the shorter side):
    // ceil(width) x ceil(height) RGBA pixels, each pixel wholly inside or outside by its
    // centre. Null for an empty size or one over 4096 on a side.
    static Ptr Filled(const Size& size, const Color& color, double cornerRadius);
    // Pixels decoded elsewhere (RGBA, 4 bytes a pixel, rows top down), shown one point a pixel;
    // `path` is the file they were decoded from, if any. Null for an empty size or pixels that
    // are not width x height x 4 bytes.
    static Ptr FromPixels(int width, int height, std::vector<uint8_t> rgba,
                          const std::string& name = {}, const std::string& path = {});

    const std::string& Name() const { return name_; }
    const ui::Size& GetSize() const { return size_; }
    Source GetSource() const { return source_; }

    // Stretching: the caps stay as they are and the middle stretches. The platform's
    // left-cap/top-cap form makes the middle one pixel: right = width - left - 1, bottom =
    // height - top - 1 (no right or bottom cap when the left or top cap is 0).
    Ptr StretchableImage(int leftCapWidth, int topCapHeight) const;
    const EdgeInsets& CapInsets() const { return capInsets_; }
    int LeftCapWidth() const { return leftCap_; }
    int TopCapHeight() const { return topCap_; }
    bool IsStretchable() const { return leftCap_ > 0 || topCap_ > 0; }

    // Encoded images: the bytes and their format. The file an image came from, encoded or
    // decoded (may be empty).
    const std::vector<uint8_t>& EncodedBytes() const;
    ns::ImageSize::Format EncodedFormat() const { return format_; }
    const std::string& Path() const { return path_; }

    // Generated images: RGBA, 4 bytes per pixel, rows top down.
    const std::vector<uint8_t>& Pixels() const;
    int PixelWidth() const { return pixelWidth_; }
    int PixelHeight() const { return pixelHeight_; }
    // The pixel at (x, y) as a colour; clear outside the picture or for an encoded image.
    Color PixelAt(int x, int y) const;

private:
    Image() = default;

    std::string name_;
    ui::Size size_;
    Source source_ = Source::Encoded;
    EdgeInsets capInsets_;
    int leftCap_ = 0;
    int topCap_ = 0;
    std::shared_ptr<const std::vector<uint8_t>> bytes_;  // encoded bytes or pixels
    ns::ImageSize::Format format_ = ns::ImageSize::Format::None;
    std::string path_;
    int pixelWidth_ = 0;
    int pixelHeight_ = 0;
};

}  // namespace ui

#endif  // PLATFORM_UI_IMAGE_H
