#include "platform/core/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ns::Notification;
using ns::NotificationCenter;
using ns::RunLoop;

TEST(NotificationCenterTest, ObserversGetTheirNamesInOrderAndCanBeRemoved) {
    RunLoop loop(std::make_shared<ns::ManualClock>());
    NotificationCenter center(loop);
    std::vector<std::string> log;
    uint64_t a = center.AddObserver("WillResignActive", [&](const Notification& n) {
        log.push_back("a:" + n.name + ":" + n.userInfo["reason"].StringValue());
    });
    center.AddObserver("WillResignActive", [&](const Notification&) { log.push_back("b"); });
    center.AddObserver("", [&](const Notification& n) { log.push_back("any:" + n.name); });
    center.AddObserver("Other", [&](const Notification&) { log.push_back("other"); });

    ns::Value info = ns::Dictionary();
    info.Set("reason", "call");
    center.Post("WillResignActive", nullptr, info);  // on the loop thread: delivered at once
    EXPECT_EQ(log,
              (std::vector<std::string>{"a:WillResignActive:call", "b", "any:WillResignActive"}));
    log.clear();
    center.RemoveObserver(a);
    center.RemoveObserver(a);      // twice: ignored
    center.RemoveObserver(99999);  // unknown: ignored
    center.Post("WillResignActive");
    EXPECT_EQ(log, (std::vector<std::string>{"b", "any:WillResignActive"}));
    EXPECT_EQ(center.ObserverCount(), 3u);
}

TEST(NotificationCenterTest, SenderFilter) {
    RunLoop loop(std::make_shared<ns::ManualClock>());
    NotificationCenter center(loop);
    int playerA = 0, playerB = 0, any = 0;
    int a = 1, b = 2;
    center.AddObserver(
        "LoadStateDidChange", [&](const Notification&) { ++playerA; }, &a);
    center.AddObserver(
        "LoadStateDidChange", [&](const Notification&) { ++playerB; }, &b);
    center.AddObserver("LoadStateDidChange", [&](const Notification& n) {
        ++any;
        EXPECT_TRUE(n.sender == &a || n.sender == &b);
    });
    center.Post("LoadStateDidChange", &a);
    center.Post("LoadStateDidChange", &a);
    center.Post("LoadStateDidChange", &b);
    EXPECT_EQ(playerA, 2);
    EXPECT_EQ(playerB, 1);
    EXPECT_EQ(any, 3);
}

TEST(NotificationCenterTest, ObserverRemovedDuringAPostIsNotCalledAfterwards) {
    RunLoop loop(std::make_shared<ns::ManualClock>());
    NotificationCenter center(loop);
    std::vector<std::string> log;
    uint64_t second = 0;
    center.AddObserver("N", [&](const Notification&) {
        log.push_back("first");
        center.RemoveObserver(second);
        // Adding during a post: the new observer waits for the next notification.
        center.AddObserver("N", [&](const Notification&) { log.push_back("late"); });
    });
    second = center.AddObserver("N", [&](const Notification&) { log.push_back("second"); });
    center.Post("N");
    EXPECT_EQ(log, std::vector<std::string>{"first"});
    // An observer that removes itself and posts again from inside its own call.
    uint64_t self = 0;
    int selfCalls = 0;
    self = center.AddObserver("M", [&](const Notification&) {
        ++selfCalls;
        center.RemoveObserver(self);
        center.Post("M");
    });
    center.Post("M");
    EXPECT_EQ(selfCalls, 1);
}

TEST(NotificationCenterTest, PostsFromOtherThreadsLandOnTheLoopThreadInOrder) {
    RunLoop loop;
    NotificationCenter center(loop);
    std::vector<int> received;
    std::vector<std::thread::id> threads;
    center.AddObserver("Event", [&](const Notification& n) {
        received.push_back(static_cast<int>(n.userInfo.Int64Value()));
        threads.push_back(std::this_thread::get_id());
    });
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) center.Post("Event", nullptr, ns::Value(i));
    });
    poster.join();
    EXPECT_TRUE(received.empty());  // nothing runs on the posting thread
    EXPECT_TRUE(loop.RunUntil([&] { return received.size() == 50; }, 2000ms));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(received[i], i);
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(NotificationCenterTest, ObserverRemovedBeforeAQueuedDeliveryRunsIsNotCalled) {
    RunLoop loop;
    int calls = 0;
    {
        NotificationCenter center(loop);
        uint64_t token = center.AddObserver("X", [&](const Notification&) { ++calls; });
        std::thread([&] { center.Post("X"); }).join();
        center.RemoveObserver(token);
        loop.RunOnce(0ms);
        EXPECT_EQ(calls, 0);
        std::thread([&] { center.Post("X"); }).join();
        center.AddObserver("X", [&](const Notification&) { ++calls; });
    }
    // The centre is gone before its queued delivery runs: nothing is called, nothing breaks.
    loop.RunOnce(0ms);
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, DefaultCentreDeliversOnTheMainLoopWhoeverTouchedItFirst) {
    std::atomic<bool> otherIsLoopThread{true};
    std::atomic<int> calls{0};
    std::thread::id calledOn;
    std::thread engine([&] {
        // An engine thread may be the first to touch the main loop and the default centre.
        auto& center = NotificationCenter::Default();
        center.AddObserver("EngineEvent", [&](const Notification&) {
            calledOn = std::this_thread::get_id();
            ++calls;
        });
        center.Post("EngineEvent");
        otherIsLoopThread = RunLoop::Main().IsLoopThread();
    });
    engine.join();
    EXPECT_FALSE(otherIsLoopThread.load());
    EXPECT_EQ(calls.load(), 0);  // not delivered on the engine thread
    EXPECT_TRUE(RunLoop::Main().RunUntil([&] { return calls.load() == 1; }, 2000ms));
    EXPECT_EQ(calledOn, std::this_thread::get_id());
    EXPECT_TRUE(RunLoop::Main().IsLoopThread());
}

TEST(NotificationCenterTest, RemovalFromAnotherThreadWaitsForTheRunningCall) {
    RunLoop loop;
    NotificationCenter center(loop);
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    bool finished = false;
    bool finishedWhenRemoveReturned = false;
    bool secondCall = false;
    const uint64_t token = center.AddObserver("Slow", [&](const Notification&) {
        std::unique_lock<std::mutex> lock(mutex);
        if (entered) {
            secondCall = true;
            return;
        }
        entered = true;
        changed.notify_all();
        // Held until the remover has returned, or for a moment: a removal that does not wait
        // returns long before this call ends, one that waits returns after it.
        changed.wait_for(lock, 300ms, [&] { return release; });
        finished = true;
    });
    std::thread remover([&] {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return entered; });
        }
        center.RemoveObserver(token);
        std::lock_guard<std::mutex> lock(mutex);
        finishedWhenRemoveReturned = finished;
        release = true;
        changed.notify_all();
    });
    center.Post("Slow");  // on the loop thread: delivered at once
    remover.join();
    center.Post("Slow");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(finishedWhenRemoveReturned);
    EXPECT_FALSE(secondCall);
    EXPECT_EQ(center.ObserverCount(), 0u);
}

TEST(NotificationCenterTest, ObserversRemovingThemselvesOrEachOtherDoNotWait) {
    RunLoop loop;
    NotificationCenter center(loop);
    int calls = 0;
    uint64_t self = 0;
    uint64_t other = 0;
    self = center.AddObserver("X", [&](const Notification&) {
        ++calls;
        center.RemoveObserver(self);   // inside its own call: must not wait for itself
        center.RemoveObserver(other);  // another observer of the same notification
    });
    other = center.AddObserver("X", [&](const Notification&) { ++calls; });
    center.Post("X");
    center.Post("X");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(center.ObserverCount(), 0u);

    // Delivered from a queued post on the loop thread, removed from inside as well.
    uint64_t queued = 0;
    queued = center.AddObserver("Y", [&](const Notification&) {
        ++calls;
        center.RemoveObserver(queued);
    });
    std::thread([&] { center.Post("Y"); }).join();
    EXPECT_TRUE(loop.RunUntil([&] { return calls == 2; }, 5000ms));
    EXPECT_EQ(center.ObserverCount(), 0u);
}

}  // namespace
