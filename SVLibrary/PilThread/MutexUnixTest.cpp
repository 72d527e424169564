#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/PilThread/MutexUnix.h"
#include "tests/support/ThreadTestSupport.h"

namespace {

// Runs `f` and returns the SV exception code it threw, or -1 when it threw nothing.
template <typename F>
int CodeThrownBy(F f) {
    try {
        f();
    } catch (const SV::Exception& e) {
        return e.GetCode();
    }
    return -1;
}

TEST(Mutex, OwnerLocksRecursivelyAndUnlocksAsOften) {
    SV::Mutex m;
    m.Lock();
    m.Lock();
    m.Lock();
    m.Unlock();
    m.Unlock();
    m.Unlock();
    EXPECT_EQ(CodeThrownBy([&] { m.Unlock(); }), 0x1d);

    // Balanced: another thread can now take it.
    bool taken = false;
    std::thread other([&] {
        m.Lock();
        taken = true;
        m.Unlock();
    });
    other.join();
    EXPECT_TRUE(taken);
}

TEST(Mutex, UnlockByNonOwnerThrowsAndLeavesTheHoldIntact) {
    SV::Mutex m;
    m.Lock();
    m.Lock();

    int code = 0;
    std::thread intruder([&] { code = CodeThrownBy([&] { m.Unlock(); }); });
    intruder.join();
    EXPECT_EQ(code, 0x1d);

    std::atomic<bool> contenderHasIt{false};
    std::atomic<pid_t> contenderId{0};
    std::thread contender([&] {
        contenderId = SvTestSupport::ThisThreadId();
        m.Lock();
        contenderHasIt = true;
        m.Unlock();
    });
    // Still held twice by us: one unlock keeps the contender out, the second lets it in. Kept
    // out, it is found asleep in Lock; let in, it takes the mutex without sleeping.
    m.Unlock();
    EXPECT_TRUE(SvTestSupport::WaitUntil(
        [&] { return contenderHasIt || SvTestSupport::IsAsleep(contenderId); }));
    EXPECT_FALSE(contenderHasIt.load());
    m.Unlock();
    contender.join();
    EXPECT_TRUE(contenderHasIt.load());
    EXPECT_EQ(CodeThrownBy([&] { m.Unlock(); }), 0x1d);
}

TEST(ScopedLock, EarlyUnlockIsNotRepeatedAndLockNowFalseUnlocksNothing) {
    SV::Mutex m;
    m.Lock();  // our own hold, count 1
    {
        SV::ScopedLock early(m);  // count 2
        early.Unlock();           // count 1
        early.Unlock();           // no effect
    }
    { SV::ScopedLock idle(&m, false); }
    // Exactly our own hold is left: one unlock succeeds, the next is unbalanced.
    EXPECT_EQ(CodeThrownBy([&] { m.Unlock(); }), -1);
    EXPECT_EQ(CodeThrownBy([&] { m.Unlock(); }), 0x1d);
}

TEST(MutexedVariable, GuardsItsValueAcrossThreads) {
    SV::MutexedVariable<unsigned int> counter(5);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                SV::ScopedLock lock(counter);
                ++counter.Value();
            }
        });
    }
    for (auto& t : threads) t.join();
    SV::ScopedLock lock(counter);
    EXPECT_EQ(counter.Value(), 8005u);
    EXPECT_EQ(counter = 3u, 3u);
    EXPECT_EQ(counter.Value(), 3u);
}

}  // namespace
