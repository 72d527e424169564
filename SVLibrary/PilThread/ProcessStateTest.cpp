#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "SVLibrary/PilThread/ProcessState.h"

namespace {

TEST(ProcessState, FlagsStartClearAndStayPut) {
    EXPECT_FALSE(SV::GetTerminateFlag()->load());
    EXPECT_FALSE(SV::GetDownloadStopFlag()->load());
    EXPECT_EQ(SV::GetTerminateFlag(), SV::GetTerminateFlag());
    EXPECT_NE(static_cast<void*>(SV::GetTerminateFlag()),
              static_cast<void*>(SV::GetDownloadStopFlag()));
}

TEST(ProcessState, ActiveThreadCounterCountsItsScopeAcrossThreads) {
    const int32_t base = SV::GetActiveThreadCount()->load();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 1000; ++i) {
                SV::ActiveThreadCounter counted;
                SV::IncrementActiveThreadCount();
                SV::DecrementActiveThreadCount();
            }
        });
    }
    {
        SV::ActiveThreadCounter counted;
        for (auto& t : threads) t.join();
        EXPECT_EQ(SV::GetActiveThreadCount()->load(), base + 1);
    }
    EXPECT_EQ(SV::GetActiveThreadCount()->load(), base);
}

}  // namespace
