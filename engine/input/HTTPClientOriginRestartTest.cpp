// The HTTP client restarted (named again, or started afresh) while a throttled body is still
// coming: bytes of the old transfer already in its cache and already queued as tasks on the
// session must not reach the chain once the restart has run. The real libcurl transport
// against the loopback test origin; what the chain receives is compared with the files.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "SVLibrary/Exception/Exception.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryCache.h"
#include "engine/core/Session.h"
#include "engine/core/TaskManager.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/TransportTestSupport.h"
#include "tests/support/TaskTestSupport.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::TestOrigin;
using SvTestSupport::WaitUntil;

// The output end: keeps every byte and counts the end-of-data markers. While shut it wants
// nothing and pulls nothing, so what arrives stays in the client's cache. Locked: the task
// thread writes, the test reads.
class GateSink : public Component {
public:
    explicit GateSink(Session* session) : Component(session), open_(true) {}
    std::string GetTypeName() const override { return "GateSink"; }
    ByteAmount DoGetBytesWanted() override { return ByteAmount(open_ ? 0xFFFFFFFFu : 0u); }
    void DoPullData(ByteAmount& amount) override {
        if (!open_) return;
        if (boost::shared_ptr<Component> source = GetSource()) source->PullData(amount);
    }
    void DoAdd(const MemoryChunk& chunk) override {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.append(reinterpret_cast<const char*>(chunk.Data(0)), chunk.Size());
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (marker->GetType() == MemoryMarkerTypeEndOfData) ++endsOfData_;
        return false;
    }

    void SetOpen(bool open) { open_ = open; }
    std::string Bytes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    size_t Size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_.size();
    }
    int EndsOfData() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return endsOfData_;
    }

private:
    std::atomic<bool> open_;
    mutable std::mutex mutex_;
    std::string bytes_;
    int endsOfData_ = 0;
};

// sink <- HTTP client with a cache of its own, on a running session with the libcurl transport.
class RestartChain {
public:
    RestartChain() : session(Session::Create()) {
        try {
            previous_ = GetHTTPClientInterfaceFactory();
        } catch (const SV::SVLibraryException&) {
            previous_ = nullptr;
        }
        SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface);
        session->SetCapacity(ByteAmount(16u << 20));
        sink = boost::make_shared<GateSink>(session.get());
        source = CreateHTTPClient(session.get(), &client);
        source->SetMemoryCache(DequeMemoryCache::CreateForSession(source.get()));
        ComponentStack stack(StackIdMain);
        stack.AddComponent(sink);
        stack.AddComponent(source);
        session->SetComponentStack(stack);
        session->StartPump(1000);
        session->SetPullAmount(ByteAmount(131072));
        session->Start();
    }
    ~RestartChain() {
        session->Stop(true);
        SetHTTPClientInterfaceFactory(previous_);
    }

    // Runs body on the session's task thread and waits for it (bounded).
    bool OnTask(std::function<void()> body, int timeoutMs = 20000) {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        session->AddTask(SvTestSupport::MakeTask("RestartChain::OnTask", [done, body] {
            body();
            done->set_value();
        }));
        return finished.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
    }
    // Polls a condition on the task thread until it holds (false when the time is up).
    bool WaitOnTask(std::function<bool()> condition, int timeoutMs = 20000) {
        return WaitUntil(
            [&] {
                bool holds = false;
                return OnTask([&] { holds = condition(); }) && holds;
            },
            timeoutMs);
    }

    // Lets the old transfer deliver into the sink, then holds the task thread until more of it
    // is queued as tasks, and restarts the client there (under newUrl when not empty). With
    // inCache, the sink is shut first so that old bytes also wait in the client's cache;
    // without, what the cache holds goes to the sink before the restart. The number of bytes
    // the sink had at the restart.
    size_t RestartWithOldBytesWaiting(const std::string& newUrl, bool inCache) {
        EXPECT_TRUE(WaitUntil([&] { return sink->Size() >= 32768; }));
        if (inCache) {
            sink->SetOpen(false);
            EXPECT_TRUE(WaitOnTask([&] { return client->GetMemoryCache()->BytesReady() >= 16384; }))
                << "the old body does not reach the cache";
        }
        size_t mark = 0;
        bool queued = false;
        uint32_t cached = 0;
        EXPECT_TRUE(OnTask([&] {
            // Only the download thread runs meanwhile: what it receives waits in the queue.
            queued =
                WaitUntil([&] { return session->GetTaskManager()->PendingData() != 0; }, 10000);
            if (!inCache) source->PullData(ByteAmount(0xFFFFFFFFu));
            cached = client->GetMemoryCache()->BytesReady().Get();
            mark = sink->Size();
            if (!newUrl.empty()) client->SetName(newUrl, false);
            client->Restart();  // what the task a renaming posts runs
            sink->SetOpen(true);
        }));
        EXPECT_TRUE(queued) << "no data of the old transfer was queued at the restart";
        EXPECT_EQ(inCache, cached != 0) << cached << " bytes in the cache at the restart";
        return mark;
    }

    // Waits for the end of the new transfer, then for every task queued by then.
    void WaitForTheEnd(size_t expected) {
        EXPECT_TRUE(WaitUntil([&] { return sink->EndsOfData() != 0; }, 30000))
            << sink->Size() << " bytes of " << expected;
        EXPECT_TRUE(OnTask([] {}));
        EXPECT_TRUE(OnTask([] {}));
    }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<GateSink> sink;
    boost::shared_ptr<Component> source;
    HTTPClient* client = nullptr;

private:
    HTTPClientInterfaceFactory previous_ = nullptr;
};

// A throttled origin: the old body comes in small steps for seconds, so it is still running at
// the restart.
TestOrigin::Fault Throttled(uint64_t bytesPerSecond) {
    TestOrigin::Fault fault;
    fault.bytesPerSecond = bytesPerSecond;
    return fault;
}

TEST(HTTPClientOriginRestartTest, ARenamedClientHandsOnOnlyTheNewResourceAfterTheRestart) {
    const std::string oldBody = test::PatternBytes(4u << 20, 31);
    const std::string newBody = test::PatternBytes(1u << 20, 32);
    TestOrigin origin;
    origin.Serve("/old.bin", oldBody);
    origin.SetFault("/old.bin", Throttled(512 * 1024));
    origin.Serve("/new.bin", newBody);
    RestartChain chain;
    chain.source->SetName(origin.Url("/old.bin"), true);

    const size_t mark = chain.RestartWithOldBytesWaiting(origin.Url("/new.bin"), false);
    chain.WaitForTheEnd(mark + newBody.size());
    const std::string bytes = chain.sink->Bytes();
    ASSERT_GE(bytes.size(), mark);
    EXPECT_TRUE(bytes.compare(0, mark, oldBody, 0, mark) == 0) << "the old body up to the restart";
    const std::string after = bytes.substr(mark);
    EXPECT_EQ(newBody.size(), after.size()) << "bytes after the restart";
    EXPECT_TRUE(after == newBody) << "after the restart: the new resource and nothing else";
    EXPECT_EQ(1, chain.sink->EndsOfData());
}

TEST(HTTPClientOriginRestartTest, AFreshStartHandsOnTheWholeResourceOnceAfterTheRestart) {
    const std::string body = test::PatternBytes(768u * 1024, 33);
    TestOrigin origin;
    origin.Serve("/title.bin", body);
    origin.SetFault("/title.bin", Throttled(768 * 1024));
    RestartChain chain;
    chain.source->SetName(origin.Url("/title.bin"), true);

    const size_t mark = chain.RestartWithOldBytesWaiting(std::string(), false);
    chain.WaitForTheEnd(mark + body.size());
    const std::string bytes = chain.sink->Bytes();
    ASSERT_GE(bytes.size(), mark);
    EXPECT_TRUE(bytes.compare(0, mark, body, 0, mark) == 0);
    // From byte 0 again: a byte the old transfer still delivered would shift or repeat a part.
    const std::string after = bytes.substr(mark);
    EXPECT_EQ(body.size(), after.size()) << "bytes after the restart";
    EXPECT_TRUE(after == body) << "after the restart: the resource from its start, once";
    EXPECT_EQ(1, chain.sink->EndsOfData());
    // The origin saw the two whole-resource requests and no more.
    size_t requests = 0;
    for (const TestOrigin::Request& request : origin.Requests()) {
        requests += request.path == "/title.bin";
        EXPECT_EQ(0u, request.headers.count("range")) << request.head;
    }
    EXPECT_EQ(2u, requests);
}

// The same with old bytes also waiting in the client's cache at the restart: they belong to the
// old transfer as much as the queued ones do (here the other resource's, or the same bytes
// again before the new transfer's byte 0), so the restart empties the cache.
TEST(HTTPClientOriginRestartTest, OldBytesInTheCacheDoNotFollowARestart) {
    const std::string oldBody = test::PatternBytes(4u << 20, 34);
    const std::string newBody = test::PatternBytes(1u << 20, 35);
    TestOrigin origin;
    origin.Serve("/old.bin", oldBody);
    origin.SetFault("/old.bin", Throttled(512 * 1024));
    origin.Serve("/new.bin", newBody);
    RestartChain chain;
    chain.source->SetName(origin.Url("/old.bin"), true);

    const size_t mark = chain.RestartWithOldBytesWaiting(origin.Url("/new.bin"), true);
    chain.WaitForTheEnd(mark + newBody.size());
    const std::string bytes = chain.sink->Bytes();
    ASSERT_GE(bytes.size(), mark);
    const std::string after = bytes.substr(mark);
    EXPECT_EQ(newBody.size(), after.size()) << "bytes after the restart";
    EXPECT_TRUE(after == newBody) << "after the restart: the new resource and nothing else";
}

}  // namespace
}  // namespace SarvelonMediaKit
