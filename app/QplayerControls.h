#ifndef APP_QPLAYERCONTROLS_H
#define APP_QPLAYERCONTROLS_H
// The player screen's own controls over the movie: the bottom bar (play and pause, the
// position scrubber in hundredths of a second between the position and remaining-time labels,
// the subtitle and volume buttons) and the top bar (close, title, scale mode) that slide in and
// out together, the vertical volume slider, the subtitle label and chooser, and the layout
// changes of the small (phone) layout when the device turns. The screen (Qplayer) owns the
// views and the movie player; this half moves them. Sizes in points; animations 0.3 s unless
// said otherwise. Main thread only.

#include <memory>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/Slider.h"
#include "platform/ui/UiDevice.h"

class Qplayer;

class QplayerControls {
public:
    static constexpr double kBottomBarHeight = 66;
    static constexpr double kBottomBarHiddenOffset = 50;
    static constexpr double kTopBarHeight = 44;
    static constexpr double kBarOpacity = 0.7;
    static constexpr double kVolumeShownOffset = 246;
    static constexpr double kVolumeOpacity = 0.4;
    static constexpr double kChooserWidth = 85;
    static constexpr double kChooserBottomMargin = 52;

    explicit QplayerControls(Qplayer& player) : player_(player) {}

    // The scrubber's thumb: a white dot 20 across.
    static ui::Image::Ptr thumbImage();

    // Set-up steps, in the order the screen runs them once the playback information is read.
    void initSubtitles();
    void initLabel();
    void scaleUp();
    void initControls();
    void playBackChange();
    void initVolumeScrubber();
    // Once the movie is playable: the scrubber's range is the duration in hundredths.
    void initializeScrubber(double duration);

    // Labels and scrubber during playback (t, d whole seconds; now the exact position), and
    // while scrubbing or not playing (from the scrubber).
    void showPlaybackPosition(int t, int d, double now);
    void showScrubberPosition();

    void setControlsShown(bool shown);
    void showHideControls();
    void showHideAudioSlider();
    void hideSubtitlesAndVolumeSlider();
    void showSubtitles();
    void changeSubtitle(const std::string& language);
    void changeScaleMode();
    void onScrubbingBegin();
    void onScrubbingDone();

    void willRotate(ui::InterfaceOrientation orientation);
    void reconfigurControlls();
    void resizeScrubber();
    void recordOrientation(ui::DeviceOrientation orientation) { prewOrientation_ = orientation; }

    bool showingControls() const { return showingControls_; }
    bool showingVolumeSlider() const { return showingVolumeSlider_; }
    bool showingSubtitles() const { return showingSubtitles_; }
    bool isSubtitleChooser() const { return isSubtitleChooser_; }
    const std::shared_ptr<ui::Slider>& volumeSlider() const { return volumeSlider_; }

private:
    bool smallLayout() const;
    double viewHeight() const;
    double chooserHeight() const;

    Qplayer& player_;
    bool showingControls_ = false;
    bool showingVolumeSlider_ = false;
    bool showingSubtitles_ = false;
    bool isSubtitleChooser_ = false;
    int currentScaleMode_ = 1;
    ui::DeviceOrientation prewOrientation_ = ui::DeviceOrientation::LandscapeLeft;
    bool pertendOrientation_ = false;
    bool sizeCalc_ = false;
    double initScrubberWidth_ = 0;
    std::shared_ptr<ui::Slider> volumeSlider_;
};

#endif  // APP_QPLAYERCONTROLS_H
