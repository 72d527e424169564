#ifndef ENGINE_INPUT_HTTPCLIENTORIGINTESTSUPPORT_H
#define ENGINE_INPUT_HTTPCLIENTORIGINTESTSUPPORT_H

// Header-only helpers of the tests that run the HTTP client against the loopback test origin
// with the real libcurl transport (included by *Test.cpp only): chains on a running session,
// a consumer that keeps every byte it is given, a bandwidth monitor, and a way to run work on
// the session's task thread, where the client's state may be read.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Exception/Exception.h"
#include "engine/core/BandwidthInfoMonitor.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/FileClient.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "tests/support/BandwidthRecorder.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/SampleLog.h"
#include "tests/support/TaskTestSupport.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace origintest {

using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;
using SvTestSupport::TestOrigin;

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The "Range" header of a request the origin received, empty when it had none.
inline std::string RangeOf(const SvTestSupport::TestOrigin::Request& request) {
    const auto it = request.headers.find("range");
    return it == request.headers.end() ? std::string() : it->second;
}

// "status text; status text; ..." for a failure message.
inline std::string Describe(const std::vector<SvTestSupport::ErrorRecorder::Report>& reports) {
    std::string text;
    for (const SvTestSupport::ErrorRecorder::Report& report : reports) {
        text +=
            std::to_string(static_cast<uint32_t>(report.first)) + " \"" + report.second + "\"; ";
    }
    return text;
}

// Runs body on the session's task thread and returns its result; fails the test (and returns
// a default value) when the task has not run within the time.
template <typename Result>
Result OnTaskThread(Session& session, std::function<Result()> body, int timeoutMs = 20000) {
    std::shared_ptr<std::promise<Result>> promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    session.AddTask(SvTestSupport::MakeTask("OriginTest::OnTaskThread",
                                            [promise, body] { promise->set_value(body()); }));
    if (future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        ADD_FAILURE() << "the session's task thread did not run the test's task";
        return Result();
    }
    return future.get();
}

inline void RunOnTaskThread(Session& session, std::function<void()> body) {
    OnTaskThread<bool>(session, [body] {
        body();
        return true;
    });
}

// Polls a condition on the task thread until it holds (false when the time is up).
inline bool WaitOnTaskThread(Session& session, std::function<bool()> condition,
                             int timeoutMs = 20000) {
    return SvTestSupport::WaitUntil(
        [&] { return OnTaskThread<bool>(session, condition, timeoutMs); }, timeoutMs);
}

// The output end of a byte chain: keeps every data byte, every marker type and every
// out-of-band byte it is given, and wants everything (or nothing, to leave the source's cache
// full). Mark() notes where in the data a new range begins. Locked: the task thread writes,
// the test reads.
class ByteSink : public Component {
public:
    ByteSink(Session* session, bool wantsData) : Component(session), wantsData_(wantsData) {}
    // Opens or shuts the sink from any thread: while shut, what arrives stays in the source's
    // cache.
    void SetWantsData(bool wantsData) { wantsData_ = wantsData; }
    std::string GetTypeName() const override { return "ByteSink"; }
    ByteAmount DoGetBytesWanted() override { return ByteAmount(wantsData_ ? 0xFFFFFFFFu : 0u); }
    // Asks the source for the amount whatever it says it holds: a marker alone in its cache
    // (the end of the data) counts no bytes and still has to come out.
    void DoPullData(ByteAmount& amount) override {
        if (!wantsData_) return;
        if (boost::shared_ptr<Component> source = GetSource()) source->PullData(amount);
    }
    void DoAdd(const MemoryChunk& chunk) override {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.append(reinterpret_cast<const char*>(chunk.Data(0)), chunk.Size());
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        std::lock_guard<std::mutex> lock(mutex_);
        markers_.push_back(std::make_pair(marker->GetType(), bytes_.size()));
        return false;  // the end of the chain
    }
    bool DoOutOfBandData(const MemoryChunk& chunk) override {
        std::lock_guard<std::mutex> lock(mutex_);
        outOfBand_.append(reinterpret_cast<const char*>(chunk.Data(0)), chunk.Size());
        return true;
    }

    // The data offset at which the next range starts (on the task thread, with the request).
    size_t Mark() {
        std::lock_guard<std::mutex> lock(mutex_);
        marks_.push_back(bytes_.size());
        return bytes_.size();
    }
    std::string Bytes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    size_t Size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_.size();
    }
    std::string OutOfBand() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return outOfBand_;
    }
    // (type, data offset at which it came) of every marker.
    std::vector<std::pair<uint32_t, size_t>> Markers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return markers_;
    }
    size_t CountMarkers(uint32_t type) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& marker : markers_) n += marker.first == type;
        return n;
    }

private:
    std::atomic<bool> wantsData_;
    mutable std::mutex mutex_;
    std::string bytes_;
    std::string outOfBand_;
    std::vector<std::pair<uint32_t, size_t>> markers_;
    std::vector<size_t> marks_;
};

using SvTestSupport::BandwidthRecorder;

// Installs the libcurl transport for the test and puts back what was installed before.
class CurlFactoryScope {
public:
    CurlFactoryScope() : previous_(nullptr) {
        try {
            previous_ = GetHTTPClientInterfaceFactory();
        } catch (const SV::SVLibraryException&) {
            previous_ = nullptr;
        }
        SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface);
    }
    ~CurlFactoryScope() { SetHTTPClientInterfaceFactory(previous_); }

private:
    HTTPClientInterfaceFactory previous_;
};

// A running session whose input end is an HTTP client with a cache on the session's tracker
// (as a playback chain has it), or a file client. The front is either a byte sink or the
// demultiplexer with a sample-logging multiplexer. Monitors are attached before the session
// links, so a bandwidth monitor makes the downloads limited as in playback.
struct OriginChain {
    enum Front { kBytes, kBytesHeld, kSamples };

    // url empty: a file client on path.
    OriginChain(Front front, const std::string& url, const std::string& path,
                const TaskManager::Clock& clock = TaskManager::Clock(),
                BandwidthInfoMonitor* bandwidthMonitor = nullptr)
        : session(Session::Create(clock)) {
        session->SetCapacity(ByteAmount(16u << 20));
        if (front == kSamples) {
            mux = boost::make_shared<SvTestSupport::SampleLogMux>(session.get());
            demux = boost::make_shared<Mpeg2PsDemux>(session.get());
            demux->StreamInfoSource::AddMonitor(&events);
            demux->ErrorInfoSource::AddMonitor(&events);
            demux->ChapterInfoSource::AddMonitor(&events);
        } else {
            sink = boost::make_shared<ByteSink>(session.get(), front == kBytes);
        }
        if (url.empty()) {
            source = CreateFileClient(session.get(), nullptr);
        } else {
            source = CreateHTTPClient(session.get(), &client);
            source->SetMemoryCache(DequeMemoryCache::CreateForSession(source.get()));
            client->ErrorInfoSource::AddMonitor(&reports);
            if (bandwidthMonitor) client->BandwidthInfoSource::AddMonitor(bandwidthMonitor);
        }
        if (front == kSamples) {
            SvTestSupport::RunChainOn(*session, StackIdMain, {mux, demux, source});
        } else {
            SvTestSupport::RunChainOn(*session, StackIdMain, {sink, source});
        }
        source->SetName(url.empty() ? "file://" + path : url, true);
        session->StartPump(1000);
        session->SetPullAmount(ByteAmount(131072));
        session->Start();
        if (demux) session->PreLoad(MediaTime(30000000));
    }
    ~OriginChain() { session->Stop(true); }

    template <typename Result>
    Result OnTask(std::function<Result()> body) {
        return OnTaskThread<Result>(*session, body);
    }
    void Run(std::function<void()> body) { RunOnTaskThread(*session, body); }
    bool WaitFor(std::function<bool()> condition, int timeoutMs = 20000) {
        return WaitOnTaskThread(*session, condition, timeoutMs);
    }
    // Waits for the demultiplexer's end of stream to reach the multiplexer.
    bool WaitForEndOfStream(int timeoutMs = 30000) {
        return mux->WaitForMarker(MemoryMarkerTypeEndOfStream, timeoutMs);
    }
    // Waits until the byte sink has taken the end-of-data marker of the transfer.
    bool WaitForEndOfData(int timeoutMs = 30000) {
        return SvTestSupport::WaitUntil(
            [this] { return sink->CountMarkers(MemoryMarkerTypeEndOfData) != 0; }, timeoutMs);
    }

    // Declared first, so they outlive the session and its components.
    SvTestSupport::ErrorRecorder reports;  // the HTTP client's errors and warnings
    demuxtest::EventRecorder events;       // the demultiplexer's events
    boost::shared_ptr<Session> session;
    boost::shared_ptr<Component> source;
    HTTPClient* client = nullptr;
    boost::shared_ptr<ByteSink> sink;
    boost::shared_ptr<Mpeg2PsDemux> demux;
    boost::shared_ptr<SvTestSupport::SampleLogMux> mux;
};

// The sample log of a title read from the local file: what every HTTP chain must reproduce.
inline std::vector<SvTestSupport::SampleLogEntry> FileSampleLog(const std::string& path) {
    OriginChain chain(OriginChain::kSamples, std::string(), path);
    EXPECT_TRUE(chain.WaitForEndOfStream()) << path;
    chain.session->Stop(true);
    EXPECT_TRUE(chain.events.errors.empty());
    return chain.mux->Log();
}

// The base of the tests of one title served by the loopback origin under "/title.svm", with
// the libcurl transport installed: the title's path and bytes, its URL, and the fault the
// origin plays on it.
class OriginTitleTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = SvTestSupport::Fixtures::ShortTitle();
        title = ReadFile(path);
        ASSERT_GT(title.size(), 150000u);
        origin.ServeFile("/title.svm", path);
    }
    std::string Url() const { return origin.Url("/title.svm"); }
    void SetFault(const SvTestSupport::TestOrigin::Fault& fault) {
        origin.SetFault("/title.svm", fault);
    }

    CurlFactoryScope factory;
    SvTestSupport::TestOrigin origin;
    std::string path;
    std::string title;
};

}  // namespace origintest
}  // namespace SarvelonMediaKit

#endif
