#ifndef APP_QPLAYERCONTROLS_H
#define APP_QPLAYERCONTROLS_H
// The player screen's own controls over the movie: the bottom bar (play and pause, the
// position scrubber in hundredths of a second between the position and remaining-time labels,
// the subtitle and volume buttons) and the top bar (close, title, scale mode) that slide in and
// out together, the vertical volume slider, the subtitle label with its chooser and the
// subtitles shown in it, and the layout changes of the small (phone) layout when the device
// turns. Sizes in points (QplayerLayout).
//
// The controls own the views they move: the screen's interface file builds them, and the
// screen binds them here as its outlets (bindOutlets). The screen (Qplayer) keeps the life
// cycle, the timers and the movie player, and tells the controls what happens; the controls
// read the screen only through its public interface (its view, movie player and duration).
// Animation blocks run at once (ui::Animate); what runs later reaches the controls through the
// screen, held weakly. Main thread only.

#include <memory>
#include <string>

#include "app/PlayerDataObject.h"
#include "app/SubtitleChooser.h"
#include "app/SubtitleController.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/View.h"

class Qplayer;

class QplayerControls {
public:
    explicit QplayerControls(Qplayer& screen);
    ~QplayerControls();
    QplayerControls(const QplayerControls&) = delete;
    QplayerControls& operator=(const QplayerControls&) = delete;

    // Declares the views the controls move as outlets of the screen's interface file: `bind`
    // is called with each outlet's name and the member the view is to land in (the screen
    // passes them on to its BindOutlet, so they are filled whenever its view is loaded).
    template <typename Bind>
    void bindOutlets(Bind&& bind) {
        bind("controls", bottomBar_);
        bind("topBar", topBar_);
        bind("playButton", playButton_);
        bind("pauseButton", pauseButton_);
        bind("audioButton", audioButton_);
        bind("closeViewButton", closeViewButton_);
        bind("scrubber_ui", scrubber_ui_);
        bind("volumeView", volumeView_);
        bind("videoTitle", videoTitle_);
        bind("progressTimeDisplay", progressTimeDisplay_);
        bind("remainingTimeDisplay", remainingTimeDisplay_);
        bind("subtitleView", subtitleView_);
        bind("subtitleButton", subtitleButton_);
        bind("subtitleButtonON", subtitleButtonON_);
        bind("scaleModeButton", scaleModeButton_);
        bind("scaleModeExitButton", scaleModeExitButton_);
        bind("subtitleChooserView", subtitleChooserView_);
    }

    // The scrubber's thumb: a white dot.
    static ui::Image::Ptr thumbImage();

    // Set-up steps, in the order the screen runs them once the playback information is read.
    // The device's model decides the small layout ("iPhone").
    void recordDeviceType(const std::string& deviceType) { deviceType_ = deviceType; }
    // The subtitle label and the chooser of the answer's languages, which tells `delegate`.
    void initSubtitles(const PlayerDataObject& data,
                       const std::shared_ptr<SubtitleChooserDelegate>& delegate);
    void initLabel(const PlayerDataObject& data);
    // The scrubber back from its marker width (the first step of the screen's scaleUp).
    void fitScrubber();
    void initControls();
    // Play or pause shown, after the movie player's state.
    void playBackChange();
    void initVolumeScrubber();
    // Once the movie is playable: the scrubber's range is the duration in hundredths, and the
    // subtitles learn the duration.
    void initializeScrubber(double duration);

    // The screen's appearance: what shows at first, the close button two seconds later, the
    // title and scale button once the movie plays, nothing once closing.
    void prepareToAppear();
    void showCloseButton();
    void showTitleAndScaleButton();
    void hideForClosing();
    // The views the screen lets go of when its view is unloaded.
    void viewDidUnload();

    // Labels and scrubber during playback (t, d whole seconds; now the exact position), and
    // while scrubbing or not playing (from the scrubber).
    void showPlaybackPosition(int t, int d, double now);
    void showScrubberPosition();
    // The subtitle of second t in the subtitle label.
    void showSubtitle(int t);
    // Drops the cues and stops a document download (the screen is going away).
    void clearSubtitles();

    void setControlsShown(bool shown);
    // Callers check first that there is something to control (the movie has played).
    void showHideControls();
    void showHideAudioSlider();
    void hideSubtitlesAndVolumeSlider();
    void showSubtitles();
    // The chooser's choice; `data` (may be null) names the language's document.
    void changeSubtitle(const std::string& language, const PlayerDataObject* data);
    void changeScaleMode();
    void onScrubbingBegin();
    void onScrubbingDone();
    // The user moves the scrubber: the position labels follow it, not the movie.
    bool isScrubbing() const { return isScrubbing_; }
    void endScrubbing() { isScrubbing_ = false; }

    // Rotation: the scale mode for the new orientation, then (the screen calls it after every
    // rotation and when playback starts) the small layout's compact or full bottom bar.
    void willRotate(ui::InterfaceOrientation orientation);
    void reconfigurControlls();
    void resizeScrubber();

    bool showingControls() const { return showingControls_; }
    bool showingVolumeSlider() const { return showingVolumeSlider_; }
    bool showingSubtitles() const { return showingSubtitles_; }
    bool isSubtitleChooser() const { return isSubtitleChooser_; }
    const std::shared_ptr<ui::Slider>& volumeSlider() const { return volumeSlider_; }

private:
    bool smallLayout() const;
    double viewHeight() const;
    double chooserHeight() const;
    bool moviePlaying() const;

    Qplayer& screen_;

    // Outlets.
    std::shared_ptr<ui::View> bottomBar_;
    std::shared_ptr<ui::View> topBar_;
    std::shared_ptr<ui::Button> playButton_;
    std::shared_ptr<ui::Button> pauseButton_;
    std::shared_ptr<ui::Button> audioButton_;
    std::shared_ptr<ui::Button> closeViewButton_;
    std::shared_ptr<ui::Slider> scrubber_ui_;
    std::shared_ptr<ui::View> volumeView_;
    std::shared_ptr<ui::Label> videoTitle_;
    std::shared_ptr<ui::Label> progressTimeDisplay_;
    std::shared_ptr<ui::Label> remainingTimeDisplay_;
    std::shared_ptr<ui::Label> subtitleView_;
    std::shared_ptr<ui::Button> subtitleButton_;
    std::shared_ptr<ui::Button> subtitleButtonON_;
    std::shared_ptr<ui::Button> scaleModeButton_;
    std::shared_ptr<ui::Button> scaleModeExitButton_;
    std::shared_ptr<ui::View> subtitleChooserView_;

    // The scrubber once the movie is playable.
    std::shared_ptr<ui::Slider> scrubber_;
    std::shared_ptr<ui::Slider> volumeSlider_;
    std::shared_ptr<SubtitleChooser> subtitleChooser_;
    std::unique_ptr<SubtitleController> subtitleController_;
    ui::Image::Ptr thumbImage_;

    std::string deviceType_;
    bool showingControls_ = false;
    bool showingVolumeSlider_ = false;
    bool showingSubtitles_ = false;
    bool isSubtitleChooser_ = false;
    bool isScrubbing_ = false;
    int currentScaleMode_ = 1;
    ui::DeviceOrientation prewOrientation_ = ui::DeviceOrientation::LandscapeLeft;
    bool pertendOrientation_ = false;
    bool sizeCalc_ = false;
    double initScrubberWidth_ = 0;
};

#endif  // APP_QPLAYERCONTROLS_H
