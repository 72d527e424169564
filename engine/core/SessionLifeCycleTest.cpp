// A session with a running pump thread: start, stop from any thread (its own included),
// shutdown, the error path across threads, abort, and what is left once it has gone.

#include "engine/core/Session.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/PilThread/Event.h"
#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/SocketDelegate.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

typedef std::vector<std::string> Log;

int CountThreads(const std::string& name) { return SvTestSupport::ThreadsNamed(name); }

template <typename F>
bool Eventually(F condition) {
    return SvTestSupport::WaitUntil(condition);
}

// A joined thread's entry may stay in /proc a moment after the join has returned.
bool NoThreadNamed(const std::string& name) {
    return Eventually([&] { return CountThreads(name) == 0; });
}

// A shared, locked log of what happened where.
class Journal {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(lock_);
        entries_.push_back(entry);
    }
    Log Entries() const {
        std::lock_guard<std::mutex> lock(lock_);
        return entries_;
    }
    bool Contains(const std::string& entry) const {
        std::lock_guard<std::mutex> lock(lock_);
        for (const std::string& e : entries_) {
            if (e == entry) return true;
        }
        return false;
    }

private:
    mutable std::mutex lock_;
    Log entries_;
};

// The output end of the chain: notes in the journal when it is stopped, and counts pulls,
// ticks, seeks and rate changes. The pump may run without a pause between passes, so only the
// counts are kept.
class Stage : public SvTestSupport::RecordingStage {
public:
    Stage(Session* session, Journal* journal)
        : RecordingStage(session, "Stage"), journal_(journal) {
        KeepLog(false);
    }
    void DoStop() override {
        RecordingStage::DoStop();
        journal_->Add("components stopped");
    }
    int Pulls() const { return Count(kPull); }
    int Ticks() const { return Count(kTick); }
    int Seeks() const { return Count(kSeek); }
    int RateChanges() const { return Count(kTrickPlay); }

private:
    Journal* journal_;
};

class LifeLog : public SessionInfoMonitor {
public:
    explicit LifeLog(Journal* journal) : journal_(journal) {}
    ~LifeLog() override { DetachFromSources(); }
    void SessionSetupCompleted() override { journal_->Add("SessionSetupCompleted"); }
    void SessionStopped() override {
        stoppedOn = std::this_thread::get_id();
        journal_->Add("SessionStopped");
    }
    std::thread::id stoppedOn;

private:
    Journal* journal_;
};

class ErrorLog : public ErrorInfoMonitor {
public:
    explicit ErrorLog(Journal* journal) : journal_(journal) {}
    ~ErrorLog() override { DetachFromSources(); }
    void SetError(SVStatus status, std::string text) override {
        journal_->Add("error " + std::to_string(status) + " " + text);
    }

private:
    Journal* journal_;
};

// Runs a function as a task on the session's queue.
struct Call {
    std::function<void()> f;
    void Run() { f(); }
};
void PostCall(Session& session, std::function<void()> f) {
    typedef TaskTemplate0<boost::shared_ptr<Call>, void (Call::*)()> CallTask;
    boost::shared_ptr<Call> call(new Call{std::move(f)});
    session.AddTask(
        boost::make_shared<CallTask>(8, StackIdServing, "Test::Call", call, &Call::Run));
}

class SessionLifeCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        session = Session::Create();
        stage = boost::make_shared<Stage>(session.get(), &journal);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdServing, {stage});
        session->SetComponentStack(stack);
        session->AddMonitor(&life);
        session->AddMonitor(&errors);
    }

    Journal journal;
    LifeLog life{&journal};
    ErrorLog errors{&journal};
    boost::shared_ptr<Session> session;
    boost::shared_ptr<Stage> stage;
};

TEST_F(SessionLifeCycleTest, StartPublishesSetupAndAWaitingStopReturnsAfterTheShutdown) {
    session->StartPump(1000);
    session->Start();
    EXPECT_EQ(Log{"SessionSetupCompleted"}, journal.Entries());  // on the calling thread
    // (A thread started from the pump thread carries its name until it names itself.)
    EXPECT_TRUE(Eventually([] { return CountThreads("Pump") == 1; }));

    session->Stop(false);  // returns at once; the pump thread shuts down
    Log seenByWaiter;
    std::thread waiter([&] {
        session->Stop(true);  // the already-stopping path: waits for the shutdown
        seenByWaiter = journal.Entries();
    });
    waiter.join();
    EXPECT_EQ((Log{"SessionSetupCompleted", "components stopped", "SessionStopped"}), seenByWaiter);
    EXPECT_NE(std::this_thread::get_id(), life.stoppedOn);  // published on the pump thread
    EXPECT_TRUE(session->WaitForStop(0));

    session->Stop(true);  // stays stopped: returns at once, nothing published again
    EXPECT_EQ(seenByWaiter, journal.Entries());

    session.reset();
    stage.reset();
    // Nothing of the session's threads is left once it has gone.
    EXPECT_TRUE(NoThreadNamed("Pump"));
    EXPECT_TRUE(NoThreadNamed("SocketMaster"));
}

// One end of a socket pair as the session socket of a delegate on the session's master.
class Connection : public SocketDelegate {
public:
    Connection(Session* session, Journal* journal)
        : SocketDelegate(nullptr, nullptr), session_(session), journal_(journal) {}
    ~Connection() override { Detach(); }

    void DoSessionSocketOpen() override { Note("open"); }
    void DoProcessSessionData(MemoryChunk chunk) override {
        Note(std::string(reinterpret_cast<const char*>(chunk.Data()), chunk.Size()));
    }
    void DoSessionSocketClosed() override { Note("closed"); }

private:
    // Everything a peer causes is handled on the session's pump thread.
    void Note(const std::string& what) {
        journal_->Add(what + (session_->GetPump()->IsPumpThread() ? " on pump" : " elsewhere"));
    }
    Session* session_;
    Journal* journal_;
};

TEST_F(SessionLifeCycleTest, WhatAPeerSendsReachesTheTaskQueueAndNoThreadOutlivesTheSession) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
    Journal peer;
    Connection connection(session.get(), &peer);
    SV::PilSocketHolder accepted;
    accepted.fd = pair[0];
    connection.SwapSocket(accepted);
    connection.SetSocketMaster(session.get());

    session->StartPump(1000);
    session->Start();
    connection.SessionSocketOpen();
    EXPECT_TRUE(Eventually([] { return CountThreads("SocketMaster") == 1; }));
    // (A thread started from the pump thread carries its name until it names itself.)
    EXPECT_TRUE(Eventually([] { return CountThreads("Pump") == 1; }));
    ASSERT_EQ(5, write(pair[1], "hello", 5));
    EXPECT_TRUE(Eventually([&] { return peer.Entries().size() == 2; }));
    close(pair[1]);
    EXPECT_TRUE(Eventually([&] { return peer.Entries().size() == 3; }));
    EXPECT_EQ((Log{"open on pump", "hello on pump", "closed on pump"}), peer.Entries());

    session->Stop(true);
    connection.SetSocketMaster(nullptr);
    session.reset();
    stage.reset();
    EXPECT_TRUE(NoThreadNamed("SocketMaster"));
    EXPECT_TRUE(NoThreadNamed("Pump"));
}

TEST_F(SessionLifeCycleTest, ThePumpRunsTasksPullsAndTicksUntilStopped) {
    session->SetPullAmount(4096);
    session->StartPump(1000);
    session->Start();
    std::atomic<bool> ran(false);
    std::atomic<pid_t> pumpThread(0);
    PostCall(*session, [&] {
        pumpThread = SvTestSupport::ThisThreadId();
        ran = true;
    });
    EXPECT_TRUE(Eventually([&] { return ran && stage->Pulls() > 2 && stage->Ticks() > 2; }));
    session->Stop(true);
    const int pulls = stage->Pulls();
    EXPECT_TRUE(session->WaitForStop(0));  // returned after the shutdown, past the last pass
    // Nothing runs once stopped: no pull came by the time the pump thread has ended.
    EXPECT_TRUE(Eventually([&] { return SvTestSupport::ThreadState(pumpThread) == 0; }));
    EXPECT_EQ(pulls, stage->Pulls());
}

TEST_F(SessionLifeCycleTest, ErrorsFromSeveralThreadsReachTheMonitorsOneAtATimeInOrder) {
    // Checks each delivery: never two at once, always on one thread, and each poster's
    // errors in the order it raised them.
    class Checker : public ErrorInfoMonitor {
    public:
        ~Checker() override { DetachFromSources(); }
        void SetError(SVStatus poster, std::string text) override {
            if (inside.exchange(true)) overlapped = true;
            if (thread == std::thread::id()) thread = std::this_thread::get_id();
            if (thread != std::this_thread::get_id()) otherThread = true;
            const int n = std::stoi(text);
            if (n != next[poster]) outOfOrder = true;
            next[poster] = n + 1;
            std::this_thread::yield();
            ++received;
            inside = false;
        }
        std::atomic<bool> inside{false};
        bool overlapped = false;
        bool otherThread = false;
        bool outOfOrder = false;
        std::thread::id thread;
        int next[4] = {0, 0, 0, 0};
        std::atomic<int> received{0};
    } checker;
    session->AddMonitor(&checker);
    session->RemoveMonitor(&errors);
    session->StartPump(1000);
    session->Start();

    const int kEach = 250;
    std::vector<std::thread> posters;
    for (int p = 0; p < 4; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) session->SetError(p, std::to_string(i));
        });
    }
    for (auto& t : posters) t.join();
    // Each delivery yields the processor to widen the window for an overlap: on a loaded
    // machine (a sanitizer beside other builds) a thousand of them take seconds.
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return checker.received == 4 * kEach; }, 60000));
    session->Stop(true);
    EXPECT_EQ(4 * kEach, checker.received.load());
    EXPECT_FALSE(checker.overlapped);
    EXPECT_FALSE(checker.otherThread);
    EXPECT_FALSE(checker.outOfOrder);
    EXPECT_NE(std::this_thread::get_id(), checker.thread);
}

TEST_F(SessionLifeCycleTest, AbortPublishesAFailureThenStops) {
    struct Case {
        SVStatus status;
        Log expected;
    };
    const Case cases[] = {
        {200, {"SessionSetupCompleted", "components stopped", "SessionStopped"}},
        {1010,
         {"SessionSetupCompleted", "error 1010 stream failed", "components stopped",
          "SessionStopped"}},
    };
    for (const Case& c : cases) {
        Journal local;
        boost::shared_ptr<Session> s = Session::Create();
        boost::shared_ptr<Stage> st = boost::make_shared<Stage>(s.get(), &local);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdServing, {st});
        s->SetComponentStack(stack);
        LifeLog lifeLog(&local);
        ErrorLog errorLog(&local);
        s->AddMonitor(&lifeLog);
        s->AddMonitor(&errorLog);
        s->StartPump(1000);
        s->Start();
        s->Abort(c.status, "stream failed");
        EXPECT_TRUE(s->WaitForStop(2000)) << c.status;
        EXPECT_EQ(c.expected, local.Entries()) << c.status;
    }
}

TEST_F(SessionLifeCycleTest, AWaitingStopOnThePumpThreadDoesNotWaitForItself) {
    session->StartPump(1000);
    session->Start();
    std::atomic<bool> returned(false);
    PostCall(*session, [&] {
        session->Stop(true);
        session->PausePump();  // the running pass is the caller's own: no wait either
        session->ResumePump();
        returned = true;
    });
    EXPECT_TRUE(session->WaitForStop(2000));
    EXPECT_TRUE(returned);
    EXPECT_TRUE(journal.Contains("SessionStopped"));
}

// Lets go of the only owner when the session tells it has stopped.
class Releaser : public SessionInfoMonitor {
public:
    ~Releaser() override { DetachFromSources(); }
    void SessionStopped() override {
        owner.reset();
        released = true;
    }
    boost::shared_ptr<Session> owner;
    std::atomic<bool> released{false};
};

TEST_F(SessionLifeCycleTest, TheLastOwnerMayLetGoOnThePumpThread) {
    for (const bool inTask : {true, false}) {
        Journal local;
        LifeLog lifeLog(&local);
        Releaser releaser;
        releaser.owner = Session::Create();
        Session* raw = releaser.owner.get();
        boost::shared_ptr<Stage> st = boost::make_shared<Stage>(raw, &local);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdServing, {st});
        raw->SetComponentStack(stack);
        raw->AddMonitor(&lifeLog);
        boost::weak_ptr<Pump> pump = raw->GetPump();
        raw->StartPump(1000);
        raw->Start();
        if (inTask) {
            // A task drops the only owner while it runs on the pump thread.
            PostCall(*raw, [&] {
                releaser.owner.reset();
                releaser.released = true;
            });
        } else {
            raw->AddMonitor(&releaser);
            raw->Stop(false);
        }
        // No deadlock: the session shuts down where it goes (if it has not yet), and the pump
        // goes elsewhere once its thread has ended.
        EXPECT_TRUE(Eventually([&] { return releaser.released && pump.expired(); })) << inTask;
        EXPECT_TRUE(local.Contains("components stopped")) << inTask;
        EXPECT_TRUE(local.Contains("SessionStopped")) << inTask;
        EXPECT_FALSE(releaser.owner);
    }
    EXPECT_TRUE(NoThreadNamed("Pump"));
}

// The shutdown holds the session while it tells its monitors; an owner on another thread may
// let go at any moment of it, its end included. The race is narrow, so it runs many times:
// under ASan a touch of the freed session is caught.
TEST_F(SessionLifeCycleTest, AnOwnerLettingGoOnAnotherThreadDuringTheShutdownIsSafe) {
    class Told : public SessionInfoMonitor {
    public:
        ~Told() override { DetachFromSources(); }
        void SessionStopped() override { told = true; }
        std::atomic<bool> told{false};
    };
    for (int round = 0; round < 200; ++round) {
        Told told;
        boost::shared_ptr<Session> owner = Session::Create();
        Session* raw = owner.get();
        raw->AddMonitor(&told);
        boost::weak_ptr<Pump> pump = raw->GetPump();
        raw->StartPump(1000);
        raw->Start();
        std::thread letGo([&told, owned = std::move(owner)]() mutable {
            while (!told.told) std::this_thread::yield();
            owned.reset();
        });
        raw->Stop(false);
        letGo.join();
        // Whichever thread let go last destroyed the session; the pump goes once its thread
        // has ended.
        ASSERT_TRUE(Eventually([&] { return pump.expired(); })) << round;
    }
    EXPECT_TRUE(NoThreadNamed("Pump"));
}

// Without a pump thread the stop shuts the session down on the caller's thread; a monitor that
// lets go of the only owner there destroys the session inside that shutdown, and its destructor
// must not wait for a shutdown that is its own caller.
TEST_F(SessionLifeCycleTest, TheLastOwnerMayLetGoWhereASessionWithoutAPumpThreadStops) {
    for (const uint64_t interval : {uint64_t(0), uint64_t(1000)}) {
        Releaser releaser;
        releaser.owner = Session::Create();
        Session* raw = releaser.owner.get();
        raw->AddMonitor(&releaser);
        raw->StartPump(interval);  // 0: no pump thread; 1000: one made and never started
        if (interval == 0) raw->Start();
        raw->Stop(true);
        EXPECT_TRUE(releaser.released) << interval;
        EXPECT_FALSE(releaser.owner) << interval;
    }
}

TEST_F(SessionLifeCycleTest, DestroyingRightAfterARequestedStopWaitsForTheShutdown) {
    session->StartPump(1000);
    session->Start();
    // The task holds the pass until the last owner has let go, so the shutdown comes after
    // the destructor has begun.
    const boost::weak_ptr<Session> weak = session;
    std::atomic<bool> running(false);
    PostCall(*session, [weak, &running] {
        running = true;
        Eventually([&] { return weak.expired(); });
    });
    ASSERT_TRUE(Eventually([&] { return running.load(); }));
    session->Stop(false);
    session.reset();  // the shutdown still to come uses the session: its destructor waits
    stage.reset();
    EXPECT_EQ((Log{"SessionSetupCompleted", "components stopped", "SessionStopped"}),
              journal.Entries());
    EXPECT_TRUE(NoThreadNamed("Pump"));
}

TEST_F(SessionLifeCycleTest, ASessionWhosePumpNeverRanShutsDownWhenStopped) {
    struct Case {
        const char* what;
        uint64_t interval;  // 0: no pump thread at all
        bool start;
    };
    const Case cases[] = {
        {"thread made, never started", 1000, false},
        {"no thread", 0, true},
    };
    for (const Case& c : cases) {
        Journal local;
        boost::shared_ptr<Session> s = Session::Create();
        LifeLog lifeLog(&local);
        s->AddMonitor(&lifeLog);
        s->StartPump(c.interval);
        if (c.start) s->Start();
        s->Stop(true);  // would wait for a shutdown that no thread is there to run
        EXPECT_TRUE(s->WaitForStop(0)) << c.what;
        EXPECT_TRUE(local.Contains("SessionStopped")) << c.what;
    }

    // A session never given a pump has nothing to stop and is not reported stopped.
    session->Stop(true);
    EXPECT_FALSE(session->WaitForStop(0));
    EXPECT_TRUE(journal.Entries().empty());
}

// Ten thousand seeks from one thread while a source posts data tasks from another: once the
// requests are over, the drop-data flag is down and the pump pulls again.
TEST_F(SessionLifeCycleTest, ManySeeksRacingThePumpLeaveTheFlagDown) {
    struct Source {
        std::atomic<int> added{0};
        void Add(MemoryChunk) { ++added; }
    } source;
    typedef TaskTemplate1<Source*, void (Source::*)(MemoryChunk), MemoryChunk> DataTask;

    session->SetPullAmount(1024);
    session->StartPump(100);
    session->Start();
    std::atomic<bool> seeking(true);
    std::thread feeder([&] {
        while (seeking) {
            session->AddTask(boost::make_shared<DataTask>(Session::TaskCategoryDownload,
                                                          StackIdServing, "Source::Add", &source,
                                                          &Source::Add, MemoryChunk(188, 0, 0)));
            std::this_thread::yield();
        }
    });
    std::thread seeker([&] {
        for (int i = 0; i < 10000; ++i) session->Seek(i);
        seeking = false;
    });
    seeker.join();
    feeder.join();

    EXPECT_TRUE(Eventually([&] { return !session->GetTaskManager()->IsDroppingDataTasks(); }));
    // The seek's task lowers the flag first and seeks the chain after it: the count is waited
    // for, not read the moment the flag is seen down.
    EXPECT_TRUE(Eventually([&] { return stage->Seeks() > 0; }));
    const int pulls = stage->Pulls();
    EXPECT_TRUE(Eventually([&] { return stage->Pulls() > pulls + 2; }));  // pulls resume
    session->Stop(true);
}

// Seeks and rate changes one at a time against a pump that runs its queue without pause:
// after each has run, the flag it raised is down again, however soon the pump took the task.
TEST_F(SessionLifeCycleTest, EachSeekOrRateChangeLowersTheFlagItRaised) {
    session->StartPump(1);  // no wait between passes
    session->Start();
    int stuck = 0;
    for (int i = 0; i < 5000; ++i) {
        if (i % 2 == 0) {
            session->Seek(i);
        } else {
            session->TrickPlay(2, i);
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (stage->Seeks() + stage->RateChanges() != i + 1) {
            ASSERT_LT(std::chrono::steady_clock::now(), end);
            std::this_thread::yield();
        }
        stuck += session->GetTaskManager()->IsDroppingDataTasks();
        session->GetTaskManager()->ClearDropDataTasks();
    }
    EXPECT_EQ(0, stuck);
    session->Stop(true);
}

}  // namespace
}  // namespace SarvelonMediaKit
