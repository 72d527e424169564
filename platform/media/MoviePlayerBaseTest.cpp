#include "platform/media/MoviePlayerBase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/core/ManualClock.h"
#include "platform/core/RunLoop.h"

namespace {

using ns::MoviePlaybackState;
using ns::MoviePlayer;
using ns::Notification;

// A player with nothing of its own: ResetMedia only writes itself down in the log the
// notifications go to, so that the order of the two shows.
class StateOnlyPlayer : public ns::MoviePlayerBase {
public:
    StateOnlyPlayer(ns::NotificationCenter& center, std::vector<std::string>& log)
        : MoviePlayerBase(center), log_(log) {}

    void PrepareToPlay() override {}
    void Play() override { SetPlayWanted(true); }
    void Pause() override { SetPlayWanted(false); }
    double CurrentPlaybackTime() const override { return 0; }
    void SetCurrentPlaybackTime(double) override {}
    std::shared_ptr<ui::View> View() const override { return nullptr; }

    using MoviePlayerBase::Finish;
    using MoviePlayerBase::PlayWanted;
    using MoviePlayerBase::SetLoadState;
    using MoviePlayerBase::SetPlaybackState;

private:
    void ResetMedia() override { log_.push_back("reset"); }

    std::vector<std::string>& log_;
};

class MoviePlayerBaseTest : public ::testing::Test {
protected:
    MoviePlayerBaseTest() {
        // Every notification of the player, as "name:value" (value: the state or the reason).
        token_ = center_.AddObserver("", [this](const Notification& n) {
            EXPECT_EQ(n.sender, static_cast<const void*>(static_cast<MoviePlayer*>(player_.get())));
            std::string entry = n.name + ":";
            if (n.name == MoviePlayer::kLoadStateDidChange) {
                entry += std::to_string(n.userInfo[MoviePlayer::kLoadStateKey].IntValue());
            } else if (n.name == MoviePlayer::kPlaybackStateDidChange) {
                entry += std::to_string(n.userInfo[MoviePlayer::kPlaybackStateKey].IntValue());
            } else if (n.name == MoviePlayer::kPlaybackDidFinish) {
                entry += std::to_string(n.userInfo[MoviePlayer::kFinishReasonKey].IntValue());
                finishInfo_ = n.userInfo;
            }
            log_.push_back(entry);
        });
    }
    ~MoviePlayerBaseTest() override { center_.RemoveObserver(token_); }

    // The player as it is when it plays a movie read through to the end.
    void PlayingAndReadThrough() {
        player_->Play();
        ASSERT_TRUE(player_->SetLoadState(ns::kLoadStatePlayable));
        ASSERT_TRUE(player_->SetPlaybackState(MoviePlaybackState::Playing));
        ASSERT_TRUE(player_->SetLoadState(ns::kLoadStatePlayable | ns::kLoadStatePlaythroughOK));
        log_.clear();
    }

    static std::string Load(unsigned state) {
        return std::string(MoviePlayer::kLoadStateDidChange) + ":" + std::to_string(state);
    }
    static std::string Playback(MoviePlaybackState state) {
        return std::string(MoviePlayer::kPlaybackStateDidChange) + ":" +
               std::to_string(static_cast<int>(state));
    }
    static std::string Finished(ns::MovieFinishReason reason) {
        return std::string(MoviePlayer::kPlaybackDidFinish) + ":" +
               std::to_string(static_cast<int>(reason));
    }

    ns::RunLoop loop_{std::make_shared<ns::ManualClock>()};
    ns::NotificationCenter center_{loop_};  // on this thread: observers are called at once
    std::vector<std::string> log_;
    ns::Value finishInfo_;
    std::unique_ptr<StateOnlyPlayer> player_ = std::make_unique<StateOnlyPlayer>(center_, log_);
    uint64_t token_ = 0;
};

TEST_F(MoviePlayerBaseTest, StartsStoppedWithNothingLoadedAndTheContractsSettings) {
    EXPECT_EQ(player_->PlaybackState(), MoviePlaybackState::Stopped);
    EXPECT_EQ(player_->LoadState(), ns::kLoadStateUnknown);
    EXPECT_EQ(player_->Duration(), 0);
    EXPECT_EQ(player_->ContentUrl(), "");
    EXPECT_TRUE(player_->ShouldAutoplay());
    EXPECT_EQ(player_->ScalingMode(), ns::MovieScalingMode::AspectFit);
    EXPECT_EQ(player_->ControlStyle(), ns::MovieControlStyle::Default);
    player_->SetShouldAutoplay(false);
    player_->SetScalingMode(ns::MovieScalingMode::Fill);
    player_->SetControlStyle(ns::MovieControlStyle::None);
    EXPECT_FALSE(player_->ShouldAutoplay());
    EXPECT_EQ(player_->ScalingMode(), ns::MovieScalingMode::Fill);
    EXPECT_EQ(player_->ControlStyle(), ns::MovieControlStyle::None);
    EXPECT_TRUE(log_.empty());
}

TEST_F(MoviePlayerBaseTest, EachStateIsPostedOnlyWhenItChangesAndIsTheStateDuringThePost) {
    center_.AddObserver(MoviePlayer::kLoadStateDidChange, [this](const Notification& n) {
        EXPECT_EQ(player_->LoadState(), n.userInfo[MoviePlayer::kLoadStateKey].IntValue());
    });
    center_.AddObserver(MoviePlayer::kPlaybackStateDidChange, [this](const Notification& n) {
        EXPECT_EQ(static_cast<int>(player_->PlaybackState()),
                  n.userInfo[MoviePlayer::kPlaybackStateKey].IntValue());
    });
    EXPECT_TRUE(player_->SetLoadState(ns::kLoadStatePlayable));
    EXPECT_TRUE(player_->SetLoadState(ns::kLoadStatePlayable));
    EXPECT_TRUE(player_->SetPlaybackState(MoviePlaybackState::Playing));
    EXPECT_TRUE(player_->SetPlaybackState(MoviePlaybackState::Playing));
    EXPECT_TRUE(player_->SetLoadState(ns::kLoadStatePlayable | ns::kLoadStateStalled));
    EXPECT_EQ(log_,
              (std::vector<std::string>{Load(1), Playback(MoviePlaybackState::Playing), Load(5)}));
}

TEST_F(MoviePlayerBaseTest, StopResetsTheMediaThenPostsStoppedThenNothingLoaded) {
    PlayingAndReadThrough();
    player_->Stop();
    EXPECT_FALSE(player_->PlayWanted());
    EXPECT_EQ(log_, (std::vector<std::string>{"reset", Playback(MoviePlaybackState::Stopped),
                                              Load(ns::kLoadStateUnknown)}));
    log_.clear();
    player_->Stop();  // nothing changes: nothing is posted
    EXPECT_EQ(log_, (std::vector<std::string>{"reset"}));
}

TEST_F(MoviePlayerBaseTest, FinishPostsTheReasonAndErrorOnceStopped) {
    PlayingAndReadThrough();
    center_.AddObserver(MoviePlayer::kPlaybackDidFinish, [this](const Notification&) {
        EXPECT_EQ(player_->PlaybackState(), MoviePlaybackState::Stopped);
        EXPECT_EQ(player_->LoadState(), ns::kLoadStateUnknown);
    });
    const ns::Error error(MoviePlayer::kErrorDomain, -7, "cannot read", "http://h/a.m3u8");
    player_->Finish(ns::MovieFinishReason::PlaybackError, &error);
    EXPECT_FALSE(player_->PlayWanted());
    EXPECT_EQ(log_, (std::vector<std::string>{"reset", Playback(MoviePlaybackState::Stopped),
                                              Load(ns::kLoadStateUnknown),
                                              Finished(ns::MovieFinishReason::PlaybackError)}));
    const ns::Error posted = MoviePlayer::ErrorFromValue(finishInfo_[MoviePlayer::kErrorKey]);
    EXPECT_EQ(posted.Domain(), MoviePlayer::kErrorDomain);
    EXPECT_EQ(posted.GetCode(), -7);

    PlayingAndReadThrough();
    player_->Finish(ns::MovieFinishReason::PlaybackEnded, nullptr);
    EXPECT_EQ(log_.back(), Finished(ns::MovieFinishReason::PlaybackEnded));
    EXPECT_EQ(finishInfo_.Find(MoviePlayer::kErrorKey), nullptr);
}

TEST_F(MoviePlayerBaseTest, AnObserverThatDestroysThePlayerEndsWhatFollows) {
    PlayingAndReadThrough();
    center_.AddObserver(MoviePlayer::kPlaybackStateDidChange,
                        [this](const Notification&) { player_.reset(); });
    StateOnlyPlayer* player = player_.get();
    player->Finish(ns::MovieFinishReason::PlaybackEnded, nullptr);
    EXPECT_EQ(player_, nullptr);
    // Neither the load state nor did-finish comes from a player that is gone.
    EXPECT_EQ(log_, (std::vector<std::string>{"reset", Playback(MoviePlaybackState::Stopped)}));
}

TEST_F(MoviePlayerBaseTest, SetterReportsThatAnObserverDestroyedThePlayer) {
    center_.AddObserver(MoviePlayer::kLoadStateDidChange,
                        [this](const Notification&) { player_.reset(); });
    EXPECT_FALSE(player_->SetLoadState(ns::kLoadStatePlayable));
    EXPECT_EQ(player_, nullptr);
}

TEST_F(MoviePlayerBaseTest, ANewUrlStopsWhatPlayedAndTheSameUrlChangesNothing) {
    player_->SetContentUrl("http://h/a.m3u8");
    EXPECT_EQ(player_->ContentUrl(), "http://h/a.m3u8");
    PlayingAndReadThrough();
    player_->SetContentUrl("http://h/a.m3u8");
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(player_->PlayWanted());

    player_->SetContentUrl("http://h/b.m3u8");
    EXPECT_EQ(player_->ContentUrl(), "http://h/b.m3u8");
    EXPECT_FALSE(player_->PlayWanted());
    EXPECT_EQ(log_, (std::vector<std::string>{"reset", Playback(MoviePlaybackState::Stopped),
                                              Load(ns::kLoadStateUnknown)}));
}

TEST_F(MoviePlayerBaseTest, ANewUrlWhoseStopDestroysThePlayerTouchesNothingAfterwards) {
    player_->SetContentUrl("http://h/a.m3u8");
    PlayingAndReadThrough();
    center_.AddObserver(MoviePlayer::kPlaybackStateDidChange,
                        [this](const Notification&) { player_.reset(); });
    // Under AddressSanitizer a store into the freed player is reported here.
    player_->SetContentUrl("http://h/b.m3u8");
    EXPECT_EQ(player_, nullptr);
    EXPECT_EQ(log_, (std::vector<std::string>{"reset", Playback(MoviePlaybackState::Stopped)}));
}

}  // namespace
