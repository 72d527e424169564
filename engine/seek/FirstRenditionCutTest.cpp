// The stage that lets only a title's first rendition through to the demultiplexer, fed as a
// download feeds it and read from a real file client.
#include "engine/seek/FirstRenditionCut.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <fstream>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/ComponentStack.h"
#include "engine/input/FileClient.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::RecordingSink;

// Byte i of every test stream is uint8_t(first + i): a lost, doubled or reordered byte shows.
MemoryChunk Bytes(uint8_t first, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(first + i);
    return MemoryChunk::CopyOf(bytes);
}

MemoryChunk Marker(const boost::shared_ptr<MemoryMarker>& marker) { return MemoryChunk(marker); }

// sink <- cut, without a session: the tests drive the cut as a download would.
struct Chain {
    Chain()
        : sink(boost::make_shared<RecordingSink>()),
          cut(boost::make_shared<FirstRenditionCut>(nullptr)) {
        stack = SvTestSupport::BuildChain(StackIdMain, {sink, cut});
    }
    // The markers the sink saw, by type, in order.
    std::vector<uint32_t> Markers() const {
        std::vector<uint32_t> types;
        for (const RecordingSink::Entry& entry : sink->entries) {
            if (entry.isMarker) types.push_back(entry.markerType);
        }
        return types;
    }
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink;
    boost::shared_ptr<FirstRenditionCut> cut;
};

const std::vector<uint32_t> kOneEnd{MemoryMarkerTypeEndOfStream};

TEST(FirstRenditionCut, NothingPastTheRenditionsEndGoesOnAndTheStreamEndsThere) {
    Chain chain;
    const boost::shared_ptr<FirstRenditionCut>& cut = chain.cut;
    cut->Add(Bytes(0, 60));
    cut->SetEnd(100);
    // 40 bytes of this chunk belong to the rendition, 20 to the next one.
    cut->Add(Bytes(60, 60));
    cut->Add(Bytes(120, 10));
    cut->Add(Marker(boost::make_shared<MemoryMarkerEndOfData>()));
    const std::vector<uint8_t> bytes = chain.sink->Bytes();
    ASSERT_EQ(100u, bytes.size());
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(uint8_t(i), bytes[i]) << i;
    EXPECT_EQ(kOneEnd, chain.Markers()) << "once, at the cut";
    EXPECT_EQ(100u, cut->Position());
    EXPECT_TRUE(cut->Ended());
}

TEST(FirstRenditionCut, AnEndAlreadyPassedEndsAtOnceAndAnUnknownEndWaitsForTheEndOfData) {
    Chain chain;
    chain.cut->Add(Bytes(0, 50));
    chain.cut->SetEnd(50);
    EXPECT_EQ(kOneEnd, chain.Markers());

    Chain other;
    other.cut->SetEnd(FirstRenditionCut::kUnknown);
    other.cut->Add(Bytes(0, 70));
    other.cut->Add(Marker(boost::make_shared<MemoryMarkerGopStart>(5)));
    EXPECT_FALSE(other.cut->Ended());
    // The download's end is the media's end; the end-of-data marker itself stays here, where
    // the file sink would take it for the end of everything.
    other.cut->Add(Marker(boost::make_shared<MemoryMarkerEndOfData>()));
    other.cut->Add(Marker(boost::make_shared<MemoryMarkerEndOfData>()));
    EXPECT_EQ(70u, other.sink->Bytes().size());
    EXPECT_EQ((std::vector<uint32_t>{MemoryMarkerTypeGopStart, MemoryMarkerTypeEndOfStream}),
              other.Markers());
}

TEST(FirstRenditionCut, PullsAreSmallUntilTheEndIsKnownThenStopThere) {
    Chain chain;
    const boost::shared_ptr<FirstRenditionCut>& cut = chain.cut;
    ByteAmount amount(1u << 20);
    cut->PrePullData(amount);
    EXPECT_EQ(FirstRenditionCut::kProbeBytes, amount.Get()) << "the index is still being read";
    cut->Add(Bytes(0, 200));
    cut->SetEnd(1000);
    amount = ByteAmount(1u << 20);
    cut->PrePullData(amount);
    EXPECT_EQ(800u, amount.Get()) << "what is left of the rendition";
    cut->Add(Bytes(0, 800));
    amount = ByteAmount(1u << 20);
    cut->PrePullData(amount);
    EXPECT_EQ(0u, amount.Get()) << "nothing after the end";
    EXPECT_EQ(0u, cut->GetBufferedBytes().Get());
}

boost::shared_ptr<MediaTrack> Track(TrackId id, bool withOffset, uint64_t offset, uint64_t size) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(id);
    if (withOffset) track->GetInfo().SetValue(TrackInfoKey_Offset, SV::SVTypedValue(offset));
    track->GetInfo().SetValue(TrackInfoKey_Size, SV::SVTypedValue(size));
    return track;
}

// The end is the byte after the lowest-numbered track's range, whatever order the tracks were
// listed in; a range the index does not give, or one that wraps around, is no end at all.
TEST(FirstRenditionCut, TheEndIsTheFirstTracksRangeFromTheTrackList) {
    Chain chain;
    EXPECT_EQ(FirstRenditionCut::kUnknown, chain.cut->End());
    StreamInfoMonitor::TrackMap tracks;
    tracks[7] = Track(7, true, 5000, 4000);
    tracks[3] = Track(3, true, 1200, 3800);
    chain.cut->TracksAvailable(tracks, true);
    EXPECT_EQ(5000u, chain.cut->End());  // 1200 + 3800
    ByteAmount amount(1u << 20);
    chain.cut->PrePullData(amount);
    EXPECT_EQ(5000u, amount.Get()) << "probing ends with the index";

    Chain noOffset;
    tracks[3] = Track(3, false, 0, 3800);
    noOffset.cut->TracksAvailable(tracks, true);
    EXPECT_EQ(FirstRenditionCut::kUnknown, noOffset.cut->End());
    amount = ByteAmount(1u << 20);
    noOffset.cut->PrePullData(amount);
    EXPECT_EQ(1u << 20, amount.Get()) << "no probing once the index has told nothing";

    Chain wraps;
    tracks[3] = Track(3, true, ~uint64_t(0) - 10, 20);
    wraps.cut->TracksAvailable(tracks, true);
    EXPECT_EQ(FirstRenditionCut::kUnknown, wraps.cut->End());

    Chain none;
    none.cut->TracksAvailable(StreamInfoMonitor::TrackMap(), false);
    EXPECT_EQ(FirstRenditionCut::kUnknown, none.cut->End());
}

// On a file client: the file's bytes up to the end and one end-of-stream, whether the rendition
// ends inside the file, at its end, or (a file cut short) past it.
TEST(FirstRenditionCut, AFileIsReadUpToTheEndOnly) {
    SvTestSupport::TemporaryDirectory dir("firstrenditioncut");
    const std::string path = dir.File("title.bin");
    const uint32_t kFileSize = 50000;
    {
        std::ofstream out(path, std::ios::binary);
        for (uint32_t i = 0; i < kFileSize; ++i) out.put(char(uint8_t(i * 7 + (i >> 8))));
    }
    for (const uint64_t end : {uint64_t(30001), uint64_t(kFileSize), uint64_t(kFileSize + 999)}) {
        SCOPED_TRACE(end);
        Chain chain;
        FileClient* raw = nullptr;
        chain.stack.AddComponent(CreateFileClient(nullptr, &raw));
        raw->SetName(path, true);
        chain.sink->PullData(ByteAmount(1u << 20));
        ASSERT_EQ(FirstRenditionCut::kProbeBytes, chain.sink->Bytes().size());
        chain.cut->SetEnd(end);
        for (int pull = 0; pull < 10 && !chain.cut->Ended(); ++pull) {
            chain.sink->PullData(ByteAmount(7000));
        }
        const uint64_t expected = std::min<uint64_t>(end, kFileSize);
        const std::vector<uint8_t> bytes = chain.sink->Bytes();
        ASSERT_EQ(expected, bytes.size());
        for (uint32_t i = 0; i < bytes.size(); ++i) {
            ASSERT_EQ(uint8_t(i * 7 + (i >> 8)), bytes[i]) << i;
        }
        EXPECT_EQ(kOneEnd, chain.Markers());
        EXPECT_EQ(expected, chain.cut->Position());
        chain.sink->PullData(ByteAmount(7000));
        EXPECT_EQ(kOneEnd, chain.Markers()) << "nothing more after the end";
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
