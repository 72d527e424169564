#include "platform/desktop/ImageCache.h"

#include <iterator>

#include "platform/core/LogWriter.h"

namespace ns::desktop {

namespace {

// Gets between two sweeps for entries whose image has gone.
constexpr size_t kSweepInterval = 256;

GdkPixbuf* Decode(const ui::Image& image) {
    const std::vector<uint8_t>& bytes = image.EncodedBytes();
    const ui::Size& size = image.GetSize();
    if (size.width > ImageCache::kMaxSide || size.height > ImageCache::kMaxSide ||
        size.width * size.height > static_cast<double>(ImageCache::kMaxPixels)) {
        ns::Log("[UI] image '%s' is too large to show", image.Name());
        return nullptr;
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GError* error = nullptr;
    GdkPixbuf* out = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error) &&
        gdk_pixbuf_loader_close(loader, &error)) {
        out = gdk_pixbuf_loader_get_pixbuf(loader);
        if (out != nullptr) g_object_ref(out);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    if (out == nullptr) {
        ns::Log("[UI] image '%s' cannot be decoded: %s", image.Name(),
                std::string(error != nullptr ? error->message : "no picture"));
    }
    if (error != nullptr) g_error_free(error);
    g_object_unref(loader);
    return out;
}

GdkPixbuf* CopyPixels(const ui::Image& image) {
    const int w = image.PixelWidth(), h = image.PixelHeight();
    const std::vector<uint8_t>& pixels = image.Pixels();
    if (w <= 0 || h <= 0 || pixels.size() < static_cast<size_t>(w) * h * 4) return nullptr;
    GBytes* data = g_bytes_new(pixels.data(), static_cast<size_t>(w) * h * 4);
    GdkPixbuf* out = gdk_pixbuf_new_from_bytes(data, GDK_COLORSPACE_RGB, TRUE, 8, w, h, w * 4);
    g_bytes_unref(data);
    return out;
}

}  // namespace

ImageCache::~ImageCache() {
    for (auto& [key, entry] : entries_) {
        if (entry.pixbuf != nullptr) g_object_unref(entry.pixbuf);
    }
}

GdkPixbuf* ImageCache::Make(const ui::Image& image) {
    return image.GetSource() == ui::Image::Source::Pixels ? CopyPixels(image) : Decode(image);
}

void ImageCache::Erase(std::unordered_map<const ui::Image*, Entry>::iterator it) {
    if (it->second.pixbuf != nullptr) g_object_unref(it->second.pixbuf);
    bytes_ -= it->second.bytes;
    recent_.erase(it->second.recent);
    entries_.erase(it);
}

void ImageCache::DropGone() {
    for (auto it = entries_.begin(); it != entries_.end();) {
        auto next = std::next(it);
        if (it->second.image.expired()) Erase(it);
        it = next;
    }
}

void ImageCache::Trim() {
    // The picture just made (first in recent_) stays, whatever its size: it is about to be
    // drawn.
    while (bytes_ > maxBytes_ && recent_.size() > 1) Erase(entries_.find(recent_.back()));
}

GdkPixbuf* ImageCache::Get(const ui::Image::Ptr& image) {
    if (!image) return nullptr;
    if (++getsSinceSweep_ >= kSweepInterval) {
        getsSinceSweep_ = 0;
        DropGone();
    }
    auto found = entries_.find(image.get());
    if (found != entries_.end()) {
        // Same address, same image: an image that went and left its address to a new one has
        // an expired handle.
        if (found->second.image.lock() == image) {
            recent_.splice(recent_.begin(), recent_, found->second.recent);
            return found->second.pixbuf;
        }
        Erase(found);
    }
    Entry entry;
    entry.image = image;
    entry.pixbuf = Make(*image);
    entry.bytes = entry.pixbuf != nullptr ? gdk_pixbuf_get_byte_length(entry.pixbuf) : 0;
    ++made_;
    recent_.push_front(image.get());
    entry.recent = recent_.begin();
    bytes_ += entry.bytes;
    GdkPixbuf* pixbuf = entry.pixbuf;
    entries_.emplace(image.get(), entry);
    Trim();
    return pixbuf;
}

}  // namespace ns::desktop
