#include "engine/input/HTTPThread.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/weak_ptr.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <atomic>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "engine/input/TransportTestSupport.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

using SvTestSupport::ScopedEnvironment;

using SvTestSupport::TestOrigin;
using SvTestSupport::ThreadsNamed;

// "/slow" holds its answer back for 20 s: a request for it stays open for the whole test.
void ServeSlow(TestOrigin& origin) {
    origin.Serve("/slow", PatternBytes(1000));
    TestOrigin::Fault slow;
    slow.headDelayMs = 20000;
    origin.SetFault("/slow", slow);
}

TEST(HTTPThread, EveryCallbackRunsOnTheOneHTTPClientThread) {
    TestOrigin origin;
    origin.Serve("/a", PatternBytes(300000));
    std::vector<std::unique_ptr<TransportRecorder>> recorders;
    for (int i = 0; i < 3; ++i) {
        recorders.emplace_back(new TransportRecorder(MakeTransport(origin.Url("/a"))));
    }
    TransportRecorder failing(MakeTransport(origin.Url("/missing")));
    for (auto& recorder : recorders) recorder->Transport().StartDownload(0, 0);
    failing.Transport().StartDownload(0, 0);
    std::set<pthread_t> threads;
    for (auto& recorder : recorders) {
        ASSERT_TRUE(recorder->WaitDone());
        EXPECT_EQ(recorder->ThreadNames(), std::set<std::string>{"HTTPClient"});
        for (pthread_t t : recorder->Threads()) threads.insert(t);
    }
    ASSERT_TRUE(failing.WaitDone());
    // The error publication too.
    EXPECT_EQ(failing.ThreadNames(), std::set<std::string>{"HTTPClient"});
    for (pthread_t t : failing.Threads()) threads.insert(t);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 1);
}

TEST(HTTPThread, EightThreadsMakingTransportsAtOnceStartOneThread) {
    ShutdownCurlHTTPClientInterface();
    ASSERT_EQ(ThreadsNamed("HTTPClient"), 0);
    const uint32_t before = HTTPThread::Instance().StartCount();
    std::atomic<int> ready(0);
    std::vector<boost::shared_ptr<HTTPClientInterface>> made(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < 8) {
            }
            made[i] = MakeTransport("http://127.0.0.1:1/none");
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(HTTPThread::Instance().StartCount() - before, 1u);
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 1);
}

TEST(HTTPThread, ShutdownStopsTheThreadAndTheNextTransportReadsTheProxyAgain) {
    TestOrigin origin;  // also the proxy
    origin.Serve("/p", "through");
    ScopedEnvironment noProxy("no_proxy", nullptr);
    ScopedEnvironment noProxyUpper("NO_PROXY", nullptr);
    ScopedEnvironment allProxy("all_proxy", nullptr);
    ScopedEnvironment allProxyUpper("ALL_PROXY", nullptr);
    // Nothing listens on port 1: only a proxy can answer for this URL.
    const std::string elsewhere = "http://127.0.0.1:1/p";
    {
        ScopedEnvironment proxy("http_proxy", nullptr);
        ShutdownCurlHTTPClientInterface();
        TransportRecorder direct(MakeTransport(origin.Url("/p")));
        ASSERT_TRUE(direct.Fetch(0, 0));
        EXPECT_EQ(direct.Bytes(), "through");
    }
    ScopedEnvironment proxy("http_proxy", origin.Url("").c_str());
    {
        // The settings copied when the thread started still hold: no proxy.
        TransportRecorder cached(MakeTransport(elsewhere));
        ASSERT_TRUE(cached.Fetch(0, 0));
        EXPECT_TRUE(cached.Failed());
        EXPECT_EQ(cached.ErrorCodes(), std::vector<SVStatus>{1010});
    }
    ShutdownCurlHTTPClientInterface();
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 0);
    {
        TransportRecorder proxied(MakeTransport(elsewhere));
        ASSERT_TRUE(proxied.Fetch(0, 0));
        EXPECT_FALSE(proxied.Failed());
        EXPECT_EQ(proxied.Bytes(), "through");
    }
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 1);
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/p");
    EXPECT_EQ(requests[1].target, elsewhere);  // absolute form: a proxy request
}

TEST(HTTPThread, ShutdownClosesOpenRequestsReapsDelegatesAndPrintsOneLine) {
    TestOrigin origin;
    ServeSlow(origin);
    ShutdownCurlHTTPClientInterface();
    SvTestSupport::TemporaryDirectory dir("svhttpline");
    const std::string path = dir.File("lines");
    FILE* stream = fopen(path.c_str(), "w+");
    ASSERT_NE(nullptr, stream);
    SV::SetLineWriterStream(stream);
    {
        std::vector<std::unique_ptr<TransportRecorder>> open;
        for (int i = 0; i < 3; ++i) {
            open.emplace_back(new TransportRecorder(MakeTransport(origin.Url("/slow"))));
            open.back()->Transport().StartDownload(0, 0);
        }
        ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return origin.Requests().size() == 3; }));
        EXPECT_EQ(HTTPThread::Instance().LiveDelegateCount(), 3u);
        ShutdownCurlHTTPClientInterface();
        EXPECT_EQ(HTTPThread::Instance().LiveDelegateCount(), 0u);
        EXPECT_EQ(ThreadsNamed("HTTPClient"), 0);
        for (auto& recorder : open) EXPECT_EQ(recorder->DoneCount(), 0);
        ShutdownCurlHTTPClientInterface();  // nothing runs: nothing more printed
    }
    SV::SetLineWriterStream(nullptr);
    fclose(stream);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "HTTPThread terminating with 3 active threads\n");
}

TEST(HTTPThread, AThrowingDoneHandlerLeavesTheThreadServingOthers) {
    TestOrigin origin;
    const std::string source = PatternBytes(1000, 21);
    origin.Serve("/a", source);
    TransportRecorder first(MakeTransport(origin.Url("/a")));  // starts the thread if need be
    const uint32_t starts = HTTPThread::Instance().StartCount();
    std::atomic<int> thrown(0);
    boost::shared_ptr<HTTPClientInterface> throwing = MakeTransport(origin.Url("/a"));
    throwing->SetDoneHandler([&thrown](bool) {
        ++thrown;
        throw std::runtime_error("the owner failed");
    });
    throwing->StartDownload(0, 0);
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return thrown.load() == 1; }));
    // The same thread goes on with the next transfer.
    first.Transport().StartDownload(0, 0);
    ASSERT_TRUE(first.WaitDone(10));
    EXPECT_FALSE(first.Failed());
    EXPECT_EQ(first.Bytes(), source);
    EXPECT_EQ(HTTPThread::Instance().StartCount(), starts);
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 1);
    // The failed owner's request was closed and its delegate reaped: nothing else holds it.
    boost::weak_ptr<HTTPClientInterface> weak(throwing);
    throwing->Close();
    throwing.reset();
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return weak.expired(); }));
}

TEST(HTTPThread, ACloseRacingTheStartLeavesNoRequestOpen) {
    TestOrigin origin;
    origin.Serve("/r", PatternBytes(100));
    std::vector<boost::weak_ptr<HTTPClientInterface>> made;
    for (int i = 0; i < 300; ++i) {
        boost::shared_ptr<HTTPClientInterface> transport = MakeTransport(origin.Url("/r"));
        std::atomic<bool> go(false);
        std::thread closer([&] {
            while (!go.load()) {
            }
            transport->CloseConnection();
        });
        go = true;
        transport->StartDownload(0, 0);
        closer.join();
        transport->Close();
        made.push_back(transport);
    }
    // The close lands before the start, between the start and its task, or after the request
    // opened, as the threads fall. Whichever came first, the request is closed and the
    // delegate reaped, so every transport goes once its owner lets go of it (not only at
    // shutdown).
    auto gone = [&made] {
        for (const boost::weak_ptr<HTTPClientInterface>& weak : made) {
            if (!weak.expired()) return false;
        }
        return true;
    };
    EXPECT_TRUE(SvTestSupport::WaitUntil(gone));
    EXPECT_EQ(HTTPThread::Instance().LiveDelegateCount(), 0u);
}

TEST(HTTPThread, TransportsClosedByShutdownQueueNothingLater) {
    TestOrigin origin;
    ServeSlow(origin);
    boost::shared_ptr<HTTPClientInterface> open = MakeTransport(origin.Url("/slow"));
    open->StartDownload(0, 0);
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return origin.Requests().size() == 1; }));
    ShutdownCurlHTTPClientInterface();
    // The owner goes on as owners do; the transport is closed and holds nothing back.
    open->DoSetMaxDownloadAmount(1000);
    EXPECT_EQ(open->GetMaxDownloadAmount(), 1000u);
    open->CloseConnection();
    open->StartDownload(0, 0);
    EXPECT_EQ(ThreadsNamed("HTTPClient"), 0);  // nothing asked for a thread again
    boost::weak_ptr<HTTPClientInterface> weak(open);
    open->Close();
    open.reset();
    // No task sits queued with a reference to it.
    EXPECT_TRUE(weak.expired());
}

// Run by the next test in a process of its own: starts a request on a running download thread
// and exits with it open.
TEST(HTTPThreadExitChild, ExitsWithARequestOpen) {
    const char* url = std::getenv("SV_HTTP_EXIT_CHILD_URL");
    if (url == nullptr) GTEST_SKIP() << "only run by HTTPThread.ExitStops...";
    static boost::shared_ptr<HTTPClientInterface> open = MakeTransport(url);
    open->StartDownload(0, 0);
    std::exit(0);
}

TEST(HTTPThread, ExitStopsARunningThreadBeforeTheStaticsGo) {
    TestOrigin origin;
    ServeSlow(origin);
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command = "SV_HTTP_EXIT_CHILD_URL='" + origin.Url("/slow") + "' '" + self +
                                "' --gtest_filter=HTTPThreadExitChild.ExitsWithARequestOpen";
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, child)) > 0) output.append(buffer, n);
    const int status = pclose(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    // The thread was stopped and joined by the exit path, once.
    size_t lines = 0;
    for (size_t at = output.find("HTTPThread terminating"); at != std::string::npos;
         at = output.find("HTTPThread terminating", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << output;
    EXPECT_NE(output.find("HTTPThread terminating with 1 active threads\n"), std::string::npos)
        << output;
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
