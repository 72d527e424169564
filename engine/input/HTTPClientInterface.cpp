#include "engine/input/HTTPClientInterface.h"

#include <cstring>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/input/HTTPClientInterfaceClient.h"

namespace SarvelonMediaKit {

namespace {

// One delivery, ended also when a handler throws.
class BusyScope {
public:
    explicit BusyScope(HTTPClientInterface* transport) : transport_(transport) {
        transport_->BusyStart();
    }
    ~BusyScope() {
        try {
            transport_->BusyDone();
        } catch (...) {
            // Only a failing lock gets here; a destructor lets nothing out.
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    HTTPClientInterface* transport_;
};

}  // namespace

// A request without query parameters or body is the general one with none.
HTTPClientInterface::HTTPClientInterface(std::string url, HTTPClientInterfaceClient* client)
    : HTTPClientInterface(url, std::map<std::string, std::string>(), client, std::string()) {}

HTTPClientInterface::HTTPClientInterface(std::string /*url*/,
                                         const std::map<std::string, std::string>& parameters,
                                         HTTPClientInterfaceClient* client, std::string body)
    : busyCount_(0),
      closePending_(false),
      closed_(false),
      aborted_(false),
      requestedStart_(0),
      requestedEnd_(0),
      client_(client),
      requestParameters_(parameters),
      requestBody_(body),
      post_(false),
      resumeThreshold_(0x10000),
      maxDownloadAmount_(kUnlimited),
      chunkHeadroom_(0),
      chunkTailroom_(0) {
    NotifyCreated();
}

HTTPClientInterface::~HTTPClientInterface() {
    HTTPClientInterfaceClient* client = client_.exchange(nullptr);
    if (client != nullptr) client->HTTPClientInterfaceDestroyed(this);
}

void HTTPClientInterface::NotifyCreated() {
    HTTPClientInterfaceClient* client = client_.load();
    if (client != nullptr) client->HTTPClientInterfaceCreated(this);
}

void HTTPClientInterface::SetEndPositionHandler(EndPositionHandler handler) {
    endPositionHandler_ = handler;
}
void HTTPClientInterface::SetDataHandler(DataHandler handler) { dataHandler_ = handler; }
void HTTPClientInterface::SetMemoryChunkDataHandler(MemoryChunkDataHandler handler) {
    chunkHandler_ = handler;
}
void HTTPClientInterface::SetDoneHandler(DoneHandler handler) { doneHandler_ = handler; }
void HTTPClientInterface::SetBandwidthHandler(BandwidthHandler handler) {
    bandwidthHandler_ = handler;
}
void HTTPClientInterface::SetReadAheadHandler(ReadAheadHandler handler) {
    readAheadHandler_ = handler;
}

void HTTPClientInterface::SetRangeRefusedHandler(RangeRefusedHandler handler) {
    rangeRefusedHandler_ = handler;
}

void HTTPClientInterface::SetEndPosition(unsigned long long end) {
    BusyScope busy(this);
    if (endPositionHandler_) endPositionHandler_(end);
}

bool HTTPClientInterface::DataReceived(const signed char* data, unsigned int size) {
    if (size == 0) return true;
    BusyScope busy(this);
    bool result = true;
    if (bandwidthHandler_) bandwidthHandler_(SV::PilTime::Now(), size);
    if (chunkHandler_) {
        // Every payload byte is copied over at once: clearing them first would only double
        // the cost of taking the bytes in. The margins stay unset, as a file read leaves them
        // (a stage that takes room writes it).
        currentChunk_ = MemoryChunk::Unset(size, chunkHeadroom_, chunkTailroom_);
        std::memcpy(currentChunk_.Data(), data, size);
        result = chunkHandler_(currentChunk_);
    } else if (dataHandler_) {
        result = dataHandler_(data, size);
    }
    // "No limit" stays no limit however much arrives; a granted amount is used up.
    uint32_t amount = maxDownloadAmount_.load();
    while (amount != kUnlimited) {
        const uint32_t left = amount > size ? amount - size : 0;
        if (maxDownloadAmount_.compare_exchange_weak(amount, left)) break;
    }
    return result;
}

void HTTPClientInterface::ReportIdle() {
    // Counted as a delivery, so a Close on the owner's thread cannot clear the handler while
    // it runs.
    BusyScope busy(this);
    if (bandwidthHandler_) bandwidthHandler_(SV::PilTime::Now(), 0);
}

void HTTPClientInterface::Done(bool failed) {
    BusyScope busy(this);
    if (doneHandler_) doneHandler_(failed);
}

bool HTTPClientInterface::RangeRefused(unsigned long long total) {
    BusyScope busy(this);
    if (!rangeRefusedHandler_) return false;
    rangeRefusedHandler_(total);
    return true;
}

void HTTPClientInterface::StartDownload(uint64_t start, uint64_t end) {
    requestedStart_ = start;
    requestedEnd_ = end;
}

void HTTPClientInterface::Close() {
    client_ = nullptr;
    DetachAll();
    SV::ScopedLock lock(busyCount_);
    if (busyCount_.Value() == 0) {
        ClearHandlers();
    } else {
        closePending_ = true;
    }
}

void HTTPClientInterface::Abort() {
    SV::ScopedLock lock(aborted_);
    aborted_ = true;
}

bool HTTPClientInterface::IsAborted() {
    SV::ScopedLock lock(aborted_);
    return aborted_.Value();
}

void HTTPClientInterface::ClearHandlers() {
    SetEndPositionHandler(EndPositionHandler());
    SetDataHandler(DataHandler());
    SetDoneHandler(DoneHandler());
    SetMemoryChunkDataHandler(MemoryChunkDataHandler());
    SetBandwidthHandler(BandwidthHandler());
    SetReadAheadHandler(ReadAheadHandler());
    SetRangeRefusedHandler(RangeRefusedHandler());
    closed_ = true;
}

void HTTPClientInterface::CloseConnection() {}

void HTTPClientInterface::DoSetMaxDownloadAmount(ByteAmount amount) { maxDownloadAmount_ = amount; }

void HTTPClientInterface::SetChunkHeadroom(uint32_t headroom, uint32_t tailroom) {
    chunkHeadroom_ = headroom;
    chunkTailroom_ = tailroom;
}

void HTTPClientInterface::BusyStart() {
    SV::ScopedLock lock(busyCount_);
    ++busyCount_.Value();
}

void HTTPClientInterface::BusyDone() {
    SV::ScopedLock lock(busyCount_);
    if (busyCount_.Value() == 0) {
        DebugPrint("HTTPClientInterface::BusyDone ERROR: Busy count would be negative\n");
    } else {
        --busyCount_.Value();
    }
    if (busyCount_.Value() == 0 && closePending_) {
        closePending_ = false;
        ClearHandlers();
    }
}

}  // namespace SarvelonMediaKit
