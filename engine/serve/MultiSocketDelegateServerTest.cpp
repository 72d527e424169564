#include "engine/serve/MultiSocketDelegateServer.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "tests/support/SocketTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;

// What the engine does per connection: a session of its own (pump and socket master) with a
// delegate on it. Torn down in the order a session goes: threads first, then the delegate.
struct Connection {
    Station station;
    std::unique_ptr<RecordingDelegate> delegate;
    std::atomic<int> reports{0};

    Connection() : delegate(new RecordingDelegate(station.master.get(), station.pump.get())) {
        station.master->SetSocketClosedHandler([this](int, SocketDelegate* d) {
            if (d == delegate.get()) ++reports;
        });
    }
    ~Connection() {
        station.Halt();
        delegate.reset();
    }
};

// The connection factory of the tests: every connection gets a Connection, or (optionally)
// shares one station.
class Factory {
public:
    explicit Factory(Station* shared = nullptr) : shared_(shared) {}

    SocketDelegate* Make(SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++calls_;
        if (refuseNext_) {
            refuseNext_ = false;
            return nullptr;
        }
        SocketDelegate* delegate = nullptr;
        if (shared_ != nullptr) {
            shared_delegates_.emplace_back(new RecordingDelegate(nullptr, shared_->pump.get()));
            delegate = shared_delegates_.back().get();
            delegate->SwapSocket(accepted);
            delegate->SetSocketMaster(shared_->master.get());
        } else {
            connections_.emplace_back(new Connection);
            delegate = connections_.back()->delegate.get();
            delegate->SwapSocket(accepted);
            delegate->SetSocketMaster(connections_.back()->station.master.get());
        }
        return delegate;
    }
    SocketFactory Function() {
        return
            [this](SocketMaster* m, Component* c, SV::PilSocketHolder& h) { return Make(m, c, h); };
    }

    int Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void RefuseNext() {
        std::lock_guard<std::mutex> lock(mutex_);
        refuseNext_ = true;
    }
    std::vector<Connection*> Connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Connection*> all;
        for (size_t i = 0; i < connections_.size(); ++i) all.push_back(connections_[i].get());
        return all;
    }
    std::vector<RecordingDelegate*> SharedDelegates() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<RecordingDelegate*> all;
        for (size_t i = 0; i < shared_delegates_.size(); ++i) {
            all.push_back(shared_delegates_[i].get());
        }
        return all;
    }
    // Once the threads that use them have stopped; destroyed outside our lock, which the
    // factory takes under the master's.
    void Clear() {
        std::vector<std::unique_ptr<Connection>> connections;
        std::vector<std::unique_ptr<RecordingDelegate>> delegates;
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
        delegates.swap(shared_delegates_);
    }

private:
    Station* shared_;
    std::mutex mutex_;
    int calls_ = 0;
    bool refuseNext_ = false;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<std::unique_ptr<RecordingDelegate>> shared_delegates_;
};

// Notes data that reaches it before its open hook has run.
class OrderWatchingDelegate : public RecordingDelegate {
public:
    using RecordingDelegate::RecordingDelegate;
    void DoProcessSessionData(MemoryChunk chunk) override {
        if (Count("open") == 0) ++dataBeforeOpen;
        RecordingDelegate::DoProcessSessionData(chunk);
    }
    std::atomic<int> dataBeforeOpen{0};
};

// A whole request head naming what: only a connection that has sent one gets a delegate.
std::string Head(const std::string& what) { return "GET /" + what + " HTTP/1.1\r\n\r\n"; }

// Starts the server listening on the loopback and fills it to its cap one connection at a time,
// each sending the head Head(i) at once, so that client i is served by shared delegate i (which
// has read its head) and the earlier ones have been idle longer.
void ListenAndFillToTheCap(MultiSocketDelegateServer& server, Factory& factory,
                           std::vector<int>* clients, std::vector<RecordingDelegate*>* delegates) {
    server.Listen(0, kLoopback);
    const int cap = MultiSocketDelegateServer::kMaxServingConnections;
    for (int i = 0; i < cap; ++i) {
        clients->push_back(Connect(server.GetListeningPort()));
        ASSERT_GE(clients->back(), 0);
        ASSERT_TRUE(SendAll(clients->back(), Head(std::to_string(i))));
        ASSERT_TRUE(WaitUntil([&]() {
            const std::vector<RecordingDelegate*> all = factory.SharedDelegates();
            return all.size() == static_cast<size_t>(i + 1) &&
                   all.back()->Data() == Head(std::to_string(i));
        }));
    }
    *delegates = factory.SharedDelegates();
    ASSERT_EQ(cap, server.GetServingConnections());
}

// A factory hands a connection over (SwapSocket, SetSocketMaster) before it has set up the
// chain behind it; the server announces it (SessionSocketOpen) only once the factory returns.
// A request the peer sent at once must wait for that, or it races the set-up and its data task
// overtakes the open task.
TEST(MultiSocketDelegateServerTest, AHandedOverConnectionIsReadOnlyOnceAnnounced) {
    // Both outlive the delegates, which leave them as they go.
    Station station;
    Station other;
    OrderWatchingDelegate handed(nullptr, station.pump.get());
    const int handedPeer = HandOver(handed);
    ASSERT_GE(handedPeer, 0);
    ASSERT_TRUE(SendAll(handedPeer, "early"));
    handed.SetSocketMaster(station.master.get());

    // A second connection on the same master, announced. Its first bytes are read in a pass
    // that also saw the first connection's bytes waiting; its second bytes only in a later
    // pass, so by then the master is done with that one.
    RecordingDelegate witness(nullptr, station.pump.get());
    const int witnessPeer = HandOver(witness);
    ASSERT_GE(witnessPeer, 0);
    witness.SetSocketMaster(station.master.get());
    witness.SessionSocketOpen();
    ASSERT_TRUE(SendAll(witnessPeer, "x"));
    ASSERT_TRUE(WaitUntil([&]() { return witness.Data() == "x"; }));
    ASSERT_TRUE(SendAll(witnessPeer, "y"));
    ASSERT_TRUE(WaitUntil([&]() { return witness.Data() == "xy"; }));

    int waiting = -1;
    ASSERT_EQ(0, ioctl(handed.GetSessionDescriptor(), FIONREAD, &waiting));
    EXPECT_EQ(5, waiting);  // the five bytes of "early", unread
    EXPECT_EQ("", handed.Data());

    handed.SessionSocketOpen();
    ASSERT_TRUE(WaitUntil([&]() { return handed.Data() == "early"; }));
    EXPECT_EQ(0, handed.dataBeforeOpen.load());
    EXPECT_EQ(std::vector<std::string>({"open"}), handed.Events());

    // A connection already announced follows its delegate to another master at once.
    handed.SetSocketMaster(other.master.get());
    ASSERT_TRUE(SendAll(handedPeer, "later"));
    ASSERT_TRUE(WaitUntil([&]() { return handed.Data() == "earlylater"; }));

    other.Halt();
    station.Halt();
    close(handedPeer);
    close(witnessPeer);
}

TEST(MultiSocketDelegateServerTest, EveryConnectionGetsItsOwnDelegateAndSession) {
    {
        Factory factory;
        Station front;
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        server.Listen(0, kLoopback);
        const uint16_t port = server.GetListeningPort();
        ASSERT_NE(0, port);

        const int kClients = 20;
        std::vector<int> clients;
        for (int i = 0; i < kClients; ++i) {
            const int fd = Connect(port);
            ASSERT_GE(fd, 0);
            clients.push_back(fd);
            ASSERT_TRUE(SendAll(fd, Head("client" + std::to_string(i))));
        }
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == kClients; }));

        // What each peer wrote reached its own delegate's task queue, and nothing else did.
        std::set<std::string> seen;
        for (Connection* c : factory.Connections()) {
            ASSERT_TRUE(WaitUntil([&]() { return !c->delegate->Data().empty(); }));
            ASSERT_TRUE(WaitUntil([&]() { return c->delegate->Count("open") == 1; }));
            seen.insert(c->delegate->Data());
        }
        EXPECT_EQ(static_cast<size_t>(kClients), seen.size());
        for (int i = 0; i < kClients; ++i) {
            EXPECT_EQ(1u, seen.count(Head("client" + std::to_string(i))));
        }
        EXPECT_EQ(kClients, server.GetServingConnections());

        // Each peer that hangs up is reported once, to its own session.
        for (int fd : clients) close(fd);
        for (Connection* c : factory.Connections()) {
            ASSERT_TRUE(WaitUntil([&]() { return c->reports == 1; }));
            ASSERT_TRUE(WaitUntil([&]() { return c->delegate->Count("closed") == 1; }));
        }
        // Nothing more comes: each station's master and pump have gone on past the reports.
        for (Connection* c : factory.Connections()) ASSERT_TRUE(Settle(c->station));
        for (Connection* c : factory.Connections()) {
            EXPECT_EQ(1, c->reports.load());
            const std::vector<std::string> expected = {"open", "closed"};
            EXPECT_EQ(expected, c->delegate->Events());
            EXPECT_EQ(0, c->delegate->OffThread());
        }
        EXPECT_EQ(0, server.GetServingConnections());

        front.Halt();
        factory.Clear();
    }
    // A joined thread can linger in /proc for a moment.
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("SocketMaster") == 0; }));
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("Pump") == 0; }));
}

TEST(MultiSocketDelegateServerTest, ARefusedConnectionIsClosedAndTheServerKeepsListening) {
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        server.Listen(0, kLoopback);
        factory.RefuseNext();
        const int refused = Connect(server.GetListeningPort());
        ASSERT_GE(refused, 0);
        ASSERT_TRUE(SendAll(refused, Head("refused")));
        EXPECT_TRUE(PeerCloses(refused));
        close(refused);

        const int served = Connect(server.GetListeningPort());
        ASSERT_GE(served, 0);
        ASSERT_TRUE(SendAll(served, Head("still-here")));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == 1 &&
                   factory.SharedDelegates()[0]->Data() == Head("still-here");
        }));
        EXPECT_EQ(2, factory.Calls());
        close(served);
        front.Halt();
    }
    factory.Clear();
}

TEST(MultiSocketDelegateServerTest, AtTheCapANewcomerTakesTheLongestIdlePlaceOrWaitsForOne) {
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        // A connection that has asked nothing may be cut at once: the order of the cut is what
        // is looked at here.
        server.SetFirstRequestMilliseconds(0);
        std::vector<int> clients;
        std::vector<RecordingDelegate*> delegates;
        ASSERT_NO_FATAL_FAILURE(ListenAndFillToTheCap(server, factory, &clients, &delegates));
        const uint16_t port = server.GetListeningPort();
        const int cap = MultiSocketDelegateServer::kMaxServingConnections;
        ASSERT_EQ(32, cap);

        // Every connection has a request in progress: nobody is cut for a newcomer, which waits
        // with its head, neither closed nor handed out...
        for (RecordingDelegate* d : delegates) d->SetRequestInProgress(true);
        const int extra = Connect(port);
        ASSERT_GE(extra, 0);
        ASSERT_TRUE(SendAll(extra, Head("extra")));
        EXPECT_FALSE(PeerCloses(extra, 200));
        EXPECT_EQ(cap, factory.Calls());
        EXPECT_EQ(1, server.GetWaitingConnections());
        // ...until an answer ends: it takes that connection's place, and is served.
        delegates[13]->SetRequestInProgress(false);
        EXPECT_TRUE(PeerCloses(clients[13]));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == static_cast<size_t>(cap + 1) &&
                   factory.SharedDelegates().back()->Data() == Head("extra");
        }));
        factory.SharedDelegates().back()->SetRequestInProgress(true);

        // Two answers end, 9's first: 9 has been idle longest, then 5.
        delegates[9]->SetRequestInProgress(false);
        delegates[5]->SetRequestInProgress(false);
        const int first = Connect(port);
        ASSERT_GE(first, 0);
        ASSERT_TRUE(SendAll(first, Head("first")));
        EXPECT_TRUE(PeerCloses(clients[9]));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == static_cast<size_t>(cap + 2) &&
                   factory.SharedDelegates().back()->Data() == Head("first");
        }));
        EXPECT_FALSE(PeerCloses(clients[5], 50));
        EXPECT_EQ(cap, server.GetServingConnections());

        // The next one takes 5's place; then the newcomer that has asked nothing since it was
        // served (idle since it came, before the second) goes before the second.
        const int second = Connect(port);
        ASSERT_GE(second, 0);
        ASSERT_TRUE(SendAll(second, Head("second")));
        EXPECT_TRUE(PeerCloses(clients[5]));
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == cap + 3; }));
        const int third = Connect(port);
        ASSERT_GE(third, 0);
        ASSERT_TRUE(SendAll(third, Head("third")));
        EXPECT_TRUE(PeerCloses(first));
        EXPECT_FALSE(PeerCloses(second, 50));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == static_cast<size_t>(cap + 4) &&
                   factory.SharedDelegates().back()->Data() == Head("third");
        }));
        // The connections with a request in progress were all left alone.
        for (int i = 0; i < cap; ++i) {
            if (i != 5 && i != 9 && i != 13) {
                EXPECT_FALSE(PeerCloses(clients[i], 1)) << i;
            }
        }

        // A connection that ends frees its place without cutting anyone.
        close(clients.back());
        clients.pop_back();
        ASSERT_TRUE(WaitUntil([&]() { return server.GetServingConnections() == cap - 1; }));
        const int next = Connect(port);
        ASSERT_GE(next, 0);
        ASSERT_TRUE(SendAll(next, Head("made-it")));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == static_cast<size_t>(cap + 5) &&
                   factory.SharedDelegates().back()->Data() == Head("made-it");
        }));
        EXPECT_FALSE(PeerCloses(second, 50));

        for (int fd : clients) close(fd);
        for (int fd : {extra, first, second, third, next}) close(fd);
        front.Halt();
    }
    factory.Clear();
}

TEST(MultiSocketDelegateServerTest, AtTheCapAConnectionWhoseRequestHasArrivedIsNotCutAsIdle) {
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        std::vector<int> clients;
        std::vector<RecordingDelegate*> delegates;
        ASSERT_NO_FATAL_FAILURE(ListenAndFillToTheCap(server, factory, &clients, &delegates));
        const uint16_t port = server.GetListeningPort();
        const int cap = MultiSocketDelegateServer::kMaxServingConnections;
        // 0 and 1 have been answered, 0 first; every other connection has a request in progress.
        for (int i = 0; i < cap; ++i) delegates[i]->SetRequestInProgress(true);
        delegates[0]->SetRequestInProgress(false);
        delegates[1]->SetRequestInProgress(false);

        // The queue that hands received bytes to the protocol is held: 0's request is read from
        // its socket but not yet handed on. 0 has been idle longest, but not since its request.
        front.pump->Pause();
        ASSERT_TRUE(SendAll(clients[0], Head("again")));
        const int fd0 = delegates[0]->GetSessionDescriptor();
        ASSERT_TRUE(WaitUntil([&]() {
            int readable = -1;
            return ioctl(fd0, FIONREAD, &readable) == 0 && readable == 0;
        }));
        // A newcomer takes the place of 1, the longest idle with nothing arrived.
        const int first = Connect(port);
        ASSERT_GE(first, 0);
        ASSERT_TRUE(SendAll(first, Head("first")));
        EXPECT_TRUE(PeerCloses(clients[1]));
        EXPECT_FALSE(PeerCloses(clients[0], 50));
        front.pump->Resume();
        ASSERT_TRUE(WaitUntil([&]() { return delegates[0]->Data() == Head("0") + Head("again"); }));

        for (int fd : clients) close(fd);
        close(first);
        front.Halt();
    }
    factory.Clear();
}

// A newcomer whose whole head has come waits at the cap for a place without keeping the
// master busy: the server looks again every kFullLookMilliseconds (reading its clock once per
// look for the cut), not as fast as the master can poll its ready socket.
TEST(MultiSocketDelegateServerTest, AWholeHeadWaitingAtTheCapIsLookedAtOnlyByTheLookTimer) {
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        server.SetFirstRequestMilliseconds(3600 * 1000);
        std::atomic<int> readings{0};
        server.SetClock([&readings]() {
            ++readings;
            return SV::PilTime(
                static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count()));
        });
        std::vector<int> clients;
        std::vector<RecordingDelegate*> delegates;
        ASSERT_NO_FATAL_FAILURE(ListenAndFillToTheCap(server, factory, &clients, &delegates));
        const int cap = MultiSocketDelegateServer::kMaxServingConnections;
        const int extra = Connect(server.GetListeningPort());
        ASSERT_GE(extra, 0);
        ASSERT_TRUE(SendAll(extra, Head("extra")));
        ASSERT_TRUE(WaitUntil([&]() { return server.GetWaitingConnections() == 1; }));
        // 300 ms of waiting: some 30 looks, where a spinning master makes thousands.
        const int before = readings;
        EXPECT_FALSE(PeerCloses(extra, 300));
        EXPECT_LT(readings - before, 150);
        EXPECT_EQ(cap, factory.Calls());
        // It still gets the first place that frees.
        delegates[7]->SetRequestInProgress(true);
        delegates[7]->SetRequestInProgress(false);
        EXPECT_TRUE(PeerCloses(clients[7]));
        ASSERT_TRUE(WaitUntil([&]() {
            const std::vector<RecordingDelegate*> all = factory.SharedDelegates();
            return all.size() == static_cast<size_t>(cap + 1) &&
                   all.back()->Data() == Head("extra");
        }));
        for (int fd : clients) close(fd);
        close(extra);
        front.Halt();
    }
    factory.Clear();
}

TEST(MultiSocketDelegateServerTest, AtTheCapNoConnectionIsCutBeforeItsFirstAnswer) {
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        // However slow the machine, no connection here asks too late to be safe from the cut.
        server.SetFirstRequestMilliseconds(3600 * 1000);
        std::vector<int> clients;
        std::vector<RecordingDelegate*> delegates;
        ASSERT_NO_FATAL_FAILURE(ListenAndFillToTheCap(server, factory, &clients, &delegates));
        const uint16_t port = server.GetListeningPort();
        const int cap = MultiSocketDelegateServer::kMaxServingConnections;

        // Nobody has been answered yet (their requests are still with the protocol): a newcomer
        // waits rather than cut one of them.
        const int extra = Connect(port);
        ASSERT_GE(extra, 0);
        ASSERT_TRUE(SendAll(extra, Head("extra")));
        EXPECT_FALSE(PeerCloses(extra, 200));
        for (int i = 0; i < cap; ++i) EXPECT_FALSE(PeerCloses(clients[i], 1)) << i;
        EXPECT_EQ(cap, factory.Calls());
        EXPECT_EQ(cap, server.GetServingConnections());

        // 20 has its answer and goes idle: it alone may go, and the newcomer takes its place.
        delegates[20]->SetRequestInProgress(true);
        delegates[20]->SetRequestInProgress(false);
        EXPECT_TRUE(PeerCloses(clients[20]));
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == cap + 1; }));

        // The newcomer has had no answer yet either: the next one waits for it too...
        const int late = Connect(port);
        ASSERT_GE(late, 0);
        ASSERT_TRUE(SendAll(late, Head("late")));
        EXPECT_FALSE(PeerCloses(extra, 200));
        EXPECT_FALSE(PeerCloses(late, 1));
        EXPECT_EQ(cap + 1, factory.Calls());
        // ...until another answer ends.
        delegates[4]->SetRequestInProgress(true);
        delegates[4]->SetRequestInProgress(false);
        EXPECT_TRUE(PeerCloses(clients[4]));
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == cap + 2; }));
        // Both newcomers are served.
        ASSERT_TRUE(WaitUntil([&]() {
            std::vector<RecordingDelegate*> all = factory.SharedDelegates();
            return all.size() == static_cast<size_t>(cap + 2) &&
                   all[cap]->Data() == Head("extra") && all[cap + 1]->Data() == Head("late");
        }));
        for (int i = 0; i < cap; ++i) {
            if (i != 4 && i != 20) {
                EXPECT_FALSE(PeerCloses(clients[i], 1)) << i;
            }
        }
        EXPECT_EQ(cap, server.GetServingConnections());

        for (int fd : clients) close(fd);
        close(extra);
        close(late);
        front.Halt();
    }
    factory.Clear();
}

// A connection served that has had no answer within the first-request time gives its place up
// to a newcomer at the cap, before one that has been answered since it came; one that has not
// had that time yet keeps its place until it has. The server's clock is the test's.
TEST(MultiSocketDelegateServerTest, AtTheCapAConnectionSilentForTheFirstRequestTimeGivesWay) {
    const uint32_t firstRequest = MultiSocketDelegateServer::kDefaultFirstRequestMilliseconds;
    std::atomic<uint64_t> now{1000000};
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        server.SetClock([&now]() { return SV::PilTime(now.load()); });
        std::vector<int> clients;
        std::vector<RecordingDelegate*> delegates;
        ASSERT_NO_FATAL_FAILURE(ListenAndFillToTheCap(server, factory, &clients, &delegates));
        const uint16_t port = server.GetListeningPort();
        const int cap = MultiSocketDelegateServer::kMaxServingConnections;
        // 1 never has a request in progress; every other connection has, and then 0 has its
        // answer: 0 may go, but 1 has been idle longer (since it came).
        for (int i = 0; i < cap; ++i) {
            if (i != 1) delegates[i]->SetRequestInProgress(true);
        }
        delegates[0]->SetRequestInProgress(false);

        // Once 1 has been silent for the whole time, a newcomer takes its place, not 0's.
        now += firstRequest;
        const int young = Connect(port);
        ASSERT_GE(young, 0);
        ASSERT_TRUE(SendAll(young, Head("young")));
        EXPECT_TRUE(PeerCloses(clients[1]));
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == cap + 1; }));

        // The newcomer is now the only one without a request in progress: the next newcomer
        // waits while the first has not been silent for the whole time...
        delegates[0]->SetRequestInProgress(true);
        const int next = Connect(port);
        ASSERT_GE(next, 0);
        ASSERT_TRUE(SendAll(next, Head("next")));
        now += firstRequest - 1;
        EXPECT_FALSE(PeerCloses(young, 200));
        EXPECT_EQ(cap + 1, factory.Calls());
        // ...and takes its place once it has.
        now += 1;
        EXPECT_TRUE(PeerCloses(young));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == static_cast<size_t>(cap + 2) &&
                   factory.SharedDelegates().back()->Data() == Head("next");
        }));
        // 0, answered but idle for less long than 1, was left alone, as were the busy ones.
        for (int i = 0; i < cap; ++i) {
            if (i != 1) {
                EXPECT_FALSE(PeerCloses(clients[i], 1)) << i;
            }
        }
        EXPECT_EQ(cap, server.GetServingConnections());

        for (int fd : clients) close(fd);
        close(young);
        close(next);
        front.Halt();
    }
    factory.Clear();
}

// Peers that connect and ask nothing, or trickle a head that never ends, get no delegate and
// hold no place. At the most connections that may wait, the one that has waited longest without
// a whole head gives way to a newcomer once it has had the first-request time, however many
// bytes it has trickled; a connection whose head has come is handed out and never cut for one.
TEST(MultiSocketDelegateServerTest, AtTheWaitingCapTheLongestWithoutAWholeHeadGivesWayInTime) {
    const uint32_t firstRequest = MultiSocketDelegateServer::kDefaultFirstRequestMilliseconds;
    std::atomic<uint64_t> now{1000000};
    Station front;
    Factory factory(&front);
    {
        MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
        server.SetClock([&now]() { return SV::PilTime(now.load()); });
        server.SetMaxWaitingConnections(4);
        server.Listen(0, kLoopback);
        const uint16_t port = server.GetListeningPort();

        // Taken one at a time, in this order: silent, trickling, silent, trickling.
        std::vector<int> peers;
        const char* const starts[] = {"", "GET /slow HTTP/1.1\r\n", "", "G"};
        for (const char* start : starts) {
            peers.push_back(Connect(port));
            ASSERT_GE(peers.back(), 0);
            ASSERT_TRUE(SendAll(peers.back(), start));
            ASSERT_TRUE(WaitUntil([&]() {
                return server.GetWaitingConnections() == static_cast<int>(peers.size());
            }));
        }
        // The first trickler goes on, and a long head line from every peer; none is whole.
        now += firstRequest / 2;
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(SendAll(peers[1], "X-Slow: 1\r\n"));

        // A player at the cap: every waiting peer is younger than the first-request time, so
        // the player waits in the listening queue...
        const int player = Connect(port);
        ASSERT_GE(player, 0);
        ASSERT_TRUE(SendAll(player, Head("player")));
        now += firstRequest / 2 - 1;
        EXPECT_FALSE(PeerCloses(peers[0], 200));
        EXPECT_EQ(0, factory.Calls());
        EXPECT_EQ(4, server.GetWaitingConnections());
        // ...until the oldest has had its time: it is cut and the player is served.
        now += 1;
        EXPECT_TRUE(PeerCloses(peers[0]));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == 1 &&
                   factory.SharedDelegates()[0]->Data() == Head("player");
        }));

        // A peer whose head comes whole is served; the next newcomer takes the place of the
        // trickler, the longest waiting, whatever it sent.
        ASSERT_TRUE(SendAll(peers[3], "ET /late HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(WaitUntil([&]() {
            return factory.SharedDelegates().size() == 2 &&
                   factory.SharedDelegates()[1]->Data() == "GET /late HTTP/1.1\r\n\r\n";
        }));
        ASSERT_TRUE(WaitUntil([&]() { return server.GetWaitingConnections() == 2; }));
        const int second = Connect(port);
        ASSERT_GE(second, 0);
        ASSERT_TRUE(WaitUntil([&]() { return server.GetWaitingConnections() == 3; }));
        EXPECT_FALSE(PeerCloses(peers[1], 50));
        // Room was left: no one was cut for it. Filled again, the next one takes the trickler's.
        const int third = Connect(port);
        ASSERT_GE(third, 0);
        ASSERT_TRUE(WaitUntil([&]() { return server.GetWaitingConnections() == 4; }));
        const int fourth = Connect(port);
        ASSERT_GE(fourth, 0);
        EXPECT_TRUE(PeerCloses(peers[1]));
        EXPECT_FALSE(PeerCloses(peers[2], 50));
        EXPECT_EQ(2, factory.Calls());

        // A peer that ends while it waits gives its place back.
        close(peers[2]);
        ASSERT_TRUE(WaitUntil([&]() { return server.GetWaitingConnections() == 3; }));

        for (int fd : {peers[0], peers[1], peers[3], player, second, third, fourth}) close(fd);
        front.Halt();
    }
    factory.Clear();
}

TEST(MultiSocketDelegateServerTest, ConnectionsThatEndBelowTheCapAreNotRememberedForEver) {
    Station front;
    Factory factory(&front);
    MultiSocketDelegateServer server(front.master.get(), nullptr, factory.Function());
    server.Listen(0, kLoopback);
    const uint16_t port = server.GetListeningPort();
    const int cap = MultiSocketDelegateServer::kMaxServingConnections;
    // Ten times the cap, one at a time: the server never reaches the cap.
    for (int i = 0; i < 10 * cap; ++i) {
        const int client = Connect(port);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(SendAll(client, Head(std::to_string(i))));
        ASSERT_TRUE(WaitUntil([&]() { return factory.Calls() == i + 1; }));
        close(client);
        // Its delegate has heard of the end (it is the factory's, which goes after the server).
        ASSERT_TRUE(WaitUntil([&]() {
            return server.GetServingConnections() == 0 &&
                   factory.SharedDelegates().back()->Count("closed") == 1;
        })) << i;
    }
    EXPECT_LE(server.GetTrackedSlots(), static_cast<size_t>(2 * cap));
}

TEST(MultiSocketDelegateServerTest, ListeningOnATakenPortThrowsAndRegistersNothing) {
    Station front;
    Factory factory(&front);
    MultiSocketDelegateServer first(front.master.get(), nullptr, factory.Function());
    first.Listen(0, kLoopback);

    SocketMaster idle(boost::make_shared<TaskManager>());
    MultiSocketDelegateServer second(&idle, nullptr, factory.Function());
    EXPECT_THROW(second.Listen(first.GetListeningPort(), kLoopback), SV::SVLibraryException);
    EXPECT_EQ(-1, second.GetSessionDescriptor());
    EXPECT_EQ(1, ThreadsNamed("SocketMaster"));  // the first server's only
    front.Halt();
}

}  // namespace
}  // namespace SarvelonMediaKit
