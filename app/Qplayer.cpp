#include "app/Qplayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/QplayerControls.h"
#include "app/QplayerInterface.h"
#include "app/QplayerLayout.h"
#include "app/SarvelonBridge.h"
#include "app/SarvelonQueue.h"
#include "app/WeakCallback.h"
#include "json/KvJsonParser.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"

namespace {

using namespace QplayerLayout;

constexpr double kCloseButtonDelaySeconds = 2;
// The progress worth storing lies past the first two minutes and before the last five.
constexpr int kFirstStoredSecond = 121;
constexpr double kLastStoredSecondsBeforeEnd = 300;

std::weak_ptr<Qplayer>& CurrentPlayer() {
    static std::weak_ptr<Qplayer> current;
    return current;
}

// The screen the engine's events are for: the one whose SV_Play was the last to begin, until it
// closes. Main thread only. It is set from the bridge's thread through the main queue just
// before that SV_Play, so it comes behind every event of the sessions before, whose events the
// main queue delivers in order: none of them reaches a later screen.
std::weak_ptr<Qplayer>& EngineEventsTarget() {
    static std::weak_ptr<Qplayer> target;
    return target;
}

// Whole seconds of a position, safe for any double.
int32_t WholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;
    if (seconds >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(seconds);
}

}  // namespace

// --- construction

Qplayer::Qplayer()
    : ui::ViewController(kInterfaceName), startAbandoned_(std::make_shared<std::atomic<bool>>()) {
    RegisterQplayerInterface();
    BindOutlet("videoDisplay", videoDisplay_);
    BindOutlet("playerHit", playerHit_);
    controls_ = std::make_shared<QplayerControls>();
    controls_->bindOutlets(
        [this](const char* identifier, auto& slot) { BindOutlet(identifier, slot); });
}

std::shared_ptr<Qplayer> Qplayer::initWithJSON(const std::string& url,
                                               const std::string& deviceID) {
    std::shared_ptr<Qplayer> player(new Qplayer());
    player->start(url, deviceID);
    return player;
}

void Qplayer::start(const std::string& url, const std::string& deviceID) {
    if (deviceID.empty()) {
        // The portal sets the delegate only after construction: this reaches whoever is set now
        // (no one, as things are) and the screen goes on.
        report(kSetupError, kNoDeviceIdText);
    } else {
        deviceId_ = deviceID;
    }
    apiPath_ = url;
    CurrentPlayer() = self();
    responseData_.clear();

    const std::string requestUrl = ns::Format("%@&ios=1", url);
    const std::optional<ns::URL> parsed = ns::URL::Parse(requestUrl);
    if (!parsed) {
        // As a load that fails: a step later, once the portal has set itself as delegate.
        connection_.FailLater(WeakCallback(
            *this, [](Qplayer& player) { player.report(kConnectionError, kConnectionErrorText); }));
        return;
    }
    ns::URLRequest request(*parsed);
    request.SetTimeoutInterval(kRequestTimeoutSeconds);
    connection_.Start(request, this);
    ns::Log("[Q] connection:%@", requestUrl);
}

Qplayer::~Qplayer() {
    stopObserving();
    connection_.Cancel();
    ns::RunLoop& loop = ui::Loop();
    for (uint64_t timer :
         {coreTimer_, timeoutTimer_, reportTimer_, disposeTimer_, closeButtonTimer_}) {
        if (timer != 0) loop.CancelTimer(timer);
    }
    // A screen dropped without ever disappearing still leaves no engine running.
    if (engineStarted_ && !engineStopped_) stopSarvelon();
}

std::shared_ptr<Qplayer> Qplayer::self() {
    return std::static_pointer_cast<Qplayer>(shared_from_this());
}

std::shared_ptr<Qplayer> Qplayer::Current() { return CurrentPlayer().lock(); }

void Qplayer::report(int code, const std::string& text) {
    if (std::shared_ptr<QPlayerDelegate> target = delegate_.lock()) {
        target->playbackDidStopOnError(code, text);
    }
}

void Qplayer::cancelTimer(uint64_t& timer) {
    if (timer != 0) ui::Loop().CancelTimer(timer);
    timer = 0;
}

// --- the playback information

void Qplayer::DidReceiveResponse(ns::URLConnection& connection,
                                 const ns::URLResponse& /*response*/) {
    responseData_.clear();
    // A longer answer fails the load (DidFailWithError) instead of growing without bound.
    connection.SetMaximumBodyBytes(kMaxResponseBytes);
}

void Qplayer::DidReceiveData(ns::URLConnection& /*connection*/, const std::string& data) {
    responseData_ += data;
}

void Qplayer::DidFailWithError(ns::URLConnection& /*connection*/, const ns::Error& /*error*/) {
    std::shared_ptr<Qplayer> keep = self();
    responseData_.clear();
    connection_.Forget();
    report(kConnectionError, kConnectionErrorText);
}

void Qplayer::DidFinishLoading(ns::URLConnection& /*connection*/) {
    std::shared_ptr<Qplayer> keep = self();
    connection_.Forget();
    handleResponse();
}

void Qplayer::handleResponse() {
    auto data = std::make_unique<PlayerDataObject>();
    KvJsonParser parser;
    const std::optional<ns::Value> parsed =
        parser.objectWithData(responseData_.data(), responseData_.size());
    const PlayerDataObject::Reading reading =
        data->readResponse(parsed ? *parsed : ns::Value(ns::Dictionary()));
    responseData_.clear();
    dataObject_ = std::move(data);
    detectedStartPositon_ = dataObject_->startPosition > 0;
    if (!reading.valid) {
        killApp(reading.missing);
        return;
    }
    // The answer may come before the screen was shown: its views exist from here on.
    GetView();
    initNotifications();
    initCore();
    initPlayer();
    if (!player_) return;
    initializeSarvelon();
    controls_->initSubtitles(*dataObject_);
    controls_->initLabel(*dataObject_);
    scaleUp();
    controls_->initControls();
    controls_->playBackChange();
    controls_->initVolumeScrubber();
}

void Qplayer::killApp(const std::string& text) {
    cancelTimer(reportTimer_);
    reportTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(kReportDelaySeconds),
                                         WeakCallback(*this, [text](Qplayer& player) {
                                             player.reportTimer_ = 0;
                                             player.report(kSetupError, text);
                                         }));
}

void Qplayer::initNotifications() {
    stopObserving();
    ns::NotificationCenter& center = ns::NotificationCenter::Default();
    // The player is made after this: the sender is compared when a notification comes.
    loadStateObserver_ =
        center.AddObserver(ns::MoviePlayer::kLoadStateDidChange,
                           WeakCallback(*this, &Qplayer::moviePlayerLoadStateDidChange));
    playbackStateObserver_ =
        center.AddObserver(ns::MoviePlayer::kPlaybackStateDidChange,
                           WeakCallback(*this, &Qplayer::moviePlayerPlaybackStateDidChange));
    finishObserver_ =
        center.AddObserver(ns::MoviePlayer::kPlaybackDidFinish,
                           WeakCallback(*this, &Qplayer::moviePlayerPlaybackDidFinish));
}

void Qplayer::stopObserving() {
    ns::NotificationCenter& center = ns::NotificationCenter::Default();
    if (loadStateObserver_ != 0) center.RemoveObserver(loadStateObserver_);
    if (playbackStateObserver_ != 0) center.RemoveObserver(playbackStateObserver_);
    if (finishObserver_ != 0) center.RemoveObserver(finishObserver_);
    loadStateObserver_ = 0;
    playbackStateObserver_ = 0;
    finishObserver_ = 0;
}

void Qplayer::initCore() {
    mediaID_ = dataObject_->mediaID;
    controls_->recordDeviceType(ui::UiDevice::Current().Model());
    cancelTimer(coreTimer_);
    coreTimer_ = ui::Loop().AddTimer(ui::SecondsToDuration(kTimerInterval), true,
                                     WeakCallback(*this, &Qplayer::timerAction));
}

void Qplayer::initPlayer() {
    player_ = ns::MoviePlayer::Create();
    if (!player_) {
        // A program that installed no movie player: nothing could show the movie.
        ns::Log("[Q] no movie player");
        report(kSetupError, kInitializationFailedText);
        return;
    }
    player_->SetShouldAutoplay(true);
    player_->SetControlStyle(ns::MovieControlStyle::None);
    controls_->setMoviePlayer(player_);
    std::shared_ptr<ui::View> movieView = player_->View();
    if (!movieView) return;
    movieView->SetUserInteractionEnabled(false);
    if (videoDisplay_) {
        movieView->SetFrame(videoDisplay_->Bounds());
        movieView->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                       ui::Autoresizing::FlexibleHeight);
        videoDisplay_->AddSubview(movieView);
    }
}

// --- the engine

void Qplayer::initializeSarvelon() {
    ns::Dictionary settings;
    settings.Set("SVPlayerDrivenAdaptationKey", "0");
    engineStarted_ = true;
    // A repeated start gets the bridge's already-initialised status: not looked at.
    SarvelonQueue::Shared().Call(
        [settings](SarvelonBridge& bridge) {
            return bridge.Initialize(&Qplayer::QplayerLibraryCallback, settings);
        },
        WeakCallback(*this, &Qplayer::sarvelonInitialized));
}

bool Qplayer::startGoesOn() const {
    return !engineStopped_ && !closing_ && player_ != nullptr && dataObject_ != nullptr;
}

void Qplayer::sarvelonInitialized(int /*status*/) {
    if (!startGoesOn()) return;
    if (dataObject_->sarvelonUri.empty()) {
        // Nothing to play: said once, and not tried again.
        report(kSetupError, kInitializationFailedText);
        return;
    }
    const std::string uri = dataObject_->sarvelonUri;
    const std::weak_ptr<Qplayer> screen = self();
    SarvelonQueue::Shared().Call(
        [uri, screen, abandoned = startAbandoned_](SarvelonBridge& bridge) {
            SarvelonStart start;
            // Closed before its turn came: no start that the next screen would wait behind.
            if (abandoned->load()) {
                start.status = kStartAbandoned;
                return start;
            }
            // The events of this start's session come behind this on the main queue.
            ns::MainQueue().AddOperation([screen] {
                std::shared_ptr<Qplayer> player = screen.lock();
                if (player && player->startGoesOn()) EngineEventsTarget() = player;
            });
            start.status = bridge.Play(uri, &start.playbackUrl, 0);
            return start;
        },
        WeakCallback(*this, &Qplayer::sarvelonPlayed), startAbandoned_.get());
}

void Qplayer::sarvelonPlayed(const SarvelonStart& start) {
    if (!startGoesOn()) {
        // Closed while the engine started: nothing may play behind the screen. Its stop is
        // already queued behind this start.
        ns::Log("[Q] engine start ended after closing (status:%d): not played", start.status);
        return;
    }
    if (start.status == 0) {
        ns::Log("[Q] ALL OK");
        player_->SetContentUrl(start.playbackUrl);
        player_->PrepareToPlay();
        return;
    }
    ns::Log("[Q] GOT A SLIDE PROBLEM status:%d", start.status);
    if (retryMode_) {
        // A second failure is said at once instead of leaving a spinner for 35 s.
        report(kSetupError, kInitializationFailedText);
        return;
    }
    retryMode_ = true;
    ns::Log("[Q] TRYING");
    // A failed set-up keeps its session in the bridge, which would refuse the retry (16): let
    // it go first.
    SarvelonQueue::Shared().Add([](SarvelonBridge& bridge) { bridge.Stop(); });
    initializeSarvelon();
}

void Qplayer::abandonStart() {
    startAbandoned_->store(true);
    // Nothing the engine still says of this title reaches anyone.
    std::weak_ptr<Qplayer>& target = EngineEventsTarget();
    const std::shared_ptr<Qplayer> current = target.lock();
    if (!current || current.get() == this) target.reset();
    // A start still waiting for its origin ends now instead of holding up the next screen's.
    SarvelonQueue::Shared().Interrupt(startAbandoned_.get(), [](SarvelonBridge& bridge) {
        return bridge.Stop() != SarvelonBridge::kNoSession;
    });
}

void Qplayer::stopSarvelon() {
    engineStopped_ = true;
    abandonStart();
    SarvelonQueue::Shared().Add([](SarvelonBridge& bridge) {
        bridge.Stop();
        bridge.Terminate();
    });
}

int Qplayer::QplayerLibraryCallback(SViOsApiEvent event, const ns::Dictionary& attributes) {
    ns::Log("[Q] callback event:%@ attributes:%@", SarvelonBridge::Current().EventToString(event),
            ns::Value(attributes));
    if (event == SViOsApiEvent_StoppingOnError) {
        // For the screen whose session the engine ran when the event was queued (the main
        // queue runs this in that order); none once that screen has closed.
        const std::weak_ptr<Qplayer> target = EngineEventsTarget();
        ui::Loop().Post([target, attributes] {
            if (std::shared_ptr<Qplayer> player = target.lock()) {
                player->sarvelonStoppingOnError(attributes);
            }
        });
    }
    return 0;
}

void Qplayer::sarvelonStoppingOnError(const ns::Dictionary& attributes) {
    ns::Log("[Q] sarvelonStoppingOnError:%@", ns::Value(attributes));
    // Closed meanwhile: the person has left the title, and hears nothing more of it.
    if (closing_ || engineStopped_) return;
    report(kEngineError, kEngineErrorText);
}

// --- the movie player

bool Qplayer::fromMoviePlayer(const ns::Notification& notification) const {
    return player_ && notification.sender == player_.get();
}

void Qplayer::moviePlayerLoadStateDidChange(const ns::Notification& notification) {
    if (!fromMoviePlayer(notification)) return;
    const ns::Value* state = notification.userInfo.Find(ns::MoviePlayer::kLoadStateKey);
    const int64_t loadState = state != nullptr ? state->Int64Value() : player_->LoadState();
    if (loadState == ns::kLoadStatePlayable) {
        ns::Log("[Q] MPMovieLoadStatePlayable");
        initialize();
        // A screen the user closed stays paused: a movie that becomes playable again (after
        // a stall) must not play on behind it and hold off its dismissal.
        if (player_ && !closing_) player_->Play();
    } else if (loadState == ns::kLoadStatePlaythroughOK) {
        ns::Log("[Q] MPMovieLoadStatePlaythroughOK");
    } else if (loadState == ns::kLoadStateStalled) {
        ns::Log("[Q] MPMovieLoadStateStalled");
    } else if (loadState == ns::kLoadStateUnknown) {
        ns::Log("[Q] MPMovieLoadStateUnknown");
    }
}

void Qplayer::moviePlayerPlaybackDidFinish(const ns::Notification& notification) {
    if (!fromMoviePlayer(notification)) return;
    // The player is back at its start: the progress the portal stores is where it stopped.
    cancelTimer(coreTimer_);
    isPlaying_ = false;
    const ns::Value* reason = notification.userInfo.Find(ns::MoviePlayer::kFinishReasonKey);
    const bool failed =
        reason != nullptr &&
        reason->Int64Value() == static_cast<int64_t>(ns::MovieFinishReason::PlaybackError);
    if (failed) {
        ns::Error error;
        if (const ns::Value* value = notification.userInfo.Find(ns::MoviePlayer::kErrorKey)) {
            error = ns::MoviePlayer::ErrorFromValue(*value);
        }
        ns::Log("[Q] moviePlayerPlaybackDidFinish error:%@", error.ToString());
    } else {
        ns::Log("[Q] moviePlayerPlaybackDidFinish ended at %.1f of %.1f", lastPosition_, duration_);
    }
    // Said already, or the person is closing the screen: nothing more to tell.
    if (completed_ || closing_) return;
    if (failed) {
        report(kEngineError, kEngineErrorText);
        return;
    }
    // Played to its end, though the ticks may have missed its last seconds (one tick may move
    // it further than the stretch where completion counts when it plays fast): complete.
    // Stopped short of that (a part of the title that never came), it is an ordinary end that
    // keeps the position, not a completion.
    const int32_t d = WholeSeconds(duration_);
    const int32_t reached = WholeSeconds(lastPosition_ + std::max(1.0, lastAdvance_));
    if (d > 0 && reached > d - kCompletionSecondsBeforeEnd) {
        complete();
        return;
    }
    closeThroughDelegate();
}

void Qplayer::initialize() {
    if (!player_) return;
    duration_ = player_->Duration();
    controls_->initializeScrubber(duration_);
    initialized_ = true;
}

void Qplayer::moviePlayerPlaybackStateDidChange(const ns::Notification& notification) {
    if (!fromMoviePlayer(notification)) return;
    const ns::Value* value = notification.userInfo.Find(ns::MoviePlayer::kPlaybackStateKey);
    const int64_t state =
        value != nullptr ? value->Int64Value() : static_cast<int64_t>(player_->PlaybackState());
    ns::Log("[Q] PLAYSTATE: %i", state);
    switch (static_cast<ns::MoviePlaybackState>(state)) {
        case ns::MoviePlaybackState::Playing:
            isPlaying_ = true;
            if (firstTime_) playInit();
            controls_->endScrubbing();
            if (indicator_) indicator_->doStopAnimating();
            break;
        case ns::MoviePlaybackState::Paused:
            // The pause a close asked for is heard once the pipeline has paused: the spinner
            // that close started stays until the screen goes.
            if (indicator_ && !closing_) indicator_->doStopAnimating();
            isPlaying_ = false;
            break;
        case ns::MoviePlaybackState::SeekingForward:
        case ns::MoviePlaybackState::SeekingBackward:
            if (indicator_) indicator_->doStartAnimating();
            break;
        default: break;
    }
    controls_->playBackChange();
}

void Qplayer::playInit() {
    if (firstTime_) {
        cancelTimer(timeoutTimer_);
        firstTime_ = false;
        controls_->setControlsShown(true);
        ui::Animate(kAnimationSeconds, [this] {
            if (videoDisplay_) videoDisplay_->SetAlpha(1);
            controls_->showTitleAndScaleButton();
        });
    }
    if (detectedStartPositon_ && dataObject_ && player_) {
        detectedStartPositon_ = false;
        double start = dataObject_->startPosition;
        // A position kept past the title's end (or in its last seconds) says the title was
        // seen to its end: it starts where completion counts, instead of seeking off the end
        // and leaving the first picture standing.
        const double duration = player_->Duration();
        const double last = std::max(0.0, duration - kCompletionSecondsBeforeEnd);
        if (duration > 0 && start > last) {
            ns::Log("[Q] start position %d past %.0f: starting at %.0f", dataObject_->startPosition,
                    last, last);
            start = last;
        }
        player_->SetCurrentPlaybackTime(start);
    }
    reconfigurControlls();
}

void Qplayer::scaleUp() {
    controls_->fitScrubber();
    if (!IsViewLoaded()) return;
    ui::Animate(kAnimationSeconds, [this] {
        const ui::Rect bounds = GetView()->Bounds();
        if (videoDisplay_) videoDisplay_->SetFrame(bounds);
        if (player_ && player_->View() && videoDisplay_) {
            player_->View()->SetFrame(videoDisplay_->Bounds());
        }
        if (indicator_) {
            indicator_->SetFrame(ui::Rect(bounds.MidX() - kSpinnerSize / 2,
                                          bounds.MidY() - kSpinnerSize / 2, kSpinnerSize,
                                          kSpinnerSize));
        }
    });
}

void Qplayer::reconfigurControlls() {
    controls_->reconfigurControlls();
    ui::Loop().AfterDelay(ui::SecondsToDuration(kAnimationSeconds),
                          WeakCallback(*this, &Qplayer::scaleUp));
}

void Qplayer::timerAction() {
    if (!player_) return;
    const double now = player_->CurrentPlaybackTime();
    currentProgress_ = WholeSeconds(now);
    if (now != 0 && !controls_->isScrubbing() &&
        player_->PlaybackState() == ns::MoviePlaybackState::Playing) {
        if (!(duration_ > 0)) duration_ = player_->Duration();
        if (lastPlayingTick_ && now > lastPosition_) lastAdvance_ = now - lastPosition_;
        lastPosition_ = now;
        lastPlayingTick_ = true;
        const int32_t t = WholeSeconds(now);
        const int32_t d = WholeSeconds(duration_);
        controls_->showPlaybackPosition(t, d - kCompletionSecondsBeforeEnd - t, now);
        // Only a known duration says where the end is.
        const bool known = d > 0;
        const bool completing = known && t > d - kCompletionSecondsBeforeEnd && !completed_;
        // A cue past the completion point belongs to what the title was cut from: the screen
        // goes with the cue before it.
        if (!completing) controls_->showSubtitle(t);
        shouldStoreCurrentProgress_ = known && currentProgress_ >= kFirstStoredSecond &&
                                      currentProgress_ < duration_ - kLastStoredSecondsBeforeEnd;
        if (completing) complete();
    } else {
        lastPlayingTick_ = false;
        controls_->showScrubberPosition(duration_);
    }
}

void Qplayer::complete() {
    // Said once: the timer stops with it.
    completed_ = true;
    cancelTimer(coreTimer_);
    if (std::shared_ptr<QPlayerDelegate> target = delegate_.lock()) target->playbackDidComplete();
}

// --- closing

void Qplayer::closeView() {
    closing_ = true;
    abandonStart();
    cancelTimer(timeoutTimer_);
    timeoutTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(kCloseTimeoutSeconds),
                                          WeakCallback(*this, &Qplayer::targetMethod));
    if (player_) {
        // A movie still loading must not start by itself once playable, behind the screen.
        player_->SetShouldAutoplay(false);
        player_->Pause();
    }
    if (indicator_) indicator_->doStartAnimating();
    controls_->hideForClosing();
    isPlaying_ = false;
    cancelTimer(disposeTimer_);
    disposeTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(kDisposeDelaySeconds),
                                          WeakCallback(*this, &Qplayer::dispatchDisposeView));
}

void Qplayer::dispatchDisposeView() {
    disposeTimer_ = 0;
    if (std::shared_ptr<QPlayerDelegate> target = delegate_.lock()) target->disposeQPlayer();
}

void Qplayer::targetMethod() {
    timeoutTimer_ = 0;
    ns::Log("[Q] dismised on timeout");
    if (isPlaying_) return;
    closeThroughDelegate();
}

void Qplayer::closeThroughDelegate() {
    ui::Application::Shared().SetStatusBarHidden(false);
    // Through the portal, which stores the progress and lets go of the screen; it alone knows
    // the screen is going. Without a delegate the screen dismisses itself.
    if (std::shared_ptr<QPlayerDelegate> target = delegate_.lock()) {
        target->disposeQPlayer();
    } else {
        DismissViewController(true);
    }
}

// --- the screen's life cycle

void Qplayer::ViewDidLoad() {
    cancelTimer(timeoutTimer_);
    timeoutTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(kStartTimeoutSeconds),
                                          WeakCallback(*this, &Qplayer::targetMethod));
    firstTime_ = true;
    ui::Application::Shared().SetStatusBarHidden(true);
    std::shared_ptr<ui::View> view = GetView();
    if (playerHit_) {
        playerHit_->AddTarget(this, WeakCallback(*this, &Qplayer::showHideControls),
                              ui::ControlEvent::TouchUpInside);
    }
    controls_->viewDidLoad(view, WeakCallback(*this, &Qplayer::closeView));
    const ui::Rect bounds = view->Bounds();
    indicator_ = std::make_shared<ZULSpinner>(
        ui::Rect(bounds.MidX(), bounds.MidY(), kSpinnerSize, kSpinnerSize));
    indicator_->SetIdentifier("indicatorView");
    indicator_->SetImage(ui::Image::Named("spinner0001.png"));
    view->AddSubview(indicator_);
    indicator_->doStartAnimating();
    cancelTimer(closeButtonTimer_);
    closeButtonTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(kCloseButtonDelaySeconds),
                                              WeakCallback(*this, [](Qplayer& player) {
                                                  player.closeButtonTimer_ = 0;
                                                  player.controls_->showCloseButton();
                                              }));
}

void Qplayer::ViewDidUnload() {
    indicator_.reset();
    controls_->viewDidUnload();
}

void Qplayer::ViewWillAppear(bool /*animated*/) {
    if (videoDisplay_) videoDisplay_->SetAlpha(0);
    controls_->prepareToAppear();
    scaleUp();
}

void Qplayer::ViewWillDisappear(bool /*animated*/) {
    ns::Log("[Q] viewWillDisappear");
    std::shared_ptr<Qplayer> keep = self();
    // A start still waiting for its origin is stopped at once; SV_Stop and SV_Terminate follow.
    if (!engineStopped_) stopSarvelon();
    if (CurrentPlayer().lock().get() == this) CurrentPlayer().reset();
    cancelTimer(coreTimer_);
    cancelTimer(timeoutTimer_);
    cancelTimer(reportTimer_);
    cancelTimer(disposeTimer_);
    cancelTimer(closeButtonTimer_);
    connection_.Cancel();
    dataObject_.reset();
    controls_->clearSubtitles();
    stopObserving();
    if (player_) {
        // The picture stays, held still, until the screen has gone (ViewDidDisappear): taken
        // away now, a black screen would show for the dismissal.
        player_->SetShouldAutoplay(false);
        player_->Pause();
    }
}

void Qplayer::ViewDidDisappear(bool /*animated*/) {
    if (!player_) return;
    if (std::shared_ptr<ui::View> movieView = player_->View()) movieView->RemoveFromSuperview();
    player_->Stop();
    player_.reset();
}

bool Qplayer::ShouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation /*orientation*/) {
    return true;
}

void Qplayer::WillRotateToInterfaceOrientation(ui::InterfaceOrientation orientation,
                                               double /*duration*/) {
    controls_->willRotate(orientation);
    reconfigurControlls();
}

// --- actions

void Qplayer::showHideControls() {
    // Nothing to control before the movie has played.
    if (firstTime_) return;
    controls_->showHideControls();
}
