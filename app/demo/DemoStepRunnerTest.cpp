// The session runner on a manual clock: steps wait for their own log lines and conditions, a
// failure names its step and what was missing and ends the run, pictures come after a step
// held (and after its settling time), and the log is the runner's only while it runs.
#include "app/demo/DemoStepRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/LogWriter.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TestLoop.h"

namespace {

class DemoStepRunnerTest : public ::testing::Test {
protected:
    // The loop's seconds since the test began.
    double Now() { return std::chrono::duration<double>(loop_.Clock().Now() - start_).count(); }
    void LogAt(double seconds, const std::string& message) {
        loop_.Loop().AddTimer(ui::SecondsToDuration(seconds), false,
                              [message] { ns::Log("%@", message); });
    }
    DemoStepRunner MakeRunner() {
        return DemoStepRunner(
            [this](const std::function<bool()>& condition, double seconds) {
                waits_.push_back(seconds);
                return driver_.WaitFor(condition, seconds);
            },
            [this](const std::string& name, DemoPicture& picture, std::string& error) {
                pictures_.push_back(name + "@" + std::to_string(Now()));
                picture = picture_;
                if (!pictureError_.empty()) {
                    error = pictureError_;
                    return false;
                }
                return true;
            },
            [this](const std::string& line) { printed_.push_back(line); });
    }
    bool Printed(const std::string& part) const {
        for (const std::string& line : printed_) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }

    ui::TestLoop loop_;
    ui::Driver driver_{nullptr, &loop_.Clock()};
    std::chrono::steady_clock::time_point start_ = loop_.Clock().Now();
    std::vector<double> waits_;
    std::vector<std::string> pictures_;
    std::vector<std::string> printed_;
    std::string pictureError_;
    DemoPicture picture_;  // what the capture gives
};

TEST_F(DemoStepRunnerTest, StepsHoldOnTheirOwnLinesAndTakeTheirPicturesAfterSettling) {
    DemoStepRunner runner = MakeRunner();
    DemoStepRunner::Step first;
    first.name = "first";
    first.action = [this](std::string&) {
        LogAt(2, "[T] one done");
        return true;
    };
    first.tags = {"[T] one"};
    first.picture = "one";
    runner.Add(first);

    bool flag = false;
    DemoStepRunner::Step second;
    second.name = "second";
    second.action = [&](std::string&) {
        loop_.Loop().AddTimer(ui::SecondsToDuration(1), false, [&] { flag = true; });
        LogAt(3, "[T] two");
        return true;
    };
    second.done = [&] { return flag; };
    second.tags = {"[T] two"};
    second.timeout = 5;
    second.picture = "two";
    second.settle = 1.5;
    second.shown = [] { return std::string("shown: two"); };
    runner.Add(second);

    ASSERT_TRUE(runner.Run());
    EXPECT_EQ("", runner.FailedStep());
    // The first picture when its line came (2 s); the second one 1.5 s after its line at
    // 2 + 3 = 5 s, since the flag (at 3 s) came first.
    ASSERT_EQ(2u, pictures_.size());
    EXPECT_EQ("one@" + std::to_string(2.0), pictures_[0]);
    EXPECT_EQ("two@" + std::to_string(6.5), pictures_[1]);
    EXPECT_EQ((std::vector<double>{10, 5, 1.5}), waits_);  // 10 s: a step's default time-out
    EXPECT_TRUE(Printed("1. first: ok"));
    EXPECT_TRUE(Printed("      [T] one done"));  // the whole message that proves the tag
    EXPECT_TRUE(Printed("2. second: ok"));
    EXPECT_TRUE(Printed("      shown: two"));
    EXPECT_EQ("all 2 steps held in", printed_.back().substr(0, 19));
    EXPECT_EQ((std::vector<std::string>{"[T] one done", "[T] two"}), runner.Messages());
}

TEST_F(DemoStepRunnerTest, ALineLoggedBeforeTheStepDoesNotCount) {
    DemoStepRunner runner = MakeRunner();
    DemoStepRunner::Step before;
    before.name = "log it";
    before.action = [](std::string&) {
        ns::Log("[T] ready");
        ns::Log("[T] also");
        return true;
    };
    before.tags = {"[T] also"};
    runner.Add(before);
    // The second step asks for the same lines again, which nobody logs any more.
    DemoStepRunner::Step again;
    again.name = "wait again";
    again.tags = {"[T] ready", "[T] also"};
    again.timeout = 3;
    again.picture = "never";
    runner.Add(again);

    EXPECT_FALSE(runner.Run());
    EXPECT_EQ("wait again", runner.FailedStep());
    EXPECT_DOUBLE_EQ(3.0, Now());  // the whole time-out, then no more
    EXPECT_TRUE(pictures_.empty());
    EXPECT_TRUE(
        Printed("2. wait again: FAILED after 3.0 s: no \"[T] ready\" in the log, no "
                "\"[T] also\" in the log"));
    EXPECT_EQ("the step \"wait again\" failed", printed_.back());
}

TEST_F(DemoStepRunnerTest, AFailureNamesOnlyWhatWasMissingAndEndsTheRun) {
    DemoStepRunner runner = MakeRunner();
    DemoStepRunner::Step menu;
    menu.name = "open the menu";
    menu.action = [this](std::string&) {
        LogAt(1, "[T] tapped");
        return true;
    };
    menu.done = [] { return false; };
    menu.doneText = "the menu is not open";
    menu.tags = {"[T] tapped", "[T] slid"};
    menu.timeout = 4;
    runner.Add(menu);
    bool laterRan = false;
    DemoStepRunner::Step later;
    later.name = "later";
    later.action = [&](std::string&) {
        laterRan = true;
        return true;
    };
    runner.Add(later);

    EXPECT_FALSE(runner.Run());
    EXPECT_FALSE(laterRan);
    EXPECT_EQ("open the menu", runner.FailedStep());
    EXPECT_TRUE(Printed(
        "1. open the menu: FAILED after 4.0 s: the menu is not open, no \"[T] slid\" in the log"));
    EXPECT_FALSE(Printed("\"[T] tapped\" in the log"));
}

TEST_F(DemoStepRunnerTest, RefusedInputFailsAtOnceWithItsReason) {
    DemoStepRunner runner = MakeRunner();
    DemoStepRunner::Step tap;
    tap.name = "tap";
    tap.action = [](std::string& error) {
        error = "the button cannot be reached";
        return false;
    };
    tap.picture = "tap";
    runner.Add(tap);

    EXPECT_FALSE(runner.Run());
    EXPECT_TRUE(waits_.empty());
    EXPECT_DOUBLE_EQ(0.0, Now());
    EXPECT_TRUE(pictures_.empty());
    EXPECT_TRUE(Printed("1. tap: FAILED: the button cannot be reached"));
}

TEST_F(DemoStepRunnerTest, APictureThatCannotBeTakenFailsItsStep) {
    pictureError_ = "the window is blank";
    DemoStepRunner runner = MakeRunner();
    DemoStepRunner::Step shown;
    shown.name = "shown";
    shown.picture = "screen";
    runner.Add(shown);
    DemoStepRunner::Step next;
    next.name = "next";
    runner.Add(next);

    EXPECT_FALSE(runner.Run());
    EXPECT_EQ("shown", runner.FailedStep());
    EXPECT_TRUE(Printed("1. shown: FAILED: no picture \"screen\": the window is blank"));
}

TEST_F(DemoStepRunnerTest, APictureThatShowsTheWrongThingFailsItsStepWithTheReason) {
    picture_.width = 2;
    picture_.height = 1;
    picture_.rgb = {0, 0, 0, 255, 255, 255};
    DemoStepRunner runner = MakeRunner();
    std::vector<uint8_t> checked;
    DemoStepRunner::Step shown;
    shown.name = "shown";
    shown.picture = "screen";
    shown.checkPicture = [&checked](const DemoPicture& picture) {
        checked = picture.rgb;
        return std::string("the video area is uniform");
    };
    runner.Add(shown);
    DemoStepRunner::Step next;
    next.name = "next";
    next.picture = "next";
    runner.Add(next);

    EXPECT_FALSE(runner.Run());
    EXPECT_EQ(picture_.rgb, checked);  // the check saw the picture taken
    EXPECT_EQ("shown", runner.FailedStep());
    EXPECT_TRUE(Printed("1. shown: FAILED: picture \"screen\": the video area is uniform"));
    EXPECT_EQ(1u, pictures_.size());  // no later step ran
}

TEST_F(DemoStepRunnerTest, TheLogIsTheRunnersOnlyWhileItRuns) {
    std::vector<std::string> forwarded;
    std::vector<std::string> outside;
    ns::LogWriter::Shared().SetSink([&](const std::string& line) { outside.push_back(line); });
    DemoStepRunner runner = MakeRunner();
    runner.SetLogForward([&](const std::string& line) { forwarded.push_back(line); });
    DemoStepRunner::Step step;
    step.name = "log";
    step.action = [](std::string&) {
        ns::Log("[T] inside %d", 7);
        return true;
    };
    step.tags = {"[T] inside 7"};
    runner.Add(step);
    ns::Log("[T] before");

    ASSERT_TRUE(runner.Run());
    // Afterwards the writer is back on standard error: capture it again to look.
    ns::LogWriter::Shared().SetSink([&](const std::string& line) { outside.push_back(line); });
    ns::Log("[T] after");
    ns::LogWriter::Shared().SetSink(nullptr);

    ASSERT_EQ(1u, forwarded.size());
    // The whole line as the writer makes it: head, message, line break.
    EXPECT_NE(std::string::npos, forwarded[0].find("] [T] inside 7\n"));
    EXPECT_EQ((std::vector<std::string>{"[T] inside 7"}), runner.Messages());
    ASSERT_EQ(2u, outside.size());
    EXPECT_NE(std::string::npos, outside[0].find("[T] before"));
    EXPECT_NE(std::string::npos, outside[1].find("[T] after"));
}

}  // namespace
