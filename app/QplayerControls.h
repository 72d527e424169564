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
// screen binds them here as its outlets (bindOutlets). Once the view is loaded the controls
// connect their own buttons and scrubber to their actions; close is the screen's. The screen
// (Qplayer) keeps the life cycle, the timers and the movie player, and tells the controls what
// happens; the controls know only the screen's view, the movie player it lends them and the
// close action, never the screen. They are the subtitle chooser's delegate: a pick reaches the
// subtitle label through them. Animation blocks run at once (ui::Animate); what runs later
// holds the controls weakly. Main thread only; made with std::make_shared.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PlayerDataObject.h"
#include "app/SubtitleChooser.h"
#include "app/SubtitleCues.h"
#include "app/SubtitleDownloader.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/View.h"

class QplayerControls : public SubtitleChooserDelegate,
                        public std::enable_shared_from_this<QplayerControls> {
public:
    QplayerControls();
    ~QplayerControls() override;
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
    // Seconds as the time labels show them: "m:ss" below an hour, "hh:mm:ss" (the hour two
    // characters wide) from an hour on.
    static std::string convertTime(int seconds);

    // The screen's view has loaded (again): the controls place their views in it and connect
    // their buttons and scrubber; the close button runs `close`.
    void viewDidLoad(const std::shared_ptr<ui::View>& screenView, std::function<void()> close);
    // The movie player the controls drive (null: none). The screen owns it; the controls only
    // look at it while it lives, since they may outlive it (a pending callback holds them).
    void setMoviePlayer(const std::shared_ptr<ns::MoviePlayer>& movie) { movie_ = movie; }

    // Set-up steps, in the order the screen runs them once the playback information is read.
    // The device's model decides the small layout ("iPhone").
    void recordDeviceType(const std::string& deviceType) { deviceType_ = deviceType; }
    // The subtitle label and the chooser of the answer's languages, which tells the controls.
    void initSubtitles(const PlayerDataObject& data);
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

    // Labels and scrubber during playback (t the position, remaining the seconds left, both
    // whole; now the exact position), and while scrubbing or not playing (from the scrubber,
    // against the movie's duration).
    void showPlaybackPosition(int t, int remaining, double now);
    void showScrubberPosition(double duration);
    // The subtitle of second t in the subtitle label.
    void showSubtitle(int t);
    // Drops the cues and the languages and stops a document download (the screen is going
    // away).
    void clearSubtitles();

    void setControlsShown(bool shown);
    // Callers check first that there is something to control (the movie has played).
    void showHideControls();
    void showHideAudioSlider();
    void hideSubtitlesAndVolumeSlider();
    void showSubtitles();
    // SubtitleChooserDelegate: the chooser's choice; the language's document is loaded.
    void changeSubtitle(const std::string& language) override;
    void changeScaleMode();
    void onPlay();
    void onPause();
    void onScrubbingBegin();
    void onScrubbingDone();
    void onScrubberRelease();
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
    // The chosen language's document is still being downloaded.
    bool loadingSubtitles() const { return subtitleDownloader_.loading(); }

private:
    bool smallLayout() const;
    double viewHeight() const;
    double chooserHeight() const;
    bool moviePlaying() const;
    void connectActions(std::function<void()> close);
    // A downloaded subtitle document: its cues replace those in use.
    void subtitleDocumentLoaded(std::string document);

    std::weak_ptr<ui::View> screenView_;
    std::weak_ptr<ns::MoviePlayer> movie_;

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
    // The languages the chooser offers, with their documents.
    std::vector<SubtitleLanguageObject> subtitles_;
    SubtitleCues subtitleCues_;
    SubtitleDownloader subtitleDownloader_;
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
