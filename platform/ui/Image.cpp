#include "platform/ui/Image.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

#include "platform/store/AtomicFile.h"
#include "platform/store/Bundle.h"
#include "platform/store/ImageSize.h"

namespace ui {
namespace {

// Pictures larger than this are refused rather than read whole into memory.
constexpr size_t kMaxEncodedBytes = 64u << 20;
constexpr double kMaxFilledSide = 4096;

std::mutex& CacheLock() {
    static auto* lock = new std::mutex();  // never destroyed
    return *lock;
}

std::map<std::string, Image::Ptr>& Cache() {
    static auto* cache = new std::map<std::string, Image::Ptr>();  // never destroyed
    return *cache;
}

const std::vector<uint8_t>& NoBytes() {
    static const auto* none = new std::vector<uint8_t>();
    return *none;
}

}  // namespace

Image::Ptr Image::Named(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(CacheLock());
        auto it = Cache().find(name);
        if (it != Cache().end()) {
            return it->second;
        }
    }
    std::string path = ns::Bundle::Main().PathForImage(name);
    if (path.empty()) {
        return nullptr;
    }
    std::string error;
    Ptr image = FromFile(path, &error);
    if (!image) {
        return nullptr;
    }
    auto named = std::shared_ptr<Image>(new Image(*image));
    named->name_ = name;
    std::lock_guard<std::mutex> lock(CacheLock());
    return Cache().emplace(name, std::move(named)).first->second;
}

void Image::ClearNamedCache() {
    std::lock_guard<std::mutex> lock(CacheLock());
    Cache().clear();
}

Image::Ptr Image::FromFile(const std::string& path, std::string* error) {
    std::string bytes;
    std::string why;
    if (!ns::AtomicFile::Read(path, kMaxEncodedBytes, bytes, why)) {
        if (error) {
            *error = path + ": " + why;
        }
        return nullptr;
    }
    auto image = FromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()), {}, error);
    if (!image) {
        if (error) {
            *error = path + ": " + *error;
        }
        return nullptr;
    }
    auto withPath = std::shared_ptr<Image>(new Image(*image));
    withPath->path_ = path;
    // The file's name without folder and extension, as the bundle names pictures.
    std::string base = path.substr(path.find_last_of('/') + 1);
    withPath->name_ = base.substr(0, base.find_last_of('.'));
    return withPath;
}

Image::Ptr Image::FromBytes(const std::vector<uint8_t>& bytes, const std::string& name,
                            std::string* error) {
    ns::ImageSize size;
    std::string why;
    std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!ns::ImageSize::ReadBytes(view, size, &why)) {
        if (error) {
            *error = why;
        }
        return nullptr;
    }
    auto image = std::shared_ptr<Image>(new Image());
    image->name_ = name;
    image->size_ = ui::Size(size.Width(), size.Height());
    image->source_ = Source::Encoded;
    image->bytes_ = std::make_shared<const std::vector<uint8_t>>(bytes);
    image->format_ = size.GetFormat();
    return image;
}

Image::Ptr Image::Filled(const ui::Size& size, const Color& color, double cornerRadius) {
    if (!(size.width > 0 && size.height > 0) || size.width > kMaxFilledSide ||
        size.height > kMaxFilledSide) {
        return nullptr;
    }
    const int w = static_cast<int>(std::ceil(size.width));
    const int h = static_cast<int>(std::ceil(size.height));
    const double r = std::max(0.0, std::min(cornerRadius, std::min(size.width, size.height) / 2));
    const uint8_t rgba[4] = {static_cast<uint8_t>(std::lround(color.R() * 255)),
                             static_cast<uint8_t>(std::lround(color.G() * 255)),
                             static_cast<uint8_t>(std::lround(color.B() * 255)),
                             static_cast<uint8_t>(std::lround(color.A() * 255))};
    auto pixels = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(w) * h * 4, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double px = x + 0.5;
            double py = y + 0.5;
            if (px >= size.width || py >= size.height) {  // far edges are outside
                continue;
            }
            // The nearest corner circle's centre, when the pixel lies in a corner square.
            double cx = px < r ? r : (px > size.width - r ? size.width - r : px);
            double cy = py < r ? r : (py > size.height - r ? size.height - r : py);
            double dx = px - cx;
            double dy = py - cy;
            if (dx * dx + dy * dy > r * r) {
                continue;
            }
            std::copy(rgba, rgba + 4, pixels->begin() + (static_cast<size_t>(y) * w + x) * 4);
        }
    }
    auto image = std::shared_ptr<Image>(new Image());
    image->size_ = size;
    image->source_ = Source::Pixels;
    image->bytes_ = std::move(pixels);
    image->pixelWidth_ = w;
    image->pixelHeight_ = h;
    return image;
}

Image::Ptr Image::FromPixels(int width, int height, std::vector<uint8_t> rgba,
                             const std::string& name, const std::string& path) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<size_t>(width) * height * 4) {
        return nullptr;
    }
    auto image = std::shared_ptr<Image>(new Image());
    image->name_ = name;
    image->path_ = path;
    image->size_ = ui::Size(width, height);
    image->source_ = Source::Pixels;
    image->bytes_ = std::make_shared<const std::vector<uint8_t>>(std::move(rgba));
    image->pixelWidth_ = width;
    image->pixelHeight_ = height;
    return image;
}

Image::Ptr Image::StretchableImage(int leftCapWidth, int topCapHeight) const {
    auto copy = std::shared_ptr<Image>(new Image(*this));
    const int w = static_cast<int>(size_.width);
    const int h = static_cast<int>(size_.height);
    copy->leftCap_ = std::clamp(leftCapWidth, 0, std::max(0, w - 1));
    copy->topCap_ = std::clamp(topCapHeight, 0, std::max(0, h - 1));
    double right = copy->leftCap_ > 0 ? w - copy->leftCap_ - 1 : 0;
    double bottom = copy->topCap_ > 0 ? h - copy->topCap_ - 1 : 0;
    copy->capInsets_ = EdgeInsets(copy->topCap_, copy->leftCap_, bottom, right);
    return copy;
}

const std::vector<uint8_t>& Image::EncodedBytes() const {
    return source_ == Source::Encoded && bytes_ ? *bytes_ : NoBytes();
}

const std::vector<uint8_t>& Image::Pixels() const {
    return source_ == Source::Pixels && bytes_ ? *bytes_ : NoBytes();
}

Color Image::PixelAt(int x, int y) const {
    if (source_ != Source::Pixels || x < 0 || y < 0 || x >= pixelWidth_ || y >= pixelHeight_) {
        return Color::Clear();
    }
    const uint8_t* p = bytes_->data() + (static_cast<size_t>(y) * pixelWidth_ + x) * 4;
    return Color(p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0);
}

}  // namespace ui
