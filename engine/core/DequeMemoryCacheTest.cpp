#include "engine/core/DequeMemoryCache.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "engine/core/MemoryTracker.h"

namespace SarvelonMediaKit {
namespace {

// Payload bytes start, start + 1, ... (mod 256), so a byte tells its stream position.
MemoryChunk PatternChunk(uint32_t size, uint32_t start) {
    MemoryChunk chunk(size, 0, 0);
    for (uint32_t i = 0; i < size; ++i) {
        *chunk.Data(i) = static_cast<unsigned char>(start + i);
    }
    return chunk;
}

bool HoldsPattern(const MemoryChunk& chunk, uint32_t start) {
    for (uint32_t i = 0; i < chunk.Size(); ++i) {
        if (*chunk.Data(i) != static_cast<unsigned char>(start + i)) {
            return false;
        }
    }
    return true;
}

MemoryChunk MarkerChunk() { return MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()); }

boost::shared_ptr<MemoryTracker> Tracker(uint32_t limit) {
    return boost::make_shared<MemoryTracker>(boost::weak_ptr<Session>(), ByteAmount(limit));
}

TEST(DequeMemoryCache, AMarkerAloneHasNoBytesButIsHandedOut) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.Add(MarkerChunk());
    EXPECT_EQ(0u, cache.BytesReady());
    EXPECT_EQ(0u, cache.BytesHeld());
    EXPECT_EQ(1u, cache.NextChunkSize());
    EXPECT_FALSE(cache.IsEmpty());
    MemoryChunk out = cache.ReadAll();
    ASSERT_TRUE(out.GetMarker());
    EXPECT_EQ(2u, out.GetMarker()->GetType());
    EXPECT_TRUE(cache.IsEmpty());
    EXPECT_EQ(0u, cache.NextChunkSize());
}

TEST(DequeMemoryCache, MarkersKeepTheirPlaceBetweenData) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.Add(PatternChunk(10, 0));
    cache.Add(MarkerChunk());
    cache.Add(PatternChunk(5, 10));
    EXPECT_EQ(15u, cache.BytesReady());
    EXPECT_EQ(10u, cache.NextChunkSize());
    // A read larger than the front chunk still ends at the marker.
    MemoryChunk first = cache.Read(100);
    EXPECT_EQ(10u, first.Size());
    EXPECT_TRUE(HoldsPattern(first, 0));
    EXPECT_TRUE(cache.Read(100).GetMarker());
    MemoryChunk last = cache.Read(100);
    EXPECT_EQ(5u, last.Size());
    EXPECT_TRUE(HoldsPattern(last, 10));
    EXPECT_EQ(15u, cache.GetReadPosition());
    EXPECT_EQ(15u, cache.FlushedPosition());
}

TEST(DequeMemoryCache, ALargeFrontChunkIsSplitByCopyingOnlyWhatIsAsked) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    MemoryChunk kept = PatternChunk(100, 0);
    cache.Add(kept);
    MemoryChunk part = cache.Read(30);
    EXPECT_EQ(30u, part.Size());
    EXPECT_TRUE(HoldsPattern(part, 0));
    // The rest stays in place: the queued chunk (and every copy of it) now starts at byte 30.
    EXPECT_EQ(70u, kept.Size());
    EXPECT_EQ(30, *kept.Data(0));
    EXPECT_EQ(70u, cache.BytesHeld());
    EXPECT_EQ(70u, cache.NextChunkSize());
    MemoryChunk rest = cache.ReadAll();
    EXPECT_EQ(70u, rest.Size());
    EXPECT_TRUE(HoldsPattern(rest, 30));
    EXPECT_EQ(0u, cache.BytesHeld());
}

TEST(DequeMemoryCache, ReadOfZeroBytesCutsNothing) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.Add(PatternChunk(5, 0));
    MemoryChunk out = cache.ReadAt(0, 0);
    EXPECT_EQ(0u, out.Size());
    EXPECT_FALSE(out.GetMarker());
    EXPECT_EQ(5u, cache.BytesHeld());
    EXPECT_EQ(5u, cache.NextChunkSize());
    EXPECT_EQ(0u, cache.FlushedPosition());
}

TEST(DequeMemoryCache, ReadAheadDropsWholeChunksAndCutsTheOneHoldingThePosition) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.Add(PatternChunk(10, 0));
    cache.Add(MarkerChunk());  // lies before the position: dropped with the bytes
    cache.Add(PatternChunk(20, 10));
    cache.Add(PatternChunk(30, 30));
    MemoryChunk out = cache.ReadAt(35, 10);
    EXPECT_EQ(10u, out.Size());
    EXPECT_TRUE(HoldsPattern(out, 35));
    EXPECT_EQ(45u, cache.FlushedPosition());
    EXPECT_EQ(15u, cache.BytesHeld());
    EXPECT_EQ(60u, cache.LoadedPosition());
    // Past everything held: the queue empties and an empty chunk comes back.
    EXPECT_EQ(0u, cache.ReadAt(1000, 10).Size());
    EXPECT_TRUE(cache.IsEmpty());
    EXPECT_EQ(0u, cache.BytesHeld());
}

TEST(DequeMemoryCache, SetPositionDropsEverythingAndMovesBothPositions) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.Add(PatternChunk(10, 0));
    cache.Add(MarkerChunk());
    cache.SetPosition(5000);
    EXPECT_EQ(0u, cache.BytesReady());
    EXPECT_EQ(0u, cache.BytesHeld());
    EXPECT_TRUE(cache.IsEmpty());
    EXPECT_EQ(5000u, cache.LoadedPosition());
    EXPECT_EQ(5000u, cache.CurrentLoadedFilePosition());
    EXPECT_EQ(5000u, cache.GetReadPosition());
    cache.Add(PatternChunk(3, 0));
    EXPECT_EQ(3u, cache.BytesReady());
    EXPECT_EQ(5003u, cache.LoadedPosition());
}

TEST(DequeMemoryCache, StatsText) {
    DequeMemoryCache cache(Tracker(1000), nullptr);
    cache.SetPosition(100);
    cache.Add(PatternChunk(50, 0));
    cache.Read(20);
    EXPECT_EQ(
        "MemoryCache stats:\r\n\tmFlushed 120\r\n\tmReadPosition 120\r\n"
        "\tCurrentLoadedFilePosition 150\r\n\tmCurrentBytesHeld 30\r\n\tBytesReady 30",
        cache.GetStats());
}

TEST(DequeMemoryCache, HeldBytesThatWouldPass32BitsAreRefused) {
    DequeMemoryCache cache(Tracker(0), nullptr);
    // The same MiB queued 4095 times holds 4 GiB - 1 MiB without allocating it.
    MemoryChunk mib(1 << 20, 0, 0);
    for (int i = 0; i < 4095; ++i) {
        cache.Add(mib);
    }
    EXPECT_EQ(4095u << 20, cache.BytesHeld());
    EXPECT_THROW(cache.Add(mib), SV::SVLibraryException);
    EXPECT_EQ(4095u << 20, cache.BytesHeld());
    cache.Add(MarkerChunk());  // a marker still fits
}

TEST(MemoryTracker, BytesAvailableNeverGoesBelowZero) {
    boost::shared_ptr<MemoryTracker> tracker = Tracker(100);
    DequeMemoryCache a(tracker, nullptr);
    a.Add(PatternChunk(60, 0));
    EXPECT_EQ(60u, tracker->BytesUsed());  // one user
    EXPECT_EQ(40u, a.BytesAvailable());
    {
        DequeMemoryCache b(tracker, nullptr);
        b.Add(PatternChunk(90, 0));
        EXPECT_EQ(150u, tracker->BytesUsed());  // summed over both
        EXPECT_EQ(0u, tracker->BytesAvailable());
        EXPECT_EQ(0u, a.BytesAvailable());
        EXPECT_EQ(0u, b.BytesAvailable());
    }
    EXPECT_EQ(60u, tracker->BytesUsed());
    EXPECT_EQ(40u, tracker->BytesAvailable());
}

TEST(MemoryTracker, AUserWhoseTrackerIsGoneHasNoRoom) {
    boost::shared_ptr<MemoryTracker> tracker = Tracker(100);
    DequeMemoryCache cache(tracker, nullptr);
    tracker.reset();
    EXPECT_FALSE(cache.GetTracker());
    EXPECT_EQ(0u, cache.BytesAvailable());
    cache.Add(PatternChunk(5, 0));  // still works; leaving the dead tracker is a no-op
}

}  // namespace
}  // namespace SarvelonMediaKit
