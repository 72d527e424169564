// A download whose size is never announced (no Content-Length, no Content-Range total: a
// chunked response) and whose transfer fails or stalls after its last byte. The client cannot
// tell that every byte arrived, so it asks again from the byte it reached; the server refuses
// that range (416) because it is the resource's end. That refusal ends the download as a
// complete transfer does: the chain gets exactly the resource's bytes and one end of data, no
// error is published, and nothing is asked again however many stall checks follow.
//
// With the fake transport the deliveries and the clock are the test's; against the loopback
// origin (the libcurl transport) the session's clock is still the test's, so "ten seconds
// later" is ten steps of that clock, not a wait.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/input/HTTPClientOriginTestSupport.h"
#include "engine/input/HTTPClientTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

// A fresh download whose 500 bytes arrive with no size announced, then the transfer fails.
void LoadWithoutSizeThenFail(HTTPClientBench& bench) {
    bench.Start();
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 500));
    bench.Last()->Finish(true);
    bench.Run();
}

TEST(HTTPClientUnknownSize, AFailureAfterTheLastByteEndsAtTheRefusedRetry) {
    HTTPClientBench bench;
    LoadWithoutSizeThenFail(bench);
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    bench.Check();  // the failure is retried from the byte reached
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(500, 0)}, bench.Last()->Starts());

    // 416 with "Content-Range: bytes */500": the resource ends where the retry asked.
    bench.Last()->RefuseRange(500);
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 500), bench.sink->Bytes());
    EXPECT_EQ("", bench.sink->CheckEndedBy(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(500u, bench.client->EndPosition().Get()) << "the size the refusal gave";
    Checks(bench, 10);
    EXPECT_EQ(2u, bench.transports.Count()) << "the end was asked for again";
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_TRUE(bench.errors.Errors().empty());
    // The retry's warning is withdrawn: the download is over.
    EXPECT_EQ((std::vector<Report>{kStallWarning, kWithdrawal}), bench.errors.Warnings());
    EXPECT_FALSE(bench.client->IsWarningShown());
}

TEST(HTTPClientUnknownSize, AStallAfterTheLastByteEndsAtTheRefusedRetryWithoutATotal) {
    HTTPClientBench bench;
    bench.Start();
    auto first = bench.Last();
    first->Deliver(HTTPClientBench::Bytes(0, 500));  // and then nothing, never an end
    bench.Run();
    Checks(bench, 5);
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_TRUE(first->IsClosed());
    EXPECT_EQ(std::vector<Range>{Range(500, 0)}, bench.Last()->Starts());

    bench.Last()->RefuseRange(0);  // a 416 that gives no size
    bench.Run();
    Checks(bench, 10);
    EXPECT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 500), bench.sink->Bytes());
    EXPECT_EQ("", bench.sink->CheckEndedBy(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(0u, bench.client->EndPosition().Get()) << "no size was given";
    EXPECT_TRUE(bench.errors.Errors().empty());
}

TEST(HTTPClientUnknownSize, ARefusalThatSaysThereIsMoreIsOneErrorAndNoLoop) {
    HTTPClientBench bench;
    LoadWithoutSizeThenFail(bench);
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    bench.Last()->RefuseRange(800);  // refused from 500, yet 800 bytes long
    bench.Run();
    Checks(bench, 10);
    EXPECT_EQ(2u, bench.transports.Count()) << "the refusal was asked for again";
    EXPECT_EQ((std::vector<Report>{Report(416, "HTTP Error 416")}), bench.errors.Errors());
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData)) << "bytes are missing";
    EXPECT_EQ(HTTPClientBench::Bytes(0, 500), bench.sink->Bytes());

    // A new range request is supervised afresh.
    bench.client->SeekFilePosition(500, 0, false);
    ASSERT_EQ(3u, bench.transports.Count());
    bench.Last()->Deliver(HTTPClientBench::Bytes(500, 800));
    bench.Last()->Finish(false);
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 800), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(1u, bench.errors.Errors().size());
}

TEST(HTTPClientUnknownSize, ARangeRequestPastTheEndEndsAtOnceAndARefusalOfAnOldRangeIsDropped) {
    HTTPClientBench bench;
    bench.Start();
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 500));
    bench.Last()->Finish(false);
    bench.Run();
    ASSERT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));

    // A seek to where the resource (size unknown) has already ended.
    bench.client->SeekFilePosition(600, 0, true);
    auto old = bench.Last();
    old->RefuseRange(500);                         // queued, not yet run ...
    bench.client->SeekFilePosition(100, 0, true);  // ... when another range replaces it
    bench.Run();
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData)) << "the old refusal ended";
    bench.Last()->Deliver(HTTPClientBench::Bytes(100, 500));
    bench.Run();
    EXPECT_EQ(0u, bench.client->GetStallCount());

    bench.client->SeekFilePosition(600, 0, true);
    bench.Last()->RefuseRange(500);
    bench.Run();
    EXPECT_EQ(2u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    Checks(bench, 10);
    EXPECT_EQ(4u, bench.transports.Count());
    EXPECT_TRUE(bench.errors.Errors().empty());
    EXPECT_TRUE(bench.errors.Warnings().empty());
}

}  // namespace
}  // namespace test

namespace origintest {
namespace {

using SvTestSupport::ErrorRecorder;
using SvTestSupport::TestOrigin;

// The session's clock, moved on by the test. Every read is counted, so a step can wait until
// the pump has read the new time (and so run its stall check).
class SteppedClock {
public:
    SteppedClock() : now_(1000000), reads_(0) {}
    TaskManager::Clock Function() {
        return [this] {
            reads_.fetch_add(1);
            return SV::PilTime(now_.load());
        };
    }
    // One second on, then a few passes of the pump on it.
    void Step(OriginChain& chain) {
        now_.fetch_add(1000);
        const uint64_t reads = reads_.load();
        SvTestSupport::WaitUntil([&] { return reads_.load() >= reads + 4; }, 5000);
        chain.Run([] {});
        chain.Run([] {});
    }
    void Steps(OriginChain& chain, int n) {
        for (int i = 0; i < n; ++i) Step(chain);
    }

private:
    std::atomic<uint64_t> now_;
    std::atomic<uint64_t> reads_;
};

class HTTPClientUnknownSizeOriginTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t i = 0; i < 300000; ++i)
            resource.push_back(static_cast<char>((i * 7 + i / 251) & 0xFF));
        origin.Serve("/chunked", resource);
    }
    std::string Url() const { return origin.Url("/chunked"); }
    static TestOrigin::Fault Chunked() {
        TestOrigin::Fault fault;
        fault.chunked = true;
        fault.totalUnknown = true;  // a 206 says nothing of the size either
        return fault;
    }
    // The origin closes the connection where the last (empty) chunk would come.
    void DropTheConnectionBeforeTheLastChunk() {
        TestOrigin::Fault fault = Chunked();
        fault.dropAtEnd = true;
        origin.SetFault("/chunked", fault);
    }
    // Waits until every byte is loaded (the transfer has then failed or stalls).
    bool WaitForAllBytes(OriginChain& chain) {
        return chain.WaitFor(
            [&] { return chain.client->CurrentLoadedFilePosition().Get() == resource.size(); });
    }
    // A first transfer that ended without the end of its body is reported by the transport as
    // its own stream error (1010), which the client holds back while it resumes: once the
    // resume has found the end, nothing at all has been reported.
    void ExpectEndedWithTheResourceAfterOneRetry(OriginChain& chain) {
        ASSERT_TRUE(chain.WaitForEndOfData(20000));
        // Ten seconds more: nothing is asked again.
        clock.Steps(chain, 10);
        const std::vector<TestOrigin::Request> requests = origin.Requests();
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ("", RangeOf(requests[0]));
        EXPECT_EQ("bytes=" + std::to_string(resource.size()) + "-", RangeOf(requests[1]));
        EXPECT_TRUE(chain.sink->Bytes() == resource) << chain.sink->Size() << " bytes";
        EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));
        EXPECT_TRUE(chain.reports.Errors().empty()) << Describe(chain.reports.Errors());
    }

    CurlFactoryScope factory;
    TestOrigin origin;
    SteppedClock clock;
    std::string resource;
};

TEST_F(HTTPClientUnknownSizeOriginTest, AConnectionClosedBeforeTheLastChunkEndsAtThe416) {
    DropTheConnectionBeforeTheLastChunk();
    OriginChain chain(OriginChain::kBytes, Url(), std::string(), clock.Function());
    ASSERT_TRUE(WaitForAllBytes(chain));
    ASSERT_TRUE(chain.WaitFor([&] { return chain.client->IsRestartNeeded(); }));
    clock.Step(chain);  // the retry: refused with "bytes */300000"
    ExpectEndedWithTheResourceAfterOneRetry(chain);
    EXPECT_EQ(resource.size(),
              chain.OnTask<uint64_t>([&] { return chain.client->EndPosition().Get(); }));
}

TEST_F(HTTPClientUnknownSizeOriginTest, AStallAfterTheLastChunkEndsAtThe416) {
    TestOrigin::Fault fault = Chunked();
    fault.stallAtEndMs = 60000;  // cut short when the origin stops
    origin.SetFault("/chunked", fault);
    OriginChain chain(OriginChain::kBytes, Url(), std::string(), clock.Function());
    ASSERT_TRUE(WaitForAllBytes(chain));
    clock.Steps(chain, 5);  // five checks without data: the retry
    ExpectEndedWithTheResourceAfterOneRetry(chain);
    const std::vector<ErrorRecorder::Report> warnings = chain.reports.Warnings();
    ASSERT_EQ(2u, warnings.size()) << Describe(warnings);
    EXPECT_EQ(test::kStallWarning, warnings[0]);
    EXPECT_EQ(test::kWithdrawal, warnings[1]);
}

// The retry is answered 200 with the whole resource (the Range header ignored), its size
// still unannounced: what the client already has is skipped, not appended again.
TEST_F(HTTPClientUnknownSizeOriginTest, ARetryAnsweredWholeAppendsNothingTwice) {
    DropTheConnectionBeforeTheLastChunk();
    OriginChain chain(OriginChain::kBytes, Url(), std::string(), clock.Function());
    ASSERT_TRUE(WaitForAllBytes(chain));
    ASSERT_TRUE(chain.WaitFor([&] { return chain.client->IsRestartNeeded(); }));
    TestOrigin::Fault whole;
    whole.chunked = true;
    whole.ignoreRange = true;
    origin.SetFault("/chunked", whole);
    clock.Step(chain);
    ExpectEndedWithTheResourceAfterOneRetry(chain);
}

}  // namespace
}  // namespace origintest
}  // namespace SarvelonMediaKit
