#include "platform/ui/Keyboard.h"

#include "platform/core/NotificationCenter.h"

namespace ui {
namespace {

constexpr double kSlideSeconds = 0.25;

bool& Visible() {
    static bool visible = false;
    return visible;
}

bool& OnScreen() {
    static bool onScreen = false;
    return onScreen;
}

ns::Value RectValue(const Rect& r) {
    ns::Dictionary d;
    d.Set("x", r.X());
    d.Set("y", r.Y());
    d.Set("width", r.Width());
    d.Set("height", r.Height());
    return ns::Value(std::move(d));
}

}  // namespace

bool Keyboard::IsOnScreen() { return OnScreen(); }

void Keyboard::SetOnScreen(bool onScreen) {
    if (!onScreen) SetVisible(false);
    OnScreen() = onScreen;
}

bool Keyboard::IsVisible() { return Visible(); }

Rect Keyboard::Frame() { return FrameFor(ScreenMetrics::Current()); }

Rect Keyboard::FrameFor(const ScreenMetrics& screen) {
    double height;
    if (screen.pad) {
        height = screen.IsLandscape() ? 352 : 264;
    } else {
        height = screen.IsLandscape() ? 162 : 216;
    }
    return Rect(0, screen.size.height - height, screen.size.width, height);
}

void Keyboard::SetVisible(bool visible) {
    if (visible && !OnScreen()) visible = false;
    if (visible == Visible()) {
        return;
    }
    const Rect shown = Frame();
    const Rect below = shown.Offset(0, shown.Height());
    ns::Dictionary info;
    info.Set(kKeyboardFrameBeginKey, RectValue(visible ? below : shown));
    info.Set(kKeyboardFrameEndKey, RectValue(visible ? shown : below));
    info.Set(kKeyboardAnimationDurationKey, kSlideSeconds);
    ns::Value userInfo(std::move(info));
    ns::NotificationCenter& center = ns::NotificationCenter::Default();
    center.Post(visible ? kKeyboardWillShowNotification : kKeyboardWillHideNotification, nullptr,
                userInfo);
    Visible() = visible;
    center.Post(visible ? kKeyboardDidShowNotification : kKeyboardDidHideNotification, nullptr,
                userInfo);
}

}  // namespace ui
