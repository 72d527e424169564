#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/ProcessState.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Time/Timer.h"
#include "tests/support/ThreadTestSupport.h"

namespace {

// A timer whose handler is a function given by the test. It cancels itself first thing in
// its destructor, while its members are still intact.
class TestTimer : public SV::Timer {
public:
    explicit TestTimer(std::function<void(TestTimer&)> handler = nullptr)
        : handler_(std::move(handler)) {}
    ~TestTimer() override { CancelTimer(); }

    void TimerExpired() override {
        firedAt = SV::PilTime::Now().Get();
        ++fired;
        firstFired.Set();
        if (handler_) handler_(*this);
    }

    std::atomic<int> fired{0};
    std::atomic<uint64_t> firedAt{0};
    SV::Event firstFired;

private:
    std::function<void(TestTimer&)> handler_;
};

TEST(Timer, ArmingTwiceFiresOnceAtTheSecondExpiry) {
    TestTimer timer;
    SV::TimerSet(&timer, 0, 30, true);
    const uint64_t beforeSecondArming = SV::PilTime::Now().Get();
    SV::TimerSet(&timer, 0, 150, true);
    ASSERT_TRUE(timer.firstFired.Wait(2000));
    EXPECT_GE(timer.firedAt.load(), beforeSecondArming + 150);

    // A sentinel armed now fires after any second firing would have come.
    TestTimer sentinel;
    SV::TimerSet(&sentinel, 0, 100, true);
    ASSERT_TRUE(sentinel.firstFired.Wait(2000));
    EXPECT_EQ(timer.fired.load(), 1);
}

TEST(Timer, HandlerThatReArmsKeepsFiring) {
    SV::Event fifth;
    // Re-armed with 0 ms: due again within the same millisecond it fired in.
    TestTimer timer([&](TestTimer& t) {
        if (t.fired.load() < 5) {
            SV::TimerSet(&t, 0, 0, true);
        } else {
            fifth.Set();
        }
    });
    SV::TimerSet(&timer, 0, 0, true);
    ASSERT_TRUE(fifth.Wait(2000));

    SV::Event third;
    TestTimer slower([&](TestTimer& t) {
        if (t.fired.load() < 3) {
            SV::TimerSet(&t, 0, 10, true);
        } else {
            third.Set();
        }
    });
    SV::TimerSet(&slower, 0, 10, true);
    ASSERT_TRUE(third.Wait(2000));

    // Any further firing of either would come before this one.
    TestTimer sentinel;
    SV::TimerSet(&sentinel, 0, 50, true);
    ASSERT_TRUE(sentinel.firstFired.Wait(2000));
    EXPECT_EQ(slower.fired.load(), 3);
    EXPECT_EQ(timer.fired.load(), 5);  // stopped re-arming: left the list
}

TEST(Timer, CancelledTimerDoesNotFire) {
    TestTimer cancelled;
    TestTimer sentinel;
    // Far enough out that the cancel surely comes first.
    SV::TimerSet(&cancelled, 0, 300, true);
    SV::TimerSet(&sentinel, 0, 400, true);
    cancelled.CancelTimer();
    ASSERT_TRUE(sentinel.firstFired.Wait(2000));
    EXPECT_EQ(cancelled.fired.load(), 0);
}

TEST(Timer, DestroyingATimerWhileItsHandlerRunsWaitsForIt) {
    SV::Event entered;
    std::atomic<bool> handlerDone{false};
    auto* timer = new TestTimer([&](TestTimer&) {
        entered.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        handlerDone = true;
    });
    SV::TimerSet(timer, 0, 0, true);
    ASSERT_TRUE(entered.Wait(2000));
    delete timer;
    EXPECT_TRUE(handlerDone.load());

    // The manager carries on.
    TestTimer next;
    SV::TimerSet(&next, 0, 0, true);
    EXPECT_TRUE(next.firstFired.Wait(2000));
}

TEST(Timer, HandlerMayDeleteItsOwnTimer) {
    SV::Event deleted;
    struct SelfDeleting : SV::Timer {
        SV::Event* deleted = nullptr;
        ~SelfDeleting() override {
            CancelTimer();  // on the manager thread, inside the handler: must not wait
            deleted->Set();
        }
        void TimerExpired() override { delete this; }
    };
    auto* timer = new SelfDeleting;
    timer->deleted = &deleted;
    SV::TimerSet(timer, 0, 0, true);
    ASSERT_TRUE(deleted.Wait(2000));

    TestTimer next;
    SV::TimerSet(&next, 0, 0, true);
    EXPECT_TRUE(next.firstFired.Wait(2000));
}

TEST(Timer, ThrowingHandlerDoesNotStopTheManager) {
    TestTimer throwsStd([](TestTimer&) { throw std::runtime_error("handler failed"); });
    TestTimer throwsOther([](TestTimer&) { throw 7; });
    SV::TimerSet(&throwsStd, 0, 0, true);
    SV::TimerSet(&throwsOther, 0, 0, true);
    ASSERT_TRUE(throwsStd.firstFired.Wait(2000));
    ASSERT_TRUE(throwsOther.firstFired.Wait(2000));
    TestTimer next;
    SV::TimerSet(&next, 0, 10, true);
    EXPECT_TRUE(next.firstFired.Wait(2000));
}

TEST(Timer, AbsoluteExpiryInThePastFiresAtOnce) {
    TestTimer timer;
    SV::TimerSet(&timer, 1, 500, false);  // 1.5 s after the epoch
    EXPECT_TRUE(timer.firstFired.Wait(2000));
}

TEST(TimerManager, ThreadExistsOnceATimerWasArmed) {
    TestTimer timer;
    SV::TimerSet(&timer, 0, 0, true);
    EXPECT_GT(SvTestSupport::ThreadsNamed("SvlTimerManager"), 0);
    ASSERT_TRUE(timer.firstFired.Wait(2000));
    EXPECT_GE(SV::GetActiveThreadCount()->load(), 1);  // the manager counts itself in
}

TEST(TimerManager, EndsWhenTheProcessTerminatesAndComesBackAfter) {
    TestTimer timer;
    SV::GetTerminateFlag()->store(true);
    // A manager that exists ends at its next scan; none is made while the flag stands.
    int code = -1;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (code == -1 && std::chrono::steady_clock::now() < give_up) {
        try {
            SV::TimerSet(&timer, 0, 0, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } catch (const SV::Exception& e) {
            code = e.GetCode();
        }
    }
    SV::GetTerminateFlag()->store(false);
    EXPECT_EQ(code, SV::SVL_ProcessTerminating);
    EXPECT_EQ(timer.fired.load(), 0);

    SV::TimerSet(&timer, 0, 0, true);
    EXPECT_TRUE(timer.firstFired.Wait(2000));
}

TEST(Timer, NullTimerIsRejected) {
    try {
        SV::TimerSet(nullptr, 0, 0, true);
        FAIL() << "no exception";
    } catch (const SV::Exception& e) {
        EXPECT_EQ(e.GetCode(), SV::SVL_InvalidParameter);
    }
}

}  // namespace
