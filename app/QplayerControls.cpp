#include "app/QplayerControls.h"

#include <algorithm>
#include <cmath>

#include "app/QplayerLayout.h"
#include "app/TtmlParser.h"
#include "app/WeakCallback.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/SystemVolume.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Font.h"
#include "platform/ui/Loop.h"

namespace {

using namespace QplayerLayout;

// The scrubber's values are hundredths of a second.
constexpr double kScrubberUnitsPerSecond = 100;
// The end of the scrubber seeks this many hundredths before the end.
constexpr double kEndSeekBack = 200;

ui::Image::Ptr Track(const char* name) {
    ui::Image::Ptr image = ui::Image::Named(name);
    return image ? image->StretchableImage(kTrackCapWidth, 0) : nullptr;
}

void SetY(const std::shared_ptr<ui::View>& view, double y) {
    if (!view) return;
    ui::Rect frame = view->Frame();
    frame.origin.y = y;
    view->SetFrame(frame);
}

// The subtitle label's text until the first second of playback replaces it.
constexpr const char* kSubtitlePlaceholder = ".......";

}  // namespace

QplayerControls::QplayerControls()
    : subtitleDownloader_(
          [this](std::string document) { subtitleDocumentLoaded(std::move(document)); }),
      thumbImage_(thumbImage()) {}

QplayerControls::~QplayerControls() = default;

ui::Image::Ptr QplayerControls::thumbImage() {
    return ui::Image::Filled(ui::Size(kThumbSize, kThumbSize), ui::Color::White(), kThumbSize / 2);
}

std::string QplayerControls::convertTime(int seconds) {
    // A time before zero has no text of its own: it shows as the start.
    const int s = std::max(seconds, 0);
    const int h = s / 3600;
    const int m = s / 60;
    if (s >= 3600) return ns::Format("%2d:%02d:%02d", h, m % 60, s - 60 * m);
    return ns::Format("%1d:%02d", m % 60, s - 60 * m);
}

bool QplayerControls::smallLayout() const { return deviceType_ == "iPhone"; }

double QplayerControls::viewHeight() const {
    const std::shared_ptr<ui::View> view = screenView_.lock();
    return view ? view->Bounds().Height() : 0;
}

double QplayerControls::chooserHeight() const {
    return subtitleChooser_ ? subtitleChooser_->componentHeight() : 0;
}

bool QplayerControls::moviePlaying() const {
    const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock();
    return movie && movie->PlaybackState() == ns::MoviePlaybackState::Playing;
}

void QplayerControls::viewDidLoad(const std::shared_ptr<ui::View>& screenView,
                                  std::function<void()> close) {
    screenView_ = screenView;
    connectActions(std::move(close));
}

void QplayerControls::connectActions(std::function<void()> close) {
    const auto connect = [this](const std::shared_ptr<ui::Control>& control,
                                void (QplayerControls::*action)(), unsigned events) {
        if (control) control->AddTarget(this, WeakCallback(*this, action), events);
    };
    if (closeViewButton_) {
        closeViewButton_->AddTarget(
            this, [close = std::move(close)](ui::Control&) { close(); },
            ui::ControlEvent::TouchUpInside);
    }
    for (const std::shared_ptr<ui::Button>& button : {scaleModeButton_, scaleModeExitButton_}) {
        connect(button, &QplayerControls::changeScaleMode, ui::ControlEvent::TouchUpInside);
    }
    connect(playButton_, &QplayerControls::onPlay, ui::ControlEvent::TouchUpInside);
    connect(pauseButton_, &QplayerControls::onPause, ui::ControlEvent::TouchUpInside);
    connect(scrubber_ui_, &QplayerControls::onScrubbingBegin, ui::ControlEvent::TouchDown);
    connect(scrubber_ui_, &QplayerControls::onScrubbingDone,
            ui::ControlEvent::TouchUpInside | ui::ControlEvent::TouchUpOutside);
    connect(scrubber_ui_, &QplayerControls::onScrubberRelease, ui::ControlEvent::TouchUpOutside);
    for (const std::shared_ptr<ui::Button>& button : {subtitleButton_, subtitleButtonON_}) {
        connect(button, &QplayerControls::showSubtitles, ui::ControlEvent::TouchUpInside);
    }
    connect(audioButton_, &QplayerControls::showHideAudioSlider, ui::ControlEvent::TouchUpInside);
}

// --- set-up

void QplayerControls::initSubtitles(const PlayerDataObject& data) {
    subtitles_ = data.subtitles;
    if (subtitleView_) {
        const std::shared_ptr<ui::Label>& label = subtitleView_;
        label->SetFont(
            ui::Font::SystemFont(smallLayout() ? kSmallSubtitleFont : kLargeSubtitleFont));
        label->SetNumberOfLines(0);
        const double height = label->Frame().Height();
        SetY(label, smallLayout() ? viewHeight() - height : viewHeight() - kLargeSubtitleOffset);
        label->SetText(kSubtitlePlaceholder);
    }
    if (subtitleButtonON_) subtitleButtonON_->SetHidden(true);
    if (subtitleChooserView_) {
        const std::shared_ptr<ui::View>& container = subtitleChooserView_;
        container->SetAlpha(1);
        container->SetBackgroundColor(ui::Color::Clear());
        subtitleChooser_ =
            SubtitleChooser::initWithSubtitles(data.subtitles, ui::Rect(0, 0, kChooserWidth, 0));
        subtitleChooser_->setDelegate(weak_from_this());
        container->AddSubview(subtitleChooser_);
        const double height = chooserHeight();
        subtitleChooser_->SetFrame(ui::Rect(0, 0, kChooserWidth, height));
        container->SetFrame(ui::Rect(container->Frame().X(), viewHeight(), kChooserWidth, height));
    }
}

void QplayerControls::initLabel(const PlayerDataObject& data) {
    if (!videoTitle_) return;
    videoTitle_->SetText(data.getLabelForLanguage(data.UILanguage).value_or(std::string()));
}

void QplayerControls::fitScrubber() {
    if (!scrubber_ui_) return;
    ns::Log("[Q] size: %f", scrubber_ui_->Frame().Width());
    if (scrubber_ui_->Frame().Width() == kScrubberMarkerWidth) {
        scrubber_ui_->SetFrame(
            ui::Rect(kScrubberX, kScrubberY, initScrubberWidth_, kScrubberHeight));
    }
    initScrubberWidth_ = std::floor(scrubber_ui_->Frame().Width());
}

void QplayerControls::initControls() {
    const ui::DeviceOrientation orientation = ui::UiDevice::Current().Orientation();
    if (smallLayout() && (orientation == ui::DeviceOrientation::Portrait ||
                          orientation == ui::DeviceOrientation::PortraitUpsideDown)) {
        resizeScrubber();
    }
    showingControls_ = false;
    SetY(bottomBar_, viewHeight() + kBottomBarHiddenOffset);
    const ui::Color barColor = ui::Color::FromWhite(0, kBarOpacity);
    if (bottomBar_) bottomBar_->SetBackgroundColor(barColor);
    if (topBar_) topBar_->SetBackgroundColor(barColor);
}

void QplayerControls::playBackChange() {
    if (!playButton_ || !pauseButton_) return;
    const bool playing = moviePlaying();
    playButton_->SetHidden(playing);
    pauseButton_->SetHidden(!playing);
}

void QplayerControls::initVolumeScrubber() {
    if (!volumeView_) return;
    const std::shared_ptr<ui::View>& container = volumeView_;
    const ui::Rect bounds = container->Bounds();
    volumeSlider_ = std::make_shared<ui::Slider>(
        ui::Rect(bounds.X() + kVolumeSliderInset, kVolumeSliderY,
                 bounds.Width() - 2 * kVolumeSliderInset, kScrubberHeight));
    volumeSlider_->SetIdentifier("volumeSlider");
    volumeSlider_->SetThumbImage(thumbImage_, ui::ControlState::Normal);
    volumeSlider_->SetThumbImage(thumbImage_, ui::ControlState::Highlighted);
    volumeSlider_->SetMinimumTrackImage(ui::Image::Named("track_left_vol.png"),
                                        ui::ControlState::Normal);
    volumeSlider_->SetMaximumTrackImage(ui::Image::Named("track_right_vol.png"),
                                        ui::ControlState::Normal);
    volumeSlider_->SetValue(ns::SystemVolume::Get());
    volumeSlider_->AddTarget(
        this,
        [](ui::Control& sender) {
            ns::SystemVolume::Set(static_cast<ui::Slider&>(sender).Value());
        },
        ui::ControlEvent::ValueChanged);
    container->AddSubview(volumeSlider_);
    container->SetClipsToBounds(true);
    container->SetTransform(ui::AffineTransform::MakeRotation(-M_PI / 2));
    container->SetBackgroundColor(ui::Color::FromWhite(0, kVolumeOpacity));
    SetY(container, viewHeight());
    container->SetAlpha(0);
}

void QplayerControls::initializeScrubber(double duration) {
    scrubber_ = scrubber_ui_;
    if (scrubber_) {
        scrubber_->SetContinuous(true);
        scrubber_->SetMinimumTrackImage(Track("track_left.png"), ui::ControlState::Normal);
        scrubber_->SetMaximumTrackImage(Track("track_right.png"), ui::ControlState::Normal);
        scrubber_->SetThumbImage(thumbImage_, ui::ControlState::Normal);
        scrubber_->SetThumbImage(thumbImage_, ui::ControlState::Highlighted);
        scrubber_->SetMinimumValue(0);
        scrubber_->SetMaximumValue(std::max(duration, 0.0) * kScrubberUnitsPerSecond);
        initScrubberWidth_ = kScrubberMarkerWidth;
    }
    subtitleCues_.setDuration(duration);
}

// --- the screen's appearance

void QplayerControls::prepareToAppear() {
    for (const std::shared_ptr<ui::View>& view :
         {bottomBar_, std::shared_ptr<ui::View>(subtitleView_),
          std::shared_ptr<ui::View>(videoTitle_), std::shared_ptr<ui::View>(scaleModeButton_),
          std::shared_ptr<ui::View>(closeViewButton_)}) {
        if (view) view->SetAlpha(0);
    }
    if (topBar_) topBar_->SetAlpha(1);
    if (scaleModeExitButton_) scaleModeExitButton_->SetHidden(true);
    prewOrientation_ = ui::DeviceOrientation::LandscapeLeft;
}

void QplayerControls::showCloseButton() {
    if (closeViewButton_) closeViewButton_->SetAlpha(1);
}

void QplayerControls::showTitleAndScaleButton() {
    if (videoTitle_) videoTitle_->SetAlpha(1);
    if (scaleModeButton_) scaleModeButton_->SetAlpha(1);
}

void QplayerControls::hideForClosing() {
    for (const std::shared_ptr<ui::View>& view :
         {bottomBar_, topBar_, std::shared_ptr<ui::View>(subtitleView_),
          std::shared_ptr<ui::View>(videoTitle_), volumeView_}) {
        if (view) view->SetAlpha(0);
    }
}

void QplayerControls::viewDidUnload() {
    closeViewButton_.reset();
    scaleModeButton_.reset();
    scaleModeExitButton_.reset();
    subtitleChooser_.reset();
}

// --- labels and subtitles

void QplayerControls::showPlaybackPosition(int t, int remaining, double now) {
    if (progressTimeDisplay_) progressTimeDisplay_->SetText(convertTime(t));
    if (remainingTimeDisplay_) remainingTimeDisplay_->SetText(convertTime(std::max(remaining, 0)));
    if (scrubber_) scrubber_->SetValue(now * kScrubberUnitsPerSecond);
}

void QplayerControls::showScrubberPosition(double duration) {
    if (!scrubber_) return;
    const double seconds = scrubber_->Value() / kScrubberUnitsPerSecond;
    const int position = static_cast<int>(seconds);
    const int remaining = static_cast<int>(std::max(duration - seconds, 0.0));
    if (progressTimeDisplay_) progressTimeDisplay_->SetText(convertTime(position));
    if (remainingTimeDisplay_) remainingTimeDisplay_->SetText(convertTime(remaining));
    if (moviePlaying() && progressTimeDisplay_ && progressTimeDisplay_->Text() == "0:00") {
        isScrubbing_ = false;
    }
}

void QplayerControls::showSubtitle(int t) {
    if (subtitleView_) subtitleView_->SetText(subtitleCues_.textAt(t));
}

void QplayerControls::clearSubtitles() {
    subtitleDownloader_.clear();
    subtitleCues_.clear();
    subtitles_.clear();
}

void QplayerControls::subtitleDocumentLoaded(std::string document) {
    TtmlParser::Result parsed = TtmlParser::parse(std::move(document));
    // A document that never began keeps the cues in use; one that broke off gives those read.
    if (parsed.started) subtitleCues_.fill(std::move(parsed.entries));
}

// --- bars, panels and buttons

void QplayerControls::setControlsShown(bool shown) {
    showingControls_ = shown;
    ns::Log("[Q] controls %s", shown ? "shown" : "hidden");
    ui::Animate(kAnimationSeconds, [this, shown] {
        const double height = viewHeight();
        if (shown) {
            SetY(bottomBar_, height - kBottomBarHeight);
            SetY(topBar_, 0);
            if (bottomBar_) bottomBar_->SetAlpha(1);
            if (topBar_) topBar_->SetAlpha(1);
        } else {
            SetY(bottomBar_, height + kBottomBarHiddenOffset);
            SetY(topBar_, -kTopBarHeight);
        }
    });
}

void QplayerControls::showHideControls() {
    hideSubtitlesAndVolumeSlider();
    setControlsShown(!showingControls_);
}

void QplayerControls::showHideAudioSlider() {
    showingVolumeSlider_ = !showingVolumeSlider_;
    if (!volumeView_) return;
    const bool shown = showingVolumeSlider_;
    const std::shared_ptr<ui::View> container = volumeView_;
    const double height = viewHeight();
    ui::Animate(kAnimationSeconds, [container, shown, height] {
        SetY(container, shown ? height - kVolumeShownOffset : height);
        container->SetAlpha(shown ? 1 : 0);
    });
}

void QplayerControls::hideSubtitlesAndVolumeSlider() {
    if (showingVolumeSlider_) showHideAudioSlider();
    if (isSubtitleChooser_) showSubtitles();
}

void QplayerControls::showSubtitles() {
    isSubtitleChooser_ = !isSubtitleChooser_;
    if (!subtitleChooserView_) return;
    const bool shown = isSubtitleChooser_;
    const std::shared_ptr<ui::View> container = subtitleChooserView_;
    const double height = viewHeight();
    const double chooser = chooserHeight();
    ui::Animate(kAnimationSeconds, [container, shown, height, chooser] {
        const double x = container->Frame().X();
        const double y = shown ? height - (chooser + kChooserBottomMargin) : height;
        container->SetFrame(ui::Rect(x, y, kChooserWidth, chooser));
    });
}

void QplayerControls::changeSubtitle(const std::string& language) {
    hideSubtitlesAndVolumeSlider();
    const bool none = language == "None";
    if (subtitleView_) subtitleView_->SetAlpha(none ? 0 : 1);
    if (subtitleButton_) subtitleButton_->SetHidden(!none);
    if (subtitleButtonON_) subtitleButtonON_->SetHidden(none);
    showingSubtitles_ = !none;
    if (none || !subtitleView_) return;
    // A language the list does not have names no document: nothing to load.
    for (const SubtitleLanguageObject& subtitle : subtitles_) {
        if (subtitle.language == language) {
            if (subtitle.uri) subtitleDownloader_.download(*subtitle.uri);
            return;
        }
    }
}

void QplayerControls::onPlay() {
    if (const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock()) movie->Play();
    hideSubtitlesAndVolumeSlider();
}

void QplayerControls::onPause() {
    if (const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock()) movie->Pause();
    hideSubtitlesAndVolumeSlider();
}

void QplayerControls::onScrubberRelease() { ns::Log("[Q] release"); }

void QplayerControls::changeScaleMode() {
    hideSubtitlesAndVolumeSlider();
    const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock();
    if (!movie) return;
    const bool toFill = movie->ScalingMode() == ns::MovieScalingMode::AspectFit;
    const ns::MovieScalingMode mode =
        toFill ? ns::MovieScalingMode::AspectFill : ns::MovieScalingMode::AspectFit;
    movie->SetScalingMode(mode);
    if (scaleModeButton_) scaleModeButton_->SetHidden(toFill);
    if (scaleModeExitButton_) scaleModeExitButton_->SetHidden(!toFill);
    currentScaleMode_ = static_cast<int>(mode);
    ns::Log("[Q] %i", currentScaleMode_);
}

void QplayerControls::onScrubbingBegin() {
    isScrubbing_ = true;
    if (subtitleView_) subtitleView_->SetText(std::string());
    hideSubtitlesAndVolumeSlider();
}

void QplayerControls::onScrubbingDone() {
    const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock();
    if (!scrubber_ || !movie) return;
    const double value = scrubber_->Value();
    const double maximum = scrubber_->MaximumValue();
    if (value == maximum) {
        // The very end would finish the movie at once: two seconds before it instead.
        const double target = std::max(value - kEndSeekBack, 0.0) / kScrubberUnitsPerSecond;
        ns::Log("[Q] MAX OUT %f -- %f", value, target);
        movie->SetCurrentPlaybackTime(target);
    } else {
        movie->SetCurrentPlaybackTime(value / kScrubberUnitsPerSecond);
    }
}

// --- rotation

void QplayerControls::willRotate(ui::InterfaceOrientation orientation) {
    const std::shared_ptr<ns::MoviePlayer> movie = movie_.lock();
    if (!movie) return;
    movie->SetScalingMode(ns::MovieScalingMode::AspectFit);
    if (ui::IsLandscape(orientation)) {
        movie->SetScalingMode(static_cast<ns::MovieScalingMode>(currentScaleMode_));
    } else if (orientation == ui::InterfaceOrientation::Portrait) {
        if (scaleModeButton_) scaleModeButton_->SetHidden(false);
        if (scaleModeExitButton_) scaleModeExitButton_->SetHidden(true);
    }
}

void QplayerControls::reconfigurControlls() {
    const ui::DeviceOrientation orientation = ui::UiDevice::Current().Orientation();
    if (smallLayout()) {
        const std::shared_ptr<ui::View> view = screenView_.lock();
        if (orientation == ui::DeviceOrientation::FaceUp && !sizeCalc_ && view) {
            sizeCalc_ = true;
            const ui::Rect bounds = view->Bounds();
            pertendOrientation_ = bounds.Width() < bounds.Height();
        }
        if (orientation == ui::DeviceOrientation::Portrait || pertendOrientation_) {
            ui::Loop().AfterDelay(ui::SecondsToDuration(kCompactDelaySeconds),
                                  WeakCallback(*this, &QplayerControls::resizeScrubber));
        } else {
            const bool fromPortrait = prewOrientation_ == ui::DeviceOrientation::Portrait ||
                                      prewOrientation_ == ui::DeviceOrientation::FaceUp;
            ui::Animate(kAnimationSeconds, [this, fromPortrait] {
                for (const std::shared_ptr<ui::View>& view :
                     {std::shared_ptr<ui::View>(progressTimeDisplay_),
                      std::shared_ptr<ui::View>(remainingTimeDisplay_)}) {
                    if (view) view->SetAlpha(1);
                }
                for (const std::shared_ptr<ui::Button>& button :
                     {subtitleButton_, subtitleButtonON_}) {
                    if (!button) continue;
                    button->SetAlpha(1);
                    button->SetEnabled(true);
                }
                if (fromPortrait && scrubber_ui_) {
                    scrubber_ui_->SetFrame(
                        ui::Rect(kScrubberX, kScrubberY, kScrubberMarkerWidth, kScrubberHeight));
                }
            });
        }
        pertendOrientation_ = false;
    }
    prewOrientation_ = orientation;
}

void QplayerControls::resizeScrubber() {
    if (isSubtitleChooser_ && subtitleChooserView_) {
        SetY(subtitleChooserView_, viewHeight());
        isSubtitleChooser_ = false;
    }
    for (const std::shared_ptr<ui::View>& view :
         {std::shared_ptr<ui::View>(progressTimeDisplay_),
          std::shared_ptr<ui::View>(remainingTimeDisplay_)}) {
        if (view) view->SetAlpha(0);
    }
    for (const std::shared_ptr<ui::Button>& button : {subtitleButton_, subtitleButtonON_}) {
        if (!button) continue;
        button->SetAlpha(0);
        button->SetEnabled(false);
    }
    if (!scrubber_ui_) return;
    const std::shared_ptr<ui::Slider> scrubber = scrubber_ui_;
    ui::Animate(kCompactAnimationSeconds, [scrubber] {
        ui::Rect frame = scrubber->Frame();
        frame.origin.x = kCompactScrubberX;
        frame.size.width = kCompactScrubberWidth;
        scrubber->SetFrame(frame);
    });
}
