// What the HTTP client's transports and handlers may still do while the client stops, goes, or
// lets one transport go: the waits for a transport to report closed (and their bound), the
// guard of each transport, the handlers' hold on the session's queue (never on the session),
// out-of-band answers during a seek, and the stall check as the session's periodic pass
// drives it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/core/ComponentStack.h"
#include "engine/input/HTTPClientTestSupport.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

typedef std::vector<uint8_t> Bytes;

// Plays the download thread of a transport that is inside a delivery when its owner closes it:
// it finishes a moment after the close (the pause only makes an owner that does not wait
// return first), and notes that it did before it reports closed.
class LateClose {
public:
    explicit LateClose(const boost::shared_ptr<SvTestSupport::FakeHTTPTransport>& transport)
        : transport_(transport), finished_(false) {
        transport_->BusyStart();
        thread_ = std::thread([this] {
            while (transport_->CloseCount() == 0) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            finished_ = true;
            transport_->BusyDone();  // the transport reports closed here
        });
    }
    ~LateClose() { thread_.join(); }
    bool Finished() const { return finished_.load(); }

private:
    boost::shared_ptr<SvTestSupport::FakeHTTPTransport> transport_;
    std::atomic<bool> finished_;
    std::thread thread_;
};

// ---- Waiting for closed ----------------------------------------------------------------

// A client with a download and an out-of-band request under way, whose two transports report
// themselves closed only a while after they are asked to.
struct TwoLateClosingTransports {
    TwoLateClosingTransports() : main(Started(bench)), band(OutOfBand(bench)) {}

    static boost::shared_ptr<SvTestSupport::FakeHTTPTransport> Started(HTTPClientBench& bench) {
        bench.Start();
        return bench.Last();
    }
    static boost::shared_ptr<SvTestSupport::FakeHTTPTransport> OutOfBand(HTTPClientBench& bench) {
        bench.client->OutOfBandRequest(0, 8);
        return bench.Last();
    }

    HTTPClientBench bench;
    boost::shared_ptr<SvTestSupport::FakeHTTPTransport> main;
    boost::shared_ptr<SvTestSupport::FakeHTTPTransport> band;
    LateClose mainLate{main};
    LateClose bandLate{band};
};

TEST(HTTPClientLifetime, AStopReturnsOnlyOnceBothTransportsReportClosed) {
    TwoLateClosingTransports t;
    t.bench.client->Stop();
    EXPECT_TRUE(t.mainLate.Finished()) << "the stop returned before the main transport closed";
    EXPECT_TRUE(t.bandLate.Finished()) << "the stop returned before the out-of-band one closed";
    EXPECT_TRUE(t.main->IsClosed());
    EXPECT_TRUE(t.band->IsClosed());
}

TEST(HTTPClientLifetime, DestroyingReturnsOnlyOnceBothTransportsReportClosed) {
    TwoLateClosingTransports t;
    t.bench.DestroyClient();
    EXPECT_TRUE(t.mainLate.Finished()) << "the client went before its main transport closed";
    EXPECT_TRUE(t.bandLate.Finished()) << "the client went before its out-of-band one closed";
}

TEST(HTTPClientLifetime, AStopGivesUpOnATransportThatNeverClosesAndCanStartAgain) {
    HTTPClientBench bench;
    bench.client->SetCloseWaitMs(20);
    bench.Start();
    auto main = bench.Last();
    main->DeliverEnd(10000);
    main->BusyStart();  // stuck: it never reports closed while the client waits
    bench.client->Stop();
    EXPECT_FALSE(main->IsClosed());
    EXPECT_FALSE(bench.client->GetMainTransport());
    // Its late deliveries reach nobody, now or from the queue.
    EXPECT_FALSE(main->Deliver(HTTPClientBench::Bytes(0, 100)));
    main->Finish(false);
    bench.Run();
    EXPECT_TRUE(bench.sink->entries.empty());
    main->BusyDone();
    EXPECT_TRUE(main->IsClosed());

    // Restartable: a range request runs under a fresh guard.
    ExpectAFreshRangeRequestDelivers(bench);
}

TEST(HTTPClientLifetime, DestroyingGivesUpOnATransportThatNeverClosesAndItFindsNobody) {
    HTTPClientBench bench;
    bench.client->SetCloseWaitMs(20);
    bench.Start();
    auto main = bench.Last();
    main->BusyStart();
    bench.DestroyClient();  // returns, bounded
    EXPECT_FALSE(main->IsClosed());
    EXPECT_FALSE(main->Deliver(HTTPClientBench::Bytes(0, 100)));
    main->DeliverEnd(100);
    main->DeliverIdle();
    main->Finish(true);
    bench.Run();  // AddressSanitizer reports any use of the freed client here
    EXPECT_EQ(0u, bench.session->GetTaskManager()->PendingData().Get());
    main->BusyDone();
    EXPECT_TRUE(main->IsClosed());
}

// ---- One transport cut off alone --------------------------------------------------------

TEST(HTTPClientLifetime, AMainTransportLetGoUnclosedTakesNothingElseWithIt) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.client->SetCloseWaitMs(20);
    bench.Start();
    auto main = bench.Last();
    main->DeliverEnd(10000);
    bench.client->OutOfBandRequest(0, 8);
    auto band = bench.Last();
    band->ReportError(1010, "queued before the seek");

    main->BusyStart();  // the download thread is stuck inside a delivery of the old transfer
    bench.client->SeekFilePosition(100, 0, true);
    auto fresh = bench.Last();
    ASSERT_NE(main, fresh);
    EXPECT_FALSE(main->IsClosed());
    // The old transport is cut off: what it still delivers goes nowhere.
    EXPECT_FALSE(main->Deliver(HTTPClientBench::Bytes(0, 50)));
    main->Finish(false);
    main->BusyDone();

    // Everything else goes on: the out-of-band answer, the queued error, the new transfer.
    band->Deliver(HTTPClientBench::Bytes(0, 8));
    band->Finish(false);
    fresh->Deliver(HTTPClientBench::Bytes(100, 200));
    bench.Run();
    EXPECT_EQ(std::vector<Bytes>{HTTPClientBench::Bytes(0, 8)}, bench.sink->outOfBand);
    EXPECT_FALSE(bench.client->GetOutOfBandTransport()) << "its end was not heard";
    EXPECT_EQ(std::vector<Report>{Report(1010, "queued before the seek")}, bench.errors.Errors());
    EXPECT_EQ(HTTPClientBench::Bytes(100, 200), bench.sink->Bytes());
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

TEST(HTTPClientLifetime, AnOutOfBandTransportLetGoUnclosedLeavesTheDownloadAlone) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.client->SetCloseWaitMs(20);
    bench.Start();
    auto main = bench.Last();
    bench.client->OutOfBandRequest(0, 8);
    auto band = bench.Last();
    band->BusyStart();
    bench.client->OutOfBandEnd();
    EXPECT_FALSE(band->IsClosed());
    band->Deliver(HTTPClientBench::Bytes(0, 8));  // cut off
    band->BusyDone();
    main->Deliver(HTTPClientBench::Bytes(0, 100));
    main->Finish(false);
    bench.Run();
    EXPECT_TRUE(bench.sink->outOfBand.empty());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 100), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

// ---- Out-of-band answers during a seek ----------------------------------------------------

TEST(HTTPClientLifetime, AnOutOfBandAnswerSurvivesTheDropOfDataBeforeASeek) {
    HTTPClientBench bench;
    bench.sink->TakeOutOfBand(true);
    bench.Start();
    auto main = bench.Last();
    bench.client->OutOfBandRequest(0, 8);
    auto band = bench.Last();
    bench.session->SetDropDataTasks();  // a seek is on its way
    main->Deliver(HTTPClientBench::Bytes(0, 100));
    band->Deliver(HTTPClientBench::Bytes(0, 8));
    band->Finish(false);
    bench.Run();
    bench.session->ClearDropDataTasks();
    EXPECT_TRUE(bench.sink->entries.empty()) << "the transfer's data is dropped for the seek";
    EXPECT_EQ(std::vector<Bytes>{HTTPClientBench::Bytes(0, 8)}, bench.sink->outOfBand)
        << "the thumbnail's bytes were dropped with it: the request never completes";
    EXPECT_FALSE(bench.client->GetOutOfBandTransport());
}

// ---- The handlers hold the queue, not the session ------------------------------------------

TEST(HTTPClientLifetime, ADeliveryInProgressNeverHoldsTheSession) {
    boost::shared_ptr<Session> session = Session::Create();
    HTTPClient* raw = nullptr;
    boost::shared_ptr<Component> client = CreateHTTPClient(nullptr, &raw);
    auto guard = boost::make_shared<HTTPClientGuard>(raw);
    HTTPClientDataHandler handler(session->GetTaskManager(), guard);
    boost::weak_ptr<Session> weak = session;
    const boost::weak_ptr<TaskManager> queue = session->GetTaskManager();
    const long idle = queue.use_count();

    // The delivery waits inside the handler, for the client, while the last owner lets go
    // of the session.
    std::unique_lock<std::mutex> hold(guard->Lock());
    std::thread download([&] {
        const signed char bytes[4] = {1, 2, 3, 4};
        handler(bytes, 4);
    });
    // Inside, the delivery holds the task queue while it waits for the client.
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return queue.use_count() > idle; }))
        << "the delivery never took the task queue";
    session.reset();
    EXPECT_TRUE(weak.expired()) << "the delivery holds the session: it would go on the "
                                   "download thread";
    hold.unlock();
    download.join();
    EXPECT_TRUE(weak.expired());
}

// ---- Deliveries racing the task thread's changes ------------------------------------------

// A download thread that keeps delivering through every transport ever made while the task
// thread seeks, requests and ends out-of-band ranges, stops, restarts and pulls, then destroys
// the client. The sanitizers watch the races; afterwards nothing reaches the gone client.
TEST(HTTPClientLifetime, DeliveriesRacingSeeksStopsAndDestructionLeaveNothingBehind) {
    for (int round = 0; round < 3; ++round) {
        HTTPClientBench bench;
        BandwidthRecorder monitor;
        bench.client->BandwidthInfoSource::AddMonitor(&monitor);
        bench.sink->TakeOutOfBand(true);
        bench.Start();
        std::atomic<bool> stop(false);
        std::atomic<int> passes(0);
        std::thread download([&] {
            uint64_t at = 0;
            while (!stop.load()) {
                ++passes;
                for (size_t i = 0; i < bench.transports.Count(); ++i) {
                    auto transport = bench.transports.At(i);
                    if (!transport || transport->Starts().empty()) continue;
                    transport->DeliverEnd(1 << 20);
                    transport->Deliver(HTTPClientBench::Bytes(at, at + 64));
                    transport->DeliverIdle();
                    transport->ReportWarning(1010, "Stream error");
                    transport->DeliverReadAhead(0x20000);
                    if (at % 640 == 0) transport->Finish(at % 1280 == 0);
                }
                at += 64;
                // Paced, so what it hands over stays within what the task thread works off.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        while (passes.load() == 0) std::this_thread::yield();
        for (int i = 0; i < 300; ++i) {
            if (i % 50 == 0) {
                // Let the download thread make a pass through the transports made so far.
                const int seen = passes.load();
                while (passes.load() < seen + 2) std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            bench.Run();
            bench.client->Tick();
            bench.Check();
            switch (i % 6) {
                case 0: bench.client->SeekFilePosition(i * 100, 0, true); break;
                case 1: bench.client->OutOfBandRequest(0, 10); break;
                case 2: bench.client->OutOfBandEnd(); break;
                case 3:
                    bench.client->Stop();
                    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
                    break;
                case 4: bench.client->Restart(); break;
                case 5: bench.sink->PullNext(100); break;
            }
        }
        bench.DestroyClient();
        stop = true;
        download.join();
        bench.Run();
        // Every transport is closed, and what they still deliver reaches nobody.
        for (size_t i = 0; i < bench.transports.Count(); ++i) {
            auto transport = bench.transports.At(i);
            EXPECT_TRUE(transport->IsClosed()) << "transport " << i;
            EXPECT_FALSE(transport->HasDataHandler() || transport->HasChunkHandler());
        }
        EXPECT_EQ(0u, bench.session->GetTaskManager()->PendingData().Get());
    }
}

// ---- The stall check as the session's periodic pass runs it ------------------------------

TEST(HTTPClientLifetime, TheSessionsPassChecksForStallsOncePerSecond) {
    HTTPClientBench bench;
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {bench.sink, bench.holder});
    bench.session->SetComponentStack(stack);
    bench.Start();
    bench.Last()->DeliverEnd(10000);
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 100));
    bench.Run();

    // A pass every 250 ms of the session's clock. The first pass checks; then one pass in
    // four (1000 ms apart). The fifth check without data retries: 4000 ms after the first,
    // at pass 17.
    int passes = 0;
    while (bench.transports.Count() == 1 && passes < 100) {
        ++passes;
        bench.session->Tick();
        if (passes == 16) {
            EXPECT_EQ(4u, bench.client->GetStallCount());
        }
        bench.Advance(250);
    }
    EXPECT_EQ(17, passes);
    ASSERT_EQ(2u, bench.transports.Count());
    // The 100 bytes held are asked for again, to check the seam: from byte 0, so the whole.
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
    bench.session->SetComponentStack(ComponentStack());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
