#ifndef PLATFORM_MEDIA_TESTING_MOVIE_PLAYER_CONTRACT_H
#define PLATFORM_MEDIA_TESTING_MOVIE_PLAYER_CONTRACT_H
// What every movie player must show the player screen, checked the same way for each
// implementation (the headless player's tests and the desktop player's): a log of the
// notifications a player posts, and the checks of the contract (MoviePlayer.h) against the
// 12 s two-variant HLS fixture served by a loopback test origin.
//
// Test programs only (GoogleTest).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/media/MoviePlayer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestOrigin.h"

namespace ns::contract {

// The fixture: a master playlist of two variants (v0 320x180, v1 160x90), each three 4 s
// segments of H.264 and AAC (EXTINF:4 three times: 12 s).
constexpr double kFixtureSeconds = 12.0;

// Serves the fixture's files at /master.m3u8, /v<n>/index.m3u8 and /v<n>/seg<i>.ts.
inline void ServePlayerHls(SvTestSupport::TestOrigin& origin) {
    const std::string folder = SvTestSupport::Fixtures::PlayerHlsFolder();
    origin.ServeFile("/master.m3u8", folder + "/master.m3u8");
    for (const std::string v : {"v0", "v1"}) {
        origin.ServeFile("/" + v + "/index.m3u8", folder + "/" + v + "/index.m3u8");
        for (int i = 0; i < 3; ++i) {
            const std::string segment = "/" + v + "/seg" + std::to_string(i) + ".ts";
            origin.ServeFile(segment, folder + segment);
        }
    }
}

// The paths of the second variant that were asked for (the engine counts each variant
// request as a rendition asked for).
inline std::vector<std::string> SecondVariantRequests(const SvTestSupport::TestOrigin& origin) {
    std::vector<std::string> paths;
    for (const SvTestSupport::TestOrigin::Request& r : origin.Requests()) {
        if (r.path.rfind("/v1/", 0) == 0) paths.push_back(r.path);
    }
    return paths;
}

struct Posted {
    std::string name;
    int value;  // the new state, or the finish reason
    Value info;
    std::thread::id thread;
};

// Every notification one player posts through the default centre, from construction on. At
// each, the user info's state must be the player's state then (checked as it arrives).
class MoviePlayerLog {
public:
    explicit MoviePlayerLog(const MoviePlayer& player) : player_(player) {
        token_ = NotificationCenter::Default().AddObserver(
            "", [this](const Notification& n) { Record(n); }, &player_);
    }
    ~MoviePlayerLog() { NotificationCenter::Default().RemoveObserver(token_); }
    MoviePlayerLog(const MoviePlayerLog&) = delete;
    MoviePlayerLog& operator=(const MoviePlayerLog&) = delete;

    const std::vector<Posted>& All() const { return posted_; }
    void Clear() { posted_.clear(); }
    std::vector<int> Values(const char* name) const {
        std::vector<int> values;
        for (const Posted& p : posted_) {
            if (p.name == name) values.push_back(p.value);
        }
        return values;
    }
    bool Saw(const char* name, int value) const {
        for (int v : Values(name)) {
            if (v == value) return true;
        }
        return false;
    }
    bool Finished() const { return !Values(MoviePlayer::kPlaybackDidFinish).empty(); }
    // The error of the last did-finish (empty when it carried none).
    Error LastError() const {
        for (auto p = posted_.rbegin(); p != posted_.rend(); ++p) {
            if (p->name == MoviePlayer::kPlaybackDidFinish) {
                return MoviePlayer::ErrorFromValue(p->info[MoviePlayer::kErrorKey]);
            }
        }
        return Error();
    }

private:
    void Record(const Notification& n) {
        int value = -1;
        if (n.name == MoviePlayer::kLoadStateDidChange) {
            value = n.userInfo[MoviePlayer::kLoadStateKey].IntValue();
            EXPECT_EQ(static_cast<unsigned>(value), player_.LoadState());
        } else if (n.name == MoviePlayer::kPlaybackStateDidChange) {
            value = n.userInfo[MoviePlayer::kPlaybackStateKey].IntValue();
            EXPECT_EQ(value, static_cast<int>(player_.PlaybackState()));
        } else if (n.name == MoviePlayer::kPlaybackDidFinish) {
            value = n.userInfo[MoviePlayer::kFinishReasonKey].IntValue();
            EXPECT_EQ(player_.PlaybackState(), MoviePlaybackState::Stopped)
                << "did-finish before the player stopped";
        }
        posted_.push_back({n.name, value, n.userInfo, std::this_thread::get_id()});
    }

    const MoviePlayer& player_;
    uint64_t token_ = 0;
    std::vector<Posted> posted_;
};

// The first load state is exactly "playable" (1): the value the screen starts playing on.
inline void ExpectPlayableFirst(const MoviePlayerLog& log) {
    const std::vector<int> loads = log.Values(MoviePlayer::kLoadStateDidChange);
    ASSERT_FALSE(loads.empty()) << "never playable";
    EXPECT_EQ(loads.front(), static_cast<int>(kLoadStatePlayable));
}

inline void ExpectFixtureDuration(const MoviePlayer& player) {
    EXPECT_NEAR(player.Duration(), kFixtureSeconds, 0.05);
}

// Played to the end: exactly one did-finish, "ended", after playback state 0 and load state 0.
inline void ExpectEnded(const MoviePlayerLog& log, const MoviePlayer& player) {
    EXPECT_EQ(log.Values(MoviePlayer::kPlaybackDidFinish),
              std::vector<int>{static_cast<int>(MovieFinishReason::PlaybackEnded)});
    EXPECT_EQ(player.PlaybackState(), MoviePlaybackState::Stopped);
    EXPECT_EQ(player.LoadState(), kLoadStateUnknown);
    ASSERT_FALSE(log.All().empty());
    EXPECT_EQ(log.All().back().name, MoviePlayer::kPlaybackDidFinish) << "posted after the end";
    EXPECT_EQ(log.Values(MoviePlayer::kPlaybackStateDidChange).back(), 0);
}

// A seek to `target` while playing: the playback states posted since it began are seeking
// (4 forward, 5 backward) then playing, and the position landed within a second of the target
// (a key-unit seek lands on a key frame; the fixture has one every 2 s).
inline void ExpectSeekLanded(const std::vector<int>& statesSinceSeek, bool forward,
                             const MoviePlayer& player, double target) {
    EXPECT_EQ(statesSinceSeek, (std::vector<int>{forward ? 4 : 5, 1}));
    EXPECT_GE(player.CurrentPlaybackTime(), target - 1.0);
    EXPECT_LE(player.CurrentPlaybackTime(), target + 1.0);
}

// Steps the player's loop (moving its clock as the player's own test does) until `done` holds;
// false when it never does.
using WaitFor = std::function<bool(const std::function<bool()>& done)>;

// A person pauses the movie and drags the scrubber forward (to 9 s, into the last 4 s segment,
// which is not read yet): seeking forward (4), then paused (2) where it landed, and nothing
// more. The movie stays paused through a second more (`passSecond`): no playing state, the
// position held, and no load state that says the data ran out (the screen plays the movie
// whenever it becomes playable again). Starts from a player given the fixture's URL.
inline void ExpectPausedSeekStaysPaused(MoviePlayer& player, const MoviePlayerLog& log,
                                        const WaitFor& waitFor,
                                        const std::function<void()>& passSecond) {
    auto state = [&] { return player.PlaybackState(); };
    player.Play();
    ASSERT_TRUE(waitFor([&] {
        return state() == MoviePlaybackState::Playing && player.CurrentPlaybackTime() > 0.5;
    }));
    player.Pause();
    ASSERT_TRUE(waitFor([&] { return state() == MoviePlaybackState::Paused; }));
    const size_t statesBefore = log.Values(MoviePlayer::kPlaybackStateDidChange).size();
    const size_t loadsBefore = log.Values(MoviePlayer::kLoadStateDidChange).size();
    auto since = [&log](const char* name, size_t first) {
        const std::vector<int> all = log.Values(name);
        return std::vector<int>(all.begin() + static_cast<long>(std::min(first, all.size())),
                                all.end());
    };

    player.SetCurrentPlaybackTime(9.0);
    EXPECT_EQ(state(), MoviePlaybackState::SeekingForward);
    ASSERT_TRUE(waitFor(
        [&] { return since(MoviePlayer::kPlaybackStateDidChange, statesBefore).size() >= 2; }));
    EXPECT_EQ(since(MoviePlayer::kPlaybackStateDidChange, statesBefore), (std::vector<int>{4, 2}));

    // Where it landed: within a second of the target (a key-unit seek lands on a key frame;
    // the fixture has one every 2 s), once the player has told the seek done.
    double landed = -1;
    EXPECT_TRUE(waitFor([&] {
        landed = player.CurrentPlaybackTime();
        return state() == MoviePlaybackState::Paused && landed >= 8.0 && landed <= 10.0;
    })) << "landed at "
        << landed;
    // A paused movie does nothing however long it waits: nothing to wait for but the time,
    // so a bounded pass is what shows it.
    passSecond();
    EXPECT_EQ(state(), MoviePlaybackState::Paused);
    EXPECT_EQ(since(MoviePlayer::kPlaybackStateDidChange, statesBefore), (std::vector<int>{4, 2}));
    EXPECT_NEAR(player.CurrentPlaybackTime(), landed, 0.05) << "the paused movie moves";
    for (int load : since(MoviePlayer::kLoadStateDidChange, loadsBefore)) {
        EXPECT_EQ(load & static_cast<int>(kLoadStateStalled), 0)
            << "a paused movie stalled: load states "
            << ::testing::PrintToString(since(MoviePlayer::kLoadStateDidChange, loadsBefore));
    }
    EXPECT_FALSE(log.Finished());
}

// A failed load: did-finish "error" with the platform's network error naming the URL, the
// player stopped, and never playable.
inline void ExpectNetworkError(const MoviePlayerLog& log, const MoviePlayer& player, long code,
                               const std::string& url) {
    ASSERT_EQ(log.Values(MoviePlayer::kPlaybackDidFinish),
              std::vector<int>{static_cast<int>(MovieFinishReason::PlaybackError)});
    const Error error = log.LastError();
    EXPECT_EQ(error.Domain(), Error::kURLErrorDomain);
    EXPECT_EQ(error.GetCode(), code);
    EXPECT_EQ(error.FailingURL(), url);
    EXPECT_NE(error.LocalizedDescription().find(url), std::string::npos)
        << error.LocalizedDescription();
    EXPECT_EQ(player.PlaybackState(), MoviePlaybackState::Stopped);
    EXPECT_TRUE(log.Values(MoviePlayer::kLoadStateDidChange).empty()) << "was playable";
}

// Every notification was delivered on `thread` (the main thread).
inline void ExpectAllOn(const MoviePlayerLog& log, std::thread::id thread) {
    for (const Posted& p : log.All()) {
        EXPECT_EQ(p.thread, thread) << p.name << " off the main thread";
    }
}

}  // namespace ns::contract

#endif
