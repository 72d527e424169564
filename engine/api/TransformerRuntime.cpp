// The Transformer at run time: its worker, the listen of the loopback server, file output,
// chapter requests and the orderly stop.
#include <boost/make_shared.hpp>

#include <atomic>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/PilThread/Event.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerWorkerThread.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/core/Task.h"
#include "engine/api/MultiFileLoader.h"
#include "engine/serve/FileServer.h"
#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

// Every pump pass, and every step of file output, moves this much through a chain.
const uint32_t kPullAmount = 131072;
// Every pump pass of a first rendition's file output: a title read straight through to a
// batched sink moves through in large pulls, a few system calls and task passes per megabyte.
const uint32_t kStraightPullAmount = 4u << 20;
// How often the waits of the worker look at the abort flag. Every abort also stops the session,
// whose stop ends the wait at once: the slice is only a fallback, long so that an idle playback
// does not wake the worker ten times a second.
const uint32_t kWaitSliceMilliseconds = 1000;
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
        if (ListensForPlayer()) serving_->ExpectListen();
        worker_.reset(new TransformerWorkerThread(this, position, rate));
        worker_->Start();
        return status;
    }

    // On the worker.
    if (!hasDemux_) {
        // An empty chain (a remote HLS playlist, which the player plays itself): nothing to
        // name, run or serve. That it ran nothing is the stop's answer (Stop), not recorded
        // here: the start's answer would then depend on how far the worker had got.
        if (HasEmptyChain()) return status_;
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
            serving_->StartCollection();
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
    // Stop has begun: nothing may listen any more.
    if (abortRequested_ || !session_) return false;
    std::string failure;
    if (serving_->Listen(port, failure)) return true;
    if (failure.empty()) return false;
    // SetError stops the session and calls the monitors. The status is recorded before the
    // wait for the listen ends.
    SetError(SVStatusListenFailed, failure);
    serving_->GiveUpListen();
    return false;
}

bool Transformer::ListensForPlayer() const {
    // A remote HLS playlist is handed to the player as it is: nothing listens for it.
    return (outputKind_ == OutputKindHls || outputKind_ == OutputKindPassThrough) &&
           mediaFormat_ != MediaFormatHls;
}

void Transformer::WorkerEnded() { serving_->GiveUpListen(); }

SVStatus Transformer::WaitUntilListening() {
    serving_->WaitUntilSettled();
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
    // instead of waiting on a port nobody answers, and the port is free again at once.
    serving_->CloseListener();
    // The socket thread may still be inside a wait that holds the closed listening socket
    // alive; once it has ended the port is free for certain. The session has stopped, so
    // nothing else of it needs that thread.
    if (session_) static_cast<SocketMaster&>(*session_).Stop();
    // The connections already served end with the playback too.
    serving_->CloseSessions();
    return status_;
}

SVStatus Transformer::TransformToFile(MediaTime /*position*/, TrickPlayRate /*rate*/, bool wait) {
    if (session_ && batchedFileServer_ != nullptr) {
        // The pump pulls on every pass; the sink stops the session once the stream it holds
        // is complete (a pass after the end of the stream that took nothing more). Nothing
        // paces this output but the sink's queue: while the multiplexer still sends, the next
        // pass follows at once instead of after the playback's interval (a title's end takes
        // a few passes to drain through the chain).
        session_->SetPullAmount(ByteAmount(kStraightPullAmount));
        if (const boost::shared_ptr<Pump> pump = session_->GetPump()) {
            pump->SetBackToBackWhileProducing(true);
        }
    } else if (session_) {
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
    const bool whole = fileServer_ != nullptr && fileServer_->HasReachedEndOfStream();
    if (status_ == SVStatusSuccess && !whole) {
        session_->AddTask(boost::make_shared<FileStepTask>(
            Session::TaskCategorySession, StackIdServing, "Transformer::TransformToFileInTask",
            this, &Transformer::TransformToFileInTask));
    } else {
        session_->Stop(false);
    }
}

SVStatus Transformer::GetChapterData(unsigned first, unsigned last) {
    const size_t known = titleInfo_.GetChapterCount();
    if (first > last || last >= known) return SVStatusChapterRange;
    if (session_) session_->GetChapterData(first, last);
    return status_;
}

bool Transformer::HasEmptyChain() const {
    return session_ && session_->GetComponentStack().IsEmpty();
}

SVStatus Transformer::Stop() {
    // A playback whose chain has no component ran nothing: its stop answers "no transformer"
    // (unless an error came first), whenever it comes after the start, however far the
    // worker got by then.
    if (HasEmptyChain()) RecordFailure(status_, SVStatusNoTransformer);
    // The worker's waits end; it neither listens nor starts the collection from here on.
    abortRequested_ = true;
    preloadChanged_.Set();
    serving_->GiveUpListen();
    {
        // A manifest's load under way ends now instead of running out its time-outs; one
        // about to begin sees abortRequested_.
        std::lock_guard<std::mutex> lock(loaderLock_);
        if (loader_ != nullptr) loader_->Abort();
    }
    // The front door closes first, then the collection; the serving sessions read the
    // segmenter's files: they stop before the main chain does.
    serving_->Shutdown();

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
