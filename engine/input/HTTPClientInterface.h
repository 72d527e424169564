#ifndef ENGINE_INPUT_HTTPCLIENTINTERFACE_H
#define ENGINE_INPUT_HTTPCLIENTINTERFACE_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/function.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

class HTTPClientInterfaceClient;

// One HTTP request (one URL, one byte range) as the engine sees it. A platform transport sends
// the request and feeds what arrives into the delivery operations below, which turn it into
// calls of the owner's handlers. Always owned through a boost::shared_ptr.
//
// Threads: deliveries run on the download thread; the owner installs handlers, starts, sets
// the allowance and closes from its own thread. The busy count is what keeps the two apart:
// Close while a delivery runs only marks the transport, and the delivery that brings the count
// back to 0 clears the handlers. An owner must not let go of what its handlers use before
// IsClosed is true. Errors of the request are published through the ErrorInfoSource base;
// Close detaches every monitor first, so a closed transport is silent.
class HTTPClientInterface : public ErrorInfoSource,
                            public boost::enable_shared_from_this<HTTPClientInterface> {
public:
    typedef boost::function<void(unsigned long long)> EndPositionHandler;
    typedef boost::function<bool(const signed char*, unsigned int)> DataHandler;
    typedef boost::function<void(bool)> DoneHandler;
    typedef boost::function<bool(MemoryChunk)> MemoryChunkDataHandler;
    typedef boost::function<void(const SV::PilTime&, unsigned int)> BandwidthHandler;
    typedef boost::function<void(unsigned int)> ReadAheadHandler;
    // A ranged request refused as not satisfiable (416), with the size the server gave for the
    // resource ("bytes */N"), or 0 when it gave none.
    typedef boost::function<void(unsigned long long)> RangeRefusedHandler;

    // The allowance that means "no limit": deliveries do not count against it.
    static constexpr uint32_t kUnlimited = 0xFFFFFFFFu;

    HTTPClientInterface(std::string url, HTTPClientInterfaceClient* client);
    HTTPClientInterface(std::string url, const std::map<std::string, std::string>& parameters,
                        HTTPClientInterfaceClient* client, std::string body);
    // Tells the owner, unless Close has run.
    ~HTTPClientInterface() override;

    HTTPClientInterface(const HTTPClientInterface&) = delete;
    HTTPClientInterface& operator=(const HTTPClientInterface&) = delete;

    virtual void SetEndPositionHandler(EndPositionHandler handler);
    virtual void SetDataHandler(DataHandler handler);
    virtual void SetMemoryChunkDataHandler(MemoryChunkDataHandler handler);
    virtual void SetDoneHandler(DoneHandler handler);
    virtual void SetBandwidthHandler(BandwidthHandler handler);
    // Kept for owners that install one; no transport of this engine calls it.
    virtual void SetReadAheadHandler(ReadAheadHandler handler);
    virtual void SetRangeRefusedHandler(RangeRefusedHandler handler);

    // Deliveries (download thread).
    virtual void SetEndPosition(unsigned long long end);
    // Hands size bytes to the chunk handler (a new chunk with the set margins, left unset, as
    // MemoryChunk::Unset makes them) or else to the
    // data handler, after a bandwidth sample. Size 0 does nothing. The result is the handler's
    // (true without one); the allowance shrinks by size unless it is unlimited.
    virtual bool DataReceived(const signed char* data, unsigned int size);
    // A bandwidth sample of 0 bytes: nothing arrived because the owner wants nothing now.
    virtual void ReportIdle();
    virtual void Done(bool failed);
    // The server refused the requested range (416): the position asked for is at or past the
    // resource's end. True when an owner's handler took it: that owner reads the refusal as
    // where the resource ends, so the platform transport does not publish it as an error (it
    // still ends the transfer with Done(true)). False without a handler (or once closed).
    virtual bool RangeRefused(unsigned long long total);

    // Records the range [start, end) (end 0: to the end of the resource; both 0: the whole
    // resource without a range). A platform transport also sends the request.
    virtual void StartDownload(uint64_t start, uint64_t end);
    // Forgets the owner, detaches every error monitor and clears the handlers, at once or as
    // soon as the running delivery ends.
    virtual void Close();
    virtual void Abort();
    virtual void ClearHandlers();
    virtual void CloseConnection();
    virtual void DoSetMaxDownloadAmount(ByteAmount amount);

    void SetPost(bool post) { post_ = post; }
    void SetResumeThreshold(ByteAmount threshold) { resumeThreshold_ = threshold; }
    void SetChunkHeadroom(uint32_t headroom, uint32_t tailroom);
    uint32_t GetMaxDownloadAmount() const { return maxDownloadAmount_.load(); }
    bool IsClosed() const { return closed_.load(); }
    bool IsAborted();
    void AbortDownload() { CloseConnection(); }

    // Brackets every delivery; the handlers run between the two without the lock.
    void BusyStart();
    void BusyDone();

protected:
    uint64_t GetRequestedStart() const { return requestedStart_; }
    uint64_t GetRequestedEnd() const { return requestedEnd_; }
    const std::map<std::string, std::string>& GetRequestParameters() const {
        return requestParameters_;
    }
    const std::string& GetRequestBody() const { return requestBody_; }
    bool IsPost() const { return post_; }
    uint32_t GetResumeThreshold() const { return resumeThreshold_; }
    uint32_t GetChunkHeadroom() const { return chunkHeadroom_; }
    uint32_t GetChunkTailroom() const { return chunkTailroom_; }
    void StoreMaxDownloadAmount(uint32_t amount) { maxDownloadAmount_ = amount; }

private:
    void NotifyCreated();

    EndPositionHandler endPositionHandler_;
    DataHandler dataHandler_;
    DoneHandler doneHandler_;
    MemoryChunkDataHandler chunkHandler_;
    BandwidthHandler bandwidthHandler_;
    ReadAheadHandler readAheadHandler_;
    RangeRefusedHandler rangeRefusedHandler_;
    SV::MutexedVariable<unsigned int> busyCount_;
    bool closePending_;  // under busyCount_'s lock
    std::atomic<bool> closed_;
    SV::MutexedVariable<bool> aborted_;
    uint64_t requestedStart_;
    uint64_t requestedEnd_;
    // Read on the download thread while the owner may close: atomic.
    std::atomic<HTTPClientInterfaceClient*> client_;
    std::map<std::string, std::string> requestParameters_;
    std::string requestBody_;
    bool post_;
    uint32_t resumeThreshold_;
    std::atomic<uint32_t> maxDownloadAmount_;
    uint32_t chunkHeadroom_;
    uint32_t chunkTailroom_;
    MemoryChunk currentChunk_;
};

}  // namespace SarvelonMediaKit

#endif
