// The HTTP client's download and data path, out-of-band requests and lifetimes, driven through
// the fake transport: no sockets, no sleeps, the test runs the session's task queue itself.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryChunk.h"
#include "engine/input/HTTPClientTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes all(a);
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

TEST(HTTPClient, FreshStartAsksForTheWholeResourceAndLeavesThePositionAlone) {
    HTTPClientBench bench(5000);
    bench.client->SetName(HTTPClientBench::kUrl, true);
    // Posted: nothing is asked until the task thread runs it.
    EXPECT_EQ(0u, bench.transports.Count());
    bench.Run();
    ASSERT_EQ(1u, bench.transports.Count());
    auto transport = bench.Last();
    EXPECT_EQ(HTTPClientBench::kUrl, transport->Url());
    EXPECT_TRUE(transport->HasOwner());
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, transport->Starts());  // no Range header
    EXPECT_EQ(std::vector<uint32_t>{5000}, transport->Allowances());  // the sink's room
    EXPECT_EQ(HTTPClientBench::kUrl, bench.client->GetName());

    // A fresh start after a range request keeps the position that request set.
    bench.client->SeekFilePosition(700, 0, true);
    bench.client->Restart();
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
    EXPECT_EQ(700u, bench.client->GetCurrentPosition().Get());
    EXPECT_EQ(0u, bench.client->GetRequestedEnd().Get());
}

TEST(HTTPClient, RangeRequestWithEndZeroAsksForEverythingFromItsStart) {
    HTTPClientBench bench;
    bench.Start();
    bench.client->SeekFilePosition(1000, 0, true);
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(1000, 0)}, bench.Last()->Starts());
    EXPECT_EQ(1000u, bench.client->GetCurrentPosition().Get());
    EXPECT_EQ(0u, bench.client->EndPosition().Get());  // not announced yet

    bench.Last()->DeliverEnd(4000);
    bench.Last()->Deliver(HTTPClientBench::Bytes(1000, 1100));
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(1000, 1100), bench.sink->Bytes());
    EXPECT_EQ(1100u, bench.client->GetCurrentPosition().Get());
    EXPECT_EQ(1100u, bench.client->CurrentLoadedFilePosition().Get());
    EXPECT_EQ(4000u, bench.client->EndPosition().Get());
}

// Every grant wakes the download thread, and the transport counts its allowance down by
// itself: a grant that only repeats what it holds is not made. Here the transport holds exactly
// the chain's room until the chain takes bytes, and is granted again once it holds less than
// half of that room. (A pull hands on one chunk of the cache at most.)
TEST(HTTPClient, AllowanceIsRenewedOnlyOnceHalfOfTheRoomIsUsedUp) {
    const uint32_t capacity = 100000;
    HTTPClientBench bench;
    StartWithSessionCache(bench, capacity);
    auto transport = bench.Last();
    EXPECT_EQ(std::vector<uint32_t>{capacity}, transport->Allowances());

    for (uint64_t at = 0; at < 60000; at += 10000) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + 10000));
        bench.Run();
    }
    // 60000 bytes held in the cache, 40000 left to the transport: no grant was needed.
    EXPECT_EQ(std::vector<uint32_t>{capacity}, transport->Allowances());
    EXPECT_EQ(40000u, transport->GetMaxDownloadAmount());

    // Room 50000 to 80000: the transport's 40000 are at least half of it.
    for (int i = 0; i < 4; ++i) bench.sink->PullNext(10000);
    EXPECT_EQ(1u, transport->Allowances().size());
    bench.sink->PullNext(10000);  // room 90000: less than half is left, renewed to all of it
    EXPECT_EQ((std::vector<uint32_t>{capacity, 90000}), transport->Allowances());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 50000), bench.sink->Bytes());
}

// A fast transport delivers several chunks before the task thread runs any of them. The room
// they will take is not granted again: no allowance leaves room for more than the budget less
// what the cache holds and what is still on its way to it. Tasks dropped unrun (data thrown away
// during a seek) stop counting.
TEST(HTTPClient, AllowanceLeavesRoomForTheDataStillQueued) {
    const uint32_t capacity = 100000;
    HTTPClientBench bench;
    StartWithSessionCache(bench, capacity);
    auto transport = bench.Last();
    ASSERT_EQ(std::vector<uint32_t>{capacity}, transport->Allowances());
    MemoryCache& cache = *bench.client->GetMemoryCache();

    for (uint64_t at = 0; at < 60000; at += 10000) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + 10000));
    }
    bench.Run();
    // Four more delivered, not yet taken: the transport has used up its allowance.
    for (uint64_t at = 60000; at < 100000; at += 10000) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + 10000));
    }
    EXPECT_EQ(0u, transport->GetMaxDownloadAmount());
    // The chain takes the six cached chunks; 40000 bytes are still on their way.
    for (int i = 0; i < 6; ++i) {
        bench.sink->PullNext(10000);
        EXPECT_LE(transport->GetMaxDownloadAmount() + uint32_t(cache.BytesReady()) + 40000,
                  capacity)
            << "after pull " << i;
    }
    // Granted 10000 at the first pull (50000 cached) and 30000 at the third (30000 cached).
    EXPECT_EQ((std::vector<uint32_t>{capacity, 10000, 30000}), transport->Allowances());
    bench.Run();
    EXPECT_EQ(40000u, uint32_t(cache.BytesReady()));

    // Two chunks queued and then dropped unrun: their bytes never arrive and take no room.
    transport->Deliver(HTTPClientBench::Bytes(100000, 105000));
    transport->Deliver(HTTPClientBench::Bytes(105000, 110000));
    bench.session->GetTaskManager()->SetDropDataTasks();
    bench.Run();
    bench.session->GetTaskManager()->ClearDropDataTasks();
    EXPECT_EQ(20000u, transport->GetMaxDownloadAmount());
    for (int i = 0; i < 4; ++i) bench.sink->PullNext(10000);
    // Granted at the first of these pulls: 30000 cached and nothing on its way any more.
    EXPECT_EQ(capacity - 30000, transport->Allowances().back());
    EXPECT_EQ(4u, transport->Allowances().size());
}

// A download that nobody plays at its rate (no bandwidth monitor) holds at most 2 MiB ahead of
// the chain, however large the cache's budget; one that is limited may fill the budget.
TEST(HTTPClient, ADownloadNotLimitedHoldsAtMostItsReadAheadAhead) {
    const uint32_t capacity = 16u << 20;
    HTTPClientBench bench;
    StartWithSessionCache(bench, capacity);
    EXPECT_EQ(std::vector<uint32_t>{2u << 20}, bench.Last()->Allowances());

    HTTPClientBench limited;
    limited.client->SetDownloadLimited(true);
    StartWithSessionCache(limited, capacity);
    EXPECT_EQ(std::vector<uint32_t>{capacity}, limited.Last()->Allowances());
}

// A chain whose room has no limit (no cache, a sink that takes everything) gets no unlimited
// allowance: what the transport delivers while the task thread lags would pile up in the task
// queue without bound.
TEST(HTTPClient, ARoomWithoutLimitStillBoundsWhatIsQueued) {
    const uint32_t chunk = 0x10000;
    HTTPClientBench bench(0xFFFFFFFFu);
    bench.Start();
    auto transport = bench.Last();
    EXPECT_EQ(std::vector<uint32_t>{2u << 20}, transport->Allowances());
    for (uint64_t at = 0; at < (2u << 20); at += chunk) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + chunk));
    }
    EXPECT_EQ(0u, transport->GetMaxDownloadAmount()) << "2 MiB queued, no more allowed";
    bench.Run();  // handed on: room again, granted in steps as the tasks ran
    EXPECT_GE(transport->GetMaxDownloadAmount(), 1u << 20);
    EXPECT_LE(transport->GetMaxDownloadAmount(), 2u << 20);
    EXPECT_EQ(HTTPClientBench::Bytes(0, 2u << 20), bench.sink->Bytes());
}

// A transport that holds more than the chain can take (its room shrank) is cut back, but not
// for the odd delivery's worth.
TEST(HTTPClient, AllowanceIsCutBackWhenTheRoomShrinksPastTheSlack) {
    HTTPClientBench bench(500000);  // no cache: the room is the sink's, 500000
    bench.Start();
    auto transport = bench.Last();
    ASSERT_EQ(std::vector<uint32_t>{500000}, transport->Allowances());
    transport->DoSetMaxDownloadAmount(500000 + HTTPClient::kRenewalSlack);
    bench.sink->PullNext(10);  // the slack, not more: left alone
    EXPECT_EQ(2u, transport->Allowances().size());
    transport->DoSetMaxDownloadAmount(500000 + HTTPClient::kRenewalSlack + 1);
    bench.sink->PullNext(10);
    EXPECT_EQ(500000u, transport->Allowances().back());
    EXPECT_EQ(4u, transport->Allowances().size());
}

TEST(HTTPClient, ChunksOfTheTransportCarryTheClientsMargins) {
    HTTPClientBench bench;
    bench.client->SetHeadroom(24);
    bench.client->SetTailroom(8);
    bench.Start();
    auto transport = bench.Last();
    EXPECT_EQ(24u, transport->ChunkHeadroom());
    EXPECT_EQ(8u, transport->ChunkTailroom());
    // Both data callbacks are installed; the transport uses the chunk one.
    EXPECT_TRUE(transport->HasChunkHandler());
    EXPECT_TRUE(transport->HasDataHandler());
    EXPECT_FALSE(transport->Post());
}

TEST(HTTPClient, LimitedDownloadsResumeOnlyPastTheReadAheadThreshold) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    // Not limited: the transport keeps its own threshold, and a reported read-ahead only
    // changes what is skipped.
    bench.Start();
    const uint32_t ownThreshold = bench.Last()->ResumeThreshold();
    EXPECT_NE(0x120000u, ownThreshold);
    bench.Last()->DeliverReadAhead(0x30000);
    bench.Run();
    EXPECT_EQ(ownThreshold, bench.Last()->ResumeThreshold());

    // Linked with a bandwidth monitor: limited from the next download start on.
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.client->DoLinked(true);
    EXPECT_TRUE(bench.client->IsDownloadLimited());
    EXPECT_EQ(ownThreshold, bench.Last()->ResumeThreshold());
    bench.client->SeekFilePosition(0, 0, true);
    EXPECT_EQ(0x120000u, bench.Last()->ResumeThreshold());  // 128 KiB + 1 MiB
    bench.Last()->DeliverReadAhead(0x30000);
    EXPECT_EQ(0x120000u, bench.Last()->ResumeThreshold());  // posted, not applied yet
    bench.Run();
    EXPECT_EQ(0x130000u, bench.Last()->ResumeThreshold());

    // Unlimited again: takes effect at the next start only.
    bench.client->SetDownloadLimited(false);
    bench.client->SeekFilePosition(10, 0, true);
    EXPECT_EQ(ownThreshold, bench.Last()->ResumeThreshold());
}

TEST(HTTPClient, TwoNormalCompletionsAddOneEndOfDataAndAFailureAddsNone) {
    HTTPClientBench bench;
    bench.Start();
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 10));
    bench.Last()->Finish(false);
    bench.Last()->Finish(false);
    bench.Run();
    EXPECT_EQ((std::vector<std::string>{"D10", "M4"}), bench.sink->Trace());

    // A new range, ended by a failure: no marker, the check will retry.
    bench.client->SeekFilePosition(10, 0, true);
    bench.Last()->Finish(true);
    bench.Run();
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_TRUE(bench.client->IsRestartNeeded());
}

TEST(HTTPClient, FreshStartRetiresTheTransferStillRunning) {
    HTTPClientBench bench;
    bench.Start();
    auto old = bench.Last();
    old->Deliver(HTTPClientBench::Bytes(0, 100));  // queued, not yet in the chain
    bench.client->Restart();
    EXPECT_EQ(1, old->AbortCount());
    EXPECT_EQ(1, old->CloseCount());
    EXPECT_TRUE(old->IsClosed());
    // It goes on delivering a little after it was told to stop: nothing of that counts.
    old->Deliver(HTTPClientBench::Bytes(100, 200));
    old->Finish(false);
    bench.Run();
    EXPECT_TRUE(bench.sink->entries.empty());

    auto fresh = bench.Last();
    ASSERT_NE(old, fresh);
    fresh->Deliver(HTTPClientBench::Bytes(0, 150));
    fresh->Finish(false);
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 150), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(150u, bench.client->GetCurrentPosition().Get());
}

TEST(HTTPClient, SeekDuringATransferLetsNoOldByteIntoTheChain) {
    HTTPClientBench bench;
    bench.Start();
    auto old = bench.Last();
    old->Deliver(HTTPClientBench::Bytes(0, 300));
    bench.Run();
    old->Deliver(HTTPClientBench::Bytes(300, 400));  // queued when the seek comes
    old->DeliverEnd(9000);                           // control: still applies
    old->Finish(false);
    bench.client->SeekFilePosition(5000, 0, true);
    old->Deliver(HTTPClientBench::Bytes(400, 500));  // late
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 300), bench.sink->Bytes());
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(9000u, bench.client->EndPosition().Get());

    bench.Last()->Deliver(HTTPClientBench::Bytes(5000, 5200));
    bench.Run();
    EXPECT_EQ(Concat(HTTPClientBench::Bytes(0, 300), HTTPClientBench::Bytes(5000, 5200)),
              bench.sink->Bytes());
    EXPECT_EQ(5200u, bench.client->GetCurrentPosition().Get());
}

TEST(HTTPClient, RangeRequestWithoutRepositionKeepsTheCache) {
    HTTPClientBench bench;
    StartWithSessionCache(bench, 100000);
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 500));
    bench.Run();
    bench.client->SeekFilePosition(500, 0, false);
    EXPECT_EQ(500u, bench.client->CurrentLoadedFilePosition().Get());
    bench.Last()->Deliver(HTTPClientBench::Bytes(500, 800));
    bench.Run();
    bench.sink->PullNext(10000);  // one pull hands out one chunk
    bench.sink->PullNext(10000);
    EXPECT_EQ(HTTPClientBench::Bytes(0, 800), bench.sink->Bytes());

    // With reposition the cache empties and starts at the new position.
    bench.client->SeekFilePosition(2000, 0, true);
    EXPECT_EQ(2000u, bench.client->CurrentLoadedFilePosition().Get());
}

TEST(HTTPClient, OutOfBandBytesGoToTheConsumerAndNeverIntoTheData) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.Start();
    auto main = bench.Last();
    const size_t allowances = main->Allowances().size();

    EXPECT_TRUE(bench.client->OutOfBandRequest(10, 20));
    ASSERT_EQ(2u, bench.transports.Count());
    auto band = bench.Last();
    EXPECT_FALSE(band->HasOwner());
    EXPECT_EQ(std::vector<Range>{Range(10, 20)}, band->Starts());
    EXPECT_FALSE(band->HasChunkHandler());
    EXPECT_TRUE(band->HasDataHandler());
    EXPECT_TRUE(band->Allowances().empty());

    band->Deliver(HTTPClientBench::Bytes(10, 20));
    band->Deliver(Bytes());  // nothing
    band->Finish(false);
    bench.Run();
    ASSERT_EQ(1u, bench.sink->outOfBand.size());
    EXPECT_EQ(HTTPClientBench::Bytes(10, 20), bench.sink->outOfBand[0]);
    EXPECT_TRUE(bench.sink->entries.empty());
    EXPECT_EQ(0u, bench.client->GetCurrentPosition().Get());
    EXPECT_EQ(allowances, main->Allowances().size());
    EXPECT_FALSE(bench.client->GetOutOfBandTransport());  // released when done
    EXPECT_EQ(1, band->CloseCount());
}

TEST(HTTPClient, OutOfBandRequestWhileAnotherRunsReplacesIt) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.Start();
    bench.client->OutOfBandRequest(0, 8);
    auto first = bench.Last();
    first->Deliver(HTTPClientBench::Bytes(0, 8));  // queued before the second request
    first->Finish(false);
    bench.client->OutOfBandRequest(100, 108);
    auto second = bench.Last();
    EXPECT_EQ(1, first->AbortCount());
    EXPECT_TRUE(first->IsClosed());
    bench.Run();
    // The first one's bytes are still handed on; its end does not let go of the second.
    ASSERT_EQ(1u, bench.sink->outOfBand.size());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 8), bench.sink->outOfBand[0]);
    EXPECT_EQ(second, bench.client->GetOutOfBandTransport());
    second->Deliver(HTTPClientBench::Bytes(100, 108));
    bench.Run();
    ASSERT_EQ(2u, bench.sink->outOfBand.size());
    EXPECT_EQ(HTTPClientBench::Bytes(100, 108), bench.sink->outOfBand[1]);

    EXPECT_TRUE(bench.client->OutOfBandEnd());
    EXPECT_TRUE(second->IsClosed());
    EXPECT_FALSE(bench.client->GetOutOfBandTransport());
}

TEST(HTTPClient, OutOfBandHandlerPostsNothingForNoBytesAndAlwaysAccepts) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    auto guard = boost::make_shared<HTTPClientGuard>(bench.client);
    HTTPClientOutOfBandDataHandler handler(bench.session->GetTaskManager(), guard);
    const signed char bytes[2] = {7, 8};
    EXPECT_TRUE(handler(bytes, 0));
    bench.Run();
    EXPECT_TRUE(bench.sink->outOfBand.empty());
    // The answer is control data, not part of the transfer: it counts as no pending data.
    EXPECT_TRUE(handler(bytes, 1));
    EXPECT_EQ(0u, bench.session->GetTaskManager()->PendingData().Get());
    bench.Run();
    EXPECT_EQ(std::vector<Bytes>{Bytes{7}}, bench.sink->outOfBand);
    EXPECT_TRUE(handler(bytes + 1, 1));
    guard->Clear();  // the client has gone
    EXPECT_TRUE(handler(bytes, 1));
    bench.Run();  // the task queued before the guard was cleared now finds nobody
    EXPECT_EQ(std::vector<Bytes>{Bytes{7}}, bench.sink->outOfBand);
}

TEST(HTTPClient, DataHandlersOfAGoneTaskQueueRefuseAndPostNothing) {
    HTTPClientBench bench;
    auto guard = boost::make_shared<HTTPClientGuard>(bench.client);
    boost::weak_ptr<TaskManager> none;
    const signed char bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(HTTPClientDataHandler(none, guard)(bytes, 4));
    EXPECT_FALSE(HTTPClientMemoryChunkDataHandler(none, guard)(MemoryChunk(4, 0, 0)));
    HTTPClientDoneHandler(none, guard)(false);
    HTTPClientSetEndPositionHandler(none, guard)(100);
    bench.Run();
    EXPECT_TRUE(bench.sink->entries.empty());
    EXPECT_EQ(0u, bench.client->EndPosition().Get());

    // With the session, the copying handler makes a chunk with the client's margins and the
    // task carries its size as pending data.
    EXPECT_TRUE(HTTPClientDataHandler(bench.session->GetTaskManager(), guard)(bytes, 4));
    EXPECT_EQ(4u, bench.session->GetTaskManager()->PendingData().Get());
    bench.Run();
    EXPECT_EQ((Bytes{1, 2, 3, 4}), bench.sink->Bytes());
}

TEST(HTTPClient, QueuedTasksAndLateDeliveriesOfADestroyedClientDoNothing) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.Start();
    auto main = bench.Last();
    bench.client->OutOfBandRequest(0, 4);
    auto band = bench.Last();
    main->DeliverEnd(1000);
    main->Deliver(HTTPClientBench::Bytes(0, 100));
    main->Finish(false);
    band->Deliver(HTTPClientBench::Bytes(0, 4));
    main->ReportError(404, "Not Found");
    bench.client->SetName(HTTPClientBench::kUrl, true);
    bench.DestroyClient();
    EXPECT_TRUE(main->IsClosed());
    EXPECT_TRUE(band->IsClosed());
    // The transports outlive the client and deliver again; the queue runs the old tasks.
    main->Deliver(HTTPClientBench::Bytes(100, 200));
    main->Finish(false);
    band->Deliver(HTTPClientBench::Bytes(4, 8));
    bench.Run();  // AddressSanitizer reports any use of the freed client here
    EXPECT_EQ(2u, bench.transports.Count());  // the queued fresh start made none
    EXPECT_TRUE(bench.errors.Errors().empty());
}

TEST(HTTPClient, DestroyingWaitsForADeliveryInProgressAndThatDeliveryFindsNobody) {
    HTTPClientBench bench;
    bench.Start();
    auto main = bench.Last();
    std::atomic<bool> accepted(true);
    // The download thread is inside a delivery when the client goes: the client's close must
    // wait for it, and what it still hands over must go nowhere.
    main->BusyStart();
    std::thread download([&] {
        while (main->CloseCount() == 0) std::this_thread::yield();
        accepted = main->Deliver(HTTPClientBench::Bytes(0, 64));
        main->BusyDone();
    });
    bench.DestroyClient();  // returns once the transport reports closed
    download.join();
    EXPECT_TRUE(main->IsClosed());
    EXPECT_FALSE(accepted.load());
    EXPECT_EQ(0u, bench.session->GetTaskManager()->PendingData().Get());
}

TEST(HTTPClient, StopWaitsForTheTransportsAndARangeRequestStartsAgain) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.Start();
    auto main = bench.Last();
    bench.client->OutOfBandRequest(0, 4);
    auto band = bench.Last();
    main->Deliver(HTTPClientBench::Bytes(0, 100));  // queued when the stop comes
    bench.client->Stop();
    EXPECT_TRUE(main->IsClosed());
    EXPECT_TRUE(band->IsClosed());
    EXPECT_EQ(1, main->AbortCount());
    EXPECT_FALSE(bench.client->GetMainTransport());
    EXPECT_FALSE(bench.client->GetOutOfBandTransport());
    EXPECT_FALSE(bench.client->BandwidthInfoSource::HasMonitors());
    bench.Run();
    EXPECT_TRUE(bench.sink->entries.empty());

    ExpectAFreshRangeRequestDelivers(bench);
}

TEST(HTTPClient, TransportGoneUnclosedReleasesOnlyTheMainTransport) {
    HTTPClientBench bench;
    bench.Start();
    auto main = bench.Last();
    SvTestSupport::FakeHTTPTransport other("http://127.0.0.1:1/other", nullptr, 0);
    bench.client->HTTPClientInterfaceDestroyed(&other);
    EXPECT_EQ(main, bench.client->GetMainTransport());
    bench.client->HTTPClientInterfaceDestroyed(main.get());
    EXPECT_FALSE(bench.client->GetMainTransport());
    // Let go closed: kept alive here, it must not call back into the client it outlives.
    EXPECT_TRUE(main->IsClosed());
    bench.sink->PullNext(10);  // allowance updates do nothing now
    EXPECT_EQ(1u, main->Allowances().size());
}

TEST(HTTPClient, TransportErrorsArePublishedUnchangedOnTheTaskThread) {
    HTTPClientBench bench;
    bench.Start();
    auto main = bench.Last();
    SvTestSupport::RunOnThread("HTTPClient", [&] {
        main->ReportError(404, "HTTP 404");
        main->ReportWarning(1010, "Stream error");
    });
    // Posted by the download thread, published only when the task thread runs.
    EXPECT_TRUE(bench.errors.Errors().empty());
    EXPECT_TRUE(bench.errors.Warnings().empty());
    bench.Run();
    typedef std::vector<SvTestSupport::ErrorRecorder::Report> Reports;
    EXPECT_EQ(Reports(1, {404, "HTTP 404"}), bench.errors.Errors());
    EXPECT_EQ(Reports(1, {1010, "Stream error"}), bench.errors.Warnings());

    // Once closed, the transport is heard no more.
    bench.client->SeekFilePosition(0, 0, true);
    main->ReportError(500, "late");
    bench.Run();
    EXPECT_EQ(1u, bench.errors.Errors().size());
}

TEST(HTTPClient, ChunksDeliveredOnTheDownloadThreadArriveInOrder) {
    HTTPClientBench bench;
    bench.Start();
    auto main = bench.Last();
    SvTestSupport::RunOnThread("HTTPClient", [&] {
        main->DeliverEnd(3000);
        for (uint64_t at = 0; at < 3000; at += 250) {
            main->Deliver(HTTPClientBench::Bytes(at, at + 250));
        }
        main->Finish(false);
    });
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 3000), bench.sink->Bytes());
    EXPECT_EQ("", bench.sink->CheckEndedBy(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(3000u, bench.client->EndPosition().Get());
}

TEST(HTTPClient, NamesAndPositionsAreKnown) {
    HTTPClientBench bench;
    EXPECT_EQ("SarvelonMediaKit::HTTPClient", bench.client->GetTypeName());
    EXPECT_TRUE(bench.client->KnowCurrentLoadedFilePosition());
    EXPECT_TRUE(bench.client->KnowEndPosition());
    EXPECT_EQ(0u, bench.client->CurrentLoadedFilePosition().Get());
    EXPECT_FALSE(bench.client->GetMainTransport());  // construction makes no transport
    EXPECT_EQ(0u, bench.transports.Count());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
