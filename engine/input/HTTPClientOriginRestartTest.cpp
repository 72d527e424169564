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
#include "engine/input/HTTPClientOriginTestSupport.h"
#include "engine/input/TransportTestSupport.h"
#include "tests/support/TaskTestSupport.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using origintest::ByteSink;
using origintest::CurlFactoryScope;
using origintest::RunOnTaskThread;
using origintest::WaitOnTaskThread;
using SvTestSupport::TestOrigin;
using SvTestSupport::WaitUntil;

// sink <- HTTP client with a cache of its own, on a running session with the libcurl transport.
class RestartChain {
public:
    RestartChain() : session(Session::Create()) {
        session->SetCapacity(ByteAmount(16u << 20));
        sink = boost::make_shared<ByteSink>(session.get(), true);
        source = CreateHTTPClient(session.get(), &client);
        source->SetMemoryCache(DequeMemoryCache::CreateForSession(source.get()));
        ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, source});
        session->SetComponentStack(stack);
        session->StartPump(1000);
        session->SetPullAmount(ByteAmount(131072));
        session->Start();
    }
    ~RestartChain() { session->Stop(true); }

    size_t EndsOfData() const { return sink->CountMarkers(MemoryMarkerTypeEndOfData); }

    // Lets the old transfer deliver into the sink, then holds the task thread until more of it
    // is queued as tasks, and restarts the client there (under newUrl when not empty). With
    // inCache, the sink is shut first so that old bytes also wait in the client's cache;
    // without, what the cache holds goes to the sink before the restart. The number of bytes
    // the sink had at the restart.
    size_t RestartWithOldBytesWaiting(const std::string& newUrl, bool inCache) {
        EXPECT_TRUE(WaitUntil([&] { return sink->Size() >= 32768; }));
        if (inCache) {
            sink->SetWantsData(false);
            EXPECT_TRUE(WaitOnTaskThread(*session, [&] {
                return client->GetMemoryCache()->BytesReady() >= 16384;
            })) << "the old body does not reach the cache";
        }
        size_t mark = 0;
        bool queued = false;
        uint32_t cached = 0;
        RunOnTaskThread(*session, [&] {
            // Only the download thread runs meanwhile: what it receives waits in the queue.
            queued =
                WaitUntil([&] { return session->GetTaskManager()->PendingData() != 0; }, 10000);
            if (!inCache) source->PullData(ByteAmount(0xFFFFFFFFu));
            cached = client->GetMemoryCache()->BytesReady().Get();
            mark = sink->Size();
            if (!newUrl.empty()) client->SetName(newUrl, false);
            client->Restart();  // what the task a renaming posts runs
            sink->SetWantsData(true);
        });
        EXPECT_TRUE(queued) << "no data of the old transfer was queued at the restart";
        EXPECT_EQ(inCache, cached != 0) << cached << " bytes in the cache at the restart";
        return mark;
    }

    // Waits for the end of the new transfer, then for every task queued by then.
    void WaitForTheEnd(size_t expected) {
        EXPECT_TRUE(WaitUntil([&] { return EndsOfData() != 0; }, 30000))
            << sink->Size() << " bytes of " << expected;
        RunOnTaskThread(*session, [] {});
        RunOnTaskThread(*session, [] {});
    }

private:
    // Declared first: the libcurl transport stays installed until the session has gone.
    CurlFactoryScope curl_;

public:
    boost::shared_ptr<Session> session;
    boost::shared_ptr<ByteSink> sink;
    boost::shared_ptr<Component> source;
    HTTPClient* client = nullptr;
};

// A throttled origin: the old body comes in small steps for seconds, so it is still running at
// the restart.
TestOrigin::Fault Throttled(uint64_t bytesPerSecond) {
    TestOrigin::Fault fault;
    fault.bytesPerSecond = bytesPerSecond;
    return fault;
}

// What the sink took after the restart (from `mark` on): the new resource and nothing else.
void ExpectOnlyTheNewBodyAfter(const std::string& bytes, size_t mark, const std::string& newBody) {
    ASSERT_GE(bytes.size(), mark);
    const std::string after = bytes.substr(mark);
    EXPECT_EQ(newBody.size(), after.size()) << "bytes after the restart";
    EXPECT_TRUE(after == newBody) << "after the restart: the new resource and nothing else";
}

// A client renamed at the restart, with old bytes waiting in its queue (false) or also in its
// cache (true): those belong to the old transfer as much as the queued ones do, so the restart
// empties the cache too.
class HTTPClientOriginRenameTest : public ::testing::TestWithParam<bool> {};

TEST_P(HTTPClientOriginRenameTest, ARenamedClientHandsOnOnlyTheNewResourceAfterTheRestart) {
    const std::string oldBody = test::PatternBytes(4u << 20, 31);
    const std::string newBody = test::PatternBytes(1u << 20, 32);
    TestOrigin origin;
    // The old resource throttled so that its transfer still runs at the restart.
    origin.Serve("/old.bin", oldBody);
    origin.SetFault("/old.bin", Throttled(512 * 1024));
    origin.Serve("/new.bin", newBody);
    RestartChain chain;
    chain.source->SetName(origin.Url("/old.bin"), true);

    const size_t mark = chain.RestartWithOldBytesWaiting(origin.Url("/new.bin"), GetParam());
    chain.WaitForTheEnd(mark + newBody.size());
    const std::string bytes = chain.sink->Bytes();
    ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheNewBodyAfter(bytes, mark, newBody));
    EXPECT_TRUE(bytes.compare(0, mark, oldBody, 0, mark) == 0) << "the old body up to the restart";
    EXPECT_EQ(1u, chain.EndsOfData());
}

INSTANTIATE_TEST_SUITE_P(OldBytesQueuedOrAlsoInTheCache, HTTPClientOriginRenameTest,
                         ::testing::Bool());

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
    // From byte 0 again: a byte the old transfer still delivered would shift or repeat a part.
    ASSERT_NO_FATAL_FAILURE(ExpectOnlyTheNewBodyAfter(bytes, mark, body));
    EXPECT_TRUE(bytes.compare(0, mark, body, 0, mark) == 0) << "the body up to the restart";
    EXPECT_EQ(1u, chain.EndsOfData());
    // The origin saw the two whole-resource requests and no more.
    size_t requests = 0;
    for (const TestOrigin::Request& request : origin.Requests()) {
        requests += request.path == "/title.bin";
        EXPECT_EQ(0u, request.headers.count("range")) << request.head;
    }
    EXPECT_EQ(2u, requests);
}

}  // namespace
}  // namespace SarvelonMediaKit
