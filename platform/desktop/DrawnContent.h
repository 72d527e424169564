#ifndef PLATFORM_DESKTOP_DRAWN_CONTENT_H
#define PLATFORM_DESKTOP_DRAWN_CONTENT_H
// What a view draws by itself (its content), kept as pixels for the redraws it does not cause.
//
// GTK redraws every widget that overlaps a part of the window to be drawn again. A movie's
// picture asks for one with each of its frames, so every view over it (the player's bars,
// buttons, labels and scrubber) would be painted again from its model 25 times a second:
// pictures converted and stretched, paths filled, text laid out, for pixels that have not
// changed. Here a view is painted from its model when it has changed since its last draw (its
// revision, size or scale is another); drawn again unchanged, its pixels are painted once
// into pixels in memory that the target reads directly (as large as what it covers: none for
// a view that draws nothing), and from then on they are copied into place.
// A view that changes at every draw so never keeps a surface it would not use.
//
// The pixels are the target's own (one pixel, one device pixel): drawn under a transform other
// than a move by whole pixels (a turned or scaled view, a device scale), the view is painted
// from its model each time, as without the cache. GTK thread only.

#include <cairo.h>

#include <cstdint>
#include <functional>

namespace ns::desktop {

class DrawnContent {
public:
    // Tells one state of a view's drawing from another.
    struct Key {
        uint64_t revision = 0;  // the view's
        double scale = 0;       // pixels per point
        uint64_t epoch = 0;     // the owner's, for what changes every view's drawing at once
        bool operator==(const Key& o) const {
            return revision == o.revision && scale == o.scale && epoch == o.epoch;
        }
        bool operator!=(const Key& o) const { return !(*this == o); }
    };
    // Paints the content in the coordinates `cr` had when Draw was called.
    using Paint = std::function<void(cairo_t* cr)>;

    DrawnContent() = default;
    ~DrawnContent() { Drop(); }
    DrawnContent(const DrawnContent&) = delete;
    DrawnContent& operator=(const DrawnContent&) = delete;

    // Draws the content of state `key` that paints within `area` (in the coordinates of cr;
    // nothing outside it shows) on cr: from the kept pixels when they are of this state, else
    // by `paint`. keep = false (content that changes by itself, an animation) always paints.
    void Draw(cairo_t* cr, const Key& key, const cairo_rectangle_int_t& area, bool keep,
              const Paint& paint);
    // Forgets the kept pixels.
    void Drop();
    // Whether pixels are kept now.
    bool Kept() const { return made_; }

private:
    // Paints the content into a surface like cr's target; false when none can be had.
    bool Make(cairo_t* cr, const cairo_rectangle_int_t& area, const Paint& paint);

    cairo_surface_t* surface_ = nullptr;  // null when made_ and nothing is drawn
    bool made_ = false;                   // surface_ holds the content of key_
    cairo_surface_type_t targetType_ = CAIRO_SURFACE_TYPE_IMAGE;  // surface_ was made for
    Key key_;
    bool drawn_ = false;  // key_ is that of the last draw
    cairo_rectangle_int_t area_{0, 0, 0, 0};
};

}  // namespace ns::desktop

#endif
