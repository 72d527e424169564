#include "engine/core/SocketMaster.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/SocketTestSupport.h"
#include "tests/support/ThreadTestSupport.h"
#include "engine/core/SocketDelegate.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;

// A connected pair of stream sockets: [0] goes to the delegate, [1] plays the peer.
struct Pair {
    int fd[2] = {-1, -1};
    Pair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd)); }
    ~Pair() {
        for (int f : fd) {
            if (f >= 0) close(f);
        }
    }
    // Hands the first end to the delegate, which then owns it.
    void GiveTo(SocketDelegate& delegate) {
        SV::PilSocketHolder holder;
        holder.fd = fd[0];
        fd[0] = -1;
        delegate.SwapSocket(holder);
    }
};

// Drains whatever is readable on the descriptor and notes who was asked.
class RawDelegate : public SocketDelegate {
public:
    explicit RawDelegate(SocketMaster* master) : SocketDelegate(master, nullptr) {}
    ~RawDelegate() override { Detach(); }
    void DoSocketReadable(int fd) override {
        char buffer[256];
        if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++reads;
    }
    std::atomic<int> reads{0};
};

class HandlerLog {
public:
    void Note(int fd, SocketDelegate* delegate) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::make_pair(fd, delegate));
    }
    std::vector<std::pair<int, SocketDelegate*>> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The reports naming one of these delegates: the witness connection Settle runs to prove
    // a pass has happened may be reported as well.
    std::vector<std::pair<int, SocketDelegate*>> CallsFor(
        std::initializer_list<const SocketDelegate*> delegates) {
        std::vector<std::pair<int, SocketDelegate*>> ours;
        for (const auto& call : Calls()) {
            for (const SocketDelegate* d : delegates) {
                if (call.second == d) ours.push_back(call);
            }
        }
        return ours;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<int, SocketDelegate*>> calls_;
};

TEST(SocketMasterTest, TheThreadStartsWithTheFirstSocketAndIsNotRestartedAfterStop) {
    SocketMaster master((boost::shared_ptr<TaskManager>()));
    RawDelegate delegate(&master);
    Pair a, b;

    master.AddSocket(-1, &delegate);
    EXPECT_EQ(0, ThreadsNamed("SocketMaster"));
    master.AddSocket(a.fd[0], &delegate);
    EXPECT_EQ(1, ThreadsNamed("SocketMaster"));
    master.AddSocket(b.fd[0], &delegate);
    EXPECT_EQ(1, ThreadsNamed("SocketMaster"));

    master.RequestStop();
    EXPECT_TRUE(master.IsStopRequested());
    master.Stop();
    EXPECT_TRUE(master.IsStopped());
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("SocketMaster") == 0; }));

    master.Start();
    master.AddSocket(a.fd[1], &delegate);
    EXPECT_EQ(0, ThreadsNamed("SocketMaster"));
}

TEST(SocketMasterTest, TasksGoToTheTaskManagerSetLastAndAreDroppedWithoutOne) {
    SocketMaster master((boost::shared_ptr<TaskManager>()));
    EXPECT_FALSE(master.GetTaskManager());
    std::vector<std::string> ran;
    // No queue yet: the task is let go unrun.
    master.PostTask(MakeTask("first", [&]() { ran.push_back("first"); }));

    boost::shared_ptr<TaskManager> one(new TaskManager), two(new TaskManager);
    master.SetTaskManager(one);
    EXPECT_EQ(one, master.GetTaskManager());
    master.PostTask(MakeTask("second", [&]() { ran.push_back("second"); }));
    master.SetTaskManager(two);
    master.PostTask(MakeTask("third", [&]() { ran.push_back("third"); }));

    two->RunTasks();
    EXPECT_EQ(std::vector<std::string>({"third"}), ran);
    one->RunTasks();
    EXPECT_EQ(std::vector<std::string>({"third", "second"}), ran);
}

TEST(SocketMasterTest, ADelegateReadsHereAndReactsOnThePumpThread) {
    Station station;
    HandlerLog handlerLog;
    std::atomic<int> descriptorWhenReported{-2};
    {
        RecordingDelegate delegate(station.master.get(), station.pump.get());
        station.master->SetSocketClosedHandler([&](int fd, SocketDelegate* d) {
            descriptorWhenReported = delegate.GetSessionDescriptor();
            handlerLog.Note(fd, d);
        });
        Pair pair;
        const int fd = pair.fd[0];
        pair.GiveTo(delegate);
        delegate.SessionSocketOpen();
        ASSERT_TRUE(WaitUntil([&]() { return delegate.Count("open") == 1; }));

        ASSERT_TRUE(SendAll(pair.fd[1], "hello"));
        ASSERT_TRUE(WaitUntil([&]() { return delegate.Data() == "hello"; }));

        // A burst larger than one read arrives whole and in order, in reads of at most 10000.
        std::string burst;
        for (int i = 0; i < 25000; ++i) burst += static_cast<char>('a' + i % 26);
        ASSERT_TRUE(SendAll(pair.fd[1], burst));
        ASSERT_TRUE(WaitUntil([&]() { return delegate.Data().size() == 5 + burst.size(); }));
        EXPECT_EQ("hello" + burst, delegate.Data());
        const std::vector<uint32_t> sizes = delegate.ChunkSizes();
        EXPECT_GE(sizes.size(), 4u);
        for (uint32_t size : sizes) EXPECT_LE(size, 10000u);

        // The peer hangs up: one closed task, one report, the socket already closed by then.
        close(pair.fd[1]);
        pair.fd[1] = -1;
        ASSERT_TRUE(WaitUntil([&]() { return handlerLog.Calls().size() == 1; }));
        ASSERT_TRUE(WaitUntil([&]() { return delegate.Count("closed") == 1; }));
        delegate.CloseSessionSocket();  // nothing left to close
        ASSERT_TRUE(Settle(station));   // and nothing more comes
        EXPECT_EQ(1, delegate.Count("closed"));
        const std::vector<std::pair<int, SocketDelegate*>> reported =
            handlerLog.CallsFor({&delegate});
        ASSERT_EQ(1u, reported.size());
        EXPECT_EQ(std::make_pair(fd, static_cast<SocketDelegate*>(&delegate)), reported[0]);
        EXPECT_EQ(-1, descriptorWhenReported.load());
        const std::vector<std::string> expected = {"open", "closed"};
        EXPECT_EQ(expected, delegate.Events());
        EXPECT_EQ(0, delegate.OffThread());
        station.Halt();
    }
}

TEST(SocketMasterTest, SocketTableChanges) {
    Station station;
    HandlerLog handlerLog;
    station.master->SetSocketClosedHandler(
        [&](int fd, SocketDelegate* d) { handlerLog.Note(fd, d); });
    RawDelegate first(station.master.get());
    RawDelegate second(station.master.get());
    const SocketDelegate* leavingAddress = nullptr;
    {
        RawDelegate leaving(station.master.get());
        Pair a, b;

        // A descriptor moves to the delegate that added it last.
        station.master->AddSocket(a.fd[0], &first);
        station.master->AddSocket(a.fd[0], &second);
        ASSERT_TRUE(SendAll(a.fd[1], "x"));
        ASSERT_TRUE(WaitUntil([&]() { return second.reads == 1; }));
        EXPECT_EQ(0, first.reads.load());

        // Removing a descriptor that was never added reports nothing; removing one that was
        // reports it once, with its owner.
        station.master->RemoveSocket(b.fd[0]);
        station.master->RemoveSocket(a.fd[0]);
        ASSERT_TRUE(WaitUntil([&]() { return !handlerLog.Calls().empty(); }));

        // A delegate that leaves takes its sockets along and is not reported afterwards.
        station.master->AddSocket(b.fd[0], &leaving);
        station.master->UnregisterDelegate(&leaving);
        ASSERT_TRUE(SendAll(b.fd[1], "y"));
        ASSERT_TRUE(Settle(station));  // a pass that would have read it has run
        EXPECT_EQ(0, leaving.reads.load());
        leavingAddress = &leaving;
    }
    const std::vector<std::pair<int, SocketDelegate*>> reported =
        handlerLog.CallsFor({&first, &second, leavingAddress});
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(&second, reported[0].second);
    station.Halt();
}

// A removal wakes the master's wait; the pass it ends reads the wake-up back, so the idle master
// then sleeps in its next wait. Left unread, the wake-up would end every later wait at once:
// a loop that spins on a core while nothing happens.
TEST(SocketMasterTest, AfterARemovalTheIdleMasterSleepsInItsWaitAgain) {
    HandlerLog handlerLog;
    SocketMaster master((boost::shared_ptr<TaskManager>()));
    master.SetSocketClosedHandler([&](int fd, SocketDelegate* d) { handlerLog.Note(fd, d); });
    RawDelegate delegate(&master);
    Pair removed, kept;
    master.AddSocket(removed.fd[0], &delegate);
    master.AddSocket(kept.fd[0], &delegate);  // still watched: the master goes on waiting
    ASSERT_EQ(1, ThreadsNamed("SocketMaster"));

    master.RemoveSocket(removed.fd[0]);
    ASSERT_TRUE(WaitUntil([&]() { return handlerLog.Calls().size() == 1; }));
    // Nothing is readable and nothing changes from here on: the thread is found asleep.
    EXPECT_TRUE(WaitUntil([]() { return SvTestSupport::ThreadStates("SocketMaster") == "S"; }))
        << "state " << SvTestSupport::ThreadStates("SocketMaster");
    master.Stop();
}

TEST(SocketMasterTest, TheClosedSocketHandlerRunsWithNoLockHeld) {
    Station station;
    Pair a, b, c;
    RawDelegate delegate(station.master.get());
    station.master->AddSocket(a.fd[0], &delegate);
    station.master->AddSocket(b.fd[0], &delegate);
    station.master->AddSocket(c.fd[0], &delegate);

    // On the first report the handler waits for the pump thread, which removes a socket
    // meanwhile, and then removes one itself. Under the master's locks either would deadlock.
    std::atomic<int> calls{0};
    std::atomic<bool> removedOnPump{false}, waitedForPump{false};
    SocketMaster* master = station.master.get();
    boost::shared_ptr<Pump> pump = station.pump;
    const int onPump = b.fd[0];
    const int inHandler = c.fd[0];
    master->SetSocketClosedHandler([&, master, pump, onPump, inHandler](int, SocketDelegate*) {
        if (++calls != 1) return;
        pump->GetTaskManager()->AddTask(MakeTask("Test::RemoveSocket", [&, master, onPump]() {
            master->RemoveSocket(onPump);
            removedOnPump = true;
        }));
        waitedForPump = WaitUntil([&]() { return removedOnPump.load(); }, 1000);
        master->RemoveSocket(inHandler);
    });
    master->RemoveSocket(a.fd[0]);
    ASSERT_TRUE(WaitUntil([&]() { return calls == 3; }));
    EXPECT_TRUE(waitedForPump.load());
    station.Halt();
}

TEST(SocketMasterTest, ServesDescriptorsAbove1023) {
    rlimit limit;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const int high = 1500;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= static_cast<rlim_t>(high)) {
        GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= static_cast<rlim_t>(high)) {
        rlimit raised = limit;
        raised.rlim_cur = high + 1;
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &raised));
    }

    Station station;
    Pair pair;
    ASSERT_EQ(high, dup2(pair.fd[0], high));
    close(pair.fd[0]);
    pair.fd[0] = high;
    {
        RecordingDelegate delegate(station.master.get(), station.pump.get());
        pair.GiveTo(delegate);
        delegate.SessionSocketOpen();
        ASSERT_TRUE(SendAll(pair.fd[1], "far away"));
        ASSERT_TRUE(WaitUntil([&]() { return delegate.Data() == "far away"; }));
        station.Halt();
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
