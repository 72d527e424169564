#pragma once
// The player screen's layout numbers, in points (and its animations' times, in seconds): the
// interface file builds its views by them, the controls and the screen move those views by
// them, and the tests check them against them. One place, so the built views and the moved
// ones agree. "w" and "h" below are the screen's width and height.

namespace QplayerLayout {

// --- animations
// The bars, panels, labels and the movie's display move and fade in this time.
constexpr double kAnimationSeconds = 0.3;
// The small layout's compact bottom bar: the scrubber narrows this long, a moment after the
// device turned.
constexpr double kCompactAnimationSeconds = 0.2;
constexpr double kCompactDelaySeconds = 0.1;

// --- the bars
// The top bar (close, title, scale mode) at the top, the bottom bar (the controls) at the
// bottom, both black at this opacity. Hidden, the top bar lies just above the screen and the
// bottom bar kBottomBarHiddenOffset below its bottom edge.
constexpr double kTopBarHeight = 44;
constexpr double kBottomBarHeight = 66;
constexpr double kBottomBarHiddenOffset = 50;
constexpr double kBarOpacity = 0.7;

// --- buttons and labels in the bars, centred on the bar's height
constexpr double kButtonWidth = 44;
constexpr double kButtonHeight = 30;
constexpr double kButtonFontSize = 13;  // bold
// The close button at the top bar's left, the scale-mode buttons this far from its right.
constexpr double kBarMargin = 5;
constexpr double kCloseButtonWidth = 60;
// The title from here to as far from the right edge (w - 2 x kTitleX wide).
constexpr double kTitleX = 70;
constexpr double kTitleFontSize = 16;
// The bottom bar: play and pause, the position label, the scrubber, the remaining-time label,
// the subtitle and volume buttons, kControlGap apart after the scrubber.
constexpr double kPlayButtonX = 8;
constexpr double kProgressLabelX = 52;
constexpr double kLabelWidth = 48;
constexpr double kTimeFontSize = 13;
constexpr double kControlGap = 4;

// --- the scrubber
// Landscape: from kScrubberX to three buttons, a label and kScrubberEndMargin before the right
// edge. The width kScrubberMarkerWidth marks a scrubber that the landscape layout must widen
// again; the compact (portrait) layout narrows it to kCompactScrubberWidth at
// kCompactScrubberX.
constexpr double kScrubberX = 102;
constexpr double kScrubberY = 22;
constexpr double kScrubberHeight = 23;
constexpr double kScrubberEndMargin = 16;
constexpr double kScrubberMarkerWidth = 22;
constexpr double kCompactScrubberX = 66;
constexpr double kCompactScrubberWidth = 200;
// The scrubbers' thumb, a white dot, and the tracks' stretchable end caps.
constexpr double kThumbSize = 20;
constexpr int kTrackCapWidth = 10;

// --- the subtitle label
// kSubtitleInset in from each side, kSubtitleHeight high. In the large layout its top lies
// kLargeSubtitleOffset above the screen's bottom edge; in the small one it sits on that edge.
constexpr double kSubtitleInset = 10;
constexpr double kSubtitleHeight = 80;
constexpr double kLargeSubtitleOffset = 190;
constexpr double kLargeSubtitleFont = 30;
constexpr double kSmallSubtitleFont = 18;
// The subtitle line's dark shadow lies this far right of and below its white text.
constexpr double kSubtitleShadowOffset = 2;

// --- the panels that wait below the screen until shown
// Both start kPanelRightOffset left of the screen's right edge.
constexpr double kPanelRightOffset = 150;
// The volume panel: kVolumePanelWidth x kVolumePanelHeight turned upright, black at
// kVolumeOpacity; its top kVolumeShownOffset above the screen's bottom edge when shown. The
// slider lies kVolumeSliderInset in from the panel's ends, at kVolumeSliderY. Shown, the panel
// ends where the bottom bar begins: lying over the bar, or over the black band under a movie
// in a window taller than the movie, its translucent black could not be told from what is
// under it, and the slider's track would seem to hang out of the panel.
constexpr double kVolumeShownOffset = 246;
constexpr double kVolumePanelWidth = kVolumeShownOffset - kBottomBarHeight;
constexpr double kVolumePanelHeight = 50;
constexpr double kVolumeOpacity = 0.4;
constexpr double kVolumeSliderInset = 10;
constexpr double kVolumeSliderY = 27;
// The subtitle chooser (SubtitleChooser): kChooserWidth wide, as high as its entries once
// filled (kChooserInitialHeight before), kChooserBottomMargin above the bottom edge when
// shown.
constexpr double kChooserWidth = 85;
constexpr double kChooserInitialHeight = 20;
constexpr double kChooserBottomMargin = 52;

// --- the activity indicator, centred on the screen
constexpr double kSpinnerSize = 85;

}  // namespace QplayerLayout
