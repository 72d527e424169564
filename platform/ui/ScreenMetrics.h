#ifndef PLATFORM_UI_SCREEN_METRICS_H
#define PLATFORM_UI_SCREEN_METRICS_H
// What the toolkit's own layouts need to know about the screen: whether it is a pad's, and its
// size in points in the current interface orientation (landscape when wider than high). The
// keyboard's frame and a navigation bar's fitting height follow it. Whoever owns the device
// model (idiom, orientation, rotation) sets it; until then it is a phone in portrait, 320 x
// 480. Main thread only.

#include "platform/ui/Geometry.h"

namespace ui {

struct ScreenMetrics {
    bool pad = false;
    Size size = Size(320, 480);

    bool IsLandscape() const { return size.width > size.height; }
    bool IsLandscapePhone() const { return !pad && IsLandscape(); }

    static const ScreenMetrics& Current();
    static void SetCurrent(const ScreenMetrics& metrics);
};

}  // namespace ui

#endif  // PLATFORM_UI_SCREEN_METRICS_H
