#ifndef ENGINE_INPUT_HTTPCLIENTTESTSUPPORT_H
#define ENGINE_INPUT_HTTPCLIENTTESTSUPPORT_H

// Header-only bench for the HTTP client's tests (included by *Test.cpp only): a session on a
// clock the test drives, with no pump thread (the test runs the task queue itself), the fake
// transport factory, the client and a recording sink behind it.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/Session.h"
#include "engine/input/HTTPClient.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/BandwidthRecorder.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/FakeHTTPTransport.h"

namespace SarvelonMediaKit {
namespace test {

// The warning a stalled download publishes, and its withdrawal once data flows or it ends.
typedef std::pair<uint64_t, uint64_t> Range;  // a transfer's start and end (0: to the end)
typedef SvTestSupport::ErrorRecorder::Report Report;

const Report kStallWarning(2000, "Data stopped arriving, will retry");
const Report kWithdrawal(200, "");

using SvTestSupport::BandwidthRecorder;

class HTTPClientBench {
public:
    static constexpr uint64_t kStartTime = 1000000;  // ms on the bench's clock
    static constexpr const char* kUrl = "http://127.0.0.1:1/title.ps";

    // wanted: the room the sink reports (the client's allowance without a cache).
    explicit HTTPClientBench(uint32_t wanted = 0x100000, StackId stack = StackIdMain)
        : now_(kStartTime) {
        session = Session::Create([this] { return SV::PilTime(now_); });
        holder = CreateHTTPClient(session.get(), &client);
        client->SetStackId(stack);
        sink = boost::make_shared<SvTestSupport::RecordingSink>(wanted, session.get());
        client->SetConsumer(sink);
        sink->SetSource(holder);
        client->ErrorInfoSource::AddMonitor(&errors);
    }

    ~HTTPClientBench() {
        DestroyClient();
        session.reset();
    }

    // Lets go of the client and the sink (the client goes at once).
    void DestroyClient() {
        if (sink) sink->SetSource(boost::shared_ptr<Component>());
        sink.reset();
        holder.reset();
        client = nullptr;
    }

    // Runs what is queued, and what those tasks queued, until nothing is left.
    void Run() {
        for (int i = 0; i < 8; ++i) session->GetTaskManager()->RunTasks();
    }
    // Names the client (the fresh start) and runs the start.
    void Start() {
        client->SetName(kUrl, true);
        Run();
    }
    void Advance(int64_t ms) { now_ += ms; }
    uint64_t Now() const { return now_; }
    // One stall check after a second has passed.
    void Check() {
        Advance(1000);
        client->PeriodicCheck();
    }

    boost::shared_ptr<SvTestSupport::FakeHTTPTransport> Transport(size_t i) const {
        return transports.At(i);
    }
    boost::shared_ptr<SvTestSupport::FakeHTTPTransport> Last() const { return transports.Last(); }

    static std::vector<uint8_t> Bytes(uint64_t from, uint64_t to) {
        return SvTestSupport::PatternBytes(from, to);
    }

    SvTestSupport::FakeHTTPTransports transports;
    boost::shared_ptr<Session> session;
    SvTestSupport::ErrorRecorder errors;
    boost::shared_ptr<Component> holder;
    HTTPClient* client = nullptr;
    boost::shared_ptr<SvTestSupport::RecordingSink> sink;

private:
    uint64_t now_;
};

// A download of a resource of `size` bytes whose first `loaded` bytes have arrived.
inline void StartWithBytes(HTTPClientBench& bench, uint64_t size, uint64_t loaded) {
    bench.Start();
    bench.Last()->DeliverEnd(size);
    if (loaded != 0) bench.Last()->Deliver(HTTPClientBench::Bytes(0, loaded));
    bench.Run();
}

// The client keeps what it loads in a cache on the session's budget of `capacity` bytes.
inline void UseSessionCache(HTTPClientBench& bench, uint32_t capacity) {
    bench.session->SetCapacity(capacity);
    bench.client->SetMemoryCache(DequeMemoryCache::CreateForSession(bench.client));
}

// The same, then a fresh start.
inline void StartWithSessionCache(HTTPClientBench& bench, uint32_t capacity) {
    UseSessionCache(bench, capacity);
    bench.Start();
}

// n runs of the client's stall check.
inline void Checks(HTTPClientBench& bench, int n) {
    for (int i = 0; i < n; ++i) bench.Check();
}

// After a stop, a range request starts a fresh transfer whose bytes and end reach the sink.
inline void ExpectAFreshRangeRequestDelivers(HTTPClientBench& bench) {
    bench.client->SeekFilePosition(0, 0, true);
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 100));
    bench.Last()->Finish(false);
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 100), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
