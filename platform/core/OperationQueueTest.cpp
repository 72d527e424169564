#include "platform/core/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(OperationQueueTest, RunsOperationsOnlyWhenDrainedAndInTheOrderAdded) {
    ns::RunLoop loop;
    ns::OperationQueue queue(loop);
    std::vector<int> ran;
    for (int i = 0; i < 5; ++i) queue.AddOperation([&ran, i] { ran.push_back(i); });
    queue.AddOperation(nullptr);  // ignored, must not break the drain
    EXPECT_TRUE(ran.empty()) << "operations ran inside AddOperation";
    loop.RunOnce(0ms);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
    loop.RunOnce(0ms);
    EXPECT_EQ(ran.size(), 5u) << "an operation ran twice";
}

TEST(OperationQueueTest, OperationsFromOtherThreadsRunOnTheDrainingThreadInPerThreadOrder) {
    ns::RunLoop loop;
    ns::OperationQueue queue(loop);
    constexpr int kThreads = 3;
    constexpr int kEach = 200;
    std::vector<std::pair<int, int>> ran;  // only touched on this thread
    std::atomic<int> wrongThread{0};
    const auto drainer = std::this_thread::get_id();
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                queue.AddOperation([&, t, i] {
                    if (std::this_thread::get_id() != drainer) ++wrongThread;
                    ran.emplace_back(t, i);
                });
            }
        });
    }
    for (auto& p : posters) p.join();
    ASSERT_TRUE(loop.RunUntil([&] { return ran.size() == kThreads * kEach; }, 5000ms));
    EXPECT_EQ(wrongThread.load(), 0);
    std::vector<int> next(kThreads, 0);
    for (const auto& [t, i] : ran) {
        EXPECT_EQ(i, next[t]) << "thread " << t << " out of order";
        next[t] = i + 1;
    }
}

TEST(OperationQueueTest, MainQueueDrainsThroughTheMainRunLoop) {
    ns::OperationQueue& main = ns::MainQueue();
    EXPECT_EQ(&main, &ns::MainQueue());
    EXPECT_EQ(&main.Loop(), &ns::RunLoop::Main());
    auto flag = std::make_shared<std::atomic<bool>>(false);
    std::thread poster([&main, flag] { main.AddOperation([flag] { *flag = true; }); });
    poster.join();
    EXPECT_FALSE(*flag);
    EXPECT_TRUE(ns::RunLoop::Main().RunUntil([&] { return flag->load(); }, 5000ms));
}

TEST(OperationQueueTest, CapturedStateIsReleasedAfterTheOperationRuns) {
    ns::RunLoop loop;
    ns::OperationQueue queue(loop);
    auto payload = std::make_shared<int>(7);
    std::weak_ptr<int> watch = payload;
    int seen = 0;
    queue.AddOperation([payload, &seen] { seen = *payload; });
    payload.reset();
    EXPECT_FALSE(watch.expired()) << "the queue must keep what the operation captured";
    loop.RunOnce(0ms);
    EXPECT_EQ(seen, 7);
    EXPECT_TRUE(watch.expired());
}

}  // namespace
