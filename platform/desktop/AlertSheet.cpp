#include "platform/desktop/AlertSheet.h"

#include <algorithm>

#include "platform/desktop/ViewPainter.h"
#include "platform/ui/Label.h"

namespace ns::desktop {

namespace {

const ui::Font kTitleFont = ui::Font::BoldSystemFont(17);
const ui::Font kMessageFont = ui::Font::SystemFont(15);
const ui::Font kButtonFont = ui::Font::BoldSystemFont(17);
constexpr double kGap = 8;

// The height the model's text measure gives `text` wrapped to `width`.
double TextHeight(const std::string& text, const ui::Font& font, double width) {
    if (text.empty()) return 0;
    ui::Label label;
    label.SetFont(font);
    label.SetNumberOfLines(0);
    label.SetText(text);
    return label.SizeThatFits(ui::Size(width, 0)).height;
}

}  // namespace

AlertSheet::AlertSheet(const ui::AlertView& alert, const ui::Size& screen)
    : screen_(screen), title_(alert.Title()), message_(alert.Message()) {
    for (int i = 0; i < alert.NumberOfButtons(); ++i)
        titles_.push_back(alert.ButtonTitleAtIndex(i));
    const double width = std::min(kWidth, std::max(0.0, screen.width - 2 * kMargin));
    const double inner = std::max(0.0, width - 2 * kMargin);
    double y = kMargin;
    titleFrame_ = ui::Rect(kMargin, y, inner, TextHeight(title_, kTitleFont, inner));
    y = titleFrame_.MaxY() + (title_.empty() ? 0 : kGap);
    messageFrame_ = ui::Rect(kMargin, y, inner, TextHeight(message_, kMessageFont, inner));
    y = messageFrame_.MaxY() + (message_.empty() ? 0 : kGap) + kGap;
    const size_t n = titles_.size();
    if (n == 2) {
        const double w = (inner - kGap) / 2;
        buttons_.emplace_back(kMargin, y, w, kButtonHeight);
        buttons_.emplace_back(kMargin + w + kGap, y, w, kButtonHeight);
        y += kButtonHeight + kGap;
    } else {
        for (size_t i = 0; i < n; ++i) {
            buttons_.emplace_back(kMargin, y, inner, kButtonHeight);
            y += kButtonHeight + kGap;
        }
    }
    const double height = y - kGap + kMargin;
    const ui::Point origin((screen.width - width) / 2, (screen.height - height) / 2);
    frame_ = ui::Rect(origin.x, origin.y, width, height);
    titleFrame_ = titleFrame_.Offset(origin.x, origin.y);
    messageFrame_ = messageFrame_.Offset(origin.x, origin.y);
    for (ui::Rect& r : buttons_) r = r.Offset(origin.x, origin.y);
}

int AlertSheet::DefaultButton(const ui::AlertView& alert) {
    if (alert.FirstOtherButtonIndex() >= 0) return alert.FirstOtherButtonIndex();
    if (alert.CancelButtonIndex() >= 0) return alert.CancelButtonIndex();
    return alert.NumberOfButtons() > 0 ? 0 : -1;
}

int AlertSheet::CancelButton(const ui::AlertView& alert) { return alert.CancelButtonIndex(); }

int AlertSheet::ButtonAt(const ui::Point& point) const {
    for (size_t i = 0; i < buttons_.size(); ++i) {
        if (buttons_[i].Contains(point)) return static_cast<int>(i);
    }
    return -1;
}

void AlertSheet::Paint(cairo_t* cr, int pressed) const {
    cairo_rectangle(cr, 0, 0, screen_.width, screen_.height);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    ViewPainter::RoundedRect(cr, frame_, 10);
    ViewPainter::SetColor(cr, ui::Color::FromRGB255(0x1C, 0x2B, 0x4F, 0.94));
    cairo_fill_preserve(cr);
    ViewPainter::SetColor(cr, ui::Color(1, 1, 1, 0.85));
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
    auto wrapped = [](const std::string& text, const ui::Font& font, double width) {
        // The model's own line breaks, so the sheet is as tall as the text.
        ui::Label label(ui::Rect(0, 0, width, 1000));
        label.SetFont(font);
        label.SetNumberOfLines(0);
        label.SetText(text);
        std::string out;
        for (const std::string& line : label.VisibleLines())
            out += (out.empty() ? "" : "\n") + line;
        return out;
    };
    ViewPainter::DrawText(cr, wrapped(title_, kTitleFont, titleFrame_.Width()), kTitleFont,
                          ui::Color::White(), titleFrame_, ui::TextAlignment::Center);
    ViewPainter::DrawText(cr, wrapped(message_, kMessageFont, messageFrame_.Width()), kMessageFont,
                          ui::Color::White(), messageFrame_, ui::TextAlignment::Center);
    for (size_t i = 0; i < buttons_.size(); ++i) {
        ViewPainter::RoundedRect(cr, buttons_[i], 6);
        ViewPainter::SetColor(cr, static_cast<int>(i) == pressed ? ui::Color(1, 1, 1, 0.45)
                                                                 : ui::Color(1, 1, 1, 0.18));
        cairo_fill_preserve(cr);
        ViewPainter::SetColor(cr, ui::Color(1, 1, 1, 0.5));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        ViewPainter::DrawText(cr, titles_[i], kButtonFont, ui::Color::White(), buttons_[i],
                              ui::TextAlignment::Center);
    }
}

}  // namespace ns::desktop
