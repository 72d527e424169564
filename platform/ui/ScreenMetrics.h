#ifndef PLATFORM_UI_SCREEN_METRICS_H
#define PLATFORM_UI_SCREEN_METRICS_H
// What the toolkit's own layouts need to know about the screen: whether it is a pad's, and its
// size in points in the current interface orientation (landscape when wider than high). The
// keyboard's frame and a navigation bar's fitting height follow it. It is read off the device's
// idiom and the main screen's bounds (which follow the interface orientation), unless a test
// has put other metrics in their place. Main thread only.

#include "platform/ui/Geometry.h"

namespace ui {

struct ScreenMetrics {
    bool pad = false;
    Size size = Size(320, 480);

    bool IsLandscape() const { return size.width > size.height; }
    bool IsLandscapePhone() const { return !pad && IsLandscape(); }

    // The override when one is set, else the device's and the screen's.
    static ScreenMetrics Current();
    // Puts metrics in place of the device's until ClearOverride.
    static void SetCurrent(const ScreenMetrics& metrics);
    static void ClearOverride();
};

}  // namespace ui

#endif  // PLATFORM_UI_SCREEN_METRICS_H
