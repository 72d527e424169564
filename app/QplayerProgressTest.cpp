// What the half-second tick makes of the movie player's position and duration: the progress
// the portal stores, the window in which it is worth storing, and completion, with a movie
// player whose state the test sets itself (a live stream has no duration, a long title is not
// played for hours).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/QplayerTestFixture.h"
#include "app/testing/ScriptedMoviePlayer.h"

namespace {

using AppTestSupport::ScriptedMoviePlayer;
using QplayerTest::QplayerTestBase;

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
