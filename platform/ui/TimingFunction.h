#ifndef PLATFORM_UI_TIMING_FUNCTION_H
#define PLATFORM_UI_TIMING_FUNCTION_H
// The pacing curves of animations: cubic Bezier curves from (0, 0) to (1, 1) with the
// platform's control points:
//   Linear        (0, 0)     (1, 1)
//   EaseIn        (0.42, 0)  (1, 1)
//   EaseOut       (0, 0)     (0.58, 1)
//   EaseInEaseOut (0.42, 0)  (0.58, 1)
//   Default       (0.25, 0.1) (0.25, 1)

#include <string>

namespace ui {

enum class TimingFunction { Default, Linear, EaseIn, EaseOut, EaseInEaseOut };

// The paced progress for time progress p (clamped to 0..1).
double ApplyTiming(TimingFunction f, double p);
// "default", "linear", "easeIn", "easeOut", "easeInEaseOut".
std::string TimingName(TimingFunction f);

}  // namespace ui

#endif  // PLATFORM_UI_TIMING_FUNCTION_H
