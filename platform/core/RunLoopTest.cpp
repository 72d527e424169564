#include "platform/core/RunLoop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestOrigin.h"

namespace {

using namespace std::chrono_literals;
using ns::ManualClock;
using ns::RunLoop;

// Steps a loop on a manual clock forward in equal slices, one step per slice.
void StepFor(RunLoop& loop, ManualClock& clock, std::chrono::milliseconds total,
             std::chrono::milliseconds slice) {
    for (auto t = 0ms; t < total; t += slice) {
        clock.Advance(slice);
        loop.RunOnce(0ms);
    }
}

TEST(RunLoopTest, OneShotFiresOnceAtItsDueTimeAndNeverBefore) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    const auto start = clock->Now();
    std::vector<std::chrono::steady_clock::duration> firedAt;
    loop.AddTimer(35s, false, [&] { firedAt.push_back(clock->Now() - start); });

    loop.RunOnce(0ms);
    StepFor(loop, *clock, 34900ms, 100ms);  // up to 34.9 s
    EXPECT_TRUE(firedAt.empty());
    clock->Advance(99ms);  // 34.999 s
    loop.RunOnce(0ms);
    EXPECT_TRUE(firedAt.empty());
    clock->Advance(1ms);  // exactly 35 s
    loop.RunOnce(0ms);
    ASSERT_EQ(firedAt.size(), 1u);
    EXPECT_EQ(firedAt[0], std::chrono::steady_clock::duration(35s));
    StepFor(loop, *clock, 60s, 500ms);
    EXPECT_EQ(firedAt.size(), 1u);
    EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST(RunLoopTest, RepeatingTimerFiresOncePerIntervalAndSkipsMissedFirings) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    int fired = 0;
    uint64_t id = loop.AddTimer(500ms, true, [&] { ++fired; });
    StepFor(loop, *clock, 35s, 100ms);
    EXPECT_EQ(fired, 70);  // 35 s / 0.5 s

    // The loop falls 10.2 s behind: one firing, not twenty bunched together ...
    clock->Advance(10200ms);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, 71);
    // ... and the timer stays on its grid: due at 45.5 s, i.e. 0.3 s after now (45.2 s).
    clock->Advance(299ms);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, 71);
    clock->Advance(1ms);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, 72);

    loop.CancelTimer(id);
    StepFor(loop, *clock, 5s, 100ms);
    EXPECT_EQ(fired, 72);
}

TEST(RunLoopTest, TimersFireInDueOrderAndTiesInCreationOrder) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    std::string order;
    loop.AddTimer(3s, false, [&] { order += 'c'; });
    loop.AddTimer(1s, false, [&] { order += 'a'; });
    loop.AfterDelay(2s, [&] { order += 'b'; });
    loop.AddTimer(2s, false, [&] { order += 'B'; });
    loop.AddTimer(-5s, false, [&] { order += '0'; });  // a negative delay means "now"
    clock->Advance(10s);
    loop.RunOnce(0ms);
    EXPECT_EQ(order, "0abBc");
}

TEST(RunLoopTest, TimersCancelledFromHandlersStop) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    int selfCancelling = 0;
    uint64_t selfId = 0;
    selfId = loop.AddTimer(1s, true, [&] {
        if (++selfCancelling == 3) loop.CancelTimer(selfId);
    });
    int oneShot = 0;
    uint64_t oneShotId = 0;
    oneShotId = loop.AddTimer(1s, false, [&] {
        ++oneShot;
        loop.CancelTimer(oneShotId);  // already finished: nothing happens
    });
    // Two timers due in the same step; the first cancels the second, which must not run.
    int victim = 0;
    uint64_t victimId = 0;
    loop.AddTimer(2500ms, false, [&] { loop.CancelTimer(victimId); });
    victimId = loop.AddTimer(2500ms, false, [&] { ++victim; });

    StepFor(loop, *clock, 10s, 250ms);
    EXPECT_EQ(selfCancelling, 3);
    EXPECT_EQ(oneShot, 1);
    EXPECT_EQ(victim, 0);
    EXPECT_EQ(loop.TimerCount(), 0u);
    loop.CancelTimer(12345);  // unknown id: nothing happens
}

TEST(RunLoopTest, TimerAddedFromAHandlerWaitsForItsOwnDueTime) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    int inner = 0;
    loop.AddTimer(1s, false, [&] { loop.AddTimer(0ms, false, [&] { ++inner; }); });
    clock->Advance(1s);
    loop.RunOnce(0ms);
    EXPECT_EQ(inner, 0);  // added after this step's due list was taken
    loop.RunOnce(0ms);
    EXPECT_EQ(inner, 1);
}

TEST(RunLoopTest, PostsRunInOrderAndPostsFromPostsRunNextStep) {
    RunLoop loop(std::make_shared<ManualClock>());
    std::string log;
    loop.Post([&] {
        log += '1';
        loop.Post([&] { log += '3'; });
    });
    loop.Post([&] { log += '2'; });
    loop.Post(nullptr);  // ignored
    loop.RunOnce(0ms);
    EXPECT_EQ(log, "12");
    loop.RunOnce(0ms);
    EXPECT_EQ(log, "123");
}

TEST(RunLoopTest, PostFromAnotherThreadWakesTheLoopWaitingInCurlPoll) {
    RunLoop loop;
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread poster([&] {
        std::this_thread::sleep_for(100ms);  // let the loop settle into its wait
        loop.Post([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    const auto before = std::chrono::steady_clock::now();
    // One step that would wait 30 s unless woken.
    loop.RunOnce(30000ms);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_TRUE(loop.RunUntil([&] { return ran.load(); }, 2000ms));
    poster.join();
    EXPECT_LT(waited, std::chrono::steady_clock::duration(2s));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(loop.IsLoopThread());
}

TEST(RunLoopTest, ManualClockWaitIsBoundedByMaxWaitInRealTime) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    int fired = 0;
    loop.AddTimer(1h, false, [&] { ++fired; });
    const auto before = std::chrono::steady_clock::now();
    loop.RunOnce(20ms);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::steady_clock::duration(2s));
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 30ms));
}

TEST(RunLoopTest, StopFromAnotherThreadEndsRun) {
    RunLoop loop;
    int steps = 0;
    loop.SetLayoutHook([&] { ++steps; });
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        loop.Stop();
    });
    loop.Run();
    stopper.join();
    EXPECT_GE(steps, 1);  // the layout hook ran at the end of every step

    // A Stop before Run makes Run return after a single step.
    steps = 0;
    loop.Stop();
    loop.Run();
    EXPECT_EQ(steps, 1);
}

TEST(RunLoopTest, DeadlineAndWakeDescriptorForAForeignMainLoop) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    EXPECT_FALSE(loop.NextDeadline().has_value());
    loop.AddTimer(7s, false, [] {});
    ASSERT_TRUE(loop.NextDeadline().has_value());
    EXPECT_EQ(*loop.NextDeadline(), clock->Now() + std::chrono::steady_clock::duration(7s));

    auto descriptors = loop.Descriptors();
    ASSERT_FALSE(descriptors.empty());
    const int wakeFd = descriptors[0].fd;
    auto readable = [wakeFd] {
        pollfd p{wakeFd, POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    };
    EXPECT_FALSE(readable());
    bool ran = false;
    std::thread([&] { loop.Post([&] { ran = true; }); }).join();
    EXPECT_TRUE(readable());
    EXPECT_EQ(*loop.NextDeadline(), clock->Now());  // work pending: step now
    loop.Dispatch();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(readable());
}

// Transfers against a loopback origin.
struct Body {
    std::string bytes;
    RunLoop* loop = nullptr;
    CURL* easy = nullptr;
    bool removeOnFirstData = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    body->bytes.append(data, size * count);
    if (body->removeOnFirstData) body->loop->RemoveTransfer(body->easy);
    return size * count;
}

CURL* MakeEasy(const std::string& url, Body* body) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, body);
    body->easy = easy;
    return easy;
}

TEST(RunLoopTest, TransfersCompleteOnTheLoopThreadAndCanBeReused) {
    SvTestSupport::TestOrigin origin;
    origin.Serve("/a", std::string(100000, 'a'));
    origin.Serve("/b", "bee");
    RunLoop loop;
    Body body;
    body.loop = &loop;
    CURL* easy = MakeEasy(origin.Url("/a"), &body);
    std::vector<CURLcode> results;
    std::vector<std::thread::id> threads;
    loop.AddTransfer(easy, [&](CURLcode code) {
        results.push_back(code);
        threads.push_back(std::this_thread::get_id());
        // The handle has left the multi handle: it may start the next transfer at once.
        EXPECT_EQ(loop.TransferCount(), 0u);
        curl_easy_setopt(easy, CURLOPT_URL, origin.Url("/b").c_str());
        loop.AddTransfer(easy, [&](CURLcode second) { results.push_back(second); });
    });
    EXPECT_TRUE(loop.RunUntil([&] { return results.size() == 2; }, 10000ms));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], CURLE_OK);
    EXPECT_EQ(results[1], CURLE_OK);
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    EXPECT_EQ(body.bytes, std::string(100000, 'a') + "bee");
    EXPECT_EQ(loop.TransferCount(), 0u);
    curl_easy_cleanup(easy);
}

TEST(RunLoopTest, TransferRemovedFromItsWriteCallbackReportsNothingMore) {
    SvTestSupport::TestOrigin origin;
    origin.Serve("/big", std::string(4 << 20, 'x'));
    origin.Serve("/small", "ok");
    RunLoop loop;
    Body big;
    big.loop = &loop;
    big.removeOnFirstData = true;
    CURL* bigEasy = MakeEasy(origin.Url("/big"), &big);
    Body small;
    CURL* smallEasy = MakeEasy(origin.Url("/small"), &small);
    int bigDone = 0;
    bool smallDone = false;
    loop.AddTransfer(bigEasy, [&](CURLcode) { ++bigDone; });
    loop.AddTransfer(smallEasy, [&](CURLcode code) {
        EXPECT_EQ(code, CURLE_OK);
        smallDone = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return smallDone && loop.TransferCount() == 0; }, 10000ms));
    const size_t received = big.bytes.size();
    for (int i = 0; i < 10; ++i) loop.RunOnce(10ms);
    EXPECT_EQ(bigDone, 0);
    EXPECT_GT(received, 0u);
    EXPECT_LT(received, size_t{4} << 20);
    EXPECT_EQ(big.bytes.size(), received);  // no data after the removal took effect
    EXPECT_EQ(small.bytes, "ok");
    curl_easy_cleanup(bigEasy);
    curl_easy_cleanup(smallEasy);
}

TEST(RunLoopTest, RemovedTransferNeverCompletesAndFailedTransferReportsItsError) {
    SvTestSupport::TestOrigin origin;
    origin.Serve("/a", "abc");
    RunLoop loop;
    Body body;
    CURL* easy = MakeEasy(origin.Url("/a"), &body);
    bool called = false;
    loop.AddTransfer(easy, [&](CURLcode) { called = true; });
    loop.RemoveTransfer(easy);
    loop.RemoveTransfer(easy);  // twice: nothing happens
    for (int i = 0; i < 5; ++i) loop.RunOnce(10ms);
    EXPECT_FALSE(called);

    // A port nobody listens on: the connection is refused and the error reaches `done`.
    std::string refusedUrl;
    {
        SvTestSupport::TestOrigin closed;
        refusedUrl = closed.Url("/gone");
    }
    curl_easy_setopt(easy, CURLOPT_URL, refusedUrl.c_str());
    CURLcode result = CURLE_OK;
    bool done = false;
    loop.AddTransfer(easy, [&](CURLcode code) {
        result = code;
        done = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return done; }, 10000ms));
    EXPECT_EQ(result, CURLE_COULDNT_CONNECT);
    curl_easy_cleanup(easy);
}

// A write callback that steps the loop (as a modal wait or a synchronous call would) before
// removing its own transfer.
struct NestedBody {
    RunLoop* loop = nullptr;
    CURL* easy = nullptr;
    size_t bytes = 0;
    bool removed = false;
    int postsRunInside = 0;
};

size_t NestedStepThenRemove(char*, size_t size, size_t count, void* user) {
    auto* body = static_cast<NestedBody*>(user);
    body->bytes += size * count;
    if (body->removed) return size * count;
    body->loop->Post([body] { ++body->postsRunInside; });
    body->loop->RunOnce(0ms);  // runs the post, must not move transfers
    body->loop->RunOnce(0ms);
    body->loop->RemoveTransfer(body->easy);
    body->removed = true;
    return size * count;
}

TEST(RunLoopTest, NestedStepInsideACurlCallbackKeepsRemoveTransferEffective) {
    SvTestSupport::TestOrigin origin;
    origin.Serve("/big", std::string(8 << 20, 'x'));
    RunLoop loop;
    NestedBody body;
    body.loop = &loop;
    body.easy = curl_easy_init();
    curl_easy_setopt(body.easy, CURLOPT_URL, origin.Url("/big").c_str());
    curl_easy_setopt(body.easy, CURLOPT_WRITEFUNCTION, NestedStepThenRemove);
    curl_easy_setopt(body.easy, CURLOPT_WRITEDATA, &body);
    bool done = false;
    loop.AddTransfer(body.easy, [&](CURLcode) { done = true; });
    EXPECT_TRUE(loop.RunUntil([&] { return body.removed; }, 10000ms));
    // The step that saw the removal has ended, so the handle has left the multi handle: what
    // libcurl delivered within that same step is all there is.
    const size_t received = body.bytes;
    for (int i = 0; i < 20; ++i) loop.RunOnce(10ms);
    EXPECT_EQ(body.postsRunInside, 1);  // the nested step did run posted work
    EXPECT_EQ(body.bytes, received);
    EXPECT_LT(received, size_t{8} << 20);
    EXPECT_FALSE(done);
    EXPECT_EQ(loop.TransferCount(), 0u);
    curl_easy_cleanup(body.easy);
}

TEST(RunLoopTest, AStopOutsideRunOnlyEndsTheNextRun) {
    RunLoop loop;
    int steps = 0;
    loop.SetLayoutHook([&] { ++steps; });
    loop.Stop();  // from another thread, say, while no Run is in progress
    EXPECT_FALSE(loop.NextDeadline().has_value());  // nothing to do: no deadline
    // RunUntil takes steps of at most 50 ms; a stray stop must not turn them into a spin.
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 200ms));
    EXPECT_LE(steps, 10);
    // The stop still ends the next Run after one step.
    steps = 0;
    loop.Run();
    EXPECT_EQ(steps, 1);
    // And is used up by it.
    steps = 0;
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 120ms));
    EXPECT_LE(steps, 6);
}

TEST(RunLoopTest, DelaysPastTheClocksRangeMeanNever) {
    auto clock = std::make_shared<ManualClock>();
    RunLoop loop(clock);
    const auto start = clock->Now();
    int oneShots = 0;
    loop.AddTimer(RunLoop::Duration::max(), false, [&] { ++oneShots; });
    loop.AddTimer(RunLoop::Duration::max() - 1s, false, [&] { ++oneShots; });
    loop.RunOnce(0ms);
    clock->Advance(24h);
    loop.RunOnce(0ms);
    EXPECT_EQ(oneShots, 0);
    ASSERT_TRUE(loop.NextDeadline().has_value());
    // The due time is held at the end of the range rather than wrapped into the past.
    EXPECT_EQ(*loop.NextDeadline(), RunLoop::TimePoint::max());
    EXPECT_GT(*loop.NextDeadline(), start);

    // A repeating timer whose next firing lies past the range fires once, then never again.
    RunLoop repeating(clock);
    const auto half = RunLoop::Duration::max() / 2;
    int firings = 0;
    repeating.AddTimer(half, true, [&] { ++firings; });
    clock->Advance(half);
    repeating.RunOnce(0ms);
    EXPECT_EQ(firings, 1);
    for (int i = 0; i < 3; ++i) {
        clock->Advance(1h);
        repeating.RunOnce(0ms);
    }
    EXPECT_EQ(firings, 1);
}

}  // namespace
