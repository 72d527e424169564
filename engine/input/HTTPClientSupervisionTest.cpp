// The HTTP client's supervision: the stall check and its retry, the resume of an idle
// transport, the bandwidth samples and the statistics. The session's clock is the bench's, so
// "five seconds without data" is five calls of Check, and bandwidth samples carry the times the
// test gives the fake transport.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/input/HTTPClientTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

TEST(HTTPClientStall, FiveChecksWithoutDataRetryOnceFromTheLoadedPosition) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 1000);
    Checks(bench, 4);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_EQ(4u, bench.client->GetStallCount());
    EXPECT_TRUE(bench.errors.Warnings().empty());

    bench.Check();  // the fifth
    ASSERT_EQ(2u, bench.transports.Count());
    // To the end, from the byte reached less the bytes held that are asked for again to check
    // the seam (all 1000 of them here: from byte 0, so the whole resource).
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
    EXPECT_TRUE(bench.Transport(0)->IsClosed());
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
    EXPECT_TRUE(bench.client->IsWarningShown());
    EXPECT_FALSE(bench.client->IsRestartNeeded());
    bench.Check();  // counting starts over
    EXPECT_EQ(2u, bench.transports.Count());

    // Data flows again: the warning is withdrawn, once, and the bytes follow on; the 1000 bytes
    // of the seam are not handed on twice.
    bench.Last()->Deliver(HTTPClientBench::Bytes(0, 1100));
    bench.Last()->Deliver(HTTPClientBench::Bytes(1100, 1200));
    bench.Run();
    EXPECT_EQ((std::vector<Report>{kStallWarning, kWithdrawal}), bench.errors.Warnings());
    EXPECT_FALSE(bench.client->IsWarningShown());
    EXPECT_EQ(HTTPClientBench::Bytes(0, 1200), bench.sink->Bytes());
    EXPECT_TRUE(bench.errors.Errors().empty());  // a stall is never an error
}

TEST(HTTPClientStall, AChunkAfterFourChecksStartsTheCountAgain) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    Checks(bench, 4);
    bench.Last()->Deliver(HTTPClientBench::Bytes(100, 200));
    bench.Run();
    EXPECT_EQ(0u, bench.client->GetStallCount());
    Checks(bench, 4);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_TRUE(bench.errors.Warnings().empty());
    bench.Check();
    EXPECT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());  // 200 bytes of seam
}

TEST(HTTPClientStall, AnIdleTransportIsNeverCounted) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);
    bench.Last()->DeliverIdle();  // the allowance is used up
    EXPECT_TRUE(bench.client->IsTransportIdle());
    Checks(bench, 30);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_EQ(0u, bench.client->GetStallCount());
    EXPECT_TRUE(bench.errors.Warnings().empty());

    // Data again: counting resumes.
    bench.Last()->Deliver(HTTPClientBench::Bytes(100, 200));
    bench.Run();
    EXPECT_FALSE(bench.client->IsTransportIdle());
    Checks(bench, 5);
    EXPECT_EQ(2u, bench.transports.Count());
}

TEST(HTTPClientStall, NothingIsCheckedAfterTheEndOfData) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 100);  // of 10000: the transfer ended short, and is not retried
    bench.Last()->Finish(false);
    bench.Run();
    Checks(bench, 10);
    EXPECT_EQ(1u, bench.transports.Count());
    EXPECT_TRUE(bench.errors.Warnings().empty());
}

TEST(HTTPClientStall, AFailedTransferIsRetriedAtTheNextCheck) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 500);
    bench.Last()->Finish(true);
    bench.Run();
    EXPECT_EQ(0u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    bench.Check();
    ASSERT_EQ(2u, bench.transports.Count());
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());  // 500 bytes of seam
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
}

TEST(HTTPClientStall, ARangeIsRetriedToItsOwnEndAndNotPastIt) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 0);
    bench.client->SeekFilePosition(2000, 3000, true);
    bench.Last()->Deliver(HTTPClientBench::Bytes(2000, 2400));
    bench.Run();
    Checks(bench, 5);
    ASSERT_EQ(3u, bench.transports.Count());
    // From the range's start: its 400 bytes held are the seam.
    EXPECT_EQ(std::vector<Range>{Range(2000, 3000)}, bench.Last()->Starts());
    // All of the range arrived (no end reported): nothing more is expected of it, even though
    // the resource goes on.
    bench.Last()->Deliver(HTTPClientBench::Bytes(2000, 3000));
    bench.Run();
    Checks(bench, 10);
    EXPECT_EQ(3u, bench.transports.Count());
}

TEST(HTTPClientStall, AStallBeforeAnyByteStartsAfreshAndRetiresTheOldTransfer) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 0);
    auto old = bench.Last();
    old->Deliver(HTTPClientBench::Bytes(0, 100));  // arrives just as the check gives up
    Checks(bench, 5);
    ASSERT_EQ(2u, bench.transports.Count());
    auto fresh = bench.Last();
    EXPECT_EQ(std::vector<Range>{Range(0, 0)}, fresh->Starts());  // no Range header
    EXPECT_EQ(1, old->AbortCount());
    EXPECT_TRUE(old->IsClosed());
    // The old connection goes on delivering from byte 0 for a moment: none of it counts.
    old->Deliver(HTTPClientBench::Bytes(100, 200));
    old->Finish(false);
    bench.Run();
    EXPECT_TRUE(bench.sink->entries.empty());

    fresh->Deliver(HTTPClientBench::Bytes(0, 300));
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 300), bench.sink->Bytes());
    EXPECT_EQ((std::vector<Report>{kStallWarning, kWithdrawal}), bench.errors.Warnings());
}

TEST(HTTPClientIdle, TheTickOffersRoomOnlyWhileDataIsExpected) {
    // The chain has room past the transport's resume threshold (no cache: the sink's room).
    HTTPClientBench bench(HTTPClient::kTransportResumeThreshold * 2);
    StartWithBytes(bench, 10000, 600);
    auto transport = bench.Last();
    size_t offered = transport->Allowances().size();
    bench.client->Tick();  // not idle: nothing
    EXPECT_EQ(offered, transport->Allowances().size());

    transport->DeliverIdle();
    bench.client->Tick();  // idle with room: woken, and no longer idle
    EXPECT_EQ(offered + 1, transport->Allowances().size());
    EXPECT_FALSE(bench.client->IsTransportIdle());
    bench.client->Tick();
    EXPECT_EQ(offered + 1, transport->Allowances().size());

    transport->Deliver(HTTPClientBench::Bytes(600, 10000));  // all of it
    bench.Run();
    transport->DeliverIdle();
    offered = transport->Allowances().size();
    bench.client->Tick();
    EXPECT_EQ(offered, transport->Allowances().size());
}

TEST(HTTPClientIdle, TheTickLeavesAnIdleTransportAloneWhileTheRoomWouldNotResumeIt) {
    // Less room than the transport resumes past: a grant would wake the download thread for
    // nothing, tick after tick.
    HTTPClientBench bench(HTTPClient::kTransportResumeThreshold / 2);
    StartWithBytes(bench, 10000, 600);
    auto transport = bench.Last();
    const size_t offered = transport->Allowances().size();
    transport->DeliverIdle();
    bench.client->Tick();
    bench.client->Tick();
    bench.sink->PullNext(10);
    EXPECT_EQ(offered, transport->Allowances().size());
    EXPECT_TRUE(bench.client->IsTransportIdle());
}

// A transport paused on a full cache is not woken for every chunk the chain takes (it would read
// one chunk and pause again), but once half of the budget is free, and then with all of the
// room.
TEST(HTTPClientIdle, APausedTransportIsWokenOnceHalfOfTheBudgetIsFree) {
    const uint32_t capacity = 0x200000;  // half: 1 MiB
    const uint32_t chunk = 0x10000;
    HTTPClientBench bench;
    StartWithSessionCache(bench, capacity);
    auto transport = bench.Last();
    for (uint64_t at = 0; at < capacity; at += chunk) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + chunk));
        bench.Run();
    }
    ASSERT_EQ(0u, transport->GetMaxDownloadAmount());
    transport->DeliverIdle();
    const size_t offered = transport->Allowances().size();
    for (uint32_t taken = chunk; taken <= capacity / 2; taken += chunk) {
        bench.sink->PullNext(chunk);
        bench.client->Tick();
    }
    EXPECT_EQ(offered, transport->Allowances().size()) << "woken before half was free";
    EXPECT_TRUE(bench.client->IsTransportIdle());
    bench.sink->PullNext(chunk);  // 1 MiB + 64 KiB free
    ASSERT_EQ(offered + 1, transport->Allowances().size());
    EXPECT_EQ(capacity / 2 + chunk, transport->Allowances().back());
    EXPECT_FALSE(bench.client->IsTransportIdle());
    EXPECT_EQ(HTTPClientBench::Bytes(0, capacity / 2 + chunk), bench.sink->Bytes());
}

// However little room there is, a paused transport is woken once the chain has taken every
// byte of the cache: the room might never grow past the renewal point (here half of it is
// still on its way), and the chain would wait for bytes that never come.
TEST(HTTPClientIdle, APausedTransportIsWokenOnceTheCacheIsDrained) {
    const uint32_t capacity = 0x200000;
    const uint32_t chunk = 0x10000;
    HTTPClientBench bench;
    StartWithSessionCache(bench, capacity);
    auto transport = bench.Last();
    for (uint64_t at = 0; at < capacity / 2; at += chunk) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + chunk));
        bench.Run();
    }
    // The other half delivered but not yet taken by the task thread.
    for (uint64_t at = capacity / 2; at < capacity; at += chunk) {
        transport->Deliver(HTTPClientBench::Bytes(at, at + chunk));
    }
    transport->DeliverIdle();
    const size_t offered = transport->Allowances().size();
    for (uint32_t taken = chunk; taken < capacity / 2; taken += chunk) {
        bench.sink->PullNext(chunk);
    }
    EXPECT_EQ(offered, transport->Allowances().size());
    bench.sink->PullNext(chunk);  // the last cached byte: 1 MiB free, 1 MiB still queued
    ASSERT_EQ(offered + 1, transport->Allowances().size());
    EXPECT_EQ(capacity / 2, transport->Allowances().back());
}

TEST(HTTPClientBandwidth, PublishesTheRateOfTheDrivenClock) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    const uint64_t t0 = HTTPClientBench::kStartTime;
    bench.Start();  // a start at t0
    auto transport = bench.Last();
    transport->SetSampleTime(SV::PilTime(t0 + 100));  // first bytes after 100 ms of waiting
    transport->Deliver(std::vector<uint8_t>(100000, 1));
    transport->SetSampleTime(SV::PilTime(t0 + 600));
    transport->Deliver(std::vector<uint8_t>(100000, 2));
    bench.Run();
    bench.Advance(1100);
    bench.client->Tick();
    // 200000 bytes over 1100 ms less the 100 ms of waiting: 200000 B/s.
    EXPECT_EQ(std::vector<uint32_t>{200000}, monitor.Rates());
    EXPECT_EQ(200000u, bench.client->MeasuredBandwidth().Get());
    bench.client->Tick();  // within 500 ms of the last report: nothing
    EXPECT_EQ(1u, monitor.Rates().size());
}

TEST(HTTPClientBandwidth, AfterAnIdleSampleTheReadAheadIsNotCounted) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    const uint64_t t0 = HTTPClientBench::kStartTime;
    bench.Start();
    auto transport = bench.Last();
    transport->SetSampleTime(SV::PilTime(t0 + 100));
    transport->Deliver(std::vector<uint8_t>(100000, 1));  // counted, 100 ms waited
    transport->SetSampleTime(SV::PilTime(t0 + 200));
    transport->DeliverIdle();  // a new start that skips 128 KiB
    transport->SetSampleTime(SV::PilTime(t0 + 300));
    transport->Deliver(std::vector<uint8_t>(65536, 2));  // skipped: 65536 left to skip
    transport->SetSampleTime(SV::PilTime(t0 + 400));
    transport->Deliver(std::vector<uint8_t>(70000, 3));  // crosses the mark: dropped whole
    transport->SetSampleTime(SV::PilTime(t0 + 500));
    transport->Deliver(std::vector<uint8_t>(50000, 4));  // counted, 300 ms after the idle start
    bench.Run();
    bench.Advance(1000);
    bench.client->Tick();
    // 150000 bytes over 1000 ms less 100 + 300 ms of waiting: 250000 B/s.
    EXPECT_EQ(std::vector<uint32_t>{250000}, monitor.Rates());
}

TEST(HTTPClientBandwidth, NothingIsRecordedWithoutAMonitor) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    const uint64_t t0 = HTTPClientBench::kStartTime;
    bench.Start();
    auto transport = bench.Last();
    transport->SetSampleTime(SV::PilTime(t0 + 100));
    transport->Deliver(std::vector<uint8_t>(900000, 1));
    // Attached before the queue runs: samples posted without a monitor would now count.
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.Run();
    bench.Advance(2000);
    bench.client->Tick();
    EXPECT_TRUE(monitor.Rates().empty());
    EXPECT_EQ(0u, bench.client->MeasuredBandwidth().Get());
    // The idle flag follows the samples all the same.
    transport->DeliverIdle();
    EXPECT_TRUE(bench.client->IsTransportIdle());
}

uint32_t Unsigned(const SV::SVDictionary& dictionary, const char* key) {
    const SV::SVTypedValue* value = dictionary.GetValue(key);
    uint32_t out = 0xDEADBEEF;
    if (value == nullptr || !value->GetUnsignedInt(out)) ADD_FAILURE() << key;
    return out;
}

TEST(HTTPClientStatistics, WritesOnlyTheAskedKeysOfItsStack) {
    const uint32_t capacity = 200000;
    HTTPClientBench bench;
    UseSessionCache(bench, capacity);
    StartWithBytes(bench, 10000, 3000);

    SV::SVDictionary asked;
    asked.SetValue("StatsKey_VideoStreamingBufferSize", SV::SVTypedValue(uint32_t(0)));
    asked.SetValue("StatsKey_VideoStreamingBufferUsed", SV::SVTypedValue(uint32_t(0)));
    asked.SetValue("Other", SV::SVTypedValue(uint32_t(5)));
    bench.client->GetStatistics(asked);
    EXPECT_EQ(capacity, Unsigned(asked, "StatsKey_VideoStreamingBufferSize"));
    EXPECT_EQ(3000u, Unsigned(asked, "StatsKey_VideoStreamingBufferUsed"));
    EXPECT_EQ(nullptr, asked.GetValue("StatsKey_MeasuredBandwidth"));
    EXPECT_EQ(nullptr, asked.GetValue("StatsKey_AudioStreamingBufferSize"));
    EXPECT_EQ(5u, Unsigned(asked, "Other"));

    asked.SetValue("StatsKey_MeasuredBandwidth", SV::SVTypedValue(uint32_t(9)));
    bench.client->GetStatistics(asked);
    EXPECT_EQ(0u, Unsigned(asked, "StatsKey_MeasuredBandwidth"));  // nothing measured yet
}

TEST(HTTPClientStatistics, MeasuredBandwidthIsInBitsPerSecond) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    UseSessionCache(bench, 2000000);
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.Start();
    bench.Last()->SetSampleTime(SV::PilTime(HTTPClientBench::kStartTime));
    bench.Last()->Deliver(std::vector<uint8_t>(500000, 1));  // no wait before it
    bench.Run();
    bench.Advance(1000);
    bench.client->Tick();
    ASSERT_EQ(std::vector<uint32_t>{500000}, monitor.Rates());
    SV::SVDictionary asked;
    asked.SetValue("StatsKey_MeasuredBandwidth", SV::SVTypedValue(uint32_t(0)));
    bench.client->GetStatistics(asked);
    EXPECT_EQ(4000000u, Unsigned(asked, "StatsKey_MeasuredBandwidth"));
}

TEST(HTTPClientStatistics, TheAudioStackAnswersTheAudioKeysOnly) {
    HTTPClientBench bench(0x100000, StackIdAudioBranch);
    UseSessionCache(bench, 50000);
    StartWithBytes(bench, 10000, 1234);
    SV::SVDictionary asked;
    for (const char* key :
         {"StatsKey_VideoStreamingBufferSize", "StatsKey_VideoStreamingBufferUsed",
          "StatsKey_MeasuredBandwidth", "StatsKey_AudioStreamingBufferSize",
          "StatsKey_AudioStreamingBufferUsed"}) {
        asked.SetValue(key, SV::SVTypedValue(uint32_t(7)));
    }
    bench.client->GetStatistics(asked);
    EXPECT_EQ(50000u, Unsigned(asked, "StatsKey_AudioStreamingBufferSize"));
    EXPECT_EQ(1234u, Unsigned(asked, "StatsKey_AudioStreamingBufferUsed"));
    EXPECT_EQ(7u, Unsigned(asked, "StatsKey_VideoStreamingBufferSize"));
    EXPECT_EQ(7u, Unsigned(asked, "StatsKey_VideoStreamingBufferUsed"));
    EXPECT_EQ(7u, Unsigned(asked, "StatsKey_MeasuredBandwidth"));
}

TEST(HTTPClientStatistics, WithoutACacheNothingIsWritten) {
    HTTPClientBench bench;
    StartWithBytes(bench, 10000, 10);
    SV::SVDictionary asked;
    asked.SetValue("StatsKey_VideoStreamingBufferSize", SV::SVTypedValue(uint32_t(7)));
    bench.client->GetStatistics(asked);
    EXPECT_EQ(7u, Unsigned(asked, "StatsKey_VideoStreamingBufferSize"));
}

TEST(HTTPClientThreads, DeliveriesOnTheDownloadThreadMeetTheTaskThreadsWork) {
    HTTPClientBench bench;
    BandwidthRecorder monitor;
    bench.client->BandwidthInfoSource::AddMonitor(&monitor);
    bench.Start();
    auto transport = bench.Last();
    const uint64_t size = 64 * 1000;
    std::atomic<bool> done(false);
    std::thread download([&] {
        transport->DeliverEnd(size);
        for (uint64_t at = 0; at < size; at += 1000) {
            transport->Deliver(HTTPClientBench::Bytes(at, at + 1000));
            if (at % 8000 == 0) transport->DeliverIdle();
        }
        transport->Finish(false);
        done = true;
    });
    // The task thread's side meanwhile: tasks and ticks (allowance, publishing).
    while (!done.load()) {
        bench.Run();
        bench.client->Tick();
    }
    download.join();
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, size), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ(1u, bench.transports.Count());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
