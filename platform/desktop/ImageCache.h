#ifndef PLATFORM_DESKTOP_IMAGE_CACHE_H
#define PLATFORM_DESKTOP_IMAGE_CACHE_H
// Pictures of the view models' images for drawing: an image is decoded (PNG or JPEG bytes,
// through gdk-pixbuf) or copied (generated pixels) the first time it is drawn, and kept for as
// long as the image lives. An image is known by its identity (images are immutable), so two
// views sharing one image share one picture. A picture that cannot be made (bytes gdk-pixbuf
// refuses, a side over kMaxSide) is remembered as missing and logged once, so a broken image
// costs one attempt, not one per frame. GTK thread only.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <memory>
#include <unordered_map>

#include "platform/store/ImageDecodeCheck.h"
#include "platform/ui/Image.h"

namespace ns::desktop {

class ImageCache {
public:
    // Pictures larger than this on a side are not decoded (a hostile file must not make the
    // window allocate gigabytes). The same bound as the check of pictures from outside, so a
    // picture that passes it is drawn.
    static constexpr int kMaxSide = static_cast<int>(ns::ImageDecodeCheck::kMaxSide);

    ImageCache() = default;
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // The picture of `image`, owned by the cache; null for a null image or one that cannot be
    // made.
    GdkPixbuf* Get(const ui::Image::Ptr& image);
    // Pictures kept now (those of images that have gone are dropped at the next Get).
    size_t Size() const { return entries_.size(); }
    // How many pictures were made (decoded or copied) since the cache was made.
    size_t Made() const { return made_; }

private:
    struct Entry {
        std::weak_ptr<const ui::Image> image;
        GdkPixbuf* pixbuf = nullptr;  // null: cannot be made
    };
    static GdkPixbuf* Make(const ui::Image& image);
    void DropGone();

    std::unordered_map<const ui::Image*, Entry> entries_;
    size_t made_ = 0;
    size_t getsSinceSweep_ = 0;
};

}  // namespace ns::desktop

#endif
