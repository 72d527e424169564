#ifndef APP_QPLAYER_H
#define APP_QPLAYER_H
// The full-screen player screen. The portal screen makes it with the playback-information URL
// of a title and the device identifier, presents it and acts as its delegate. The screen
//
//   1. asks for the playback information (the URL with "&ios=1", 20 s time-out) and reads it
//      (PlayerDataObject); an answer that lacks a field is reported (200, the "MISSING ..."
//      texts) one second later;
//   2. starts the engine through the bridge (SarvelonBridge: SV_Initialize, then SV_Play with
//      the title's delivery URI, each on the bridge's own thread, SarvelonQueue, with its
//      result back on the main loop), and plays the loopback playlist URL SV_Play hands back
//      in the platform's movie player, behind its own controls (QplayerControls) and
//      subtitles; the window goes on drawing and taking input while the engine starts;
//   3. every half second keeps the current position for the portal's progress reports, moves
//      the labels and the scrubber, shows the subtitle of the second and reports completion
//      once near the end (without the cue of that second, which lies past the completion);
//   4. reports engine errors (bridge event 19) and the movie player's (a playback that
//      finished on an error) as 210, and goes through the delegate's disposeQPlayer when the
//      user closes it, when playback never starts (35 s) or when the movie ends before its
//      last seconds;
//   5. stops the engine (SV_Stop, then SV_Terminate) when it disappears. Closed while its
//      start still waits for the origin, it stops that start at once (SV_Stop beside it, on
//      a thread of the bridge queue's), so the next screen's start does not wait it out; what
//      that start answers is dropped. The movie is paused then, its picture kept until the
//      screen has gone, and released after.
//
// One player screen is current at a time (Current()), cleared when the screen disappears. The
// bridge's events reach only the screen whose start the engine runs, and only until it closes:
// an event of a title left during its start never reaches the next title's screen. Main thread
// only (ui::Loop()); make it with initWithJSON.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/PendingConnection.h"
#include "app/PlayerDataObject.h"
#include "app/QPlayerDelegate.h"
#include "app/QplayerInterface.h"
#include "app/ZULSpinner.h"
#include "engine/api/SViOsApi.h"
#include "platform/core/Notification.h"
#include "platform/media/MoviePlayer.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"

class QplayerControls;

class Qplayer : public ui::ViewController, public ns::URLConnectionDelegate {
public:
    static constexpr const char* kInterfaceName = kQplayerInterfaceName;
    static constexpr double kRequestTimeoutSeconds = 20;
    static constexpr double kTimerInterval = 0.5;
    static constexpr double kStartTimeoutSeconds = 35;
    static constexpr double kCloseTimeoutSeconds = 10;
    static constexpr double kDisposeDelaySeconds = 3;
    static constexpr double kReportDelaySeconds = 1;
    // Completion is near the end rather than at it: the last seconds may never be played out.
    // The remaining-time label counts down to it.
    static constexpr int kCompletionSecondsBeforeEnd = 4;
    // A playback-information answer larger than this is no playback information: the load
    // fails as a connection error instead of growing without bound.
    static constexpr size_t kMaxResponseBytes = 1 << 20;

    // Error codes and texts of playbackDidStopOnError.
    static constexpr int kSetupError = 200;
    static constexpr int kEngineError = 210;
    static constexpr int kConnectionError = 300;
    static constexpr const char* kNoDeviceIdText = "No DeviceID was set!";
    static constexpr const char* kInitializationFailedText = "Player initialization failed";
    static constexpr const char* kEngineErrorText = "Internal player error";
    static constexpr const char* kConnectionErrorText = "connection error: ContectAccessAPI";

    // Makes the screen and sends the playback-information request at once.
    static std::shared_ptr<Qplayer> initWithJSON(const std::string& url,
                                                 const std::string& deviceID);
    ~Qplayer() override;
    const char* ClassName() const override { return "Qplayer"; }

    // The screen the engine's events reach; null when none.
    static std::shared_ptr<Qplayer> Current();
    // The bridge's event callback (any event; only 19 does something).
    static int QplayerLibraryCallback(SViOsApiEvent event, const ns::Dictionary& attributes);

    void setDelegate(std::weak_ptr<QPlayerDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<QPlayerDelegate> delegate() const { return delegate_.lock(); }

    // What the portal reads when it stores the progress.
    const std::string& mediaID() const { return mediaID_; }
    int32_t currentProgress() const { return currentProgress_; }
    bool shouldStoreCurrentProgress() const { return shouldStoreCurrentProgress_; }

    // For tests and the portal.
    const std::string& apiPath() const { return apiPath_; }
    const PlayerDataObject* dataObject() const { return dataObject_.get(); }
    ns::MoviePlayer* player() const { return player_.get(); }
    double duration() const { return duration_; }
    bool isPlaying() const { return isPlaying_; }
    QplayerControls& controls() const { return *controls_; }

    // Actions: the close button (through the controls) and the screen-wide touch area. The
    // controls take the rest of the buttons.
    void closeView();
    void showHideControls();

    // ui::ViewController
    void ViewDidLoad() override;
    void ViewDidUnload() override;
    void ViewWillAppear(bool animated) override;
    void ViewWillDisappear(bool animated) override;
    void ViewDidDisappear(bool animated) override;
    bool ShouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) override;
    void WillRotateToInterfaceOrientation(ui::InterfaceOrientation orientation,
                                          double duration) override;

    // ns::URLConnectionDelegate
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

private:
    Qplayer();
    std::shared_ptr<Qplayer> self();
    void start(const std::string& url, const std::string& deviceID);

    // Set-up after a valid answer, in order.
    void handleResponse();
    void initNotifications();
    void initCore();
    void initPlayer();
    void initializeSarvelon();
    void killApp(const std::string& text);

    // Engine and movie player.
    // What SV_Play answered.
    struct SarvelonStart {
        int status = 0;
        std::string playbackUrl;
    };
    // SV_Play's status for a start that was abandoned before it was asked for.
    static constexpr int kStartAbandoned = -1;
    // Whether the engine's start still leads anywhere: the screen neither closes nor has gone.
    bool startGoesOn() const;
    // The screen closes: a start not yet asked for is not asked for, one under way is stopped,
    // and the engine's events no longer reach this screen.
    void abandonStart();
    void sarvelonInitialized(int status);
    void sarvelonPlayed(const SarvelonStart& start);
    // SV_Stop, then SV_Terminate, queued behind whatever the bridge is doing.
    void stopSarvelon();
    void sarvelonStoppingOnError(const ns::Dictionary& attributes);
    // Whether a movie player notification comes from this screen's player: the observers hear
    // every player's notifications, and are added before the player is made.
    bool fromMoviePlayer(const ns::Notification& notification) const;
    void moviePlayerLoadStateDidChange(const ns::Notification& notification);
    void moviePlayerPlaybackStateDidChange(const ns::Notification& notification);
    void moviePlayerPlaybackDidFinish(const ns::Notification& notification);
    // playbackDidComplete, once; the progress timer stops with it.
    void complete();
    void initialize();
    void playInit();
    void timerAction();
    // The movie's display, the movie and the spinner over the whole screen, after the
    // scrubber's width is set back.
    void scaleUp();
    // The controls after a rotation or the start of playback, and the movie a moment later.
    void reconfigurControlls();

    // Closing.
    void targetMethod();
    void dispatchDisposeView();
    // The end of the screen without an error: through the delegate (disposeQPlayer), which
    // stores the progress and dismisses it; without one the screen dismisses itself.
    void closeThroughDelegate();
    void stopObserving();
    void cancelTimer(uint64_t& timer);
    void report(int code, const std::string& text);

    // Outlets (the controls bind their own).
    std::shared_ptr<ui::View> videoDisplay_;
    std::shared_ptr<ui::Button> playerHit_;

    std::weak_ptr<QPlayerDelegate> delegate_;
    std::string deviceId_;
    std::string apiPath_;
    std::string responseData_;
    // The playback-information request, or its failure when the address is no URL.
    PendingConnection connection_;
    std::unique_ptr<PlayerDataObject> dataObject_;
    std::string mediaID_;
    // Shared only so the controls can hold it weakly.
    std::shared_ptr<ns::MoviePlayer> player_;

    uint64_t coreTimer_ = 0;
    uint64_t timeoutTimer_ = 0;
    uint64_t reportTimer_ = 0;   // the delayed report of an invalid answer
    uint64_t disposeTimer_ = 0;  // the delayed disposeQPlayer after closing
    bool closing_ = false;       // closeView ran: nothing starts the movie again
    uint64_t closeButtonTimer_ = 0;
    uint64_t loadStateObserver_ = 0;
    uint64_t playbackStateObserver_ = 0;
    uint64_t finishObserver_ = 0;

    double duration_ = 0;
    // Where the movie was at the last tick that saw it playing, and how far it had moved
    // since the tick before: a finished player is back at its start.
    double lastPosition_ = 0;
    double lastAdvance_ = 0;
    bool lastPlayingTick_ = false;
    int32_t currentProgress_ = 0;
    bool shouldStoreCurrentProgress_ = false;
    bool firstTime_ = true;
    bool isPlaying_ = false;
    bool initialized_ = false;
    bool detectedStartPositon_ = false;
    bool retryMode_ = false;
    bool completed_ = false;      // playbackDidComplete was sent
    bool engineStarted_ = false;  // SV_Initialize was called
    bool engineStopped_ = false;  // SV_Stop and SV_Terminate were called
    // Set once the screen closes, read by its start job on the bridge's thread; its address
    // tags that job for SarvelonQueue::Interrupt.
    const std::shared_ptr<std::atomic<bool>> startAbandoned_;

    std::shared_ptr<ZULSpinner> indicator_;
    // Shared: the controls' buttons and the subtitle chooser hold them weakly.
    std::shared_ptr<QplayerControls> controls_;
};

#endif  // APP_QPLAYER_H
