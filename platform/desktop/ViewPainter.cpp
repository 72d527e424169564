#include "platform/desktop/ViewPainter.h"

#include <gdk/gdk.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/desktop/PangoTextMeasure.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TextField.h"

namespace ns::desktop {

namespace {

// The desktop's stand-ins for what the platform draws by itself.
const ui::Color kBarTop = ui::Color::FromRGB255(0xB0, 0xBC, 0xCD);
const ui::Color kBarBottom = ui::Color::FromRGB255(0x6D, 0x84, 0xA2);
const ui::Color kSearchTop = ui::Color::FromRGB255(0xCD, 0xD5, 0xDF);
const ui::Color kSearchBottom = ui::Color::FromRGB255(0xA5, 0xB1, 0xC0);
const ui::Color kSelectionBlue = ui::Color::FromRGB255(0x05, 0x8C, 0xF5);
const ui::Color kSelectionGray = ui::Color::FromRGB255(0xBA, 0xBA, 0xBA);
const ui::Color kSeparator = ui::Color::FromRGB255(0xE0, 0xE0, 0xE0);
const ui::Color kControlBorder = ui::Color::FromRGB255(0x9A, 0x9A, 0x9A);
const ui::Color kTrackFilled = ui::Color::FromRGB255(0x2A, 0x7A, 0xE8);
const ui::Color kTrackEmpty = ui::Color::FromRGB255(0xD8, 0xD8, 0xD8);
constexpr double kTrackHeight = 9;
// Text this little wider than its place (rounding between the measure and the frame) is
// drawn whole, never cut short.
constexpr double kTextSlack = 0.5;

void FillGradient(cairo_t* cr, const ui::Rect& rect, const ui::Color& top,
                  const ui::Color& bottom) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, rect.MinY(), 0, rect.MaxY());
    cairo_pattern_add_color_stop_rgba(p, 0, top.R(), top.G(), top.B(), top.A());
    cairo_pattern_add_color_stop_rgba(p, 1, bottom.R(), bottom.G(), bottom.B(), bottom.A());
    cairo_rectangle(cr, rect.X(), rect.Y(), rect.Width(), rect.Height());
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

// Draws part (sx, sy, sw, sh) of the picture into (dx, dy, dw, dh).
void DrawPart(cairo_t* cr, GdkPixbuf* pixbuf, double sx, double sy, double sw, double sh, double dx,
              double dy, double dw, double dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    gdk_cairo_set_source_pixbuf(cr, pixbuf, -sx, -sy);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace

void ViewPainter::RoundedRect(cairo_t* cr, const ui::Rect& rect, double radius) {
    const ui::Rect r = rect.Standardized();
    radius = std::max(0.0, std::min(radius, std::min(r.Width(), r.Height()) / 2));
    if (radius <= 0) {
        cairo_rectangle(cr, r.X(), r.Y(), r.Width(), r.Height());
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.MaxX() - radius, r.MinY() + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, r.MaxX() - radius, r.MaxY() - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, r.MinX() + radius, r.MaxY() - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, r.MinX() + radius, r.MinY() + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void ViewPainter::SetColor(cairo_t* cr, const ui::Color& c) {
    cairo_set_source_rgba(cr, c.R(), c.G(), c.B(), c.A());
}

PangoFontDescription* ViewPainter::FontFor(const ui::Font& font) {
    return PangoTextMeasure::FontFor(font);
}

void ViewPainter::DrawText(cairo_t* cr, const std::string& text, const ui::Font& font,
                           const ui::Color& color, const ui::Rect& rect,
                           ui::TextAlignment alignment) {
    if (text.empty() || rect.Width() <= 0) return;
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    PangoContext* context = pango_cairo_create_context(cr);
    PangoTextMeasure::PrepareContext(context);
    // Each line in a box of the model's line height, the block centred as a label centres it;
    // the glyphs may reach out of the box (accents, descenders) and are drawn whole.
    const double lineHeight = font.LineHeight();
    double top = rect.Y() + (rect.Height() - lineHeight * static_cast<double>(lines.size())) / 2;
    cairo_save(cr);
    SetColor(cr, color);
    for (const std::string& line : lines) {
        PangoLayout* layout = PangoTextMeasure::NewLayout(context, line, font);
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        const double width = static_cast<double>(logical.width) / PANGO_SCALE;
        const double height = static_cast<double>(logical.height) / PANGO_SCALE;
        double x = rect.X();
        if (width > rect.Width() + kTextSlack) {
            // Laid out narrower than its text: cut short at the end, as the platform does.
            pango_layout_set_width(layout, static_cast<int>(rect.Width() * PANGO_SCALE));
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        } else if (alignment == ui::TextAlignment::Center) {
            x += (rect.Width() - width) / 2;
        } else if (alignment == ui::TextAlignment::Right) {
            x += rect.Width() - width;
        }
        cairo_move_to(cr, x, top + (lineHeight - height) / 2);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
        top += lineHeight;
    }
    cairo_restore(cr);
    g_object_unref(context);
}

void ViewPainter::DrawStretched(cairo_t* cr, GdkPixbuf* pixbuf, const ui::Image& image,
                                const ui::Rect& r) {
    const double w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const ui::EdgeInsets caps = image.CapInsets();
    // Caps never take more than the picture or the destination has.
    const double l = std::min(caps.left, w), rt = std::min(caps.right, w - l);
    const double t = std::min(caps.top, h), b = std::min(caps.bottom, h - t);
    const double dl = std::min(l, r.Width() / 2), dr = std::min(rt, r.Width() / 2);
    const double dt = std::min(t, r.Height() / 2), db = std::min(b, r.Height() / 2);
    const double sx[3] = {0, l, w - rt}, sw[3] = {l, w - l - rt, rt};
    const double sy[3] = {0, t, h - b}, sh[3] = {t, h - t - b, b};
    const double dx[3] = {r.X(), r.X() + dl, r.MaxX() - dr}, dw[3] = {dl, r.Width() - dl - dr, dr};
    const double dy[3] = {r.Y(), r.Y() + dt, r.MaxY() - db}, dh[3] = {dt, r.Height() - dt - db, db};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            DrawPart(cr, pixbuf, sx[col], sy[row], sw[col], sh[row], dx[col], dy[row], dw[col],
                     dh[row]);
        }
    }
}

void ViewPainter::DrawImage(cairo_t* cr, const ui::Image::Ptr& image, const ui::Rect& rect,
                            ui::ContentMode mode) {
    GdkPixbuf* pixbuf = images_.Get(image);
    if (pixbuf == nullptr || rect.IsEmpty()) return;
    const double w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    if (image->IsStretchable() &&
        (mode == ui::ContentMode::ScaleToFill || mode == ui::ContentMode::Redraw)) {
        DrawStretched(cr, pixbuf, *image, rect);
        return;
    }
    // The image's size in points (one pixel each) placed as the mode says.
    double dw = w, dh = h;
    switch (mode) {
        case ui::ContentMode::ScaleToFill:
        case ui::ContentMode::Redraw:
            dw = rect.Width();
            dh = rect.Height();
            break;
        case ui::ContentMode::ScaleAspectFit:
        case ui::ContentMode::ScaleAspectFill: {
            const double fx = rect.Width() / w, fy = rect.Height() / h;
            const double f =
                mode == ui::ContentMode::ScaleAspectFit ? std::min(fx, fy) : std::max(fx, fy);
            dw = w * f;
            dh = h * f;
            break;
        }
        default: break;
    }
    double x = rect.X() + (rect.Width() - dw) / 2, y = rect.Y() + (rect.Height() - dh) / 2;
    switch (mode) {
        case ui::ContentMode::Top: y = rect.Y(); break;
        case ui::ContentMode::Bottom: y = rect.MaxY() - dh; break;
        case ui::ContentMode::Left: x = rect.X(); break;
        case ui::ContentMode::Right: x = rect.MaxX() - dw; break;
        case ui::ContentMode::TopLeft:
            x = rect.X();
            y = rect.Y();
            break;
        case ui::ContentMode::TopRight:
            x = rect.MaxX() - dw;
            y = rect.Y();
            break;
        case ui::ContentMode::BottomLeft:
            x = rect.X();
            y = rect.MaxY() - dh;
            break;
        case ui::ContentMode::BottomRight:
            x = rect.MaxX() - dw;
            y = rect.MaxY() - dh;
            break;
        default: break;
    }
    DrawPart(cr, pixbuf, 0, 0, w, h, x, y, dw, dh);
}

void ViewPainter::PaintContent(cairo_t* cr, ui::View& view, RunLoop::TimePoint now) {
    const ui::Size size = view.Bounds().size;
    const ui::Rect box(0, 0, size.width, size.height);
    const ui::Layer& layer = view.GetLayer();
    if (layer.ShadowOpacity() > 0 && view.BackgroundColor()) {
        // An unblurred stand-in for the platform's shadow: the outline, offset.
        cairo_save(cr);
        const ui::Size& off = layer.ShadowOffset();
        RoundedRect(cr, box.Offset(off.width, off.height), layer.CornerRadius());
        SetColor(cr,
                 layer.ShadowColor().WithAlpha(layer.ShadowColor().A() * layer.ShadowOpacity()));
        cairo_fill(cr);
        cairo_restore(cr);
    }
    if (const std::optional<ui::Color>& bg = view.BackgroundColor(); bg && bg->A() > 0) {
        RoundedRect(cr, box, layer.CornerRadius());
        SetColor(cr, *bg);
        cairo_fill(cr);
    }
    if (auto* label = dynamic_cast<ui::Label*>(&view)) {
        PaintLabel(cr, *label);
    } else if (auto* image = dynamic_cast<ui::ImageView*>(&view)) {
        DrawImage(cr, image->DisplayedImage(now), box, image->GetContentMode());
    } else if (dynamic_cast<ui::Button*>(&view) != nullptr) {
        PaintButton(cr, view);
    } else if (dynamic_cast<ui::TextField*>(&view) != nullptr) {
        PaintTextField(cr, view);
    } else if (dynamic_cast<ui::Slider*>(&view) != nullptr) {
        PaintSlider(cr, view);
    } else if (dynamic_cast<ui::TableViewCell*>(&view) != nullptr) {
        PaintCell(cr, view);
    } else if (auto* bar = dynamic_cast<ui::NavigationBar*>(&view)) {
        PaintBar(cr, view, bar->CurrentBackgroundImage(), kBarTop, kBarBottom);
    } else if (auto* search = dynamic_cast<ui::SearchBar*>(&view)) {
        const std::optional<ui::Color>& tint = search->TintColor();
        PaintBar(cr, view, search->BackgroundImage(), tint ? *tint : kSearchTop,
                 tint ? *tint : kSearchBottom);
    }
}

bool ViewPainter::DrawsBackgroundOnly(const ui::View& view) {
    // The classes PaintContent draws more of.
    return !(view.GetLayer().ShadowOpacity() > 0 && view.BackgroundColor()) &&
           dynamic_cast<const ui::Label*>(&view) == nullptr &&
           dynamic_cast<const ui::ImageView*>(&view) == nullptr &&
           dynamic_cast<const ui::Button*>(&view) == nullptr &&
           dynamic_cast<const ui::TextField*>(&view) == nullptr &&
           dynamic_cast<const ui::Slider*>(&view) == nullptr &&
           dynamic_cast<const ui::TableViewCell*>(&view) == nullptr &&
           dynamic_cast<const ui::NavigationBar*>(&view) == nullptr &&
           dynamic_cast<const ui::SearchBar*>(&view) == nullptr;
}

void ViewPainter::PaintBorder(cairo_t* cr, const ui::View& view) {
    if (dynamic_cast<const ui::TableViewCell*>(&view) != nullptr) {
        // A row's separator lies over whatever its content draws.
        auto* table = dynamic_cast<ui::TableView*>(view.Superview().get());
        if (table != nullptr &&
            table->SeparatorStyle() == ui::TableViewCellSeparatorStyle::SingleLine) {
            const ui::Size size = view.Bounds().size;
            cairo_rectangle(cr, 0, size.height - 1, size.width, 1);
            SetColor(cr, kSeparator);
            cairo_fill(cr);
        }
    }
    const ui::Layer& layer = view.GetLayer();
    const double width = layer.BorderWidth();
    if (width <= 0) return;
    const ui::Size size = view.Bounds().size;
    // The border lies inside the bounds, as the platform draws it.
    RoundedRect(cr, ui::Rect(0, 0, size.width, size.height).Inset(width / 2, width / 2),
                layer.CornerRadius() - width / 2);
    SetColor(cr, layer.BorderColor());
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
}

void ViewPainter::PaintLabel(cairo_t* cr, const ui::Label& label) {
    const ui::Size size = label.Bounds().size;
    std::string text;
    // The lines the model lays out, so that the window breaks them where the model does.
    for (const std::string& line : label.VisibleLines()) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    const ui::Rect box(0, 0, size.width, size.height);
    if (const std::optional<ui::Color>& shadow = label.ShadowColor()) {
        const ui::Size& off = label.ShadowOffset();
        DrawText(cr, text, label.GetFont(), *shadow, box.Offset(off.width, off.height),
                 label.GetTextAlignment());
    }
    DrawText(cr, text, label.GetFont(), label.TextColor(), box, label.GetTextAlignment());
}

void ViewPainter::PaintButton(cairo_t* cr, ui::View& view) {
    auto& button = static_cast<ui::Button&>(view);
    const ui::Size size = view.Bounds().size;
    const ui::Rect box(0, 0, size.width, size.height);
    if (ui::Image::Ptr background = button.CurrentBackgroundImage()) {
        DrawImage(cr, background, box, ui::ContentMode::ScaleToFill);
    } else if (button.GetButtonType() == ui::ButtonType::RoundedRect) {
        RoundedRect(cr, box.Inset(0.5, 0.5), 8);
        SetColor(cr, button.IsHighlighted() ? kSelectionBlue : ui::Color::White());
        cairo_fill_preserve(cr);
        SetColor(cr, kControlBorder);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    } else if (dynamic_cast<ui::NavigationBar*>(view.Superview().get()) != nullptr) {
        // A bar button without a picture of its own: the bar's darker bordered button.
        RoundedRect(cr, box.Inset(0.5, 0.5), 5);
        SetColor(cr, ui::Color(0, 0, 0, button.IsHighlighted() ? 0.45 : 0.25));
        cairo_fill_preserve(cr);
        SetColor(cr, ui::Color(0, 0, 0, 0.5));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    } else if (button.IsHighlighted() && button.ShowsTouchWhenHighlighted()) {
        cairo_arc(cr, size.width / 2, size.height / 2, std::min(size.width, size.height) / 2, 0,
                  2 * M_PI);
        SetColor(cr, ui::Color(1, 1, 1, 0.5));
        cairo_fill(cr);
    }
    if (!button.IsEnabled()) {
        // Disabled controls are drawn faded.
        RoundedRect(cr, box, view.GetLayer().CornerRadius());
        SetColor(cr, ui::Color(1, 1, 1, 0.35));
        cairo_fill(cr);
    }
}

void ViewPainter::PaintTextField(cairo_t* cr, ui::View& view) {
    auto& field = static_cast<ui::TextField&>(view);
    const ui::Size size = view.Bounds().size;
    const ui::Rect box(0, 0, size.width, size.height);
    if (field.Background()) {
        DrawImage(cr, field.Background(), box, ui::ContentMode::ScaleToFill);
    }
    switch (field.BorderStyle()) {
        case ui::TextBorderStyle::None: break;
        case ui::TextBorderStyle::Line:
            cairo_rectangle(cr, 0.5, 0.5, size.width - 1, size.height - 1);
            SetColor(cr, ui::Color::Black());
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            break;
        case ui::TextBorderStyle::Bezel:
            cairo_rectangle(cr, 1, 1, size.width - 2, size.height - 2);
            SetColor(cr, ui::Color::White());
            cairo_fill_preserve(cr);
            SetColor(cr, kControlBorder);
            cairo_set_line_width(cr, 2);
            cairo_stroke(cr);
            break;
        case ui::TextBorderStyle::RoundedRect:
            RoundedRect(cr, box.Inset(0.5, 0.5), 7);
            SetColor(cr, ui::Color::White());
            cairo_fill_preserve(cr);
            SetColor(cr, kControlBorder);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            break;
    }
    if (field.IsClearButtonShown()) {
        const ui::Rect r = field.ClearButtonRectForBounds(box);
        const double radius = std::min(r.Width(), r.Height()) / 2 - 1;
        cairo_arc(cr, r.MidX(), r.MidY(), radius, 0, 2 * M_PI);
        SetColor(cr, ui::Color::FromWhite(0.7));
        cairo_fill(cr);
        const double k = radius * 0.45;
        cairo_move_to(cr, r.MidX() - k, r.MidY() - k);
        cairo_line_to(cr, r.MidX() + k, r.MidY() + k);
        cairo_move_to(cr, r.MidX() + k, r.MidY() - k);
        cairo_line_to(cr, r.MidX() - k, r.MidY() + k);
        SetColor(cr, ui::Color::White());
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
    }
}

void ViewPainter::PaintSlider(cairo_t* cr, ui::View& view) {
    auto& slider = static_cast<ui::Slider&>(view);
    const ui::Size size = view.Bounds().size;
    const ui::Rect thumb = slider.ThumbRect();
    const ui::Image::Ptr minImage = slider.CurrentMinimumTrackImage();
    const ui::Image::Ptr maxImage = slider.CurrentMaximumTrackImage();
    auto trackHeight = [](const ui::Image::Ptr& image) {
        return image ? image->GetSize().height : kTrackHeight;
    };
    const double split = thumb.MidX();
    const ui::Rect left(0, (size.height - trackHeight(minImage)) / 2, split, trackHeight(minImage));
    const ui::Rect right(split, (size.height - trackHeight(maxImage)) / 2, size.width - split,
                         trackHeight(maxImage));
    if (minImage) {
        DrawImage(cr, minImage, left, ui::ContentMode::ScaleToFill);
    } else {
        RoundedRect(cr, ui::Rect(left.X(), left.Y(), left.Width() + kTrackHeight, left.Height()),
                    kTrackHeight / 2);
        SetColor(cr, kTrackFilled);
        cairo_fill(cr);
    }
    if (maxImage) {
        DrawImage(cr, maxImage, right, ui::ContentMode::ScaleToFill);
    } else {
        RoundedRect(cr,
                    ui::Rect(right.X() - kTrackHeight, right.Y(), right.Width() + kTrackHeight,
                             right.Height()),
                    kTrackHeight / 2);
        SetColor(cr, kTrackEmpty);
        cairo_fill(cr);
        if (!minImage) {
            // The filled part lies over the empty part's rounded start.
            RoundedRect(cr, ui::Rect(0, left.Y(), split, left.Height()), kTrackHeight / 2);
            SetColor(cr, kTrackFilled);
            cairo_fill(cr);
        }
    }
    if (ui::Image::Ptr image = slider.CurrentThumbImage()) {
        DrawImage(cr, image, thumb, ui::ContentMode::Center);
    } else {
        cairo_arc(cr, thumb.MidX(), thumb.MidY(), std::min(thumb.Width(), thumb.Height()) / 2 - 0.5,
                  0, 2 * M_PI);
        SetColor(cr, slider.IsHighlighted() ? ui::Color::FromWhite(0.9) : ui::Color::White());
        cairo_fill_preserve(cr);
        SetColor(cr, kControlBorder);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
}

void ViewPainter::PaintCell(cairo_t* cr, ui::View& view) {
    auto& cell = static_cast<ui::TableViewCell&>(view);
    const ui::Size size = view.Bounds().size;
    if ((cell.IsSelected() || cell.IsHighlighted()) && !cell.SelectedBackgroundView() &&
        cell.SelectionStyle() != ui::TableViewCellSelectionStyle::None) {
        cairo_rectangle(cr, 0, 0, size.width, size.height);
        SetColor(cr, cell.SelectionStyle() == ui::TableViewCellSelectionStyle::Gray
                         ? kSelectionGray
                         : kSelectionBlue);
        cairo_fill(cr);
    }
}

void ViewPainter::PaintBar(cairo_t* cr, ui::View& view, const ui::Image::Ptr& image,
                           const ui::Color& top, const ui::Color& bottom) {
    const ui::Size size = view.Bounds().size;
    const ui::Rect box(0, 0, size.width, size.height);
    if (image) {
        DrawImage(cr, image, box, ui::ContentMode::ScaleToFill);
        return;
    }
    FillGradient(cr, box, top, bottom);
    cairo_rectangle(cr, 0, size.height - 1, size.width, 1);
    SetColor(cr, ui::Color(0, 0, 0, 0.35));
    cairo_fill(cr);
}

}  // namespace ns::desktop
