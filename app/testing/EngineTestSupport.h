#ifndef APP_TESTING_ENGINETESTSUPPORT_H
#define APP_TESTING_ENGINETESTSUPPORT_H
// Header-only, for tests that play through the real engine: the engine as a fresh process has
// it on a loopback port of the test's own, the relay that writes down what the movie player
// asked the engine's server for, and a loop whose manual clock follows real time (the engine
// works in real time), and a title that trickles in.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/SarvelonBridge.h"
#include "app/SarvelonQueue.h"
#include "app/testing/RecordingRelay.h"
#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/serve/ListeningPort.h"
#include "platform/core/RunLoop.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/TestLoop.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/UnusedPort.h"

namespace AppTestSupport {

// No bridge of a test's own, the engine's state as at start, and its loopback server on a port
// no other test uses. Returns that port; 0 (and the port left as it was) when none was free.
inline uint16_t ResetEngineOnUnusedPort() {
    // What an earlier screen asked of the bridge is done before the engine is reset under it.
    EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
    SarvelonBridge::SetCurrent(nullptr);
    SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    const uint16_t port = SvTestSupport::UnusedLoopbackPort();
    if (port != 0) SarvelonMediaKit::SetLoopbackPort(port);
    return port;
}

// Steps the main queue and the test loop with the loop's clock following real time, until cond
// holds or `seconds` passed.
inline bool RunRealTime(ui::TestLoop& loop, const std::function<bool()>& cond, double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    Clock::time_point last = Clock::now();
    while (Clock::now() < end) {
        for (int i = 0; i < 3; ++i) ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        loop.Loop().RunOnce(std::chrono::milliseconds(5));
        const Clock::time_point now = Clock::now();
        loop.Clock().Advance(now - last);
        last = now;
        if (cond()) return true;
    }
    return cond();
}

// The demo portal's bars title served at `path` at 8 bytes a second, so that its head alone
// takes most of a minute, with the engine's preload given a minute (a setting the screens' own
// initialisations keep): a start of it is still waiting for the title at every step of a test.
inline void ServeTricklingTitle(SvTestSupport::TestOrigin& origin, const std::string& path) {
    origin.ServeFile(path, std::string(SV_PORTAL_DATA_DIR) + "/media/bars.svm");
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 8;
    origin.SetFault(path, trickle);
    ns::Dictionary settings;
    settings.Set("SVPreloadTimeoutKey", ns::Value(60000000));
    SV_CredentialsFromSettings(settings);
}

// The engine reset on a port of its own with a recording relay in front of its server; every
// movie player made meanwhile plays through the relay at eight times the speed.
class RelayedEngine {
public:
    using MakePlayer =
        std::function<std::unique_ptr<RelayedMoviePlayer>(uint16_t enginePort, uint16_t relayPort)>;

    // From a test's SetUp (it asserts). `make` makes each movie player; by default a plain
    // relayed one.
    void Start(MakePlayer make = nullptr) {
        enginePort_ = ResetEngineOnUnusedPort();
        ASSERT_NE(0, enginePort_);
        relay_ = std::make_unique<RecordingRelay>(enginePort_);
        ASSERT_NE(0, relay_->Port());
        if (!make) {
            make = [](uint16_t enginePort, uint16_t relayPort) {
                return std::make_unique<RelayedMoviePlayer>(enginePort, relayPort);
            };
        }
        ns::MoviePlayer::SetFactory(
            [this, make = std::move(make)]() -> std::unique_ptr<ns::MoviePlayer> {
                std::unique_ptr<RelayedMoviePlayer> player = make(enginePort_, relay_->Port());
                player->SetRate(8);
                return player;
            });
    }
    // From a test's TearDown, after the movie player factory is taken away.
    void Stop() {
        EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        relay_.reset();
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    }

    uint16_t EnginePort() const { return enginePort_; }
    RecordingRelay& Relay() { return *relay_; }

private:
    uint16_t enginePort_ = 0;
    std::unique_ptr<RecordingRelay> relay_;
};

}  // namespace AppTestSupport

#endif  // APP_TESTING_ENGINETESTSUPPORT_H
