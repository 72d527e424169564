// What the half-second tick makes of the movie player's position and duration: the progress
// the portal stores, the window in which it is worth storing, and completion, with a movie
// player whose state the test sets itself (a live stream has no duration, a long title is not
// played for hours).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/QplayerTestFixture.h"
#include "platform/core/NotificationCenter.h"

namespace {

using QplayerTest::QplayerTestBase;

// A movie player that plays nothing: position, duration and states are what the test says.
class ScriptedMoviePlayer : public ns::MoviePlayer {
public:
    void SetContentUrl(const std::string& url) override { url_ = url; }
    const std::string& ContentUrl() const override { return url_; }
    void PrepareToPlay() override {}
    void Play() override { SetState(ns::MoviePlaybackState::Playing); }
    void Pause() override { SetState(ns::MoviePlaybackState::Paused); }
    void Stop() override { state_ = ns::MoviePlaybackState::Stopped; }
    double CurrentPlaybackTime() const override { return time; }
    void SetCurrentPlaybackTime(double seconds) override { time = seconds; }
    double Duration() const override { return duration; }
    ns::MoviePlaybackState PlaybackState() const override { return state_; }
    unsigned LoadState() const override { return loadState_; }
    ns::MovieScalingMode ScalingMode() const override { return mode_; }
    void SetScalingMode(ns::MovieScalingMode mode) override { mode_ = mode; }
    ns::MovieControlStyle ControlStyle() const override { return ns::MovieControlStyle::None; }
    void SetControlStyle(ns::MovieControlStyle) override {}
    bool ShouldAutoplay() const override { return true; }
    void SetShouldAutoplay(bool) override {}
    std::shared_ptr<ui::View> View() const override { return view_; }

    void BecomePlayable() {
        loadState_ = ns::kLoadStatePlayable;
        ns::Dictionary info;
        info.Set(kLoadStateKey, loadState_);
        ns::NotificationCenter::Default().Post(kLoadStateDidChange, this, ns::Value(info));
    }

    double time = 0;
    double duration = 0;

private:
    void SetState(ns::MoviePlaybackState state) {
        state_ = state;
        ns::Dictionary info;
        info.Set(kPlaybackStateKey, static_cast<int>(state));
        ns::NotificationCenter::Default().Post(kPlaybackStateDidChange, this, ns::Value(info));
    }

    std::string url_;
    ns::MoviePlaybackState state_ = ns::MoviePlaybackState::Stopped;
    unsigned loadState_ = 0;
    ns::MovieScalingMode mode_ = ns::MovieScalingMode::AspectFit;
    std::shared_ptr<ui::View> view_ = std::make_shared<ui::View>();
};

class QplayerProgressTest : public QplayerTestBase {
protected:
    void SetUp() override {
        QplayerTestBase::SetUp();
        delegate_->dismisses = false;
        ns::MoviePlayer::SetFactory([this]() -> std::unique_ptr<ns::MoviePlayer> {
            auto player = std::make_unique<ScriptedMoviePlayer>();
            movie_ = player.get();
            return player;
        });
        Open(PlaybackUrl("103"));
        ASSERT_TRUE(WaitReal([&] { return movie_ != nullptr; }, 10));
    }
    // Puts the movie at `time` of `duration` and lets two ticks pass.
    void At(double time, double duration) {
        movie_->time = time;
        movie_->duration = duration;
        RunFor(1.0, 0.5);
    }

    ScriptedMoviePlayer* movie_ = nullptr;
};

TEST_F(QplayerProgressTest, AnUnknownDurationNeverCompletesNorStores) {
    movie_->BecomePlayable();
    ASSERT_TRUE(player_->isPlaying());
    At(30, 0);
    EXPECT_EQ(30, player_->currentProgress());
    EXPECT_FALSE(player_->shouldStoreCurrentProgress());
    EXPECT_TRUE(delegate_->calls.empty());
    // Once known, 40 s complete past 36 s, and only once.
    At(36, 40);
    EXPECT_TRUE(delegate_->calls.empty());
    At(37, 40);
    At(38, 40);
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);
}

TEST_F(QplayerProgressTest, ProgressIsWorthStoringFromTwoMinutesToFiveBeforeTheEnd) {
    movie_->duration = 7200;
    movie_->BecomePlayable();
    At(90, 7200);  // 1:30
    EXPECT_EQ(90, player_->currentProgress());
    EXPECT_FALSE(player_->shouldStoreCurrentProgress());
    At(120.9, 7200);
    EXPECT_FALSE(player_->shouldStoreCurrentProgress());
    At(121, 7200);
    EXPECT_TRUE(player_->shouldStoreCurrentProgress());
    At(600, 7200);  // 10:00 of two hours
    EXPECT_EQ(600, player_->currentProgress());
    EXPECT_TRUE(player_->shouldStoreCurrentProgress());
    At(6899.5, 7200);
    EXPECT_TRUE(player_->shouldStoreCurrentProgress());
    At(6900, 7200);  // the last five minutes
    EXPECT_FALSE(player_->shouldStoreCurrentProgress());
    EXPECT_TRUE(delegate_->calls.empty());
}

}  // namespace
