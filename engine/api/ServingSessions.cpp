#include "engine/api/ServingSessions.h"

#include <boost/make_shared.hpp>

#include <cerrno>
#include <cstring>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Time/Timer.h"
#include "engine/api/GarbageCollectionTimer.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"

namespace SarvelonMediaKit {

namespace {

// Every pump pass moves this much through a serving chain at most: a segment ready in memory
// goes out in a few passes and sends. A pass that waits on a slow player holds this much of
// references (with fifty players at the connection cap, a whole segment per pass cost some
// 2 MB more at the peak).
const uint32_t kPullAmount = 262144;
// A serving session's pump pass interval (microseconds).
const uint64_t kServingPumpInterval = 5000;
// How often stopped serving sessions are let go.
const uint32_t kCollectionIntervalMilliseconds = 1000;
// Servers bind the loopback address only.
const uint32_t kLoopbackAddress = 0x7F000001;

}  // namespace

ServingSessions::ServingSessions(Session& main, ErrorInfoMonitor& errors, bool servesFiles)
    : main_(main), errors_(errors), servesFiles_(servesFiles) {
    // The front door is watched by the main session's socket thread and hands every accepted
    // connection to a serving chain of its own.
    listener_.reset(new MultiSocketDelegateServer(
        &main_, nullptr, [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
            return CreateChain(accepted);
        }));
}

ServingSessions::~ServingSessions() { Shutdown(); }

bool ServingSessions::Listen(uint16_t port, std::string& failure) {
    failure.clear();
    std::lock_guard<std::mutex> lock(runtimeLock_);
    // Shutdown has begun: nothing may listen any more.
    if (stopped_) return false;
    if (!listener_) {
        listener_.reset(new MultiSocketDelegateServer(
            &main_, nullptr, [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
                return CreateChain(accepted);
            }));
    }
    errno = 0;
    try {
        listener_->Listen(port, kLoopbackAddress);
        SettleListen(ListenState::Listening);
        return true;
    } catch (const SV::Exception& exception) {
        const int reason = errno;
        failure =
            "Could not listen on 127.0.0.1:" + std::to_string(port) + ": " + exception.GetDetail();
        if (reason != 0) failure += std::string(" (") + std::strerror(reason) + ")";
    }
    listener_.reset();
    return false;
}

uint16_t ServingSessions::GetListeningPort() const {
    std::lock_guard<std::mutex> lock(runtimeLock_);
    return listener_ ? listener_->GetListeningPort() : 0;
}

SocketDelegate* ServingSessions::CreateChain(SV::PilSocketHolder& socket) {
    // Only segmented output has something to serve; other connections are refused (closed at
    // once) rather than given a session that nothing would ever stop.
    if (!servesFiles_) return nullptr;
    {
        std::lock_guard<std::mutex> lock(sessionsLock_);
        if (closed_) return nullptr;
    }

    boost::shared_ptr<Session> serving = Session::Create();
    boost::shared_ptr<LiveHttpServer> server = boost::make_shared<LiveHttpServer>(serving.get());
    if (fileSource_ != nullptr) server->SetFileSource(fileSource_);
    ComponentStack stack(StackIdServing);
    stack.AddComponent(server);
    serving->SetComponentStack(stack);
    static_cast<ErrorInfoSource&>(*serving).AddMonitor(&errors_);
    serving->StartPump(MediaTime(kServingPumpInterval));
    serving->SetPullAmount(ByteAmount(kPullAmount));
    serving->Start();
    // The connection's traffic runs on the serving session's own threads.
    server->SwapSocket(socket);
    server->SetSocketMaster(serving.get());

    bool closed = false;
    {
        std::lock_guard<std::mutex> lock(sessionsLock_);
        if (closed_) {
            closed = true;
        } else {
            sessions_.push_back(serving);
        }
    }
    if (closed) {
        // The sessions were closed in between: this one goes with the connection it holds.
        serving->Stop(true);
        return nullptr;
    }
    return server.get();
}

void ServingSessions::StartCollection() {
    std::lock_guard<std::mutex> lock(runtimeLock_);
    if (stopped_ || timer_) return;
    timer_.reset(new GarbageCollectionTimer(this));
    try {
        SV::TimerSet(timer_.get(), 0, kCollectionIntervalMilliseconds, true);
    } catch (const SV::Exception&) {
        // The process is terminating: Shutdown lets the serving sessions go.
        DebugPrint("ServingSessions::StartCollection: the timer could not be armed\n");
    }
}

void ServingSessions::Collect() {
    std::vector<boost::shared_ptr<Session>> stopped;
    {
        std::lock_guard<std::mutex> lock(sessionsLock_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            // Shut down: its stop has acted and its stop event is set. Running ones stay.
            if ((*it)->WaitForStop(0)) {
                stopped.push_back(*it);
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed here, outside the lock: a session waits for its threads as it goes, and those
    // threads may be on their way to a call that takes the lock.
    stopped.clear();
}

size_t ServingSessions::GetCount() {
    std::lock_guard<std::mutex> lock(sessionsLock_);
    return sessions_.size();
}

void ServingSessions::CloseListener() {
    // The listener goes outside the lock: leaving the master waits for an accept under way,
    // which may be on its way to CreateChain.
    std::unique_ptr<MultiSocketDelegateServer> listener;
    {
        std::lock_guard<std::mutex> lock(runtimeLock_);
        listener.swap(listener_);
    }
    listener.reset();
}

void ServingSessions::CloseSessions() {
    // Stopped outside the lock, which their own threads may be waiting for.
    std::list<boost::shared_ptr<Session>> serving;
    {
        std::lock_guard<std::mutex> lock(sessionsLock_);
        closed_ = true;
        serving.swap(sessions_);
    }
    for (const boost::shared_ptr<Session>& session : serving) session->Stop(true);
}

void ServingSessions::Shutdown() {
    std::unique_ptr<MultiSocketDelegateServer> listener;
    std::unique_ptr<GarbageCollectionTimer> timer;
    {
        std::lock_guard<std::mutex> lock(runtimeLock_);
        stopped_ = true;
        listener.swap(listener_);
        timer.swap(timer_);
    }
    // The front door closes first, so no connection arrives while the chains go: leaving the
    // master waits for an accept under way, and the port is free again afterwards.
    listener.reset();
    // Waits for a collection under way.
    timer.reset();
    CloseSessions();
}

void ServingSessions::ExpectListen() {
    std::lock_guard<std::mutex> lock(listenStateLock_);
    listenState_ = ListenState::Pending;
}

void ServingSessions::SettleListen(ListenState state) {
    {
        std::lock_guard<std::mutex> lock(listenStateLock_);
        if (listenState_ != ListenState::Pending) return;
        listenState_ = state;
    }
    listenStateChanged_.notify_all();
}

void ServingSessions::WaitUntilSettled() {
    std::unique_lock<std::mutex> lock(listenStateLock_);
    listenStateChanged_.wait(lock, [this]() { return listenState_ != ListenState::Pending; });
}

}  // namespace SarvelonMediaKit
