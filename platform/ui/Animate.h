#ifndef PLATFORM_UI_ANIMATE_H
#define PLATFORM_UI_ANIMATE_H
// Block animations: Animate runs `animations` at once, so every property it sets has its final
// value straight away (the renderer may show the change gradually), and calls
// completion(true) on a toolkit-loop timer delay + duration seconds later, also when nothing
// changed in the block. Each call is appended to the AnimationLog with the views the block
// changed. Blocks may nest; each keeps its own completion. Main thread only.

#include <functional>

namespace ui {

class View;

// The platform's option bits (only these are given a meaning here).
namespace AnimationOptions {
constexpr unsigned None = 0;
constexpr unsigned LayoutSubviews = 1u << 0;
constexpr unsigned AllowUserInteraction = 1u << 1;
constexpr unsigned BeginFromCurrentState = 1u << 2;
constexpr unsigned CurveEaseInOut = 0u << 16;
constexpr unsigned CurveEaseIn = 1u << 16;
constexpr unsigned CurveEaseOut = 2u << 16;
constexpr unsigned CurveLinear = 3u << 16;
constexpr unsigned CurveMask = 3u << 16;
}  // namespace AnimationOptions

void Animate(double duration, double delay, unsigned options,
             const std::function<void()>& animations,
             std::function<void(bool finished)> completion);
void Animate(double duration, const std::function<void()>& animations,
             std::function<void(bool finished)> completion = nullptr);

// Whether an Animate block is running now.
bool InsideAnimationBlock();

// Called by View for every change, to collect the views a block changes.
void NoteChangeForAnimationBlock(View& view);

}  // namespace ui

#endif  // PLATFORM_UI_ANIMATE_H
