#ifndef APP_QPLAYERTESTFIXTURE_H
#define APP_QPLAYERTESTFIXTURE_H
// The player screen's tests' world: the application's test world (AppFixture) on a tablet held
// in landscape, with the demo portal on a loopback port of its own, a loopback origin for
// playback information the portal does not give, the fake bridge (unless a test asks for the
// engine), headless movie players that the tests can reach, a window whose root screen
// presents the player screen as the portal screen does, and a delegate that records what the
// player screen reports.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QPlayerDelegate.h"
#include "app/Qplayer.h"
#include "app/testing/AppFixture.h"
#include "app/testing/FakeSarvelonBridge.h"
#include "platform/media/HeadlessMoviePlayer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/TestOrigin.h"

namespace QplayerTest {

// What the player screen told its delegate, in order: "error 200 <text>", "complete",
// "dispose". Like the portal, it dismisses the player screen on each, unless told not to.
class RecordingDelegate : public QPlayerDelegate {
public:
    void playbackDidStopOnError(int code, const std::string& text) override {
        calls.push_back("error " + std::to_string(code) + " " + text);
        Dismiss();
    }
    void playbackDidComplete() override {
        calls.push_back("complete");
        Dismiss();
    }
    void disposeQPlayer() override {
        calls.push_back("dispose");
        Dismiss();
    }
    int Count(const std::string& call) const {
        int n = 0;
        for (const std::string& c : calls) n += c == call;
        return n;
    }

    std::vector<std::string> calls;
    bool dismisses = true;
    std::weak_ptr<Qplayer> player;

private:
    void Dismiss() {
        if (!dismisses) return;
        if (auto screen = player.lock()) screen->DismissViewController(false);
    }
};

class QplayerTestBase : public AppTestSupport::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ui::UiDevice& device = ui::UiDevice::Current();
        device.SetIdiom(ui::UserInterfaceIdiom::Pad);
        device.SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        // No model of its own: the device reports the one its idiom stands for.
        device.SetModel("");
        StartPortal();
        ns::MoviePlayer::SetFactory([this]() -> std::unique_ptr<ns::MoviePlayer> {
            auto player = std::make_unique<ns::HeadlessMoviePlayer>();
            player->SetRate(rate_);
            return player;
        });
        window_ = std::make_shared<ui::Window>(ui::Screen::Main().Bounds());
        root_ = std::make_shared<ui::ViewController>();
        window_->SetRootViewController(root_);
        window_->MakeKeyAndVisible();
        delegate_ = std::make_shared<RecordingDelegate>();
    }

    void TearDown() override {
        if (player_ && player_->PresentingViewController()) player_->DismissViewController(false);
        loop_.Step();
        player_.reset();
        window_.reset();
        root_.reset();
        ns::MoviePlayer::SetFactory(nullptr);
        DrainMain();
        AppFixture::TearDown();
    }

    // A fake bridge that hands out a movie file of the portal's (12 s of bars, or 20 s of a
    // zoom) as the playback URL.
    static std::string ClipPath(const std::string& clip) {
        return std::string(SV_PORTAL_DATA_DIR) + "/clips/" + clip + ".ts";
    }

    // The player screen for a playback-information URL, presented as the portal presents it.
    void Open(const std::string& url, const std::string& deviceId = "device-1") {
        player_ = Qplayer::initWithJSON(url, deviceId);
        player_->setDelegate(delegate_);
        delegate_->player = player_;
        ASSERT_TRUE(root_->PresentViewController(player_, false));
        loop_.Step();
    }
    std::string PlaybackUrl(const std::string& id) const {
        return portal_->Url("/api/playback?id=" + id);
    }
    // Playback information of our own, served by the origin.
    std::string Info(const std::string& json) {
        const std::string path = "/info" + std::to_string(++infoCount_);
        origin_.Serve(path, json);
        return origin_.Url(path + "?id=1");
    }
    static std::string InfoJson(int startPosition,
                                const std::string& deliveryUri = "http://x/t.svm") {
        return "{\"subtitleLanguage\":\"en\",\"UILanguage\":\"en\",\"video\":{\"mediaID\":\"7\","
               "\"startPosition\":" +
               std::to_string(startPosition) + ",\"drm\":{\"deliveryUri\":\"" + deliveryUri +
               "\"}}}";
    }

    // Steps the loop (and the main queue, where bridge events wait) until cond holds, moving
    // the manual clock `step` seconds at a time, `seconds` at most; real waits are short and
    // only let other threads (the movie reader, the servers) get on.
    bool RunUntil(const std::function<bool()>& cond, double seconds, double step = 0.1) {
        double moved = 0;
        for (;;) {
            for (int i = 0; i < 3; ++i) {
                DrainMain();
                loop_.Loop().RunOnce(std::chrono::milliseconds(2));
                if (cond()) return true;
            }
            if (moved + step > seconds + 1e-9) return false;
            loop_.Clock().Advance(ui::SecondsToDuration(step));
            moved += step;
            loop_.Step();
            if (cond()) return true;
        }
    }
    // Moves the clock `seconds` on, stepping as RunUntil does.
    void RunFor(double seconds, double step = 0.1) {
        RunUntil([] { return false; }, seconds, step);
    }

    // The player screen's movie player while it has one.
    ns::HeadlessMoviePlayer* Movie() const {
        return player_ ? dynamic_cast<ns::HeadlessMoviePlayer*>(player_->player()) : nullptr;
    }
    bool Playing() const {
        return Movie() != nullptr && Movie()->PlaybackState() == ns::MoviePlaybackState::Playing;
    }

    ScopedFakeSarvelonBridge bridge_;
    SvTestSupport::TestOrigin origin_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::ViewController> root_;
    std::shared_ptr<RecordingDelegate> delegate_;
    std::shared_ptr<Qplayer> player_;
    double rate_ = 1.0;
    int infoCount_ = 0;
};

}  // namespace QplayerTest

#endif  // APP_QPLAYERTESTFIXTURE_H
