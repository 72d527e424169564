// The session's operations and their tasks, run by hand on the session's queue (no pump
// thread): what each posts, under which name and category, and what reaches the chain.

#include "engine/core/Session.h"

#include <gtest/gtest.h>

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

// A clock the test moves by hand.
class HandClock {
public:
    SV::PilTime Now() const { return SV::PilTime(now_.load()); }
    void Advance(int64_t milliseconds) { now_ += static_cast<uint64_t>(milliseconds); }
    TaskManager::Clock AsClock() { return boost::bind(&HandClock::Now, this); }

private:
    std::atomic<uint64_t> now_{1000000};
};

// The name of the task running, as the hang check would report it: the clock is moved past
// the hang time, the queue asked, and the clock moved back ("-" outside a task).
std::string RunningTask(Session* session, HandClock* clock) {
    std::string task = "-";
    clock->Advance(1001);
    session->GetTaskManager()->IsTaskHung(task);
    clock->Advance(-1001);
    return task;
}

// The output end of a test chain. Logs every operation that reaches it, each preceded by the
// name of the task it runs in.
class Recorder : public SvTestSupport::RecordingStage {
public:
    Recorder(Session* session, HandClock* clock)
        : RecordingStage(session, "Recorder"), clock_(clock) {}

protected:
    std::string Describe(const std::string& line) override {
        return RunningTask(session_, clock_) + " " + line;
    }

private:
    HandClock* clock_;
};

class TaskErrorLog : public ErrorInfoMonitor {
public:
    TaskErrorLog(Session* session, HandClock* clock) : session_(session), clock_(clock) {}
    ~TaskErrorLog() override { DetachFromSources(); }
    void SetError(SVStatus status, std::string text) override { Log("error", status, text); }
    void SetWarning(SVStatus status, std::string text) override { Log("warning", status, text); }
    std::vector<std::string> log;

private:
    void Log(const char* kind, SVStatus status, const std::string& text) {
        log.push_back(RunningTask(session_, clock_) + " " + kind + " " + std::to_string(status) +
                      " " + text);
    }
    Session* session_;
    HandClock* clock_;
};

// Records the tasks of the test itself.
struct Marks {
    std::vector<std::string> ran;
    void Run(std::string name) { ran.push_back(name); }
    void Data(MemoryChunk chunk) { ran.push_back("data " + std::to_string(chunk.Size())); }
};

class SessionOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        session = Session::Create(clock.AsClock());
        recorder = boost::make_shared<Recorder>(session.get(), &clock);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {recorder});
        session->SetComponentStack(stack);
    }

    void Run() { session->GetTaskManager()->RunTasks(); }
    bool Dropping() { return session->GetTaskManager()->IsDroppingDataTasks(); }

    // A task of the test's own, of the given category, carrying no data.
    void PostMark(const std::string& name, uint32_t category) {
        typedef TaskTemplate1<Marks*, void (Marks::*)(std::string), std::string> MarkTask;
        session->AddTask(
            boost::make_shared<MarkTask>(category, StackIdMain, name, &marks, &Marks::Run, name));
    }
    // A data task of the download client: it carries bytes, so it is dropped while a seek or
    // a rate change is on its way.
    void PostData(uint32_t bytes) {
        typedef TaskTemplate1<Marks*, void (Marks::*)(MemoryChunk), MemoryChunk> DataTask;
        MemoryChunk chunk(bytes, 0, 0);
        session->AddTask(boost::make_shared<DataTask>(Session::TaskCategoryDownload, StackIdMain,
                                                      "HTTPClient::AddDataInTask", &marks,
                                                      &Marks::Data, chunk));
    }

    HandClock clock;
    boost::shared_ptr<Session> session;
    boost::shared_ptr<Recorder> recorder;
    Marks marks;
};

typedef std::vector<std::string> Log;

TEST_F(SessionOperationsTest, EachRequestRunsUnderItsNameAndCategory) {
    TaskErrorLog errors(session.get(), &clock);
    session->AddMonitor(&errors);
    struct Case {
        std::function<void(Session&)> post;
        uint32_t category;
        Log chain;   // what reaches the recorder
        Log events;  // what reaches the error monitor
    };
    const Case cases[] = {
        {[](Session& s) { s.PullData(4096); }, 8, {"Session::PullData(FS) pull 4096"}, {}},
        {[](Session& s) { s.Seek(7000000); },
         2,
         {"Session::Seek(MS) position 0 65535", "Session::Seek(MS) seek 7000000"},
         {}},
        {[](Session& s) { s.TrickPlay(-4, 3000); }, 4, {"Session::TrickPlay trick -4 3000"}, {}},
        {[](Session& s) { s.GetChapterData(2, 5); },
         8,
         {"Session::GetChapterData chapters 2 5"},
         {}},
        {[](Session& s) { s.SelectTrack(17); }, 8, {"Session::SelectTrack track 17"}, {}},
        {[](Session& s) { s.SetError(1013, "file://x"); },
         8,
         {},
         {"Session::SetError error 1013 file://x"}},
        {[](Session& s) { s.SetWarning(2000, "Data stopped arriving, will retry"); },
         8,
         {},
         {"Session::SetWarning warning 2000 Data stopped arriving, will retry"}},
        {[](Session& s) { s.Abort(1022, "gone"); },
         8,
         {},
         {"Session::Abort->SetError error 1022 gone"}},
    };
    for (const Case& c : cases) {
        recorder->ClearLog();
        errors.log.clear();
        c.post(*session);
        Run();
        EXPECT_EQ(c.chain, recorder->Log());
        EXPECT_EQ(c.events, errors.log);

        // The category: removing it drops the request unrun; removing the others does not.
        recorder->ClearLog();
        errors.log.clear();
        c.post(*session);
        session->RemoveTasks(~c.category, StackIdAny);
        session->RemoveTasks(c.category, StackIdMain);  // posted on stack 0, not this one
        session->RemoveTasks(c.category, StackIdServing);
        Run();
        EXPECT_TRUE(recorder->Log().empty()) << c.category;
        EXPECT_TRUE(errors.log.empty()) << c.category;
        session->ClearDropDataTasks();  // the removed seek or rate change cannot lower it
    }
}

TEST_F(SessionOperationsTest, AbortPostsTheErrorOnlyForAFailureAndAlwaysTheStop) {
    TaskErrorLog errors(session.get(), &clock);
    session->AddMonitor(&errors);
    std::string last;

    session->Abort(200, "fine");
    Run();
    EXPECT_TRUE(errors.log.empty());
    clock.Advance(1001);
    ASSERT_TRUE(session->GetTaskManager()->IsNotRunning(last));
    EXPECT_EQ("Session::Abort->Stop", last);  // the only task that ran

    PostMark("queued first", 8);
    session->Abort(500, "broken");
    Run();
    EXPECT_EQ(Log{"queued first"}, marks.ran);  // tasks already queued run first
    EXPECT_EQ(Log{"Session::Abort->SetError error 500 broken"}, errors.log);
    clock.Advance(1001);
    ASSERT_TRUE(session->GetTaskManager()->IsNotRunning(last));
    EXPECT_EQ("Session::Abort->Stop", last);  // and the stop comes last
}

TEST_F(SessionOperationsTest, ErrorsReachTheMonitorsOnlyWhenTheirTaskRuns) {
    TaskErrorLog errors(session.get(), &clock);
    session->AddMonitor(&errors);
    ErrorInfoSource upstream;
    upstream.AddMonitor(session.get());

    PostMark("before", 8);
    upstream.PublishError(1010, "stream");  // the session as a monitor posts it as well
    session->SetWarning(200, "");
    EXPECT_TRUE(errors.log.empty());
    Run();
    EXPECT_EQ(Log{"before"}, marks.ran);
    EXPECT_EQ((Log{"Session::SetError error 1010 stream", "Session::SetWarning warning 200 "}),
              errors.log);
    upstream.RemoveMonitor(session.get());
}

TEST_F(SessionOperationsTest, OnlyTheLastOfTwoQueuedSeeksRuns) {
    session->Seek(1000);
    session->Seek(2000);
    Run();
    EXPECT_EQ((Log{"Session::Seek(MS) position 0 65535", "Session::Seek(MS) seek 2000"}),
              recorder->Log());
    EXPECT_FALSE(Dropping());
}

TEST_F(SessionOperationsTest, SeeksAndRateChangesDoNotRemoveEachOther) {
    session->TrickPlay(2, 10);
    session->Seek(20);
    Run();
    EXPECT_EQ((Log{"Session::TrickPlay trick 2 10", "Session::Seek(MS) position 0 65535",
                   "Session::Seek(MS) seek 20"}),
              recorder->Log());

    recorder->ClearLog();
    session->Seek(30);
    session->TrickPlay(-2, 40);
    session->TrickPlay(0, 50);  // an earlier rate change stays queued as well
    Run();
    EXPECT_EQ((Log{"Session::Seek(MS) position 0 65535", "Session::Seek(MS) seek 30",
                   "Session::TrickPlay trick -2 40", "Session::TrickPlay trick 0 50"}),
              recorder->Log());
    EXPECT_FALSE(Dropping());
}

TEST_F(SessionOperationsTest, DataQueuedBeforeASeekIsDroppedAndTheDownloadsLaterDataRemoved) {
    struct Case {
        const char* request;
        std::function<void(Session&)> post;
        Log chain;
        Log marks;
    };
    const Case cases[] = {
        {"seek",
         [](Session& s) { s.Seek(5); },
         {"Session::Seek(MS) position 0 65535", "Session::Seek(MS) seek 5"},
         // The data before the seek is dropped, the request before it runs, and the
         // download's task queued behind the seek is removed by it.
         {"control"}},
        {"trick play",
         [](Session& s) { s.TrickPlay(4, 5); },
         {"Session::TrickPlay trick 4 5"},
         // A rate change removes nothing: the download's later task runs.
         {"control", "late download"}},
    };
    for (const Case& c : cases) {
        recorder->ClearLog();
        marks.ran.clear();
        PostData(188);
        PostMark("control", Session::TaskCategorySession);
        c.post(*session);
        EXPECT_TRUE(Dropping()) << c.request;  // raised as soon as the request returns
        PostMark("late download", Session::TaskCategoryDownload);
        Run();
        EXPECT_EQ(c.chain, recorder->Log()) << c.request;
        EXPECT_EQ(c.marks, marks.ran) << c.request;
        EXPECT_FALSE(Dropping()) << c.request;

        PostData(100);  // once the request has run, data flows again
        Run();
        EXPECT_EQ("data 100", marks.ran.back()) << c.request;
    }
}

TEST_F(SessionOperationsTest, ASeekWhilePreloadingOnlyLowersTheFlag) {
    recorder->SetPreloadState(Component::PreloadStatePreloading);
    session->Seek(9000);
    EXPECT_TRUE(Dropping());
    PostMark("download", Session::TaskCategoryDownload);
    Run();
    EXPECT_TRUE(recorder->Log().empty());   // no reposition, no seek
    EXPECT_EQ(Log{"download"}, marks.ran);  // nothing removed
    EXPECT_FALSE(Dropping());
}

// Seeks may be asked from any thread while the task thread moves the preload state on: each
// seek asks whether the chain preloads, and the last one runs once the preload has ended.
TEST_F(SessionOperationsTest, SeeksFromAnotherThreadWhileThePreloadStateChanges) {
    recorder->SetPreloadState(Component::PreloadStatePreloading);
    std::atomic<bool> done(false);
    std::thread seeker([&] {
        for (int i = 0; !done; ++i) session->Seek(MediaTime(1000 + uint64_t(i % 7)));
    });
    for (int i = 0; i < 500; ++i) {
        recorder->SetPreloadState(i % 2 ? Component::PreloadStatePreloading
                                        : Component::PreloadStateDone);
        Run();
    }
    done = true;
    seeker.join();
    recorder->SetPreloadState(Component::PreloadStateNone);
    recorder->ClearLog();
    session->Seek(MediaTime(4242));
    Run();
    ASSERT_FALSE(recorder->Log().empty());
    EXPECT_NE(std::string::npos, recorder->Log().back().find("4242"));
    EXPECT_FALSE(Dropping());
}

TEST_F(SessionOperationsTest, AnEmptyStackTakesNoRequestButSeeksStillLowerTheFlag) {
    session->SetComponentStack(ComponentStack());
    session->PullData(10);
    session->Seek(10);
    session->GetChapterData(0, 0);
    session->SelectTrack(1);
    session->PreLoad(10);
    session->SetPosition(10, StackIdAny);
    session->Tick();
    EXPECT_TRUE(Dropping());
    Run();
    EXPECT_FALSE(Dropping());
    session->TrickPlay(1, 1);
    Run();
    EXPECT_FALSE(Dropping());
    EXPECT_TRUE(recorder->Log().empty());
}

TEST_F(SessionOperationsTest, RequestsRunInPostingOrderBehindQueuedTasks) {
    PostMark("queued", 8);
    session->SelectTrack(3);
    session->GetChapterData(0, 1);
    session->PullData(100);
    session->SelectTrack(4);
    Run();
    EXPECT_EQ(Log{"queued"}, marks.ran);
    EXPECT_EQ((Log{"Session::SelectTrack track 3", "Session::GetChapterData chapters 0 1",
                   "Session::PullData(FS) pull 100", "Session::SelectTrack track 4"}),
              recorder->Log());
}

TEST_F(SessionOperationsTest, PreloadAndRepositionRunOnTheCallingThread) {
    session->PreLoad(15000000);
    session->SetPosition(4096, StackIdMain);
    EXPECT_EQ((Log{"- preload 15000000", "- position 4096 1"}), recorder->Log());
}

TEST_F(SessionOperationsTest, TheChainIsCheckedAtMostOncePerSecond) {
    const auto tickAfter = [&](int64_t milliseconds) {
        recorder->ClearLog();
        clock.Advance(milliseconds);
        session->Tick();
        return recorder->Log();
    };
    const Log both{"- tick", "- check"};
    const Log tickOnly{"- tick"};
    EXPECT_EQ(both, tickAfter(0));  // the first tick checks
    EXPECT_EQ(tickOnly, tickAfter(999));
    EXPECT_EQ(both, tickAfter(1));  // 1000 ms since the last check
    EXPECT_EQ(tickOnly, tickAfter(500));
    EXPECT_EQ(both, tickAfter(-5000));  // a clock set back does not hold the check off
    EXPECT_EQ(tickOnly, tickAfter(999));
}

}  // namespace
}  // namespace SarvelonMediaKit
