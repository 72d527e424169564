// The HTTP client's way out of the states a download can get stuck in: an idle flag left over
// from an old transfer or a dead connection, a request that never answers, a failed transfer
// with nothing left to fetch, a resume threshold the cache can never reach, a transport that
// cannot be made, a retry pending when the client is stopped. The session's clock is the
// bench's: "five seconds" is five calls of Check.

#include <gtest/gtest.h>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryTracker.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPClientTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

// ---- The idle flag -------------------------------------------------------------------

TEST(HTTPClientRecovery, ARangeRequestWhileIdleIsSupervisedLikeAnyOther) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    bench.Last()->DeliverIdle();  // the chain was full
    ASSERT_TRUE(bench.client->IsTransportIdle());
    bench.client->SeekFilePosition(5000, 0, true);
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_FALSE(bench.client->IsTransportIdle()) << "the old transfer's idleness carried over";

    // The new request never answers: counted, and retried at the fifth check.
    Checks(bench, 4);
    EXPECT_EQ(2u, bench.transports.Count());
    bench.Check();
    ASSERT_EQ(3u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(5000, 0)}, bench.Last()->Starts());
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
}

TEST(HTTPClientRecovery, AnIdleTransportGivenRoomPastItsThresholdCountsAsReceiving) {
    HTTPClientBench bench;  // the chain has 1 MiB of room, past the transport's own 64 KiB
    StartWithBytes(bench, 10000, 100);
    bench.Last()->DeliverIdle();
    // Idle: however long, no stall.
    Checks(bench, 10);
    EXPECT_EQ(1u, bench.transports.Count());

    // Room again: the tick grants it and the transport reads again. The connection died while
    // paused: nothing comes, and that is a stall.
    bench.client->Tick();
    EXPECT_FALSE(bench.client->IsTransportIdle());
    EXPECT_GT(bench.Last()->Allowances().back(), HTTPClient::kTransportResumeThreshold);
    Checks(bench, 4);
    EXPECT_EQ(1u, bench.transports.Count());
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    // From the byte reached, less the 100 bytes held that are asked for again (the seam).
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
}

TEST(HTTPClientRecovery, AnIdleTransportGivenLessThanItsThresholdStaysIdle) {
    // The chain's room stays at the transport's threshold: it does not resume, and waiting
    // for room is no stall.
    HTTPClientBench bench(HTTPClient::kTransportResumeThreshold);
    StartWithBytes(bench, 10000, 100);
    bench.Last()->DeliverIdle();
    for (int i = 0; i < 20; ++i) {
        bench.client->Tick();
        bench.Check();
    }
    EXPECT_TRUE(bench.client->IsTransportIdle());
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_TRUE(bench.errors.Warnings().empty());
}

// ---- Unknown ends --------------------------------------------------------------------

TEST(HTTPClientRecovery, ARequestThatNeverAnswersIsRetriedAfresh) {
    HTTPClientBench bench;
    bench.Start();  // no response head: neither end is known
    auto first = bench.Last();
    Checks(bench, 4);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_EQ(4u, bench.client->GetStallCount());
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());  // no Range header
    EXPECT_TRUE(first->IsClosed());
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
}

TEST(HTTPClientRecovery, AResponseOfUnknownSizeThatEndedIsNotCounted) {
    HTTPClientBench bench;
    bench.Start();
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 500));  // no size announced
    bench.Last()->Finish(false);
    bench.Run();
    Checks(bench, 10);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_EQ(0u, bench.client->GetStallCount());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

// ---- A failure with nothing left -------------------------------------------------------

TEST(HTTPClientRecovery, AFailedTransferWhoseBytesAllArrivedEndsNormally) {
    HTTPClientBench bench;
    StartWithBytes(bench, 1000, 1000);
    bench.Last()->Finish(true);
    bench.Run();
    EXPECT_TRUE(bench.client->IsRestartNeeded());
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    bench.Check();
    EXPECT_EQ(1u, bench.transports.Count()) << "a request for nothing would fail again";
    EXPECT_FALSE(bench.client->IsRestartNeeded());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 1000), bench.sink->Bytes());
    EXPECT_EQ("", bench.sink->CheckEndedBy(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    Checks(bench, 10);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_TRUE(bench.errors.Warnings().empty());
}

TEST(HTTPClientRecovery, ARangeAtTheEndRefusedAndARangeCompleteButFailedEndOnce) {
    HTTPClientBench bench;
    StartWithBytes(bench, 1000, 0);
    // From the last byte on: the origin refuses it (416), the transfer fails.
    bench.client->SeekFilePosition(1000, 0, true);
    bench.Last()->Finish(true);
    bench.Run();
    Checks(bench, 3);
    EXPECT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));

    // A bounded range whose bytes all came before the failure.
    bench.client->SeekFilePosition(200, 400, true);
    bench.Last()->Deliver(HTTPClientBench::Bytes(200, 400));
    bench.Last()->Finish(true);
    bench.Run();
    Checks(bench, 3);
    EXPECT_EQ(3u, bench.transports.Count());
    EXPECT_EQ(2u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_TRUE(bench.errors.Warnings().empty());
}

// ---- A resume threshold within the cache ---------------------------------------------

TEST(HTTPClientRecovery, ALimitedDownloadIntoASmallCacheResumesOnceTheCacheEmpties) {
    const uint32_t budget = 512 * 1024;  // an audio branch's reserve
    HTTPClientBench bench(0x100000, StackIdAudioBranch);
    BandwidthRecorder monitor;
    bench.session->SetCapacity(ByteAmount(8 * 1024 * 1024));
    boost::shared_ptr<MemoryTracker> tracker = bench.session->AllocateTracker(ByteAmount(budget));
    bench.client->SetMemoryCache(DequeMemoryCache::Create(tracker, bench.client));
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.client->DoLinked(true);
    ASSERT_TRUE(bench.client->IsDownloadLimited());
    StartWithBytes(bench, 4 * budget, budget);  // the cache is full
    auto transport = bench.Last();
    EXPECT_LE(transport->ResumeThreshold(), budget / 2);
    transport->DeliverReadAhead(0x30000);
    bench.Run();
    EXPECT_LE(transport->ResumeThreshold(), budget / 2);
    transport->DeliverIdle();

    // The chain takes everything: the most room the cache can ever offer.
    bench.sink->PullNext(budget);
    ASSERT_EQ(HTTPClientBench::Bytes(0, budget), bench.sink->Bytes());
    bench.client->Tick();
    EXPECT_EQ(budget, transport->Allowances().back());
    EXPECT_GT(transport->Allowances().back(), transport->ResumeThreshold())
        << "the transport would stay paused for good";
    EXPECT_FALSE(bench.client->IsTransportIdle());
}

TEST(HTTPClientRecovery, ALimitedDownloadWithALargeCacheKeepsItsThreshold) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    UseSessionCache(bench, 8 * 1024 * 1024);
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.client->DoLinked(true);
    bench.Start();
    EXPECT_EQ(0x120000u, bench.Last()->ResumeThreshold());  // 128 KiB + 1 MiB
}

// ---- A transport that cannot be made -----------------------------------------------------

TEST(HTTPClientRecovery, ARetryWithoutATransportIsReportedAndTriedAgain) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    Checks(bench, 4);
    SetHTTPClientInterfaceFactory(nullptr);  // none installed now
    EXPECT_NO_THROW(bench.Check());
    EXPECT_FALSE(bench.client->GetMainTransport());
    EXPECT_TRUE(bench.client->IsRestartNeeded());
    ASSERT_EQ(1u, bench.errors.Errors().size());
    EXPECT_EQ(SVStatusLibraryException, bench.errors.Errors()[0].first);
    EXPECT_NE(std::string::npos,
              bench.errors.Errors()[0].second.find("No HTTPClientInterface was set"));
    EXPECT_TRUE(bench.errors.Warnings().empty());

    // Through the session's periodic pass, which would meet it again and again: no throw.
    EXPECT_NO_THROW(bench.Check());
    EXPECT_EQ(2u, bench.errors.Errors().size());

    // A factory again: the next check asks from where the data had reached.
    SetHTTPClientInterfaceFactory(&SvTestSupport::CreateFakeHTTPTransport);
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    // (the 100 bytes held asked for again before it)
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
    EXPECT_FALSE(bench.client->IsRestartNeeded());
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 200));
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 200), bench.sink->Bytes());
}

TEST(HTTPClientRecovery, ASeekWithoutATransportIsReportedAndRetriedAtTheNextCheck) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    SetHTTPClientInterfaceFactory(nullptr);
    EXPECT_NO_THROW(bench.client->SeekFilePosition(3000, 0, true));
    EXPECT_FALSE(bench.client->GetMainTransport());
    EXPECT_EQ(1u, bench.errors.Errors().size());
    SetHTTPClientInterfaceFactory(&SvTestSupport::CreateFakeHTTPTransport);
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(3000, 0)}, bench.Last()->Starts());
}

// ---- A stop --------------------------------------------------------------------------

TEST(HTTPClientRecovery, AStoppedClientStartsNothingAtTheNextChecks) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    Checks(bench, 3);            // a stall being counted
    bench.Last()->Finish(true);  // and a retry pending
    bench.Run();
    ASSERT_TRUE(bench.client->IsRestartNeeded());
    bench.client->Stop();
    EXPECT_FALSE(bench.client->IsRestartNeeded());
    EXPECT_EQ(0u, bench.client->GetStallCount());
    Checks(bench, 10);
    EXPECT_EQ(1u, bench.transports.Count()) << "a stopped client started a download";
    EXPECT_TRUE(bench.errors.Warnings().empty());

    // A range request starts it again, supervised afresh.
    bench.client->SeekFilePosition(100, 0, false);
    ASSERT_EQ(2u, bench.transports.Count());
    Checks(bench, 5);
    EXPECT_EQ(3u, bench.transports.Count());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
