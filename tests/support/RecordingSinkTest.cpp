#include "tests/support/RecordingSink.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ChainBuilder.h"

namespace SvTestSupport {
namespace {

using namespace SarvelonMediaKit;

MemoryChunk Text(const std::string& text) {
    MemoryChunk chunk(static_cast<uint32_t>(text.size()), 0, 0);
    std::memcpy(chunk.Data(0), text.data(), text.size());
    return chunk;
}

MemoryChunk EndOfStream() { return MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()); }

TEST(RecordingSink, KeepsDataAndMarkersInOrderAndStopsTheMarkers) {
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    sink->Add(Text("abc"));
    sink->Add(MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(7)));
    sink->Add(Text("de"));
    sink->Add(EndOfStream());

    EXPECT_EQ((std::vector<std::string>{"D3", "M0", "D2", "M2"}), sink->Trace());
    EXPECT_EQ((std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}), sink->Bytes());
    EXPECT_EQ((std::vector<uint32_t>{3, 2}), sink->ChunkSizes());
    EXPECT_EQ((std::vector<uint32_t>{0, 2}), sink->MarkerTypes());
    EXPECT_EQ(1u, sink->CountMarkers(2));
    EXPECT_EQ(0u, sink->CountMarkers(4));
    ASSERT_EQ(4u, sink->entries.size());
    EXPECT_EQ(7u, sink->entries[1].gopTime);
    EXPECT_EQ("RecordingSink", sink->GetTypeName());

    sink->Clear();
    EXPECT_TRUE(sink->Trace().empty());
}

TEST(RecordingSink, WantsWhatItWasGivenAndTakesOutOfBandChunksOnlyWhenAsked) {
    EXPECT_EQ(0xFFFFFFFFu, RecordingSink().BytesWanted());
    RecordingSink full(0);
    EXPECT_EQ(0u, full.BytesWanted());

    // An out-of-band chunk offered from the source side goes past a refusing sink.
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<RecordingStage> source = boost::make_shared<RecordingStage>();
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, source});
    EXPECT_FALSE(source->OutOfBandData(Text("xy")));
    EXPECT_TRUE(sink->outOfBand.empty());
    sink->TakeOutOfBand(true);
    EXPECT_TRUE(source->OutOfBandData(Text("xy")));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{{'x', 'y'}}), sink->outOfBand);
    EXPECT_TRUE(sink->entries.empty());  // kept apart from the data
}

TEST(RecordingSink, CheckEndedByNamesTheFirstEntryThatBreaksTheEnd) {
    RecordingSink clean;
    EXPECT_EQ("", clean.CheckEndedBy(2));  // nothing yet
    clean.Add(Text("abc"));
    clean.Add(EndOfStream());
    clean.Add(EndOfStream());  // told again: still no data after it
    EXPECT_EQ("", clean.CheckEndedBy(2));

    RecordingSink late;
    late.Add(EndOfStream());
    late.Add(Text("abcd"));
    EXPECT_EQ("entry 1: 4 bytes of data after the end marker", late.CheckEndedBy(2));

    RecordingSink other;
    other.Add(Text("a"));
    other.Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>()));
    EXPECT_EQ("entry 1: marker of type 4 where only 2 may come", other.CheckEndedBy(2));
    EXPECT_EQ("", other.CheckEndedBy(4));
}

TEST(PatternBytes, CountsModulo251FromTheGivenPosition) {
    EXPECT_EQ((std::vector<uint8_t>{249, 250, 0, 1}), PatternBytes(249, 253));
    EXPECT_EQ((std::vector<uint8_t>{5}), PatternBytes(251 * 3 + 5, 251 * 3 + 6));
    EXPECT_TRUE(PatternBytes(10, 10).empty());
    EXPECT_TRUE(PatternBytes(10, 3).empty());
}

}  // namespace
}  // namespace SvTestSupport
