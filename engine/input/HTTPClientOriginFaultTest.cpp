// The HTTP client against an origin that misbehaves: a body that stops arriving, a connection
// reset mid-body, a transfer left alive when the client starts afresh, a client stopped or
// destroyed mid-transfer. Whatever the fault, the chain receives every byte of the title once,
// in order, and nothing of a transfer the client has given up.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/input/HTTPClientOriginTestSupport.h"
#include "engine/input/TransportTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace origintest {
namespace {

const char kStallText[] = "Data stopped arriving, will retry";

class HTTPClientOriginFaultTest : public OriginTitleTest {};

SV_TEST_LABEL(HTTPClientOriginFaultTest, AStalledBodyIsRequestedAgainFromWhereItStopped,
              slow);  // over 10 s
// The origin holds the body after 64 KiB for longer than the client waits: one warning, one
// new request for the rest, the warning withdrawn with the first new bytes, and the chain's
// samples are the file's. Real time: about six seconds.
TEST_F(HTTPClientOriginFaultTest, AStalledBodyIsRequestedAgainFromWhereItStopped) {
    const std::vector<SvTestSupport::SampleLogEntry> expected = FileSampleLog(path);
    TestOrigin::Fault stall;
    stall.stallAfter = 65536;
    stall.stallMs = 7000;
    SetFault(stall);

    OriginChain chain(OriginChain::kSamples, Url(), std::string());
    // The stall has begun: the retry is served whole.
    ASSERT_TRUE(chain.WaitFor([&] { return chain.client->GetCurrentPosition() == 65536; }));
    SetFault(TestOrigin::Fault());
    ASSERT_TRUE(chain.WaitForEndOfStream(20000));
    chain.session->Stop(true);

    const std::vector<ErrorRecorder::Report> warnings = chain.reports.Warnings();
    ASSERT_EQ(2u, warnings.size()) << Describe(warnings);
    EXPECT_EQ(ErrorRecorder::Report(SVStatus(2000), kStallText), warnings[0]);
    EXPECT_EQ(ErrorRecorder::Report(SVStatus(200), ""), warnings[1]) << "the withdrawal";
    EXPECT_TRUE(chain.reports.Errors().empty())
        << "a stall is never an error: " << Describe(chain.reports.Errors());
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("", RangeOf(requests[0]));
    // From the byte reached, less the 4096 bytes asked for again to check the seam.
    EXPECT_EQ("bytes=61440-", RangeOf(requests[1]));
    EXPECT_EQ("", SvTestSupport::FirstDifference(expected, chain.mux->Log()));
    EXPECT_EQ(1u, chain.mux->CountMarkers(MemoryMarkerTypeEndOfStream));
    EXPECT_TRUE(chain.events.errors.empty());
}

// The origin resets the connection in the middle of every body after 100000 bytes: each
// retry asks from (a little before) the byte the client had reached, and the chain gets the
// title once. No error is reported: the resets passed.
TEST_F(HTTPClientOriginFaultTest, ADroppedConnectionResumesWithNoByteLostOrRepeated) {
    TestOrigin::Fault drop;
    drop.dropAfter = 100000;
    SetFault(drop);

    OriginChain chain(OriginChain::kBytes, Url(), std::string());
    ASSERT_TRUE(chain.WaitForEndOfData());
    const std::string bytes = chain.sink->Bytes();
    EXPECT_EQ(title.size(), bytes.size());
    EXPECT_TRUE(bytes == title) << "the bytes the chain received are the file's";
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));

    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("", RangeOf(requests[0]));
    uint64_t previous = 0;
    for (size_t i = 1; i < requests.size(); ++i) {
        const std::string range = RangeOf(requests[i]);
        ASSERT_EQ(0u, range.find("bytes=")) << range;
        ASSERT_EQ('-', range.back()) << "to the end of the resource: " << range;
        const uint64_t start = std::strtoull(range.c_str() + 6, nullptr, 10);
        EXPECT_GT(start, previous) << "each retry starts past the last";
        EXPECT_LE(start, previous + 100000 - 4096) << "4096 bytes of seam are asked again";
        previous = start;
    }
    const std::vector<ErrorRecorder::Report> warnings = chain.reports.Warnings();
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(ErrorRecorder::Report(SVStatus(2000), kStallText), warnings.front());
    EXPECT_EQ(ErrorRecorder::Report(SVStatus(200), ""), warnings.back());
    EXPECT_TRUE(chain.reports.Errors().empty()) << Describe(chain.reports.Errors());
}

// A fresh start (the client named again) while the old transfer is still waiting for its
// response: the old transfer is closed before the new one starts, so when the old response
// would have come (its head held back by the origin) none of it reaches the chain.
TEST_F(HTTPClientOriginFaultTest, ARestartWhileTheOldTransferIsAliveLeavesNoneOfItsBytes) {
    origin.ServeFile("/held.svm", path);
    TestOrigin::Fault held;
    held.headDelayMs = 2500;
    origin.SetFault("/held.svm", held);
    OriginChain chain(OriginChain::kBytes, origin.Url("/held.svm"), std::string());

    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return origin.Requests().size() == 1; }));
    const auto heldUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    chain.Run([&] { chain.source->SetName(Url(), true); });
    ASSERT_TRUE(chain.WaitForEndOfData());
    // Past the time the held response would have come, and the queue run after that.
    std::this_thread::sleep_until(heldUntil + std::chrono::milliseconds(500));
    chain.Run([] {});

    const std::string bytes = chain.sink->Bytes();
    EXPECT_EQ(title.size(), bytes.size());
    EXPECT_TRUE(bytes == title);
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/title.svm", requests[1].path);
    EXPECT_EQ("", RangeOf(requests[1])) << "a fresh start asks for everything";
    EXPECT_TRUE(chain.reports.Errors().empty()) << Describe(chain.reports.Errors());
    EXPECT_TRUE(chain.reports.Warnings().empty()) << Describe(chain.reports.Warnings());
}

// A response whose body holds back from its very first byte. The transport announces the
// resource's size only with the first body bytes, so the client knows neither end of what it
// is owed: until the transfer ends, all of it counts as expected, the stall is counted and the
// request made again afresh. The session's clock is driven, so ten checks take no real time.
TEST_F(HTTPClientOriginFaultTest, ABodyHeldFromItsFirstByteIsRetried) {
    TestOrigin::Fault held;
    held.stallAfter = 0;
    held.stallMs = 20000;
    SetFault(held);
    std::shared_ptr<std::atomic<int64_t>> offset = std::make_shared<std::atomic<int64_t>>(0);
    OriginChain chain(OriginChain::kBytes, Url(), std::string(),
                      [offset] { return SV::PilTime(SV::PilTime::Now().Get() + offset->load()); });
    // The first answer has taken the fault; the retry is served whole.
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return origin.AnswersBegun("/title.svm") == 1; }));
    SetFault(TestOrigin::Fault());
    for (int i = 0; i < 10 && origin.Requests().size() == 1; ++i) {
        *offset += 1100;
        chain.Run([] {});  // a pump pass, with its check, runs after this task
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(2u, origin.Requests().size()) << "ten checks without a byte bring no retry";
    ASSERT_TRUE(chain.WaitForEndOfData(5000));
    EXPECT_TRUE(chain.sink->Bytes() == title);
}

// A client stopped mid-transfer has closed its transport when the stop returns and takes
// nothing more from it, not even what was already queued for it; a range request afterwards resumes
// where the data had reached, and the chain ends up with the title once.
TEST_F(HTTPClientOriginFaultTest, AStoppedClientResumesWithARangeRequest) {
    TestOrigin::Fault throttle;
    throttle.bytesPerSecond = 200 * 1024;
    SetFault(throttle);
    OriginChain chain(OriginChain::kBytes, Url(), std::string());
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return chain.sink->Size() >= 40000; }, 20000));

    struct Stopped {
        bool queued = false;
        bool closed = false;
        bool released = false;
        uint64_t loaded = 0;
    };
    const Stopped stopped = chain.OnTask<Stopped>([&] {
        // Holding the task thread while the transfer goes on leaves data of it queued behind
        // this task: the stop must make those do nothing.
        Stopped result;
        result.queued =
            SvTestSupport::WaitUntil([&] { return chain.client->QueuedData()->load() > 0; });
        boost::shared_ptr<HTTPClientInterface> transport = chain.client->GetMainTransport();
        chain.client->Stop();
        result.closed = transport && transport->IsClosed();
        result.released = !chain.client->GetMainTransport();
        result.loaded = chain.client->CurrentLoadedFilePosition().Get();
        return result;
    });
    EXPECT_TRUE(stopped.queued) << "no data were queued behind the stop";
    EXPECT_TRUE(stopped.closed) << "the stop waits for the transport to close";
    EXPECT_TRUE(stopped.released);
    ASSERT_LT(stopped.loaded, title.size());
    // This task runs after the data tasks queued behind the stop; the closed transport adds
    // none.
    EXPECT_EQ(stopped.loaded, chain.OnTask<uint64_t>([&] {
        return chain.client->GetCurrentPosition();
    })) << "nothing of the stopped transfer arrives afterwards";

    chain.Run([&] {
        chain.client->SeekFilePosition(BytePosition(stopped.loaded), BytePosition(0), false);
    });
    ASSERT_TRUE(chain.WaitForEndOfData());
    EXPECT_TRUE(chain.sink->Bytes() == title);
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("bytes=" + std::to_string(stopped.loaded) + "-", RangeOf(requests[1]));
}

// A chain torn down mid-transfer: the transport is closed by the time the session is gone, and
// whatever the download thread still had for the client finds nothing to use (the sanitizers
// watch the time after).
TEST_F(HTTPClientOriginFaultTest, AChainDestroyedMidTransferLeavesItsTransportClosed) {
    TestOrigin::Fault throttle;
    throttle.bytesPerSecond = 200 * 1024;
    SetFault(throttle);
    boost::shared_ptr<HTTPClientInterface> transport;
    {
        OriginChain chain(OriginChain::kBytes, Url(), std::string());
        ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return chain.sink->Size() >= 20000; }, 20000));
        transport = chain.OnTask<boost::shared_ptr<HTTPClientInterface>>(
            [&] { return chain.client->GetMainTransport(); });
        ASSERT_TRUE(transport);
    }
    EXPECT_TRUE(transport->IsClosed());
    // What the download thread still had for the client has run by now.
    ASSERT_TRUE(test::DownloadThreadTurnedTwice());
    EXPECT_TRUE(transport->IsClosed());
}

}  // namespace
}  // namespace origintest
}  // namespace SarvelonMediaKit
