#ifndef TESTS_SUPPORT_FAKEHTTPTRANSPORT_H
#define TESTS_SUPPORT_FAKEHTTPTRANSPORT_H

// A transport that sends nothing anywhere: it records what its owner asks of it and delivers
// what the test tells it to, when the test tells it to, on the thread the test calls from.

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "engine/input/HTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"

namespace SvTestSupport {

// One request as the owner made it. Everything recorded is locked: the test may deliver on a
// thread of its own while the owner works on its task thread.
//
// Deliveries go through the transport base, as a platform transport's do (busy count, handlers
// cleared by Close), so a delivery after Close reaches nobody, as it should. Bandwidth samples
// carry the time the test set (SetSampleTime), else the base's own stamp.
class FakeHTTPTransport : public SarvelonMediaKit::HTTPClientInterface {
public:
    FakeHTTPTransport(const std::string& url, SarvelonMediaKit::HTTPClientInterfaceClient* client,
                      uint32_t transportParameter);
    ~FakeHTTPTransport() override;

    // ---- What the owner did ----

    const std::string& Url() const { return url_; }
    bool HasOwner() const { return hasOwner_; }
    uint32_t TransportParameter() const { return transportParameter_; }
    // Each StartDownload as (start, end).
    std::vector<std::pair<uint64_t, uint64_t>> Starts() const;
    // Each allowance set, in order.
    std::vector<uint32_t> Allowances() const;
    uint32_t ResumeThreshold() const { return GetResumeThreshold(); }
    uint32_t ChunkHeadroom() const { return GetChunkHeadroom(); }
    uint32_t ChunkTailroom() const { return GetChunkTailroom(); }
    bool Post() const { return IsPost(); }
    int AbortCount() const { return aborts_.load(); }
    int CloseCount() const { return closes_.load(); }
    // Which handlers are installed now.
    bool HasChunkHandler() const;
    bool HasDataHandler() const;
    bool HasBandwidthHandler() const;
    bool HasReadAheadHandler() const;

    // ---- Deliveries (the calling thread plays the download thread) ----

    void SetSampleTime(const SV::PilTime& time);
    void DeliverEnd(uint64_t end) { SetEndPosition(end); }
    // The bytes as one read; the base's result (false: the owner refused them).
    bool Deliver(const std::vector<uint8_t>& bytes);
    void DeliverIdle() { ReportIdle(); }
    void Finish(bool failed) { Done(failed); }
    // A 416 answer as a platform transport passes it on: the refusal with the size the server
    // gave (0: none); when no owner takes it, error 416 "HTTP Error 416"; then the failed end.
    void RefuseRange(uint64_t total);
    // The read-ahead callback, which the base only stores.
    void DeliverReadAhead(unsigned value);
    // Publishes through the transport's error source, as a platform transport reports a
    // failed request.
    void ReportError(SVStatus status, const std::string& text) { PublishError(status, text); }
    void ReportWarning(SVStatus status, const std::string& text) { PublishWarning(status, text); }

    // ---- HTTPClientInterface ----

    void SetMemoryChunkDataHandler(MemoryChunkDataHandler handler) override;
    void SetDataHandler(DataHandler handler) override;
    void SetBandwidthHandler(BandwidthHandler handler) override;
    void SetReadAheadHandler(ReadAheadHandler handler) override;
    void StartDownload(uint64_t start, uint64_t end) override;
    void Close() override;
    void CloseConnection() override;
    void DoSetMaxDownloadAmount(SarvelonMediaKit::ByteAmount amount) override;

private:
    const std::string url_;
    const bool hasOwner_;
    const uint32_t transportParameter_;
    mutable std::mutex mutex_;
    std::vector<std::pair<uint64_t, uint64_t>> starts_;  // under mutex_
    std::vector<uint32_t> allowances_;                   // under mutex_
    bool hasChunkHandler_ = false;                       // under mutex_
    bool hasDataHandler_ = false;                        // under mutex_
    BandwidthHandler bandwidthHandler_;                  // under mutex_
    ReadAheadHandler readAheadHandler_;                  // under mutex_
    std::atomic<uint64_t> sampleTime_;                   // 0: the base's stamp
    std::atomic<int> aborts_;
    std::atomic<int> closes_;
};

// Installs the fake factory for its lifetime (and takes it out again) and keeps every
// transport the factory made, oldest first, so a test can deliver through a transport its
// owner has already let go of.
class FakeHTTPTransports {
public:
    FakeHTTPTransports();
    ~FakeHTTPTransports();

    FakeHTTPTransports(const FakeHTTPTransports&) = delete;
    FakeHTTPTransports& operator=(const FakeHTTPTransports&) = delete;

    size_t Count() const;
    // The i-th transport made (null past the end) and the latest one (null before the first).
    boost::shared_ptr<FakeHTTPTransport> At(size_t i) const;
    boost::shared_ptr<FakeHTTPTransport> Last() const;
    // Forgets the transports made so far (their owners may still hold them).
    void Forget();
};

// The factory itself (HTTPClientInterfaceFactory): a FakeHTTPTransport, kept by the
// FakeHTTPTransports in force.
void CreateFakeHTTPTransport(boost::shared_ptr<SarvelonMediaKit::HTTPClientInterface>& result,
                             const std::string& url,
                             const std::map<std::string, std::string>* parameters,
                             SarvelonMediaKit::HTTPClientInterfaceClient* client,
                             const std::string& body, uint32_t transportParameter);

// Runs the function on a new thread with the given name and waits for it: a delivery from
// "the download thread" for tests that check what crosses threads.
void RunOnThread(const std::string& name, const std::function<void()>& body);

}  // namespace SvTestSupport

#endif
