// The Transformer at run time: its worker, the loopback server with one serving chain per
// connection, the collection of stopped serving sessions, file output, chapter requests and
// the orderly stop.
#include <boost/make_shared.hpp>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/Time/Timer.h"
#include "engine/api/GarbageCollectionTimer.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerWorkerThread.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/core/Task.h"
#include "engine/api/MultiFileLoader.h"
#include "engine/serve/FileServer.h"
#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"

namespace SarvelonMediaKit {

namespace {

// Every pump pass, and every step of file output, moves this much through a chain.
const uint32_t kPullAmount = 131072;
// A serving session's pump pass interval (microseconds).
const uint64_t kServingPumpInterval = 5000;
// How often the waits of the worker look at the abort flag.
const uint32_t kWaitSliceMilliseconds = 100;
// How often stopped serving sessions are let go.
const uint32_t kCollectionIntervalMilliseconds = 1000;
// Servers bind the loopback address only.
const uint32_t kLoopbackAddress = 0x7F000001;
// No start position: the chain starts where its preload left it.
const uint64_t kNoPosition = ~uint64_t(0);

typedef TaskTemplate0<Transformer*, void (Transformer::*)()> FileStepTask;

// Records a step's failure unless an error is recorded already: SetError may have put one
// there (with its text) from another thread meanwhile. The first error stands, and a step's
// success never replaces it.
void RecordFailure(std::atomic<SVStatus>& status, SVStatus result) {
    if (result == SVStatusSuccess) return;
    SVStatus expected = SVStatusSuccess;
    status.compare_exchange_strong(expected, result);
}

bool IsIndexedFormat(MediaFormat format) {
    return format == MediaFormatMpeg2Ps || format == MediaFormatDvd || format == MediaFormatSmil;
}

}  // namespace

SVStatus Transformer::Transform(MediaTime position, TrickPlayRate rate, bool inWorkerThread) {
    if (inWorkerThread) {
        if (worker_) return SVStatusAlreadyStarted;
        // The start's answer is the status as the worker finds it, read before the worker runs:
        // read after, it would depend on how far the worker had got. What fails on the worker
        // reaches the caller as its error event.
        const SVStatus status = status_;
        if (ListensForPlayer()) {
            std::lock_guard<std::mutex> lock(listenStateLock_);
            listenState_ = ListenState::Pending;
        }
        worker_.reset(new TransformerWorkerThread(this, position, rate));
        worker_->Start();
        return status;
    }

    // On the worker.
    if (!hasDemux_) {
        // An empty chain (a remote HLS playlist, which the player plays itself): nothing to
        // name, run or serve, and nothing failed.
        if (session_ && session_->GetComponentStack().IsEmpty()) return status_;
        RecordFailure(status_, NameSource());
    } else if (pendingPreloads_ > 0) {
        RecordFailure(status_, PreLoad());
    }
    if (status_ != SVStatusSuccess) return status_;
    if (abortRequested_) return status_;

    if (IsIndexedFormat(mediaFormat_) && session_) {
        if (rate.Get() == 0) {
            if (position.Get() != kNoPosition) session_->Seek(position);
        } else {
            session_->TrickPlay(rate, position);
        }
    }

    switch (outputKind_) {
        case OutputKindFile: return TransformToFile(position, rate, true);
        case OutputKindPassThrough:
        case OutputKindHls:
            // Without a listening socket the playback URL would lead nowhere: the failure has
            // gone to SetError, which stopped the session.
            if (!ListenForPlayer()) return status_;
            StartGarbageCollection();
            return Serve(position, rate, true);
        case OutputKindRtmpServer: return Serve(position, rate, true);
        default: return SVStatusUnsupported;
    }
}

bool Transformer::ListenForPlayer() {
    // HLS on the engine's loopback port; pass-through on the port after it.
    const uint16_t port = outputKind_ == OutputKindHls
                              ? GetLoopbackPort()
                              : static_cast<uint16_t>(GetLoopbackPort() + 1);
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(runtimeLock_);
        // Stop has begun: nothing may listen any more.
        if (runtimeStopped_ || abortRequested_ || !session_) return false;
        if (!listener_) {
            listener_.reset(new MultiSocketDelegateServer(
                session_.get(), nullptr,
                [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
                    return CreateServingChain(accepted);
                }));
        }
        errno = 0;
        try {
            listener_->Listen(port, kLoopbackAddress);
            SettleListen(ListenState::Listening);
            return true;
        } catch (const SV::Exception& exception) {
            const int reason = errno;
            failure = "Could not listen on 127.0.0.1:" + std::to_string(port) + ": " +
                      exception.GetDetail();
            if (reason != 0) failure += std::string(" (") + std::strerror(reason) + ")";
        }
        listener_.reset();
    }
    // Outside the lock: SetError stops the session and calls the monitors. The status is
    // recorded before the wait for the listen ends.
    SetError(SVStatusListenFailed, failure);
    SettleListen(ListenState::GivenUp);
    return false;
}

bool Transformer::ListensForPlayer() const {
    // A remote HLS playlist is handed to the player as it is: nothing listens for it.
    return (outputKind_ == OutputKindHls || outputKind_ == OutputKindPassThrough) &&
           mediaFormat_ != MediaFormatHls;
}

void Transformer::WorkerEnded() { SettleListen(ListenState::GivenUp); }

void Transformer::SettleListen(ListenState state) {
    {
        std::lock_guard<std::mutex> lock(listenStateLock_);
        if (listenState_ != ListenState::Pending) return;
        listenState_ = state;
    }
    listenStateChanged_.notify_all();
}

SVStatus Transformer::WaitUntilListening() {
    std::unique_lock<std::mutex> lock(listenStateLock_);
    listenStateChanged_.wait(lock, [this]() { return listenState_ != ListenState::Pending; });
    return status_;
}

void Transformer::WaitForSessionStop() {
    while (!abortRequested_) {
        if (!session_ || session_->WaitForStop(kWaitSliceMilliseconds)) break;
    }
}

SVStatus Transformer::Serve(MediaTime /*position*/, TrickPlayRate /*rate*/, bool wait) {
    if (session_) session_->SetPullAmount(ByteAmount(kPullAmount));
    if (!wait) return status_;
    // The worker spends the playback here.
    WaitForSessionStop();

    // The playback is over (an error or the end stopped the session, or Stop has begun): the
    // front door closes now rather than at Stop, so a player's new connection is refused
    // instead of waiting on a port nobody answers, and the port is free again at once. As in
    // Stop, the listener goes outside the lock.
    std::unique_ptr<MultiSocketDelegateServer> listener;
    {
        std::lock_guard<std::mutex> lock(runtimeLock_);
        listener.swap(listener_);
    }
    listener.reset();
    // The socket thread may still be inside a wait that holds the closed listening socket
    // alive; once it has ended the port is free for certain. The session has stopped, so
    // nothing else of it needs that thread.
    if (session_) static_cast<SocketMaster&>(*session_).Stop();
    // The connections already served end with the playback too.
    std::list<boost::shared_ptr<Session>> serving;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        servingClosed_ = true;
        serving.swap(servingSessions_);
    }
    for (const boost::shared_ptr<Session>& session : serving) session->Stop(true);
    return status_;
}

SocketDelegate* Transformer::CreateServingChain(SV::PilSocketHolder& socket) {
    // Only HLS has something to serve; other connections are refused (closed at once) rather
    // than given a session that nothing would ever stop.
    if (outputKind_ != OutputKindHls) return nullptr;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        if (servingClosed_) return nullptr;
    }

    boost::shared_ptr<Session> serving = Session::Create();
    boost::shared_ptr<LiveHttpServer> server = boost::make_shared<LiveHttpServer>(serving.get());
    if (segmenter_ != nullptr) server->SetFileSource(segmenter_);
    ComponentStack stack(StackIdServing);
    stack.AddComponent(server);
    serving->SetComponentStack(stack);
    static_cast<ErrorInfoSource&>(*serving).AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    serving->StartPump(MediaTime(kServingPumpInterval));
    serving->SetPullAmount(ByteAmount(kPullAmount));
    serving->Start();
    // The connection's traffic runs on the serving session's own threads.
    server->SwapSocket(socket);
    server->SetSocketMaster(serving.get());

    bool closed = false;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        if (servingClosed_) {
            closed = true;
        } else {
            servingSessions_.push_back(serving);
        }
    }
    if (closed) {
        // Stop came in between: the session goes with the connection it holds.
        serving->Stop(true);
        return nullptr;
    }
    return server.get();
}

void Transformer::StartGarbageCollection() {
    std::lock_guard<std::mutex> lock(runtimeLock_);
    if (runtimeStopped_ || gcTimer_) return;
    gcTimer_.reset(new GarbageCollectionTimer(this));
    try {
        SV::TimerSet(gcTimer_.get(), 0, kCollectionIntervalMilliseconds, true);
    } catch (const SV::Exception&) {
        // The process is terminating: Stop lets the serving sessions go.
        DebugPrint("Transformer::StartGarbageCollection: the timer could not be armed\n");
    }
}

void Transformer::CollectGarbage() {
    std::vector<boost::shared_ptr<Session>> stopped;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        for (auto it = servingSessions_.begin(); it != servingSessions_.end();) {
            // Shut down: its stop has acted and its stop event is set. Running ones stay.
            if ((*it)->WaitForStop(0)) {
                stopped.push_back(*it);
                it = servingSessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed here, outside the lock: a session waits for its threads as it goes, and those
    // threads may be on their way to a call that takes the lock.
    stopped.clear();
}

size_t Transformer::GetServingSessionCount() {
    std::lock_guard<std::mutex> lock(servingLock_);
    return servingSessions_.size();
}

uint16_t Transformer::GetListeningPort() const {
    std::lock_guard<std::mutex> lock(runtimeLock_);
    return listener_ ? listener_->GetListeningPort() : 0;
}

SVStatus Transformer::TransformToFile(MediaTime /*position*/, TrickPlayRate /*rate*/, bool wait) {
    if (session_) {
        session_->AddTask(boost::make_shared<FileStepTask>(
            Session::TaskCategorySession, StackIdServing, "Transformer::TransformToFile", this,
            &Transformer::TransformToFileInTask));
    }
    if (wait) WaitForSessionStop();
    return status_;
}

void Transformer::TransformToFileInTask() {
    // On the session's pump thread: one step of the output, then the next one behind whatever
    // else was queued meanwhile, until the end of the title has been written. A local title
    // ends with the end of the stream (no end-of-data follows it), which the multiplexer
    // hands on only behind everything it held: once the file has it, the file is whole.
    session_->PullDataInTask(ByteAmount(kPullAmount));
    const FileServer* output =
        dynamic_cast<const FileServer*>(session_->GetComponentStack().Front().get());
    const bool whole = output != nullptr && output->HasReachedEndOfStream();
    if (status_ == SVStatusSuccess && !whole) {
        session_->AddTask(boost::make_shared<FileStepTask>(
            Session::TaskCategorySession, StackIdServing, "Transformer::TransformToFileInTask",
            this, &Transformer::TransformToFileInTask));
    } else {
        session_->Stop(false);
    }
}

SVStatus Transformer::GetChapterData(unsigned first, unsigned last) {
    size_t known = 0;
    {
        std::lock_guard<std::mutex> lock(trackLock_);
        known = chapters_.size();
    }
    if (first > last || last >= known) return SVStatusChapterRange;
    if (session_) session_->GetChapterData(first, last);
    return status_;
}

SVStatus Transformer::Stop() {
    // The worker's waits end; it neither listens nor starts the collection from here on.
    abortRequested_ = true;
    SettleListen(ListenState::GivenUp);
    {
        // A manifest's load under way ends now instead of running out its time-outs; one
        // about to begin sees abortRequested_.
        std::lock_guard<std::mutex> lock(loaderLock_);
        if (loader_ != nullptr) loader_->Abort();
    }
    std::unique_ptr<MultiSocketDelegateServer> listener;
    std::unique_ptr<GarbageCollectionTimer> timer;
    {
        std::lock_guard<std::mutex> lock(runtimeLock_);
        runtimeStopped_ = true;
        listener.swap(listener_);
        timer.swap(gcTimer_);
    }
    // The front door closes first, so no connection arrives while the chains go: leaving the
    // master waits for an accept under way, and the port is free again afterwards.
    listener.reset();
    // Waits for a collection under way.
    timer.reset();

    // The serving sessions read the segmenter's files: they stop before the main chain does,
    // and outside the lock, which their own threads may be waiting for.
    std::list<boost::shared_ptr<Session>> serving;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        servingClosed_ = true;
        serving.swap(servingSessions_);
    }
    for (const boost::shared_ptr<Session>& session : serving) session->Stop(true);
    serving.clear();

    if (session_) {
        session_->Stop(true);
        // The socket thread may still be inside a wait that holds the closed listening socket
        // alive; once it has ended the port is free for certain.
        static_cast<SocketMaster&>(*session_).Stop();
    }

    if (worker_) {
        // Deleted only once its thread has ended. Called on the worker itself (an event
        // delivered there whose handler tears the playback down), it cannot wait for its own
        // end: the worker stays, and the destructor, run on another thread, waits for it.
        if (worker_->IsCallerTheThread()) return status_;
        if (worker_->IsRunning()) worker_->WaitForExit(SV::kInfiniteWait);
        worker_.reset();
    }
    return status_;
}

}  // namespace SarvelonMediaKit
