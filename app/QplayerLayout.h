#pragma once
// The player screen's layout numbers that its interface, its controls and the screen itself all
// place views by, in points: one place, so the built views and the moved ones agree.

namespace QplayerLayout {

constexpr double kTopBarHeight = 44;
constexpr double kBottomBarHeight = 66;
// The scrubber of the landscape layout.
constexpr double kScrubberX = 102;
constexpr double kScrubberY = 22;
constexpr double kScrubberHeight = 23;
// The activity indicator, centred on the screen.
constexpr double kSpinnerSize = 85;

}  // namespace QplayerLayout
