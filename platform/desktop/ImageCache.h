#ifndef PLATFORM_DESKTOP_IMAGE_CACHE_H
#define PLATFORM_DESKTOP_IMAGE_CACHE_H
// Pictures of the view models' images for drawing: an image is decoded (PNG or JPEG bytes,
// through gdk-pixbuf) or copied (generated or already decoded pixels) the first time it is
// drawn. An image is known by its identity (images are immutable), so two views sharing one
// image share one picture. A picture that cannot be made (bytes gdk-pixbuf refuses, a side over
// kMaxSide, more pixels than kMaxPixels) is remembered as missing and logged once, so a broken
// image costs one attempt, not one per frame.
//
// The pictures kept are bounded in bytes: past maxBytes the least recently drawn go (and are
// made again if they are drawn again), so images held by views that are not on screen cannot
// pile up. Only the application's own pictures arrive encoded; pictures from outside arrive
// decoded off the main thread at the size they are shown (ns::ScaledImageDecoder), and the
// budget here keeps an encoded one from costing more than its share. GTK thread only.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>

#include "platform/store/ImageDecodeCheck.h"
#include "platform/store/ScaledImageDecoder.h"
#include "platform/ui/Image.h"

namespace ns::desktop {

class ImageCache {
public:
    // Pictures larger than this on a side are not decoded (a hostile file must not make the
    // window allocate gigabytes). The same bound as the check of pictures from outside, so a
    // picture that passes it is drawn.
    static constexpr int kMaxSide = static_cast<int>(ns::ImageDecodeCheck::kMaxSide);
    // Nor pictures of more pixels than this: the decoder's budget.
    static constexpr uint64_t kMaxPixels = ns::ScaledImageDecoder::kMaxPixels;
    // The bytes of pixels kept: room for every picture on a screen, and for the largest picture
    // the budget allows.
    static constexpr size_t kMaxBytes = size_t{96} << 20;

    explicit ImageCache(size_t maxBytes = kMaxBytes) : maxBytes_(maxBytes) {}
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // The picture of `image`, owned by the cache and valid until the next Get; null for a null
    // image or one that cannot be made.
    GdkPixbuf* Get(const ui::Image::Ptr& image);
    // Pictures kept now (those of images that have gone are dropped at the next Get).
    size_t Size() const { return entries_.size(); }
    // The bytes of the pixels kept now: at most maxBytes, or the one picture last made when it
    // alone is larger.
    size_t Bytes() const { return bytes_; }
    // How many pictures were made (decoded or copied) since the cache was made.
    size_t Made() const { return made_; }

private:
    struct Entry {
        std::weak_ptr<const ui::Image> image;
        GdkPixbuf* pixbuf = nullptr;  // null: cannot be made
        size_t bytes = 0;
        std::list<const ui::Image*>::iterator recent;  // its place in recent_
    };
    static GdkPixbuf* Make(const ui::Image& image);
    void Erase(std::unordered_map<const ui::Image*, Entry>::iterator it);
    void DropGone();
    void Trim();

    const size_t maxBytes_;
    std::unordered_map<const ui::Image*, Entry> entries_;
    std::list<const ui::Image*> recent_;  // most recently drawn first
    size_t bytes_ = 0;
    size_t made_ = 0;
    size_t getsSinceSweep_ = 0;
};

}  // namespace ns::desktop

#endif
