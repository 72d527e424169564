// The run loop inside GLib's main loop, on the GTK thread of the private display: timers,
// transfers and posts reach the loop while only GLib is iterated, also from a nested iteration,
// and an idle loop lets GLib sleep.
#include "platform/desktop/RunLoopSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/desktop/testing/MainContextWait.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLConnection.h"
#include "tests/support/TestOrigin.h"

namespace {

using namespace std::chrono_literals;
using ns::desktop::IteratePending;
using ns::desktop::IterateUntil;
using ns::desktop::RunLoopSource;
using Clock = std::chrono::steady_clock;

TEST(RunLoopSource, TimerFiresOnTheGtkThreadWhileGLibRuns) {
    ns::RunLoop loop;
    RunLoopSource source(loop);
    bool fired = false;
    std::thread::id firedOn;
    Clock::time_point firedAt;
    const Clock::time_point start = Clock::now();
    loop.AfterDelay(500ms, [&] {
        fired = true;
        firedOn = std::this_thread::get_id();
        firedAt = Clock::now();
    });

    ASSERT_TRUE(IterateUntil([&] { return fired; }, 3s));
    EXPECT_EQ(firedOn, std::this_thread::get_id());
    EXPECT_GE(firedAt - start, 500ms);
}

struct Loader : ns::URLConnectionDelegate {
    std::string body;
    int status = 0;
    bool finished = false;
    bool failed = false;
    std::thread::id finishedOn;

    void DidReceiveResponse(ns::URLConnection&, const ns::URLResponse& r) override {
        status = r.StatusCode();
    }
    void DidReceiveData(ns::URLConnection&, const std::string& data) override { body += data; }
    void DidFinishLoading(ns::URLConnection&) override {
        finished = true;
        finishedOn = std::this_thread::get_id();
    }
    void DidFailWithError(ns::URLConnection&, const ns::Error&) override { failed = true; }
};

TEST(RunLoopSource, TransferCompletesOnTheGtkThreadAndItsSocketIsWatchedOnlyMeanwhile) {
    SvTestSupport::TestOrigin origin;
    std::string body(200 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    origin.Serve("/catalog", body);
    // The head comes late, so the transfer waits on its socket for a while.
    SvTestSupport::TestOrigin::Fault late;
    late.headDelayMs = 200;
    origin.SetFault("/catalog", late);

    ns::RunLoop loop;
    RunLoopSource source(loop);
    ns::CookieStorage cookies;
    Loader loader;
    auto url = ns::URL::Parse(origin.Url("/catalog"));
    ASSERT_TRUE(url);
    auto connection = ns::URLConnection::Start(ns::URLRequest(*url), &loader, loop, cookies);

    size_t mostWatched = 0;
    ASSERT_TRUE(IterateUntil(
        [&] {
            mostWatched = std::max(mostWatched, source.Watched().size());
            return loader.finished || loader.failed;
        },
        5s));
    ASSERT_TRUE(loader.finished);
    EXPECT_EQ(loader.status, 200);
    EXPECT_EQ(loader.body, body);
    EXPECT_EQ(loader.finishedOn, std::this_thread::get_id());
    // The wake-up descriptor and the transfer's socket.
    EXPECT_GE(mostWatched, 2u);

    // With the transfer gone, the next pass leaves only the wake-up descriptor.
    IteratePending();
    g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(source.Watched().size(), 1u);
}

TEST(RunLoopSource, PostFromAnotherThreadWakesGLib) {
    ns::RunLoop loop;
    RunLoopSource source(loop);
    IteratePending();  // GLib will be asleep in its poll when the post comes
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread poster([&] {
        std::this_thread::sleep_for(100ms);
        loop.Post([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    // Nothing else wakes GLib before the guard's 3 s: the post must.
    const Clock::time_point start = Clock::now();
    bool done = IterateUntil([&] { return ran.load(); }, 3s);
    const auto waited = Clock::now() - start;
    poster.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_LT(waited, 2s);
}

TEST(RunLoopSource, NestedIterationInsideALoopCallbackStillRunsTheLoop) {
    ns::RunLoop loop;
    RunLoopSource source(loop);
    bool innerPost = false, innerTimer = false, nestedSawBoth = false, outerDone = false;
    loop.Post([&] {
        // A modal loop inside a callback of the run loop, as a dialog runs one.
        loop.Post([&] { innerPost = true; });
        loop.AfterDelay(20ms, [&] { innerTimer = true; });
        nestedSawBoth = IterateUntil([&] { return innerPost && innerTimer; }, 2s);
        outerDone = true;
    });
    ASSERT_TRUE(IterateUntil([&] { return outerDone; }, 5s));
    EXPECT_TRUE(nestedSawBoth);
}

TEST(RunLoopSource, IdleLoopLetsGLibSleepAndTouchesNoWatch) {
    ns::RunLoop loop;
    loop.AfterDelay(1h, [] {});
    RunLoopSource source(loop);
    IteratePending();
    const uint64_t changes = source.WatchChanges();
    ASSERT_EQ(source.Watched().size(), 1u);  // the wake-up descriptor

    // Each iteration asks the condition once: a source that re-adds its descriptors on every
    // pass wakes GLib at once and would count thousands here.
    int iterations = 0;
    IterateUntil(
        [&] {
            ++iterations;
            return false;
        },
        300ms);
    EXPECT_LE(iterations, 10);
    EXPECT_EQ(source.WatchChanges(), changes);
}

TEST(RunLoopSource, DestroyedSourceRunsTheLoopNoMore) {
    ns::RunLoop loop;
    bool ran = false;
    {
        RunLoopSource source(loop);
        IteratePending();
    }
    loop.Post([&] { ran = true; });
    // A check that nothing happens: GLib is given a while in which it would have run the post
    // had the source stayed, since a post wakes a watching source at once.
    ns::desktop::IterateFor(50ms);
    EXPECT_FALSE(ran);
    loop.RunOnce(0ms);
    EXPECT_TRUE(ran);  // the post was kept for whoever steps the loop next
}

}  // namespace
