#include "platform/desktop/DrawnContent.h"

#include <algorithm>
#include <cmath>

namespace ns::desktop {

namespace {

// Whether cr maps its units to the target's pixels by a move of whole pixels alone, so that
// kept pixels land on pixels as painting would have put them.
bool MovesByWholePixels(cairo_t* cr) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xx != 1 || m.yy != 1 || m.xy != 0 || m.yx != 0) return false;
    if (m.x0 != std::floor(m.x0) || m.y0 != std::floor(m.y0)) return false;
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(cairo_get_group_target(cr), &sx, &sy);
    return sx == 1 && sy == 1;
}

bool SameArea(const cairo_rectangle_int_t& a, const cairo_rectangle_int_t& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

void DrawnContent::Drop() {
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
    surface_ = nullptr;
    made_ = false;
}

bool DrawnContent::Make(cairo_t* cr, const cairo_rectangle_int_t& area, const Paint& paint) {
    // Recorded first, so that only the pixels it covers are kept (none for a view that draws
    // nothing of its own). The recording measures only: text laid out for it may take other
    // hints than for the target, so the kept pixels are painted afresh, with the target's.
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* rc = cairo_create(recording);
    paint(rc);
    cairo_destroy(rc);
    double x = 0, y = 0, w = 0, h = 0;
    cairo_recording_surface_ink_extents(recording, &x, &y, &w, &h);
    cairo_surface_destroy(recording);
    made_ = true;
    if (w <= 0 || h <= 0) return true;  // draws nothing
    // A pixel more on each side for glyphs that the target's hints move.
    const int x0 = std::max(area.x, static_cast<int>(std::floor(x)) - 1);
    const int y0 = std::max(area.y, static_cast<int>(std::floor(y)) - 1);
    const int x1 = std::min(area.x + area.width, static_cast<int>(std::ceil(x + w)) + 1);
    const int y1 = std::min(area.y + area.height, static_cast<int>(std::ceil(y + h)) + 1);
    if (x1 <= x0 || y1 <= y0) return true;  // draws nothing where it shows
    // Pixels in memory the target's kind can read at once (shared with the X server for a
    // window): the target may itself be pixels in memory for the moment, which a server-side
    // surface would have to be fetched into with every frame.
    cairo_surface_t* target = cairo_get_group_target(cr);
    surface_ = cairo_surface_create_similar_image(target, CAIRO_FORMAT_ARGB32, x1 - x0, y1 - y0);
    targetType_ = cairo_surface_get_type(target);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        Drop();
        return false;
    }
    cairo_surface_set_device_offset(surface_, -x0, -y0);
    cairo_t* sc = cairo_create(surface_);
    // Text hinted and smoothed as on the target.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_surface_get_font_options(target, options);
    cairo_set_font_options(sc, options);
    cairo_font_options_destroy(options);
    paint(sc);
    cairo_destroy(sc);
    return true;
}

void DrawnContent::Draw(cairo_t* cr, const Key& key, const cairo_rectangle_int_t& area, bool keep,
                        const Paint& paint) {
    const bool same = drawn_ && key == key_ && SameArea(area, area_);
    drawn_ = true;
    key_ = key;
    area_ = area;
    cairo_surface_t* target = cairo_get_group_target(cr);
    if (made_ && surface_ != nullptr && targetType_ != cairo_surface_get_type(target)) {
        Drop();  // kept for a target of another kind (a picture of the window taken by hand)
    }
    if (!same || !keep || area.width <= 0 || area.height <= 0 || !MovesByWholePixels(cr)) {
        if (!same || !keep) Drop();
        paint(cr);
        return;
    }
    if (!made_ && !Make(cr, area, paint)) {
        paint(cr);  // no surface to be had: painted as it is each time
        return;
    }
    if (surface_ == nullptr) return;  // draws nothing
    cairo_save(cr);
    cairo_set_source_surface(cr, surface_, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace ns::desktop
