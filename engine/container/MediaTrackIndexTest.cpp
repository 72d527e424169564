#include "engine/container/MediaTrackIndex.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

// Entries at 0 s, 1 s and 2 s of a 3-second track of 3000 bytes at offset 1000.
MediaTrackIndex ThreeSeconds() {
    MediaTrackIndex index;
    index.SetTimescale(90000);
    index.SetOffset(1000);
    index.SetSize(3000);
    index.SetDuration(270000);
    EXPECT_TRUE(index.Reserve(3));
    EXPECT_TRUE(index.AddEntry(0, 1000));
    EXPECT_TRUE(index.AddEntry(90000, 2000));
    EXPECT_TRUE(index.AddEntry(180000, 3000));
    return index;
}

TEST(MediaTrackIndexTest, TimeToPositionRoundsDownOrUp) {
    const MediaTrackIndex index = ThreeSeconds();
    const struct {
        uint64_t time;
        bool forward;
        uint64_t position;
        uint64_t snappedTime;
    } cases[] = {
        {1500000, false, 2000, 1000000},  // between entries: the one before
        {1500000, true, 3000, 2000000},   // ... or the one after
        {1000000, false, 2000, 1000000},  // on an entry
        {1000000, true, 2000, 1000000},  {0, false, 1000, 0},
        {2500000, false, 3000, 2000000},  // after the last entry
        {2500000, true, 4000, 3000000},   // forward past the last: the end
        {5000000, false, 4000, 3000000},  // beyond the duration: the end
    };
    for (const auto& c : cases) {
        MediaTime time = c.time;
        EXPECT_EQ(c.position, index.TimeToPosition(time, c.forward).Get())
            << c.time << (c.forward ? " forward" : "");
        EXPECT_EQ(c.snappedTime, time.Get()) << c.time;
    }

    // A time made from an entry's ticks finds that entry despite the truncation (1 tick is
    // 11 microseconds).
    MediaTrackIndex fine;
    fine.SetTimescale(90000);
    fine.SetDuration(90000);
    fine.Reserve(2);
    fine.AddEntry(0, 0);
    fine.AddEntry(1, 500);
    MediaTime time = fine.TicksToMicroseconds(1);
    EXPECT_EQ(11u, time.Get());
    EXPECT_EQ(500u, fine.TimeToPosition(time, false).Get());

    // No entries: the offset, the time untouched.
    MediaTrackIndex empty;
    empty.SetOffset(77);
    time = 123;
    EXPECT_EQ(77u, empty.TimeToPosition(time, true).Get());
    EXPECT_EQ(123u, time.Get());
}

TEST(MediaTrackIndexTest, SearchesBeforeTheFirstEntryStayInTheTable) {
    // The first entry lies at 0.5 s; a time before it must neither read nor step before it.
    MediaTrackIndex index;
    index.SetTimescale(90000);
    index.SetOffset(0);
    index.SetSize(1000);
    index.SetDuration(180000);
    index.Reserve(2);
    index.AddEntry(45000, 100);
    index.AddEntry(135000, 600);
    for (bool forward : {false, true}) {
        MediaTime time = 100000;
        EXPECT_EQ(100u, index.TimeToPosition(time, forward).Get());
        EXPECT_EQ(500000u, time.Get());
        BytePosition position = 50;
        EXPECT_EQ(500000u, index.PositionToTime(position, forward).Get());
        EXPECT_EQ(100u, position.Get());
    }
    BytePosition start = 0, end = 0;
    EXPECT_FALSE(index.GetEntryBounds(50, start, end));  // before the first entry
    EXPECT_EQ(500000u, index.InterpolateTime(50).Get());
}

TEST(MediaTrackIndexTest, PositionToTimeAndEntryBounds) {
    const MediaTrackIndex index = ThreeSeconds();
    const struct {
        uint64_t position;
        bool forward;
        uint64_t snappedPosition;
        uint64_t time;
    } cases[] = {
        {2500, false, 2000, 1000000}, {2500, true, 3000, 2000000}, {2000, true, 2000, 1000000},
        {3500, true, 4000, 3000000},  {500, false, 1000, 0},       {5000, false, 4000, 3000000},
    };
    for (const auto& c : cases) {
        BytePosition position = c.position;
        EXPECT_EQ(c.time, index.PositionToTime(position, c.forward).Get()) << c.position;
        EXPECT_EQ(c.snappedPosition, position.Get()) << c.position;
    }

    BytePosition start = 0, end = 0;
    EXPECT_TRUE(index.GetEntryBounds(2500, start, end));
    EXPECT_EQ(2000u, start.Get());
    EXPECT_EQ(3000u, end.Get());
    EXPECT_TRUE(index.GetEntryBounds(3500, start, end));  // the last entry runs to the end
    EXPECT_EQ(3000u, start.Get());
    EXPECT_EQ(4000u, end.Get());
    EXPECT_FALSE(index.GetEntryBounds(999, start, end));
    EXPECT_FALSE(index.GetEntryBounds(4001, start, end));
    EXPECT_FALSE(MediaTrackIndex().GetEntryBounds(0, start, end));
}

TEST(MediaTrackIndexTest, InterpolateTimeBetweenEntries) {
    const MediaTrackIndex index = ThreeSeconds();
    EXPECT_EQ(1500000u, index.InterpolateTime(2500).Get());
    EXPECT_EQ(2500000u, index.InterpolateTime(3500).Get());  // toward (duration, end)
    EXPECT_EQ(1000000u, index.InterpolateTime(2000).Get());
    EXPECT_EQ(0u, index.InterpolateTime(500).Get());         // before the offset
    EXPECT_EQ(3000000u, index.InterpolateTime(4500).Get());  // beyond the end
    EXPECT_EQ(0u, MediaTrackIndex().InterpolateTime(10).Get());

    // A zero byte delta between two entries: the earlier entry's time, no division by zero.
    MediaTrackIndex equal;
    equal.SetTimescale(90000);
    equal.SetSize(3000);
    equal.SetDuration(270000);
    equal.Reserve(3);
    equal.AddEntry(0, 1000);
    equal.AddEntry(90000, 1000);
    equal.AddEntry(180000, 2000);
    EXPECT_EQ(0u, equal.InterpolateTime(1000).Get());
    EXPECT_EQ(1500000u, equal.InterpolateTime(1500).Get());

    // A timescale of 0 converts to 0 instead of dividing by it.
    MediaTrackIndex noScale = ThreeSeconds();
    noScale.SetTimescale(0);
    EXPECT_EQ(0u, noScale.InterpolateTime(2500).Get());
    MediaTime time = 1500000;
    EXPECT_EQ(1000u, noScale.TimeToPosition(time, false).Get());
}

TEST(MediaTrackIndexTest, PeakByteRateOverAWindowOrTheMean) {
    MediaTrackIndex index;
    index.SetTimescale(1000);
    index.SetSize(600);
    index.SetDuration(1000);
    index.Reserve(3);
    index.AddEntry(0, 0);
    index.AddEntry(500, 100);
    index.AddEntry(1000, 400);
    index.ComputePeakByteRate(1000000);
    EXPECT_EQ(400u, index.GetPeakByteRate());
    index.ComputePeakByteRate(0);
    EXPECT_EQ(600u, index.GetPeakByteRate());  // size x timescale / duration

    // Equal entry times with a window shorter than a tick: no division by zero.
    MediaTrackIndex equal;
    equal.SetTimescale(1000);
    equal.SetSize(300);
    equal.SetDuration(600);
    equal.Reserve(3);
    equal.AddEntry(0, 0);
    equal.AddEntry(0, 100);
    equal.AddEntry(500, 200);
    equal.ComputePeakByteRate(1);
    EXPECT_EQ(200u, equal.GetPeakByteRate());  // only the pair (0, 100) - (500, 200) counts

    MediaTrackIndex none;  // no entries and no duration
    none.ComputePeakByteRate(1000000);
    EXPECT_EQ(0u, none.GetPeakByteRate());
}

TEST(MediaTrackIndexTest, ReserveKeepsOrTruncatesAndRefusesHugeTables) {
    MediaTrackIndex index = ThreeSeconds();
    EXPECT_FALSE(index.AddEntry(270000, 4000));  // the reserved room is used up
    const MediaTrackIndex::Entry* before = index.GetEntries();
    EXPECT_TRUE(index.Reserve(3));  // same capacity: the same array
    EXPECT_EQ(before, index.GetEntries());
    EXPECT_TRUE(index.Reserve(2));  // smaller: the first two stay
    EXPECT_EQ(2u, index.GetCount());
    EXPECT_EQ(90000u, index.GetEntries()[1].time);
    EXPECT_TRUE(index.Reserve(10));
    EXPECT_EQ(2u, index.GetCount());
    EXPECT_EQ(2000u, index.GetEntries()[1].position);
    // A count whose table would pass 32 bits of bytes is refused and changes nothing.
    EXPECT_FALSE(index.Reserve(0x40000000));
    EXPECT_EQ(10u, index.GetCapacity());
    EXPECT_EQ(2u, index.GetCount());

    std::unique_ptr<MediaTrackIndex::Entry[]> entries(new MediaTrackIndex::Entry[1]);
    entries[0] = {0, 1000};
    index.SetEntries(std::move(entries), 1);
    EXPECT_EQ(1u, index.GetCount());
    EXPECT_EQ(1u, index.GetCapacity());

    MediaTrackIndex copy(index);  // a copy owns its own table
    EXPECT_NE(index.GetEntries(), copy.GetEntries());
    EXPECT_EQ(1000u, copy.GetEntries()[0].position);
}

}  // namespace
}  // namespace SarvelonMediaKit
