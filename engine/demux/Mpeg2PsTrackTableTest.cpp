#include "engine/demux/Mpeg2PsTrackTable.h"

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include <cstdint>
#include <limits>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

// A track of the 90 kHz clock whose data lie at [offset, offset + size); audioId and videoId
// 0 mean no such stream.
boost::shared_ptr<MediaTrack> TrackAt(uint8_t audioId, uint8_t videoId, uint32_t ticks,
                                      uint64_t offset, uint64_t size) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    if (audioId != 0) {
        track->SetAudio(true);
        track->GetInfo().SetValue(TrackInfoKey_AudioMpegStreamId,
                                  SV::SVTypedValue(uint32_t(audioId)));
    }
    if (videoId != 0) {
        track->SetVideo(true);
        track->GetInfo().SetValue(TrackInfoKey_VideoMpegStreamId,
                                  SV::SVTypedValue(uint32_t(videoId)));
    }
    track->GetIndex().SetTimescale(90000);
    track->GetIndex().SetDuration(ticks);
    track->GetIndex().SetOffset(offset);
    track->GetIndex().SetSize(size);
    return track;
}

Mpeg2PsTrackTable TableOf(std::initializer_list<boost::shared_ptr<MediaTrack>> tracks) {
    Mpeg2PsTrackTable::TrackMap map;
    uint32_t id = 1;
    for (const boost::shared_ptr<MediaTrack>& track : tracks) map[TrackId(id++)] = track;
    Mpeg2PsTrackTable table;
    table.Assign(map);
    return table;
}

// Duration and end come from the tracks with sound or pictures; a trick-play track's index
// spans the title at another speed, so only its bytes count.
TEST(Mpeg2PsTrackTable, MeasureTakesTheLongestNormalTrackAndTheFurthestEnd) {
    boost::shared_ptr<MediaTrack> trick = TrackAt(0, 0xE1, 9000000, 5000, 70000);  // 100 s
    trick->SetTrickPlayRate(4);
    boost::shared_ptr<MediaTrack> text = TrackAt(0, 0, 18000000, 0, 900000);  // 200 s, no A/V
    text->SetText(true);
    const Mpeg2PsTrackTable table = TableOf({
        TrackAt(0xC0, 0xE0, 900000, 1000, 40000),  // 10 s, ends at 41000
        TrackAt(0xC1, 0, 1800000, 2000, 3000),     // 20 s, ends at 5000
        trick,                                     // ends at 75000
        text,
    });
    const Mpeg2PsTrackTable::Extent extent = table.Measure();
    EXPECT_EQ(20000000u, extent.duration);
    EXPECT_EQ(75000u, extent.end);
    EXPECT_TRUE(extent.trickPlay);

    const Mpeg2PsTrackTable plain = TableOf({TrackAt(0xC0, 0xE0, 900000, 1000, 40000)});
    EXPECT_FALSE(plain.Measure().trickPlay);
    EXPECT_EQ(0u, Mpeg2PsTrackTable().Measure().end);
}

TEST(Mpeg2PsTrackTable, AnEndPastTheLargestPositionIsAllBits) {
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    const Mpeg2PsTrackTable table = TableOf({TrackAt(0xC0, 0xE0, 900000, max - 10, 11)});
    EXPECT_EQ(max, table.Measure().end) << "not the wrapped-around 0";
}

// The selected track describes the audio stream when it carries it; an audio rendition read
// beside the pictures (another stream) is described by the first track that carries it.
TEST(Mpeg2PsTrackTable, TheTrackOfAnAudioStreamPrefersTheSelectedOne) {
    const boost::shared_ptr<MediaTrack> pictures = TrackAt(0xC0, 0xE0, 900000, 0, 10);
    const boost::shared_ptr<MediaTrack> first = TrackAt(0xC1, 0, 900000, 0, 10);
    const boost::shared_ptr<MediaTrack> second = TrackAt(0xC1, 0, 900000, 0, 10);
    const Mpeg2PsTrackTable table = TableOf({pictures, first, second});
    EXPECT_EQ(second, table.TrackOfAudioStream(0xC1, second));
    EXPECT_EQ(first, table.TrackOfAudioStream(0xC1, pictures));
    EXPECT_EQ(first, table.TrackOfAudioStream(0xC1, nullptr)) << "a chain without a seeker";
    EXPECT_EQ(pictures, table.TrackOfAudioStream(0xC2, pictures)) << "no track carries it";
    EXPECT_EQ(nullptr, table.TrackOfAudioStream(0xC2, nullptr));
}

}  // namespace
}  // namespace SarvelonMediaKit
