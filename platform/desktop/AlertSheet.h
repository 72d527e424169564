#ifndef PLATFORM_DESKTOP_ALERT_SHEET_H
#define PLATFORM_DESKTOP_ALERT_SHEET_H
// How an alert shows in the window: a sheet in the middle of the screen over a dimmed
// interface, with its title, its message and its buttons (two side by side, cancel on the
// left; otherwise one under the other, in index order). While an alert shows, it takes every
// click: a click on a button chooses it through AlertView::ClickButtonAtIndex, the call the
// test driver makes; elsewhere nothing happens. Return chooses the default button, Escape the
// cancel button. Laid out in the root view's points.

#include <cairo.h>

#include <string>
#include <vector>

#include "platform/ui/AlertView.h"
#include "platform/ui/Geometry.h"

namespace ns::desktop {

class AlertSheet {
public:
    static constexpr double kWidth = 284;
    static constexpr double kMargin = 16;
    static constexpr double kButtonHeight = 43;

    AlertSheet(const ui::AlertView& alert, const ui::Size& screen);

    // The button Return chooses: the first other button, else the cancel button, else the
    // only one; -1 without buttons.
    static int DefaultButton(const ui::AlertView& alert);
    // The button Escape chooses: the cancel button; -1 when the alert has none.
    static int CancelButton(const ui::AlertView& alert);

    const ui::Rect& Frame() const { return frame_; }
    // The buttons' frames, by button index.
    const std::vector<ui::Rect>& ButtonFrames() const { return buttons_; }
    // The index of the button at point; -1 when none.
    int ButtonAt(const ui::Point& point) const;
    // Draws the dimming, the sheet and the button `pressed` (-1: none) highlighted.
    void Paint(cairo_t* cr, int pressed) const;

private:
    ui::Size screen_;
    std::string title_;
    std::string message_;
    std::vector<std::string> titles_;
    ui::Rect frame_;
    ui::Rect titleFrame_;
    ui::Rect messageFrame_;
    std::vector<ui::Rect> buttons_;
};

}  // namespace ns::desktop

#endif
