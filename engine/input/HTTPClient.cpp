#include "engine/input/HTTPClient.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Session.h"
#include "engine/core/TaskManager.h"
#include "engine/input/HTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"

namespace SarvelonMediaKit {

namespace {

BandwidthInfoSource::Clock SessionClock(Session* session) {
    return session != nullptr ? session->GetClock() : BandwidthInfoSource::Clock();
}

uint32_t TransportParameter(Session* session) {
    return session != nullptr ? static_cast<uint32_t>(session->GetTransportParameter()) : 0;
}

}  // namespace

HTTPClient::HTTPClient(Session* session)
    : Component(session),
      BandwidthInfoSource(SessionClock(session)),
      guard_(boost::make_shared<HTTPClientGuard>(this)),
      outOfBandRequest_(0),
      readAheadBase_(kReadAheadBase),
      reportedReadAhead_(kReadAheadBase),
      resumeThreshold_(kTransportResumeThreshold),
      closeWaitMs_(kCloseWaitMs),
      requestedEnd_(0),
      currentPosition_(0),
      totalEnd_(0),
      stallCount_(0),
      warningShown_(false),
      downloadLimited_(false),
      transportIdle_(false),
      endOfDataSent_(false),
      restartNeeded_(false),
      refused_(false),
      delivered_(false),
      failedAttempts_(0),
      retryPauseMs_(GetHTTPRetryPauseMs()),
      retryAt_(0),
      errorHeld_(false),
      heldStatus_(SVStatusSuccess),
      seamLeft_(0) {
    if (session != nullptr) taskQueue_ = session->GetTaskManager();
}

HTTPClient::~HTTPClient() {
    // Transport errors reach this object on the download thread: stop them before anything
    // goes. Then no handler a transport still holds and no queued task reaches it again.
    ErrorInfoMonitor::DetachFromSources();
    mainErrors_.reset();
    CurrentGuard()->Clear();
    CloseAndWait(mainTransport_);
    CloseAndWait(outOfBandTransport_);
    mainTransport_.reset();
    outOfBandTransport_.reset();
    BandwidthInfoSource::DetachAll();
    ErrorInfoSource::DetachAll();
}

void HTTPClient::PostTask(const boost::shared_ptr<Task>& task) {
    // Through the queue, not the session: this also runs on the download thread (errors,
    // samples), which must never hold the session.
    if (boost::shared_ptr<TaskManager> queue = taskQueue_.lock()) queue->AddTask(task);
}

boost::shared_ptr<HTTPClientGuard> HTTPClient::CurrentGuard() const {
    std::lock_guard<std::mutex> lock(guardLock_);
    return guard_;
}

void HTTPClient::RenewRootGuard() {
    // Cleared outside guardLock_: a running handler holds the guard's lock and may ask for
    // the current guard.
    CurrentGuard()->Clear();
    {
        std::lock_guard<std::mutex> lock(guardLock_);
        guard_ = boost::make_shared<HTTPClientGuard>(this);
    }
    // The transports' guards hang below the cleared root: new transports get new ones.
    mainGuard_.reset();
    outOfBandGuard_.reset();
}

bool HTTPClient::CloseAndWait(const boost::shared_ptr<HTTPClientInterface>& transport) const {
    if (!transport) return true;
    transport->AbortDownload();
    transport->Close();
    const uint32_t waitMs = closeWaitMs_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!transport->IsClosed()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            DebugPrint("HTTPClient: a transport did not report closed in %u ms\n",
                       unsigned(waitMs));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(1000));
    }
    return true;
}

SV::PilTime HTTPClient::Now() const {
    if (session_ != nullptr && session_->GetClock()) return session_->GetClock()();
    return SV::PilTime::Now();
}

// ---- Component ------------------------------------------------------------------------

void HTTPClient::DoSetName(const std::string& name, bool flag) {
    url_ = name;
    if (!flag) return;
    if (session_ == nullptr) {
        StartFresh();  // nothing to post to: a client used on its own starts at once
        return;
    }
    Post(Session::TaskCategorySession, "HTTPClient::DoSetName", &HTTPClient::StartFresh);
}

std::string HTTPClient::DoGetName() { return url_; }

void HTTPClient::PostPullData(ByteAmount&) {
    Trace("HTTPClient::PostPullData");
    PassHeldMarkers();
    UpdateAllowance();
}

void HTTPClient::DoAdd(const MemoryChunk& chunk) {
    MemoryChunk fresh = chunk;
    if (seamLeft_ != 0) {
        // The resumed body starts with bytes this client already has: they must be the same,
        // or the origin is not sending what its answer says (a body shifted against its
        // Content-Range), and nothing of it may reach the chain.
        const uint32_t overlap = std::min<uint32_t>(seamLeft_, chunk.Size());
        const unsigned char* held = tail_.data() + (tail_.size() - seamLeft_);
        if (std::memcmp(chunk.Data(), held, overlap) != 0) {
            SeamBroken();
            return;
        }
        seamLeft_ -= overlap;
        stallCount_ = 0;
        if (overlap == chunk.Size()) {
            UpdateAllowance();
            return;
        }
        fresh = CreateMemoryChunk(chunk.Size() - overlap, 0, 0);
        std::memcpy(fresh.Data(), chunk.Data(overlap), fresh.Size());
    }
    KeepTail(fresh.Data(), fresh.Size());
    currentPosition_ += fresh.Size();
    Component::DoAdd(fresh);
    stallCount_ = 0;
    // New bytes: whatever failed before has passed.
    delivered_ = true;
    failedAttempts_ = 0;
    errorHeld_ = false;
    WithdrawStallWarning();
    UpdateAllowance();
}

void HTTPClient::KeepTail(const unsigned char* data, uint32_t size) {
    if (size >= kSeamBytes) {
        tail_.assign(data + (size - kSeamBytes), data + size);
        return;
    }
    const size_t keep = std::min<size_t>(tail_.size(), kSeamBytes - size);
    tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(keep));
    tail_.insert(tail_.end(), data, data + size);
}

void HTTPClient::DoStop() {
    BandwidthInfoSource::DetachAll();
    // Nothing of what was running reaches this client any more (not even what is queued for
    // it); a later range request starts under a fresh guard.
    RenewRootGuard();
    CloseAndWait(mainTransport_);
    mainTransport_.reset();
    CloseAndWait(outOfBandTransport_);
    outOfBandTransport_.reset();
    // A stopped client starts nothing by itself: a retry still pending or a stall being
    // counted belonged to the transfer that was stopped.
    mainErrors_.reset();
    restartNeeded_ = false;
    refused_ = false;
    stallCount_ = 0;
    transportIdle_ = false;
    ForgetFailures();
}

void HTTPClient::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    downloadLimited_ = BandwidthInfoSource::HasMonitors();
}

std::string HTTPClient::GetTypeName() const { return "SarvelonMediaKit::HTTPClient"; }

void HTTPClient::DoSeek(BytePosition start, BytePosition end, bool repositionCache) {
    ForgetFailures();
    requestedEnd_ = end;
    currentPosition_ = start;
    stallCount_ = 0;
    endOfDataSent_ = false;
    refused_ = false;
    RecordStart(Now(), 0);
    RetireMainTransport();
    if (memoryCache_ && repositionCache) memoryCache_->SetPosition(start);
    restartNeeded_ = false;
    StartTransport(start, end);
}

void HTTPClient::StartFresh() {
    ForgetFailures();
    delivered_ = false;
    Restart();
}

void HTTPClient::Restart() {
    // From byte 0: nothing held precedes it.
    tail_.clear();
    seamLeft_ = 0;
    requestedEnd_ = 0;
    stallCount_ = 0;
    endOfDataSent_ = false;
    refused_ = false;
    RecordStart(Now(), 0);
    // A transfer still running would go on delivering from byte 0 beside the new one: it is
    // retired, and its queued data dropped, as for a range request.
    if (mainTransport_) RetireMainTransport();
    // What the cache still holds came from the old transfer: handed on after the restart it
    // would reach the consumer ahead of the new transfer's byte 0. It is dropped; the
    // positions stay where they were.
    if (memoryCache_ && !memoryCache_->IsEmpty()) memoryCache_->SetPosition(currentPosition_);
    restartNeeded_ = false;
    StartTransport(0, 0);
}

void HTTPClient::RetireMainTransport() {
    if (mainTransport_ && !CloseAndWait(mainTransport_) && mainGuard_) {
        // It may still deliver: its handlers must find nobody. Only its own work is cut; an
        // out-of-band request and the errors already queued go on.
        mainGuard_->Clear();
    }
    mainTransport_.reset();
    mainGuard_.reset();
    mainErrors_.reset();
    if (session_ != nullptr) session_->RemoveTasks(Session::TaskCategoryDownload, GetStackId());
}

bool HTTPClient::StartTransport(uint64_t start, uint64_t end) {
    // What the old transport said of itself says nothing of the new one: an idle flag left
    // over would keep the stall check off the new request for good.
    transportIdle_ = false;
    const boost::shared_ptr<HTTPClientGuard> guard =
        boost::make_shared<HTTPClientGuard>(CurrentGuard());
    boost::shared_ptr<HTTPClientInterface> transport;
    try {
        HTTPClientInterfaceFactory factory = GetHTTPClientInterfaceFactory();
        factory(transport, url_, nullptr, this, std::string(), TransportParameter(session_));
        mainTransport_ = transport;
        mainGuard_ = guard;
        if (!transport) return true;
        const boost::weak_ptr<TaskManager> queue = taskQueue_;
        mainErrors_ = boost::make_shared<HTTPClientTransportErrors>(queue, guard);
        transport->ErrorInfoSource::AddMonitor(mainErrors_.get());
        transport->SetEndPositionHandler(HTTPClientSetEndPositionHandler(queue, guard));
        transport->SetDataHandler(HTTPClientDataHandler(queue, guard));
        transport->SetDoneHandler(HTTPClientDoneHandler(queue, guard));
        transport->SetMemoryChunkDataHandler(HTTPClientMemoryChunkDataHandler(queue, guard));
        transport->SetBandwidthHandler(HTTPClientBandwidthHandler(queue, guard));
        transport->SetReadAheadHandler(HTTPClientReadAheadHandler(queue, guard));
        transport->SetRangeRefusedHandler(HTTPClientRangeRefusedHandler(queue, guard));
        resumeThreshold_ = kTransportResumeThreshold;
        if (downloadLimited_) {
            resumeThreshold_ = LimitedResumeThreshold(readAheadBase_);
            transport->SetResumeThreshold(ByteAmount(resumeThreshold_));
        }
        transport->SetChunkHeadroom(headroom_, tailroom_);
        transport->StartDownload(start, end);
    } catch (const SV::SVLibraryException& exception) {
        // No transport (none installed, or it could not be made): the download is not lost.
        // The session hears why, and the next stall check, a second later, tries again.
        if (mainTransport_) RetireMainTransport();
        mainTransport_.reset();
        mainGuard_.reset();
        mainErrors_.reset();
        restartNeeded_ = true;
        PublishFailure(exception);
        return false;
    }
    transport->DoSetMaxDownloadAmount(Room());
    return true;
}

void HTTPClient::PublishFailure(const SV::SVLibraryException& exception) {
    ErrorInfoSource::PublishError(
        SVStatusLibraryException,
        std::string("HTTP client: ") + exception.what() + " (" + exception.GetDetail() + ")");
}

uint32_t HTTPClient::LimitedResumeThreshold(uint32_t readAhead) const {
    uint32_t threshold =
        readAhead > 0xFFFFFFFFu - kResumeExtra ? 0xFFFFFFFFu : readAhead + kResumeExtra;
    // The chain never offers more room than its cache's budget: a threshold at or past it
    // would keep a paused transport paused for good (an audio branch's cache holds 512 KiB).
    // Half the budget still lets the transport read a good stretch once it resumes.
    const boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (!cache) return threshold;
    const boost::shared_ptr<MemoryTracker> tracker = cache->GetTracker();
    if (!tracker) return threshold;
    const uint32_t limit = tracker->Limit().Get();
    if (limit != 0 && threshold > limit / 2) threshold = limit / 2;
    return threshold;
}

ByteAmount HTTPClient::Room() {
    ByteAmount amount = BytesWanted();
    // Read as fast as the chain takes it (no one plays it at its rate): more ahead than the
    // chain takes in a pass only holds memory, and, where the chain's room has no limit, would
    // let the queued tasks grow without one.
    if (!downloadLimited_ && amount.Get() > kUnlimitedReadAhead) {
        amount = ByteAmount(kUnlimitedReadAhead);
    }
    return amount;
}

void HTTPClient::UpdateAllowance() {
    if (!mainTransport_) return;
    ByteAmount amount = Room();
    // What the transport delivered is posted as tasks and reaches the chain only when they
    // run: room that those bytes will take is not room to grant again. A fast transport would
    // otherwise be granted the same room once per chunk it delivered and the chain would hold
    // several times its budget.
    const uint64_t queued = queuedData_->load();
    if (amount.Get() != HTTPClientInterface::kUnlimited && queued != 0) {
        amount = ByteAmount(amount.Get() > queued ? uint32_t(amount.Get() - queued) : 0u);
    }
    // A grant wakes the download thread, and the transport counts its allowance down by itself
    // as it delivers: most grants would only repeat what it already holds. It is renewed only
    // when that changes what it does.
    const uint32_t wanted = amount.Get();
    const uint32_t held = mainTransport_->GetMaxDownloadAmount();
    if (transportIdle_.load()) {
        // Paused: woken once the chain has room for a good stretch, not for every chunk the
        // chain takes (it would read one chunk and pause again); and when the chain has taken
        // everything, whatever its room, but not again tick after tick with the same grant.
        const boost::shared_ptr<MemoryCache> cache = memoryCache_;
        const bool drained = cache && cache->BytesReady() == 0;
        if (wanted == held || (wanted <= IdleRenewal() && !drained)) return;
    } else if (!RenewalDue(wanted, held)) {
        return;
    }
    // Past its threshold an idle transport reads again: from here on, silence is a stall
    // (a connection that died while paused would otherwise hang the download for good).
    // Cleared before the grant, so an idle report the grant itself brings about stays.
    if (wanted > resumeThreshold_ && transportIdle_.exchange(false)) stallCount_ = 0;
    mainTransport_->DoSetMaxDownloadAmount(amount);
}

bool HTTPClient::RenewalDue(uint32_t wanted, uint32_t held) {
    if (wanted == held) return false;
    // "No limit" granted or taken back always counts.
    if (wanted == HTTPClientInterface::kUnlimited || held == HTTPClientInterface::kUnlimited) {
        return true;
    }
    // Less than half of the room left: renewed before it runs dry and pauses.
    if (held < wanted - wanted / 2) return true;
    // More than the chain can take (its room shrank, or a chunk counted as queued before the
    // transport counted it out): taken back once it passes the slack.
    return held > wanted && held - wanted > kRenewalSlack;
}

uint32_t HTTPClient::IdleRenewal() const {
    // With a known budget (the cache's, or the read-ahead of a download read as fast as the
    // chain takes it) a paused transport waits until half of it, at most kIdleRenewalBytes,
    // is free; without one, the transport's own threshold is all there is (a consumer's room
    // may never grow larger). Never below that threshold: a smaller grant would not resume it.
    const boost::shared_ptr<MemoryCache> cache = memoryCache_;
    const boost::shared_ptr<MemoryTracker> tracker = cache ? cache->GetTracker() : nullptr;
    if (!tracker) return resumeThreshold_;
    uint32_t budget = tracker->Limit().Get();
    if (!downloadLimited_ && (budget == 0 || budget > kUnlimitedReadAhead)) {
        budget = kUnlimitedReadAhead;
    }
    return std::max(resumeThreshold_, std::min(budget / 2, kIdleRenewalBytes));
}

bool HTTPClient::DoOutOfBandRequest(BytePosition start, BytePosition end) {
    if (outOfBandTransport_) {
        // Not awaited: what it already queued is still delivered, under its own guard.
        outOfBandTransport_->AbortDownload();
        outOfBandTransport_->Close();
        outOfBandTransport_.reset();
    }
    HTTPClientInterfaceFactory factory = GetHTTPClientInterfaceFactory();
    boost::shared_ptr<HTTPClientInterface> transport;
    factory(transport, url_, nullptr, nullptr, std::string(), TransportParameter(session_));
    outOfBandTransport_ = transport;
    outOfBandGuard_.reset();
    if (!transport) return true;
    const uint32_t request = ++outOfBandRequest_;
    const boost::shared_ptr<HTTPClientGuard> guard =
        boost::make_shared<HTTPClientGuard>(CurrentGuard());
    outOfBandGuard_ = guard;
    transport->ErrorInfoSource::AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    transport->SetDataHandler(HTTPClientOutOfBandDataHandler(taskQueue_, guard));
    transport->SetDoneHandler(HTTPClientOutOfBandDoneHandler(taskQueue_, guard, request));
    transport->SetPost(false);
    transport->StartDownload(start, end);
    return true;
}

bool HTTPClient::DoOutOfBandEnd() {
    RetireOutOfBandTransport();
    return true;
}

void HTTPClient::RetireOutOfBandTransport() {
    if (!outOfBandTransport_) return;
    // One that did not report closed is cut off alone: the main download goes on.
    if (!CloseAndWait(outOfBandTransport_) && outOfBandGuard_) outOfBandGuard_->Clear();
    outOfBandTransport_.reset();
    outOfBandGuard_.reset();
}

void HTTPClient::DeliverOutOfBandData(MemoryChunk chunk) { OutOfBandData(chunk); }

void HTTPClient::ReleaseOutOfBandTransport() {
    if (!outOfBandTransport_) return;
    outOfBandTransport_->Close();
    outOfBandTransport_.reset();
    outOfBandGuard_.reset();
}

void HTTPClient::ReleaseOutOfBandTransportOf(uint32_t request) {
    if (request == outOfBandRequest_) ReleaseOutOfBandTransport();
}

void HTTPClient::DoSetDownloadLimited(bool limited) { downloadLimited_ = limited; }

bool HTTPClient::KnowCurrentLoadedFilePosition() { return true; }

bool HTTPClient::KnowEndPosition() { return true; }

BytePosition HTTPClient::DoCurrentLoadedFilePosition() {
    if (memoryCache_) return memoryCache_->CurrentLoadedFilePosition();
    return currentPosition_;
}

BytePosition HTTPClient::DoEndPosition() { return totalEnd_; }

// ---- Transports -----------------------------------------------------------------------

void HTTPClient::HTTPClientInterfaceCreated(HTTPClientInterface*) {}

void HTTPClient::HTTPClientInterfaceDestroyed(HTTPClientInterface* transport) {
    if (transport == nullptr || mainTransport_.get() != transport) return;
    // Let go closed: a transport kept alive elsewhere would otherwise call back into this
    // client from its own destructor, perhaps after the client has gone.
    boost::shared_ptr<HTTPClientInterface> released;
    released.swap(mainTransport_);
    released->AbortDownload();
    released->Close();
}

void HTTPClient::SetError(SVStatus status, std::string text) {
    Post(Session::TaskCategorySession, "HTTPClient::SetError", &HTTPClient::SetErrorInTask, status,
         text);
}

void HTTPClient::SetWarning(SVStatus status, std::string text) {
    Post(Session::TaskCategorySession, "HTTPClient::SetWarning", &HTTPClient::SetWarningInTask,
         status, text);
}

void HTTPClient::SetErrorInTask(SVStatus status, std::string text) {
    ErrorInfoSource::PublishError(status, text);
}

void HTTPClient::SetWarningInTask(SVStatus status, std::string text) {
    ErrorInfoSource::PublishWarning(status, text);
}

void HTTPClient::SetEndPosition(uint64_t end) { totalEnd_ = end; }

void HTTPClient::DataDone(bool failed) {
    // A refused range already decided how this transfer ends (the failure that follows the
    // refusal is the same refusal).
    if (endOfDataSent_ || refused_) return;
    if (failed) {
        TransferFailed();
        return;
    }
    SendEndOfData();
}

void HTTPClient::RangeRefused(uint64_t total) {
    if (endOfDataSent_ || refused_) return;
    // No byte of a refused request arrives: the current position is still where it started.
    const uint64_t start = currentPosition_.Get();
    restartNeeded_ = false;
    stallCount_ = 0;
    if (total > start) {
        // The server says the resource goes on past the start, yet refuses it from there.
        // Asking again would only be refused again, every second for ever.
        refused_ = true;
        DebugPrint("HTTPClient: range from %llu refused though the resource has %llu bytes\n",
                   static_cast<unsigned long long>(start), static_cast<unsigned long long>(total));
        ErrorInfoSource::PublishError(SVStatus(416), "HTTP Error 416");
        return;
    }
    // The resource ends at the start asked for (or, as the server says, before it): a size
    // never announced is now known, and nothing is missing.
    if (total != 0) totalEnd_ = total;
    SendEndOfData();
}

void HTTPClient::SendEndOfData() {
    Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>()));
    endOfDataSent_ = true;
    // Whatever failed on the way has passed: the download is whole.
    failedAttempts_ = 0;
    errorHeld_ = false;
    // A retry that found nothing more to fetch ends the download: the stall it warned of is
    // over.
    WithdrawStallWarning();
    PassHeldMarkers();
}

void HTTPClient::WithdrawStallWarning() {
    if (!warningShown_) return;
    ErrorInfoSource::PublishWarning(SVStatusSuccess, std::string());
    warningShown_ = false;
}

void HTTPClient::PassHeldMarkers() {
    // A marker with no bytes before it in the cache would wait there for ever: the chain pulls
    // only while bytes are buffered. It goes on at once instead (the end of a range's data,
    // once the chain has taken the range's last byte).
    const boost::shared_ptr<MemoryCache> cache = memoryCache_;
    while (cache && cache->BytesReady() == 0 && !cache->IsEmpty()) {
        const MemoryChunk chunk = cache->ReadAll();
        // Only markers leave this way; should the cache's count ever disagree with what it
        // holds, a data chunk (or nothing) ends the loop rather than spinning on it.
        if (!chunk.GetMarker()) {
            if (chunk.Size() != 0) DoSend(chunk);
            break;
        }
        DoSend(chunk);
    }
}

void HTTPClient::SetReportedReadAhead(unsigned value) {
    reportedReadAhead_ = value;
    if (mainTransport_ && downloadLimited_) {
        resumeThreshold_ = LimitedResumeThreshold(value);
        mainTransport_->SetResumeThreshold(ByteAmount(resumeThreshold_));
    }
}

boost::shared_ptr<Component> CreateHTTPClient(Session* session, HTTPClient** raw) {
    boost::shared_ptr<HTTPClient> client = boost::make_shared<HTTPClient>(session);
    if (raw != nullptr) *raw = client.get();
    return client;
}

}  // namespace SarvelonMediaKit
