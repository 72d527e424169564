#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SVLibrary/PilThread/Event.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(Event, WaitWithZeroTimeoutReportsTheState) {
    SV::Event initiallySet(true);
    EXPECT_TRUE(initiallySet.Wait(0));
    EXPECT_TRUE(initiallySet.Wait(SV::kInfiniteWait));  // stays set: manual reset

    SV::Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, LimitedWaitRunsOutOnAClearEvent) {
    SV::Event e;
    const auto start = Clock::now();
    EXPECT_FALSE(e.Wait(60));
    EXPECT_GE(ElapsedMs(start), 59);
}

TEST(Event, SetWakesEveryWaiterWithAndWithoutLimit) {
    SV::Event e;
    bool unlimited = false;
    bool limited = false;
    std::thread a([&] { unlimited = e.Wait(SV::kInfiniteWait); });
    std::thread b([&] { limited = e.Wait(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = Clock::now();
    e.Set();
    a.join();
    b.join();
    EXPECT_TRUE(unlimited);
    EXPECT_TRUE(limited);
    EXPECT_LT(ElapsedMs(start), 5000);  // woken by the set, not by the 10 s limit
}

TEST(Event, DeadlineCarriesIntoTheNextSecond) {
    struct Case {
        time_t sec;
        long nsec;
        uint32_t ms;
        time_t wantSec;
        long wantNsec;
    };
    const Case cases[] = {
        {12, 700000000L, 1500, 14, 200000000L},  // 12.7 s + 1.5 s
        {12, 700000000L, 300, 13, 0L},           // exactly onto the next second
        {12, 699999999L, 300, 12, 999999999L},   // one nanosecond short of it
        {0, 0L, 0, 0, 0L},
        {5, 999999999L, 0xFFFFFFFEu, 4294973, 293999999L},  // longest limited wait
    };
    for (const Case& c : cases) {
        timespec start{};
        start.tv_sec = c.sec;
        start.tv_nsec = c.nsec;
        const timespec d = SV::Event::DeadlineAfter(start, c.ms);
        EXPECT_EQ(d.tv_sec, c.wantSec) << c.ms;
        EXPECT_EQ(d.tv_nsec, c.wantNsec) << c.ms;
    }
}

}  // namespace
