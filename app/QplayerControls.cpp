#include "app/QplayerControls.h"

#include <algorithm>
#include <cmath>

#include "app/Qplayer.h"
#include "app/QplayerLayout.h"
#include "app/WeakCallback.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/media/SystemVolume.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Font.h"
#include "platform/ui/Loop.h"

namespace {

using namespace QplayerLayout;

constexpr double kAnimationSeconds = 0.3;
constexpr double kCompactAnimationSeconds = 0.2;
constexpr double kCompactDelaySeconds = 0.1;
constexpr double kThumbSize = 20;
// The scrubber of the landscape layout, and its width in the compact (portrait) one.
constexpr double kScrubberMarkerWidth = 22;
constexpr double kCompactScrubberX = 66;
constexpr double kCompactScrubberWidth = 200;
constexpr double kVolumeSliderInset = 10;
constexpr double kVolumeSliderY = 27;
constexpr double kSmallSubtitleFont = 18;
constexpr double kLargeSubtitleFont = 30;
constexpr double kLargeSubtitleBottom = 190;
// The end of the scrubber seeks this many hundredths before the end.
constexpr double kEndSeekBack = 200;

ui::Image::Ptr Track(const char* name) {
    ui::Image::Ptr image = ui::Image::Named(name);
    return image ? image->StretchableImage(10, 0) : nullptr;
}

void SetY(const std::shared_ptr<ui::View>& view, double y) {
    if (!view) return;
    ui::Rect frame = view->Frame();
    frame.origin.y = y;
    view->SetFrame(frame);
}

}  // namespace

std::string Qplayer::convertTime(int seconds) {
    // A time before zero has no text of its own: it shows as the start.
    const int s = std::max(seconds, 0);
    const int h = s / 3600;
    const int m = s / 60;
    if (s >= 3600) return ns::Format("%2d:%02d:%02d", h, m % 60, s - 60 * m);
    return ns::Format("%1d:%02d", m % 60, s - 60 * m);
}

ui::Image::Ptr QplayerControls::thumbImage() {
    return ui::Image::Filled(ui::Size(kThumbSize, kThumbSize), ui::Color::White(), kThumbSize / 2);
}

bool QplayerControls::smallLayout() const { return player_.deviceType_ == "iPhone"; }

double QplayerControls::viewHeight() const {
    return player_.IsViewLoaded() ? player_.GetView()->Bounds().Height() : 0;
}

double QplayerControls::chooserHeight() const {
    return player_.subtitleChooser_ ? player_.subtitleChooser_->componentHeight() : 0;
}

// --- set-up

void QplayerControls::initSubtitles() {
    Qplayer& p = player_;
    if (p.subtitleView_) {
        const std::shared_ptr<ui::Label>& label = p.subtitleView_;
        label->SetFont(
            ui::Font::SystemFont(smallLayout() ? kSmallSubtitleFont : kLargeSubtitleFont));
        label->SetNumberOfLines(0);
        const double height = label->Frame().Height();
        SetY(label, smallLayout() ? viewHeight() - height : viewHeight() - kLargeSubtitleBottom);
        p.subtitleController_ = std::make_unique<SubtitleController>(label);
    }
    if (p.subtitleButtonON_) p.subtitleButtonON_->SetHidden(true);
    if (p.subtitleChooserView_ && p.dataObject_) {
        const std::shared_ptr<ui::View>& container = p.subtitleChooserView_;
        container->SetAlpha(1);
        container->SetBackgroundColor(ui::Color::Clear());
        p.subtitleChooser_ = SubtitleChooser::initWithSubtitles(p.dataObject_->subtitles,
                                                                ui::Rect(0, 0, kChooserWidth, 0));
        // The chooser knows the screen weakly, through the screen's own lifetime.
        std::shared_ptr<SubtitleChooserDelegate> delegate(p.self(), &p);
        p.subtitleChooser_->setDelegate(delegate);
        container->AddSubview(p.subtitleChooser_);
        const double height = chooserHeight();
        p.subtitleChooser_->SetFrame(ui::Rect(0, 0, kChooserWidth, height));
        container->SetFrame(ui::Rect(container->Frame().X(), viewHeight(), kChooserWidth, height));
    }
}

void QplayerControls::initLabel() {
    Qplayer& p = player_;
    if (!p.videoTitle_ || !p.dataObject_) return;
    p.videoTitle_->SetText(
        p.dataObject_->getLabelForLanguage(p.dataObject_->UILanguage).value_or(std::string()));
}

void QplayerControls::scaleUp() {
    Qplayer& p = player_;
    if (p.scrubber_ui_) {
        const std::shared_ptr<ui::Slider>& scrubber = p.scrubber_ui_;
        ns::Log("[Q] size: %f", scrubber->Frame().Width());
        if (scrubber->Frame().Width() == kScrubberMarkerWidth) {
            scrubber->SetFrame(
                ui::Rect(kScrubberX, kScrubberY, initScrubberWidth_, kScrubberHeight));
        }
        initScrubberWidth_ = std::floor(scrubber->Frame().Width());
    }
    if (!p.IsViewLoaded()) return;
    ui::Animate(kAnimationSeconds, WeakCallback(p, [](Qplayer& screen) {
                    const ui::Rect bounds = screen.GetView()->Bounds();
                    if (screen.videoDisplay_) screen.videoDisplay_->SetFrame(bounds);
                    if (screen.player_ && screen.player_->View() && screen.videoDisplay_) {
                        screen.player_->View()->SetFrame(screen.videoDisplay_->Bounds());
                    }
                    if (screen.indicator_) {
                        screen.indicator_->SetFrame(ui::Rect(bounds.MidX() - kSpinnerSize / 2,
                                                             bounds.MidY() - kSpinnerSize / 2,
                                                             kSpinnerSize, kSpinnerSize));
                    }
                }));
}

void QplayerControls::initControls() {
    Qplayer& p = player_;
    const ui::DeviceOrientation orientation = ui::UiDevice::Current().Orientation();
    if (smallLayout() && (orientation == ui::DeviceOrientation::Portrait ||
                          orientation == ui::DeviceOrientation::PortraitUpsideDown)) {
        resizeScrubber();
    }
    showingControls_ = false;
    SetY(p.controls_, viewHeight() + kBottomBarHiddenOffset);
    const ui::Color barColor = ui::Color::FromWhite(0, kBarOpacity);
    if (p.controls_) p.controls_->SetBackgroundColor(barColor);
    if (p.topBar_) p.topBar_->SetBackgroundColor(barColor);
}

void QplayerControls::playBackChange() {
    Qplayer& p = player_;
    if (!p.playButton_ || !p.pauseButton_) return;
    const bool playing = p.player_ && p.player_->PlaybackState() == ns::MoviePlaybackState::Playing;
    p.playButton_->SetHidden(playing);
    p.pauseButton_->SetHidden(!playing);
}

void QplayerControls::initVolumeScrubber() {
    Qplayer& p = player_;
    if (!p.volumeView_) return;
    const std::shared_ptr<ui::View>& container = p.volumeView_;
    const ui::Rect bounds = container->Bounds();
    volumeSlider_ = std::make_shared<ui::Slider>(
        ui::Rect(bounds.X() + kVolumeSliderInset, kVolumeSliderY,
                 bounds.Width() - 2 * kVolumeSliderInset, kScrubberHeight));
    volumeSlider_->SetIdentifier("volumeSlider");
    volumeSlider_->SetThumbImage(p.thumbImage_, ui::ControlState::Normal);
    volumeSlider_->SetThumbImage(p.thumbImage_, ui::ControlState::Highlighted);
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
    Qplayer& p = player_;
    p.scrubber_ = p.scrubber_ui_;
    if (!p.scrubber_) return;
    const std::shared_ptr<ui::Slider>& scrubber = p.scrubber_;
    scrubber->SetContinuous(true);
    scrubber->SetMinimumTrackImage(Track("track_left.png"), ui::ControlState::Normal);
    scrubber->SetMaximumTrackImage(Track("track_right.png"), ui::ControlState::Normal);
    scrubber->SetThumbImage(p.thumbImage_, ui::ControlState::Normal);
    scrubber->SetThumbImage(p.thumbImage_, ui::ControlState::Highlighted);
    scrubber->SetMinimumValue(0);
    scrubber->SetMaximumValue(std::max(duration, 0.0) * 100);
    initScrubberWidth_ = kScrubberMarkerWidth;
}

// --- labels

void QplayerControls::showPlaybackPosition(int t, int d, double now) {
    Qplayer& p = player_;
    if (p.progressTimeDisplay_) p.progressTimeDisplay_->SetText(Qplayer::convertTime(t));
    if (p.remainingTimeDisplay_) {
        p.remainingTimeDisplay_->SetText(Qplayer::convertTime(std::max(d - 4 - t, 0)));
    }
    if (p.scrubber_) p.scrubber_->SetValue(now * 100);
}

void QplayerControls::showScrubberPosition() {
    Qplayer& p = player_;
    if (!p.scrubber_) return;
    const double seconds = p.scrubber_->Value() / 100;
    const int position = static_cast<int>(seconds);
    const int remaining = static_cast<int>(std::max(p.duration_ - seconds, 0.0));
    if (p.progressTimeDisplay_) p.progressTimeDisplay_->SetText(Qplayer::convertTime(position));
    if (p.remainingTimeDisplay_) p.remainingTimeDisplay_->SetText(Qplayer::convertTime(remaining));
    const bool playing = p.player_ && p.player_->PlaybackState() == ns::MoviePlaybackState::Playing;
    if (playing && p.progressTimeDisplay_ && p.progressTimeDisplay_->Text() == "0:00") {
        p.isScrubbing_ = false;
    }
}

// --- bars, panels and buttons

void QplayerControls::setControlsShown(bool shown) {
    showingControls_ = shown;
    ui::Animate(kAnimationSeconds, WeakCallback(player_, [shown](Qplayer& screen) {
                    const double height = screen.GetView()->Bounds().Height();
                    if (shown) {
                        SetY(screen.controls_, height - kBottomBarHeight);
                        SetY(screen.topBar_, 0);
                        if (screen.controls_) screen.controls_->SetAlpha(1);
                        if (screen.topBar_) screen.topBar_->SetAlpha(1);
                    } else {
                        SetY(screen.controls_, height + kBottomBarHiddenOffset);
                        SetY(screen.topBar_, -kTopBarHeight);
                    }
                }));
}

void QplayerControls::showHideControls() {
    // Nothing to control before the movie has played.
    if (player_.firstTime_) return;
    hideSubtitlesAndVolumeSlider();
    setControlsShown(!showingControls_);
}

void QplayerControls::showHideAudioSlider() {
    Qplayer& p = player_;
    showingVolumeSlider_ = !showingVolumeSlider_;
    if (!p.volumeView_) return;
    const bool shown = showingVolumeSlider_;
    const std::shared_ptr<ui::View> container = p.volumeView_;
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
    Qplayer& p = player_;
    isSubtitleChooser_ = !isSubtitleChooser_;
    if (!p.subtitleChooserView_) return;
    const bool shown = isSubtitleChooser_;
    const std::shared_ptr<ui::View> container = p.subtitleChooserView_;
    const double height = viewHeight();
    const double chooser = chooserHeight();
    ui::Animate(kAnimationSeconds, [container, shown, height, chooser] {
        const double x = container->Frame().X();
        const double y = shown ? height - (chooser + kChooserBottomMargin) : height;
        container->SetFrame(ui::Rect(x, y, kChooserWidth, chooser));
    });
}

void QplayerControls::changeSubtitle(const std::string& language) {
    Qplayer& p = player_;
    hideSubtitlesAndVolumeSlider();
    const bool none = language == "None";
    if (p.subtitleView_) p.subtitleView_->SetAlpha(none ? 0 : 1);
    if (p.subtitleButton_) p.subtitleButton_->SetHidden(!none);
    if (p.subtitleButtonON_) p.subtitleButtonON_->SetHidden(none);
    showingSubtitles_ = !none;
    if (none || !p.dataObject_ || !p.subtitleController_) return;
    // A language the list does not have names no document: nothing to load.
    for (const SubtitleLanguageObject& subtitle : p.dataObject_->subtitles) {
        if (subtitle.language == language) {
            const std::optional<std::string> uri = p.dataObject_->getSubtitleForLanguage(language);
            if (uri) p.subtitleController_->addDFXPSubtitle(*uri);
            return;
        }
    }
}

void QplayerControls::changeScaleMode() {
    Qplayer& p = player_;
    hideSubtitlesAndVolumeSlider();
    if (!p.player_) return;
    const bool toFill = p.player_->ScalingMode() == ns::MovieScalingMode::AspectFit;
    const ns::MovieScalingMode mode =
        toFill ? ns::MovieScalingMode::AspectFill : ns::MovieScalingMode::AspectFit;
    p.player_->SetScalingMode(mode);
    if (p.scaleModeButton_) p.scaleModeButton_->SetHidden(toFill);
    if (p.scaleModeExitButton_) p.scaleModeExitButton_->SetHidden(!toFill);
    currentScaleMode_ = static_cast<int>(mode);
    ns::Log("[Q] %i", currentScaleMode_);
}

void QplayerControls::onScrubbingBegin() {
    Qplayer& p = player_;
    p.isScrubbing_ = true;
    if (p.subtitleView_) p.subtitleView_->SetText(std::string());
    hideSubtitlesAndVolumeSlider();
}

void QplayerControls::onScrubbingDone() {
    Qplayer& p = player_;
    if (!p.scrubber_ || !p.player_) return;
    const double value = p.scrubber_->Value();
    const double maximum = p.scrubber_->MaximumValue();
    if (value == maximum) {
        // The very end would finish the movie at once: two seconds before it instead.
        const double target = std::max(value - kEndSeekBack, 0.0) / 100;
        ns::Log("[Q] MAX OUT %f -- %f", value, target);
        p.player_->SetCurrentPlaybackTime(target);
    } else {
        p.player_->SetCurrentPlaybackTime(value / 100);
    }
}

// --- rotation

void QplayerControls::willRotate(ui::InterfaceOrientation orientation) {
    Qplayer& p = player_;
    if (p.player_) {
        p.player_->SetScalingMode(ns::MovieScalingMode::AspectFit);
        if (ui::IsLandscape(orientation)) {
            p.player_->SetScalingMode(static_cast<ns::MovieScalingMode>(currentScaleMode_));
        } else if (orientation == ui::InterfaceOrientation::Portrait) {
            if (p.scaleModeButton_) p.scaleModeButton_->SetHidden(false);
            if (p.scaleModeExitButton_) p.scaleModeExitButton_->SetHidden(true);
        }
    }
    reconfigurControlls();
}

void QplayerControls::reconfigurControlls() {
    Qplayer& p = player_;
    const ui::DeviceOrientation orientation = ui::UiDevice::Current().Orientation();
    if (smallLayout()) {
        if (orientation == ui::DeviceOrientation::FaceUp && !sizeCalc_ && p.IsViewLoaded()) {
            sizeCalc_ = true;
            const ui::Rect bounds = p.GetView()->Bounds();
            pertendOrientation_ = bounds.Width() < bounds.Height();
        }
        if (orientation == ui::DeviceOrientation::Portrait || pertendOrientation_) {
            ui::Loop().AfterDelay(
                ui::SecondsToDuration(kCompactDelaySeconds),
                WeakCallback(p, [](Qplayer& screen) { screen.controlsLogic_->resizeScrubber(); }));
        } else {
            const bool fromPortrait = prewOrientation_ == ui::DeviceOrientation::Portrait ||
                                      prewOrientation_ == ui::DeviceOrientation::FaceUp;
            ui::Animate(kAnimationSeconds, WeakCallback(p, [fromPortrait](Qplayer& screen) {
                            for (const std::shared_ptr<ui::View>& view :
                                 {std::shared_ptr<ui::View>(screen.progressTimeDisplay_),
                                  std::shared_ptr<ui::View>(screen.remainingTimeDisplay_)}) {
                                if (view) view->SetAlpha(1);
                            }
                            for (const std::shared_ptr<ui::Button>& button :
                                 {screen.subtitleButton_, screen.subtitleButtonON_}) {
                                if (!button) continue;
                                button->SetAlpha(1);
                                button->SetEnabled(true);
                            }
                            if (fromPortrait && screen.scrubber_ui_) {
                                screen.scrubber_ui_->SetFrame(ui::Rect(
                                    kScrubberX, kScrubberY, kScrubberMarkerWidth, kScrubberHeight));
                            }
                        }));
        }
        pertendOrientation_ = false;
    }
    ui::Loop().AfterDelay(
        ui::SecondsToDuration(kAnimationSeconds),
        WeakCallback(p, [](Qplayer& screen) { screen.controlsLogic_->scaleUp(); }));
    prewOrientation_ = orientation;
}

void QplayerControls::resizeScrubber() {
    Qplayer& p = player_;
    if (isSubtitleChooser_ && p.subtitleChooserView_) {
        SetY(p.subtitleChooserView_, viewHeight());
        isSubtitleChooser_ = false;
    }
    for (const std::shared_ptr<ui::View>& view :
         {std::shared_ptr<ui::View>(p.progressTimeDisplay_),
          std::shared_ptr<ui::View>(p.remainingTimeDisplay_)}) {
        if (view) view->SetAlpha(0);
    }
    for (const std::shared_ptr<ui::Button>& button : {p.subtitleButton_, p.subtitleButtonON_}) {
        if (!button) continue;
        button->SetAlpha(0);
        button->SetEnabled(false);
    }
    if (!p.scrubber_ui_) return;
    const std::shared_ptr<ui::Slider> scrubber = p.scrubber_ui_;
    ui::Animate(kCompactAnimationSeconds, [scrubber] {
        ui::Rect frame = scrubber->Frame();
        frame.origin.x = kCompactScrubberX;
        frame.size.width = kCompactScrubberWidth;
        scrubber->SetFrame(frame);
    });
}
