#ifndef PLATFORM_UI_SCREEN_H
#define PLATFORM_UI_SCREEN_H
// The screen of the device: 320 x 480 points on a phone (and where no idiom is reported),
// 768 x 1024 on a pad, in portrait; width and height change places while the interface stands
// in landscape. The status bar takes the top 20 points while it is shown. One point is one
// pixel. Main thread only.

#include "platform/ui/Geometry.h"
#include "platform/ui/UiDevice.h"

namespace ui {

constexpr double kStatusBarHeight = 20;

class Screen {
public:
    static Screen& Main();

    // The screen in the given idiom and orientation.
    static Size SizeFor(UserInterfaceIdiom idiom, InterfaceOrientation orientation);

    // At the origin, the size for the current device's idiom and the application's interface
    // orientation.
    Rect Bounds() const;
    // The bounds less the status bar while the application shows it.
    Rect ApplicationFrame() const;
    double Scale() const { return 1; }

private:
    Screen() = default;
};

}  // namespace ui

#endif  // PLATFORM_UI_SCREEN_H
