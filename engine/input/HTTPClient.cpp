#include "engine/input/HTTPClient.h"

#include <boost/make_shared.hpp>

#include <chrono>
#include <thread>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/Session.h"
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
      requestedEnd_(0),
      currentPosition_(0),
      totalEnd_(0),
      stallCount_(0),
      warningShown_(false),
      downloadLimited_(false),
      transportIdle_(false),
      endOfDataSent_(false),
      restartNeeded_(false) {
    if (session != nullptr) weakSession_ = session->weak_from_this();
    MakeHandlers();
}

HTTPClient::~HTTPClient() {
    // Transport errors reach this object on the download thread: stop them before anything
    // goes. Then no handler a transport still holds and no queued task reaches it again.
    ErrorInfoMonitor::DetachFromSources();
    CurrentGuard()->Clear();
    CloseAndWait(mainTransport_);
    CloseAndWait(outOfBandTransport_);
    mainTransport_.reset();
    outOfBandTransport_.reset();
    BandwidthInfoSource::DetachAll();
    ErrorInfoSource::DetachAll();
}

void HTTPClient::PostTask(const boost::shared_ptr<Task>& task) {
    if (session_ != nullptr) session_->AddTask(task);
}

boost::shared_ptr<HTTPClientGuard> HTTPClient::CurrentGuard() const {
    std::lock_guard<std::mutex> lock(guardLock_);
    return guard_;
}

void HTTPClient::MakeHandlers() {
    const boost::shared_ptr<HTTPClientGuard> guard = CurrentGuard();
    endPositionHandler_ = HTTPClientSetEndPositionHandler(weakSession_, guard);
    dataHandler_ = HTTPClientDataHandler(weakSession_, guard);
    doneHandler_ = HTTPClientDoneHandler(weakSession_, guard);
    chunkHandler_ = HTTPClientMemoryChunkDataHandler(weakSession_, guard);
    bandwidthHandler_ = HTTPClientBandwidthHandler(weakSession_, guard);
    readAheadHandler_ = HTTPClientReadAheadHandler(weakSession_, guard);
}

void HTTPClient::RenewGuard() {
    // Cleared outside guardLock_: a running handler holds the guard's lock and may ask for
    // the current guard.
    CurrentGuard()->Clear();
    {
        std::lock_guard<std::mutex> lock(guardLock_);
        guard_ = boost::make_shared<HTTPClientGuard>(this);
    }
    MakeHandlers();
}

bool HTTPClient::CloseAndWait(const boost::shared_ptr<HTTPClientInterface>& transport) {
    if (!transport) return true;
    transport->AbortDownload();
    transport->Close();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMs);
    while (!transport->IsClosed()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            DebugPrint("HTTPClient: a transport did not report closed in %u ms\n",
                       unsigned(kCloseWaitMs));
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
        Restart();  // nothing to post to: a client used on its own starts at once
        return;
    }
    Post(Session::TaskCategorySession, "HTTPClient::DoSetName", &HTTPClient::Restart);
}

std::string HTTPClient::DoGetName() { return url_; }

void HTTPClient::PostPullData(ByteAmount&) {
    if (session_ != nullptr) {
        if (boost::shared_ptr<Pump> pump = session_->GetPump()) {
            pump->AddTrace("HTTPClient::PostPullData");
        }
    }
    PassHeldMarkers();
    UpdateAllowance();
}

void HTTPClient::DoAdd(const MemoryChunk& chunk) {
    currentPosition_ += chunk.Size();
    Component::DoAdd(chunk);
    stallCount_ = 0;
    if (warningShown_) {
        ErrorInfoSource::PublishWarning(SVStatusSuccess, std::string());
        warningShown_ = false;
    }
    UpdateAllowance();
}

void HTTPClient::DoStop() {
    BandwidthInfoSource::DetachAll();
    // Nothing of what was running reaches this client any more; a later range request starts
    // with fresh handlers.
    RenewGuard();
    CloseAndWait(mainTransport_);
    mainTransport_.reset();
    RetireOutOfBandTransport();
}

void HTTPClient::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    downloadLimited_ = BandwidthInfoSource::HasMonitors();
}

std::string HTTPClient::GetTypeName() const { return "SarvelonMediaKit::HTTPClient"; }

void HTTPClient::DoSeek(BytePosition start, BytePosition end, bool repositionCache) {
    requestedEnd_ = end;
    currentPosition_ = start;
    stallCount_ = 0;
    endOfDataSent_ = false;
    RecordStart(Now(), 0);
    RetireMainTransport();
    if (memoryCache_ && repositionCache) memoryCache_->SetPosition(start);
    StartTransport(start, end);
}

void HTTPClient::Restart() {
    requestedEnd_ = 0;
    stallCount_ = 0;
    endOfDataSent_ = false;
    RecordStart(Now(), 0);
    // A transfer still running would go on delivering from byte 0 beside the new one: it is
    // retired, and its queued data dropped, as for a range request.
    if (mainTransport_) RetireMainTransport();
    StartTransport(0, 0);
}

void HTTPClient::RetireMainTransport() {
    if (mainTransport_ && !CloseAndWait(mainTransport_)) {
        // It may still deliver: its handlers must find nobody.
        RenewGuard();
    }
    mainTransport_.reset();
    if (session_ != nullptr) session_->RemoveTasks(Session::TaskCategoryDownload, GetStackId());
}

void HTTPClient::StartTransport(uint64_t start, uint64_t end) {
    HTTPClientInterfaceFactory factory = GetHTTPClientInterfaceFactory();
    boost::shared_ptr<HTTPClientInterface> transport;
    factory(transport, url_, nullptr, this, std::string(), TransportParameter(session_));
    mainTransport_ = transport;
    if (!transport) return;
    transport->ErrorInfoSource::AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    transport->SetEndPositionHandler(endPositionHandler_);
    transport->SetDataHandler(dataHandler_);
    transport->SetDoneHandler(doneHandler_);
    transport->SetMemoryChunkDataHandler(chunkHandler_);
    transport->SetBandwidthHandler(bandwidthHandler_);
    transport->SetReadAheadHandler(readAheadHandler_);
    if (downloadLimited_) transport->SetResumeThreshold(ByteAmount(readAheadBase_ + kResumeExtra));
    transport->SetChunkHeadroom(headroom_, tailroom_);
    transport->StartDownload(start, end);
    transport->DoSetMaxDownloadAmount(BytesWanted());
}

void HTTPClient::UpdateAllowance() {
    if (mainTransport_) mainTransport_->DoSetMaxDownloadAmount(BytesWanted());
}

bool HTTPClient::DoOutOfBandRequest(BytePosition start, BytePosition end) {
    if (outOfBandTransport_) {
        outOfBandTransport_->AbortDownload();
        outOfBandTransport_->Close();
        outOfBandTransport_.reset();
    }
    HTTPClientInterfaceFactory factory = GetHTTPClientInterfaceFactory();
    boost::shared_ptr<HTTPClientInterface> transport;
    factory(transport, url_, nullptr, nullptr, std::string(), TransportParameter(session_));
    outOfBandTransport_ = transport;
    if (!transport) return true;
    const uint32_t request = ++outOfBandRequest_;
    const boost::shared_ptr<HTTPClientGuard> guard = CurrentGuard();
    transport->ErrorInfoSource::AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    transport->SetDataHandler(HTTPClientOutOfBandDataHandler(weakSession_, guard));
    transport->SetDoneHandler(HTTPClientOutOfBandDoneHandler(weakSession_, guard, request));
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
    if (!CloseAndWait(outOfBandTransport_)) RenewGuard();
    outOfBandTransport_.reset();
}

void HTTPClient::DeliverOutOfBandData(MemoryChunk chunk) { OutOfBandData(chunk); }

void HTTPClient::ReleaseOutOfBandTransport() {
    if (!outOfBandTransport_) return;
    outOfBandTransport_->Close();
    outOfBandTransport_.reset();
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
    if (endOfDataSent_) return;
    if (failed) {
        restartNeeded_ = true;
        return;
    }
    Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>()));
    endOfDataSent_ = true;
    PassHeldMarkers();
}

void HTTPClient::PassHeldMarkers() {
    // A marker with no bytes before it in the cache would wait there for ever: the chain pulls
    // only while bytes are buffered. It goes on at once instead (the end of a range's data,
    // once the chain has taken the range's last byte).
    const boost::shared_ptr<MemoryCache> cache = memoryCache_;
    while (cache && cache->BytesReady() == 0 && !cache->IsEmpty()) DoSend(cache->ReadAll());
}

void HTTPClient::SetReportedReadAhead(unsigned value) {
    reportedReadAhead_ = value;
    if (mainTransport_ && downloadLimited_) {
        const uint32_t threshold =
            value > 0xFFFFFFFFu - kResumeExtra ? 0xFFFFFFFFu : value + kResumeExtra;
        mainTransport_->SetResumeThreshold(ByteAmount(threshold));
    }
}

boost::shared_ptr<Component> CreateHTTPClient(Session* session, HTTPClient** raw) {
    boost::shared_ptr<HTTPClient> client = boost::make_shared<HTTPClient>(session);
    if (raw != nullptr) *raw = client.get();
    return client;
}

}  // namespace SarvelonMediaKit
