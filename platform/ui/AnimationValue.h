#ifndef PLATFORM_UI_ANIMATION_VALUE_H
#define PLATFORM_UI_ANIMATION_VALUE_H
// The value of an animated property: a number, a point, a size, a rectangle, a colour or a
// layer transform.

#include <variant>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

using AnimationValue = std::variant<double, Point, Size, Rect, Color, Transform3D>;

// a + (b - a) x f, component by component (a transform matrix element by element, which is
// exact for scales and translations). Values of different kinds do not blend: the result is
// a until f reaches 1, then b.
AnimationValue Interpolate(const AnimationValue& a, const AnimationValue& b, double f);

}  // namespace ui

#endif  // PLATFORM_UI_ANIMATION_VALUE_H
