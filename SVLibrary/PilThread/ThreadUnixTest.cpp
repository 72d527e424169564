#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "tests/support/ThreadTestSupport.h"

namespace {

int ReturnSeven() { return 7; }

// A functor whose Run waits until the test lets it go, then returns a chosen code.
struct Gate {
    explicit Gate(int code = 0) : code(code) {}
    int Run() {
        entered.Set();
        release.Wait(SV::kInfiniteWait);
        return code;
    }
    int code;
    SV::Event entered;
    SV::Event release;
};

TEST(Thread, ReturnsTheFunctorsExitCode) {
    SV::Thread thread("Seven", new SV::CFunctorNoP(&ReturnSeven), true, false, 3);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.IsFinished());
    thread.Start();
    EXPECT_TRUE(thread.WaitForExit(SV::kInfiniteWait));
    EXPECT_EQ(thread.GetExitCode(), 7);
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.IsEndedByException());
    EXPECT_TRUE(thread.WaitForExit(0));
}

TEST(Thread, IsRunningWhileTheFunctorRuns) {
    Gate gate(42);
    SV::Thread thread("Gate", new SV::CppFunctorNoP<Gate>(&Gate::Run, &gate), true, false, 3);
    thread.Start();
    ASSERT_TRUE(gate.entered.Wait(2000));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(thread.WaitForExit(10));
    gate.release.Set();
    EXPECT_TRUE(thread.WaitForExit(SV::kInfiniteWait));
    EXPECT_EQ(thread.GetExitCode(), 42);
}

// A functor that asks its own thread object, from inside, whether the caller is that thread.
struct SelfCheck {
    int Run() {
        inside = thread->IsCallerTheThread() ? 1 : 0;
        return 0;
    }
    SV::Thread* thread = nullptr;
    std::atomic<int> inside{-1};
};

TEST(Thread, TellsItsOwnThreadFromEveryOther) {
    SelfCheck check;
    SV::Thread thread("Self", new SV::CppFunctorNoP<SelfCheck>(&SelfCheck::Run, &check), true,
                      false, 3);
    check.thread = &thread;
    EXPECT_FALSE(thread.IsCallerTheThread()) << "created, not started: the creator is not it";
    thread.Start();
    ASSERT_TRUE(thread.WaitForExit(SV::kInfiniteWait));
    EXPECT_EQ(check.inside.load(), 1);
    EXPECT_FALSE(thread.IsCallerTheThread());
    bool fromOther = true;
    std::thread other([&] { fromOther = thread.IsCallerTheThread(); });
    other.join();
    EXPECT_FALSE(fromOther);
}

TEST(Thread, SixtyFourMadeInATightLoopNeverThrow) {
    struct Worker {
        int index = 0;
        int Run() { return index; }
    };
    constexpr int kCount = 64;
    std::vector<Worker> workers(kCount);
    std::vector<std::unique_ptr<SV::Thread>> threads;
    for (int i = 0; i < kCount; ++i) {
        workers[i].index = 1000 + i;
        ASSERT_NO_THROW(threads.emplace_back(new SV::Thread(
            "Worker", new SV::CppFunctorNoP<Worker>(&Worker::Run, &workers[i]), true, false, 3)));
    }
    for (auto& t : threads) t->Start();
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(threads[i]->WaitForExit(SV::kInfiniteWait));
        EXPECT_EQ(threads[i]->GetExitCode(), 1000 + i);
    }
}

TEST(Thread, NeverStartedThreadIsReleasedWithoutRunningItsFunctor) {
    struct Probe {
        std::atomic<bool> ran{false};
        int Run() {
            ran = true;
            return 0;
        }
    } probe;
    {
        SV::Thread thread("NeverStarted", new SV::CppFunctorNoP<Probe>(&Probe::Run, &probe), true,
                          false, 3);
        EXPECT_GT(SvTestSupport::ThreadsNamed("NeverStarted"), 0);
    }
    EXPECT_FALSE(probe.ran.load());
    // Joined, not left behind. The kernel may list a just-joined task for a moment longer.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (SvTestSupport::ThreadsNamed("NeverStarted") > 0 &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(SvTestSupport::ThreadsNamed("NeverStarted"), 0);
}

TEST(Thread, DestroyingAStartedThreadWaitsForItsFunctor) {
    struct Slow {
        std::atomic<bool> done{false};
        int Run() {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            done = true;
            return 0;
        }
    } slow;
    {
        SV::Thread thread("Slow", new SV::CppFunctorNoP<Slow>(&Slow::Run, &slow), true, false, 3);
        thread.Start();
    }
    EXPECT_TRUE(slow.done.load());
}

TEST(Thread, NamesAreCutAndVisibleToTheSystem) {
    Gate gate;
    SV::Thread thread("NameProbeThread12345", new SV::CppFunctorNoP<Gate>(&Gate::Run, &gate), true,
                      false, 3);
    EXPECT_STREQ(thread.GetName(), "NameProbeThread1");  // 16 characters kept
    thread.Start();
    ASSERT_TRUE(gate.entered.Wait(2000));
    EXPECT_GT(SvTestSupport::ThreadsNamed("NameProbeThread"), 0);  // the kernel's 15
    gate.release.Set();
    EXPECT_TRUE(thread.WaitForExit(SV::kInfiniteWait));

    SV::Thread unnamed(nullptr, new SV::CFunctorNoP(&ReturnSeven), true, false, 3);
    EXPECT_STREQ(unnamed.GetName(), "");
}

struct Thrower {
    int kind = 0;
    int Run() {
        switch (kind) {
            case 0: throw SV::SVLibraryException(SV::SVL_CouldNotOpenPort);
            case 1: throw std::runtime_error("boom");
            default: throw 42;
        }
    }
};

TEST(Thread, WhateverTheFunctorThrowsIsKeptInsideTheThread) {
    const struct {
        int kind;
        uint8_t storedCode;
    } cases[] = {
        {0, SV::SVL_CouldNotOpenPort},
        {1, SV::SVL_ThreadExitStdException},      // 0x06
        {2, SV::SVL_ThreadExitUnknownException},  // 0x07
    };
    for (const auto& c : cases) {
        Thrower thrower;
        thrower.kind = c.kind;
        SV::Thread thread("Thrower", new SV::CppFunctorNoP<Thrower>(&Thrower::Run, &thrower), true,
                          false, 3);
        thread.Start();
        EXPECT_TRUE(thread.WaitForExit(SV::kInfiniteWait)) << c.kind;
        EXPECT_TRUE(thread.IsEndedByException()) << c.kind;
        EXPECT_EQ(thread.GetStoredException().GetCode(), c.storedCode) << c.kind;
        EXPECT_EQ(thread.GetExitCode(), -2) << c.kind;
    }
}

int AllSignalsBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1 &&
           sigismember(&mask, SIGUSR1) == 1 && sigismember(&mask, SIGPIPE) == 1;
}

TEST(Thread, RunsWithEverySignalBlockedAndLeavesTheCreatorsMaskAlone) {
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, nullptr, &before);
    SV::Thread thread("Signals", new SV::CFunctorNoP(&AllSignalsBlocked), true, false, 3);
    sigset_t after;
    pthread_sigmask(SIG_BLOCK, nullptr, &after);
    for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGPIPE}) {
        EXPECT_EQ(sigismember(&before, sig), sigismember(&after, sig)) << sig;
    }
    thread.Start();
    ASSERT_TRUE(thread.WaitForExit(SV::kInfiniteWait));
    EXPECT_EQ(thread.GetExitCode(), 1);
}

TEST(Thread, NullFunctorThrowsCreationError) {
    try {
        SV::Thread thread("Null", nullptr, true, false, 3);
        FAIL() << "no exception";
    } catch (const SV::Exception& e) {
        EXPECT_EQ(e.GetCode(), SV::SVL_ThreadCreation);
    }
    EXPECT_EQ(SvTestSupport::ThreadsNamed("Null"), 0);
}

// An auto-delete thread: deletes itself when its functor returns.
class SelfDeleting : public SV::Thread {
public:
    SelfDeleting(Gate* gate, SV::Event* destroyed)
        : SV::Thread("SelfDeleting", new SV::CppFunctorNoP<Gate>(&Gate::Run, gate), true, true, 3),
          destroyed_(destroyed) {}
    ~SelfDeleting() override { destroyed_->Set(); }

private:
    SV::Event* destroyed_;
};

TEST(Thread, AutoDeleteThreadDeletesItselfOnItsOwnThread) {
    Gate gate;
    SV::Event destroyed;
    auto* thread = new SelfDeleting(&gate, &destroyed);
    EXPECT_TRUE(thread->AutoDeleteCheck());  // not started yet: its creator may use it
    thread->Start();
    ASSERT_TRUE(gate.entered.Wait(2000));
    // Started and auto-delete: another thread must no longer use the object (it is still
    // alive here, held by the gate).
    EXPECT_FALSE(thread->AutoDeleteCheck());
    EXPECT_FALSE(destroyed.Wait(0));
    gate.release.Set();
    EXPECT_TRUE(destroyed.Wait(2000));
}

TEST(Thread, NeverStartedAutoDeleteThreadCanBeDestroyedByItsCreator) {
    Gate gate;
    SV::Event destroyed;
    delete new SelfDeleting(&gate, &destroyed);
    EXPECT_TRUE(destroyed.Wait(0));
    EXPECT_FALSE(gate.entered.Wait(20));
}

}  // namespace
