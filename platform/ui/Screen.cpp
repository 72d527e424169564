#include "platform/ui/Screen.h"

#include "platform/ui/Application.h"

namespace ui {

Screen& Screen::Main() {
    static Screen* screen = new Screen();  // never destroyed
    return *screen;
}

Size Screen::SizeFor(UserInterfaceIdiom idiom, InterfaceOrientation orientation) {
    Size portrait = idiom == UserInterfaceIdiom::Pad ? Size(768, 1024) : Size(320, 480);
    return IsLandscape(orientation) ? Size(portrait.height, portrait.width) : portrait;
}

Rect Screen::Bounds() const {
    return Rect(Point(),
                SizeFor(UiDevice::Current().Idiom(), Application::Shared().StatusBarOrientation()));
}

Rect Screen::ApplicationFrame() const {
    Rect b = Bounds();
    if (Application::Shared().IsStatusBarHidden()) {
        return b;
    }
    return Rect(b.X(), b.Y() + kStatusBarHeight, b.Width(), b.Height() - kStatusBarHeight);
}

}  // namespace ui
