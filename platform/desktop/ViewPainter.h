#ifndef PLATFORM_DESKTOP_VIEW_PAINTER_H
#define PLATFORM_DESKTOP_VIEW_PAINTER_H
// Draws what a view model shows by itself, with cairo and Pango, in the view's own points: the
// caller has moved the origin to the view's top-left corner and scaled points to pixels. A
// view's subviews are widgets of their own and draw themselves between the two passes:
//   PaintContent, under the subviews: shadow, background colour (with the layer's corner
//       radius), and the class's own content: a label's text, an image view's current image, a
//       button's background, a text field's border, a slider's track and thumb, a bar's
//       background, a table cell's selection and separator;
//   PaintBorder, over the subviews: a table row's separator and the layer's border.
// Texts go through Pango as the models measure them (PangoTextMeasure): a label's lines are the
// model's, each in its line box; text is cut short with an ellipsis only where the model gave
// it less width than it measures, and its glyphs may reach out of the view's bounds.
// GTK thread only.

#include <cairo.h>
#include <pango/pango.h>

#include <string>

#include "platform/core/RunLoop.h"
#include "platform/desktop/ImageCache.h"
#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace ns::desktop {

class ViewPainter {
public:
    explicit ViewPainter(ImageCache& images) : images_(images) {}

    void PaintContent(cairo_t* cr, ui::View& view, RunLoop::TimePoint now);
    // Whether PaintContent draws no more of the view than its background colour.
    static bool DrawsBackgroundOnly(const ui::View& view);
    void PaintBorder(cairo_t* cr, const ui::View& view);

    // A closed path of a rectangle with rounded corners (radius clamped to half the shorter
    // side).
    static void RoundedRect(cairo_t* cr, const ui::Rect& rect, double radius);
    static void SetColor(cairo_t* cr, const ui::Color& color);
    // The Pango face for a model font, at its point size (one point, one unit of `cr`).
    static PangoFontDescription* FontFor(const ui::Font& font);
    // Lines of text ("\n" between them) in `rect`, each in a box of the font's line height and
    // cut short with an ellipsis only when it measures wider than the rect, the block
    // vertically centred, as a label lays them out.
    static void DrawText(cairo_t* cr, const std::string& text, const ui::Font& font,
                         const ui::Color& color, const ui::Rect& rect, ui::TextAlignment alignment);
    // The image in `rect` as a view's content mode places it; a stretchable image keeps its
    // caps and stretches its middle.
    void DrawImage(cairo_t* cr, const ui::Image::Ptr& image, const ui::Rect& rect,
                   ui::ContentMode mode);

private:
    void PaintLabel(cairo_t* cr, const ui::Label& label);
    void PaintButton(cairo_t* cr, ui::View& view);
    void PaintTextField(cairo_t* cr, ui::View& view);
    void PaintSlider(cairo_t* cr, ui::View& view);
    void PaintCell(cairo_t* cr, ui::View& view);
    void PaintBar(cairo_t* cr, ui::View& view, const ui::Image::Ptr& image, const ui::Color& top,
                  const ui::Color& bottom);
    void DrawStretched(cairo_t* cr, GdkPixbuf* pixbuf, const ui::Image& image,
                       const ui::Rect& rect);

    ImageCache& images_;
};

}  // namespace ns::desktop

#endif
