// The headless movie player against ffmpeg's 12 s HLS fixture served by the loopback test
// origin. The player's loop is a TestLoop on a manual clock that the tests move; reading
// happens on the player's real thread, so the tests wait for it in real time (bounded).
#include "platform/media/HeadlessMoviePlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/media/testing/MoviePlayerContract.h"
#include "platform/ui/TestLoop.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/UnusedPort.h"

namespace ns {
namespace {

using std::chrono::milliseconds;
using SvTestSupport::Fixtures;

// What ffprobe counts in one stream of a playlist: the oracle for the reader's statistics.
struct Probed {
    uint64_t packets = 0;
    uint64_t frames = 0;
    double startTime = 0;
};

std::map<std::string, Probed> ProbeStreams(const std::string& path) {
    std::string output;
    const int status = SvTestSupport::RunProgram(
        {"ffprobe", "-v", "error", "-count_packets", "-count_frames", "-show_entries",
         "stream=codec_type,start_time,nb_read_packets,nb_read_frames", "-of", "default=nw=1",
         path},
        &output);
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, Probed> streams;
    std::istringstream lines(output);
    std::string line;
    std::string type;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "codec_type") type = value;
        if (key == "start_time") streams[type].startTime = std::stod(value);
        if (key == "nb_read_packets") streams[type].packets = std::stoull(value);
        if (key == "nb_read_frames") streams[type].frames = std::stoull(value);
    }
    return streams;
}

const MovieStreamStatistics* StreamOf(const std::vector<MovieStreamStatistics>& all,
                                      const std::string& type) {
    for (const MovieStreamStatistics& s : all) {
        if (s.mediaType == type) return &s;
    }
    return nullptr;
}

class HeadlessMoviePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // This thread steps the main loop, so the default centre delivers at once, here.
        RunLoop::Main().RunOnce(milliseconds(0));
        folder_ = Fixtures::PlayerHlsFolder();
        contract::ServePlayerHls(origin_);
        player_ = std::make_unique<HeadlessMoviePlayer>();
        // What this player posts, each state checked against the player as it arrives.
        log_ = std::make_unique<contract::MoviePlayerLog>(*player_);
    }

    void TearDown() override {
        player_.reset();
        if (log_) contract::ExpectAllOn(*log_, std::this_thread::get_id());
        log_.reset();
    }

    // Steps the loop, moving its clock by `step` seconds each time, until pred holds or ten
    // seconds of real time have passed.
    bool Drive(const std::function<bool()>& pred, double step = 0.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (step > 0) {
                loop_.Clock().Advance(ui::SecondsToDuration(step));
                clockMoved_ += step;
            }
            loop_.Loop().RunOnce(milliseconds(2));
        }
        return true;
    }

    // Moves the loop's clock on by `seconds` in steps, running what each step brings.
    void PassClock(double seconds) {
        for (double passed = 0; passed < seconds; passed += 0.05) {
            loop_.Advance(0.05);
            loop_.Loop().RunOnce(milliseconds(2));
        }
    }

    std::vector<int> Values(const char* name) const { return log_->Values(name); }
    // Plays the first variant at four times the speed, its last segment (8 to 12 s) a second
    // late: the playback stalls there. Not the second segment: probing the streams at the open
    // may read into it before anything plays.
    void PlayWithTheLastSegmentLate() {
        SvTestSupport::TestOrigin::Fault slow;
        slow.headDelayMs = 1000;
        origin_.SetFault("/v0/seg2.ts", slow);
        player_->SetRate(4);
        player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
        player_->Play();
    }
    bool Saw(const char* name, int value) const { return log_->Saw(name, value); }
    bool Finished() const { return log_->Finished(); }

    ui::TestLoop loop_;
    SvTestSupport::TestOrigin origin_;
    std::string folder_;
    std::unique_ptr<HeadlessMoviePlayer> player_;
    std::unique_ptr<contract::MoviePlayerLog> log_;
    double clockMoved_ = 0;
};

TEST_F(HeadlessMoviePlayerTest, FirstLoadStateIsPlayableAloneAndDurationComesFromThePlaylist) {
    player_->SetShouldAutoplay(false);
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    EXPECT_EQ(player_->Duration(), 0.0);  // unknown before loading
    player_->PrepareToPlay();
    ASSERT_TRUE(Drive([&] { return Saw(MoviePlayer::kLoadStateDidChange, 3); }));

    contract::ExpectPlayableFirst(*log_);
    contract::ExpectFixtureDuration(*player_);
    // Autoplay off: nothing plays, the position stays at the start.
    EXPECT_TRUE(Values(MoviePlayer::kPlaybackStateDidChange).empty());
    EXPECT_EQ(player_->CurrentPlaybackTime(), 0.0);
}

TEST_F(HeadlessMoviePlayerTest, MasterPlaylistOpensOnlyItsFirstVariant) {
    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    player_->PrepareToPlay();
    ASSERT_TRUE(Drive([&] { return Saw(MoviePlayer::kLoadStateDidChange, 3); }));
    EXPECT_NEAR(player_->Duration(), 12.0, 0.05);

    bool firstVariant = false;
    for (const SvTestSupport::TestOrigin::Request& r : origin_.Requests()) {
        EXPECT_NE(r.path.rfind("/v1/", 0), 0u) << "the second variant was asked for: " << r.path;
        firstVariant = firstVariant || r.path == "/v0/seg0.ts";
    }
    EXPECT_TRUE(firstVariant);
}

TEST_F(HeadlessMoviePlayerTest, PlaysToTheEndAtRateFourAndCountsWhatItRead) {
    player_->SetRate(4);
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Drive([&] { return Finished(); }, 0.05));

    contract::ExpectEnded(*log_, *player_);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange), (std::vector<int>{1, 0}));
    EXPECT_EQ(Values(MoviePlayer::kLoadStateDidChange).front(), 1);
    // About 12 s of media at four times the clock: not less than 12 / 4 s of clock time.
    EXPECT_GE(clockMoved_, 11.9 / 4);

    // Everything read, against ffprobe's count of the same playlist.
    const std::map<std::string, Probed> probed = ProbeStreams(folder_ + "/v0/index.m3u8");
    const std::vector<MovieStreamStatistics> stats = player_->Statistics();
    const MovieStreamStatistics* video = StreamOf(stats, "video");
    const MovieStreamStatistics* audio = StreamOf(stats, "audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codec, "h264");
    EXPECT_EQ(video->packets, probed.at("video").packets);
    EXPECT_EQ(video->packets, Fixtures::kPlayerHlsFrames);
    EXPECT_EQ(video->keyFrames, 6u);  // one every 50 of 300 frames
    EXPECT_NEAR(video->firstPts, probed.at("video").startTime, 0.001);
    EXPECT_EQ(audio->packets, probed.at("audio").packets);
    EXPECT_EQ(audio->keyFrames, audio->packets);
    EXPECT_GT(video->bytes, 0u);
    for (const MovieStreamStatistics* s : {video, audio}) {
        EXPECT_EQ(s->ptsBackwards, 0u) << s->mediaType;
        EXPECT_EQ(s->gapsOverOneSecond, 0u) << s->mediaType;
        EXPECT_EQ(s->decodedFrames, 0u) << "decoded without verify mode";
    }
}

TEST_F(HeadlessMoviePlayerTest, ClockFollowsRateAndStopsWhilePaused) {
    player_->SetShouldAutoplay(false);
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->PrepareToPlay();
    ASSERT_TRUE(Drive([&] { return Saw(MoviePlayer::kLoadStateDidChange, 3); }));
    player_->Play();
    EXPECT_EQ(player_->PlaybackState(), MoviePlaybackState::Playing);
    loop_.Advance(1.0);
    EXPECT_NEAR(player_->CurrentPlaybackTime(), 1.0, 1e-6);
    player_->SetRate(2);
    loop_.Advance(0.5);
    EXPECT_NEAR(player_->CurrentPlaybackTime(), 2.0, 1e-6);  // 1 + 2 x 0.5
    player_->Pause();
    loop_.Advance(3.0);
    EXPECT_NEAR(player_->CurrentPlaybackTime(), 2.0, 1e-6);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange), (std::vector<int>{1, 2}));
    player_->Stop();
    EXPECT_EQ(player_->CurrentPlaybackTime(), 0.0);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange), (std::vector<int>{1, 2, 0}));
    EXPECT_FALSE(Finished());  // a stop is not an end
}

TEST_F(HeadlessMoviePlayerTest, SeekWhilePlayingPostsSeekingThenPlaying) {
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Drive([&] { return Saw(MoviePlayer::kLoadStateDidChange, 3); }));
    ASSERT_EQ(player_->PlaybackState(), MoviePlaybackState::Playing);
    loop_.Advance(1.0);

    player_->SetCurrentPlaybackTime(9.0);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange).back(), 4);  // forward
    ASSERT_TRUE(Drive([&] { return player_->PlaybackState() == MoviePlaybackState::Playing; }));
    const std::vector<int> states = Values(MoviePlayer::kPlaybackStateDidChange);
    EXPECT_EQ(states.front(), 1);
    contract::ExpectSeekLanded(std::vector<int>(states.begin() + 1, states.end()), true, *player_,
                               9.0);

    auto firstSegmentGets = [&] {
        size_t n = 0;
        for (const auto& r : origin_.Requests()) n += r.path == "/v0/seg0.ts" ? 1 : 0;
        return n;
    };
    const size_t before = firstSegmentGets();
    player_->SetCurrentPlaybackTime(2.0);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange).back(), 5);  // backward
    ASSERT_TRUE(Drive([&] { return player_->PlaybackState() == MoviePlaybackState::Playing; }));
    EXPECT_GE(player_->CurrentPlaybackTime(), 1.0);
    EXPECT_LE(player_->CurrentPlaybackTime(), 3.0);
    // 2 s lies in the first 4 s segment: the reader went back for it.
    EXPECT_EQ(firstSegmentGets(), before + 1);
    // Reading from 2 s on again: a time before the last key frame does not count as going back.
    for (const MovieStreamStatistics& s : player_->Statistics()) {
        EXPECT_EQ(s.ptsBackwards, 0u) << s.mediaType;
    }

    // Beyond the end is the end.
    player_->SetCurrentPlaybackTime(500);
    EXPECT_NEAR(player_->CurrentPlaybackTime(), player_->Duration(), 1e-9);
    ASSERT_TRUE(Drive([&] { return Finished(); }, 0.05));
    EXPECT_EQ(Values(MoviePlayer::kPlaybackDidFinish).back(), 0);
}

TEST_F(HeadlessMoviePlayerTest, ASeekWhilePausedStaysPaused) {
    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    contract::ExpectPausedSeekStaysPaused(
        *player_, *log_, [this](const std::function<bool()>& done) { return Drive(done, 0.05); },
        [this] { PassClock(1.0); });
}

// The player screen's own use: autoplay on, Play() when the load state is exactly 1, and the
// start position set from inside the first playing state's notification.
TEST_F(HeadlessMoviePlayerTest, ScreenStartsAtItsStartPositionFromInsideTheNotifications) {
    bool started = false;
    const uint64_t token = NotificationCenter::Default().AddObserver(
        "",
        [&](const Notification& n) {
            if (n.name == MoviePlayer::kLoadStateDidChange && player_->LoadState() == 1) {
                player_->Play();
            }
            if (n.name == MoviePlayer::kPlaybackStateDidChange &&
                player_->PlaybackState() == MoviePlaybackState::Playing && !started) {
                started = true;
                player_->SetCurrentPlaybackTime(6.0);
            }
        },
        player_.get());
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->PrepareToPlay();
    ASSERT_TRUE(Drive([&] {
        const std::vector<int> states = Values(MoviePlayer::kPlaybackStateDidChange);
        return states.size() >= 3;
    }));
    NotificationCenter::Default().RemoveObserver(token);
    EXPECT_EQ(Values(MoviePlayer::kPlaybackStateDidChange), (std::vector<int>{1, 4, 1}));
    EXPECT_GE(player_->CurrentPlaybackTime(), 5.0);
    EXPECT_LE(player_->CurrentPlaybackTime(), 6.0);
    loop_.Advance(0.5);
    EXPECT_GT(player_->CurrentPlaybackTime(), 5.4);  // and it plays on from there
}

TEST_F(HeadlessMoviePlayerTest, StallPostsPlayableStalledThenPlayableAgain) {
    PlayWithTheLastSegmentLate();
    ASSERT_TRUE(Drive([&] { return Finished(); }, 0.05));

    const std::vector<int> loads = Values(MoviePlayer::kLoadStateDidChange);
    ASSERT_GE(loads.size(), 3u);
    EXPECT_EQ(loads.front(), 1);
    size_t stall = 0;
    while (stall < loads.size() && loads[stall] != 5) ++stall;
    ASSERT_LT(stall + 1, loads.size()) << "no stall, or nothing after it";
    EXPECT_EQ(loads[stall + 1], 1);  // playable again once data comes
    EXPECT_EQ(Values(MoviePlayer::kPlaybackDidFinish).back(), 0);
}

// Paused while it waits for data: the data coming does not make it playable again (the screen
// would play it), only Play() does.
TEST_F(HeadlessMoviePlayerTest, AMoviePausedDuringAStallStaysPausedWhenTheDataCome) {
    PlayWithTheLastSegmentLate();
    ASSERT_TRUE(Drive([&] { return Saw(MoviePlayer::kLoadStateDidChange, 5); }, 0.05));
    player_->Pause();
    const size_t loadsBefore = Values(MoviePlayer::kLoadStateDidChange).size();
    auto videoPackets = [&] {
        // The statistics are a copy: the stream's entry lives only as long as it.
        const std::vector<MovieStreamStatistics> stats = player_->Statistics();
        const MovieStreamStatistics* video = StreamOf(stats, "video");
        return video != nullptr ? video->packets : 0;
    };
    // Two seconds of pictures (25 a second) read past the stall: more than ends one.
    const size_t atPause = videoPackets();
    ASSERT_TRUE(Drive([&] { return videoPackets() >= atPause + 50; }, 0.05))
        << "no data came: " << videoPackets() << " pictures read";
    PassClock(1.0);
    EXPECT_EQ(player_->PlaybackState(), MoviePlaybackState::Paused);
    const std::vector<int> loads = Values(MoviePlayer::kLoadStateDidChange);
    EXPECT_EQ(std::vector<int>(loads.begin() + static_cast<long>(loadsBefore), loads.end()),
              std::vector<int>{})
        << "load states while paused";

    player_->Play();
    ASSERT_TRUE(Drive([&] { return Finished(); }, 0.05));
    EXPECT_EQ(Values(MoviePlayer::kLoadStateDidChange)[loadsBefore], 1);  // on Play()
    EXPECT_EQ(Values(MoviePlayer::kPlaybackDidFinish).back(), 0);
}

TEST_F(HeadlessMoviePlayerTest, FailuresFinishWithTheErrorInTheUserInfo) {
    auto log = std::make_unique<contract::MoviePlayerLog>(*player_);
    const std::string missing = origin_.Url("/nothing.m3u8");
    player_->SetContentUrl(missing);
    player_->Play();
    ASSERT_TRUE(Drive([&] { return Finished(); }));
    contract::ExpectNetworkError(*log, *player_, Error::kBadServerResponse, missing);
    EXPECT_NE(log->LastError().LocalizedDescription().find("404"), std::string::npos);

    log->Clear();
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(SvTestSupport::UnusedLoopbackPort()) + "/a.m3u8";
    player_->SetContentUrl(refused);
    player_->Play();
    ASSERT_TRUE(Drive([&] { return log->Finished(); }));
    contract::ExpectNetworkError(*log, *player_, Error::kCannotConnectToHost, refused);
}

TEST_F(HeadlessMoviePlayerTest, StopDuringAHeldOpenReturnsAtOnce) {
    SvTestSupport::TestOrigin::Fault held;
    held.headDelayMs = 10000;
    origin_.SetFault("/v0/index.m3u8", held);
    auto asked = [&] {
        for (const auto& r : origin_.Requests()) {
            if (r.path == "/v0/index.m3u8") return true;
        }
        return false;
    };
    for (const bool destroy : {false, true}) {
        player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
        player_->PrepareToPlay();
        ASSERT_TRUE(Drive(asked));
        const auto before = std::chrono::steady_clock::now();
        if (destroy) {
            player_.reset();
        } else {
            player_->Stop();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(200))
            << (destroy ? "destruction" : "stop");
        player_ = std::make_unique<HeadlessMoviePlayer>();
    }
    for (int i = 0; i < 10; ++i) loop_.Advance(0.1);
    EXPECT_TRUE(log_->All().empty());  // an aborted open reports nothing
}

TEST_F(HeadlessMoviePlayerTest, DestroyingAPlayingPlayerLeavesNothingBehind) {
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Drive([&] { return player_->PlaybackState() == MoviePlaybackState::Playing; }));
    loop_.Advance(1.0);
    player_.reset();  // reader mid-way; its events may still sit on the loop
    const size_t count = log_->All().size();
    for (int i = 0; i < 20; ++i) loop_.Advance(0.1);
    EXPECT_EQ(log_->All().size(), count);
    player_ = std::make_unique<HeadlessMoviePlayer>();
}

TEST_F(HeadlessMoviePlayerTest, VerifyModeDecodesEveryFrame) {
    player_->SetVerify(true);
    player_->SetRate(8);
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Drive([&] { return Finished(); }, 0.05));
    const std::map<std::string, Probed> probed = ProbeStreams(folder_ + "/v0/index.m3u8");
    const std::vector<MovieStreamStatistics> stats = player_->Statistics();
    for (const char* type : {"video", "audio"}) {
        const MovieStreamStatistics* s = StreamOf(stats, type);
        ASSERT_NE(s, nullptr) << type;
        EXPECT_EQ(s->decodedFrames, probed.at(type).frames) << type;
        EXPECT_EQ(s->decodeErrors, 0u) << type;
    }
    EXPECT_EQ(StreamOf(stats, "video")->decodedFrames, Fixtures::kPlayerHlsFrames);
}

TEST_F(HeadlessMoviePlayerTest, FactoryMakesTheInstalledPlayer) {
    // A program that installed no player gets none: the application's window installs its own.
    EXPECT_EQ(MoviePlayer::Create(), nullptr);
    HeadlessMoviePlayer::MakeDefault();
    EXPECT_NE(dynamic_cast<HeadlessMoviePlayer*>(MoviePlayer::Create().get()), nullptr);
    int made = 0;
    MoviePlayer::SetFactory([&made] {
        ++made;
        auto p = std::make_unique<HeadlessMoviePlayer>();
        p->SetRate(3);
        return p;
    });
    std::unique_ptr<MoviePlayer> custom = MoviePlayer::Create();
    MoviePlayer::SetFactory(nullptr);
    EXPECT_EQ(made, 1);
    ASSERT_NE(dynamic_cast<HeadlessMoviePlayer*>(custom.get()), nullptr);
    EXPECT_EQ(static_cast<HeadlessMoviePlayer*>(custom.get())->Rate(), 3.0);
    EXPECT_EQ(MoviePlayer::Create()->ShouldAutoplay(), true);
    EXPECT_EQ(made, 1);  // the headless default is back
    MoviePlayer::SetDefaultFactory(nullptr);
}

}  // namespace
}  // namespace ns
