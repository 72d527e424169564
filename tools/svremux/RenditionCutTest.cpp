// The stage that lets only the first rendition of a download through to the demultiplexer.
#include "tools/svremux/RenditionCut.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <vector>

#include "engine/core/ComponentStack.h"
#include "tests/support/RecordingSink.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::RecordingSink;

MemoryChunk Bytes(uint8_t first, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(first + i);
    return MemoryChunk::CopyOf(bytes);
}

MemoryChunk Marker(const boost::shared_ptr<MemoryMarker>& marker) { return MemoryChunk(marker); }

// sink <- cut, without a session: the tests drive the cut as the download would.
struct Chain {
    Chain()
        : sink(boost::make_shared<RecordingSink>()),
          cut(boost::make_shared<RenditionCut>(nullptr)) {
        stack.AddComponent(sink);
        stack.AddComponent(cut);
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
    boost::shared_ptr<RenditionCut> cut;
};

TEST(RenditionCut, NothingPastTheRenditionsEndGoesOnAndTheStreamEndsThere) {
    Chain chain;
    const boost::shared_ptr<RenditionCut>& cut = chain.cut;
    const boost::shared_ptr<RecordingSink>& sink = chain.sink;
    cut->Add(Bytes(0, 60));
    cut->SetEnd(100);
    // 40 bytes of this chunk belong to the rendition, 20 to the next one.
    cut->Add(Bytes(60, 60));
    cut->Add(Bytes(120, 10));
    cut->Add(Marker(boost::make_shared<MemoryMarkerEndOfData>()));
    const std::vector<uint8_t> bytes = sink->Bytes();
    ASSERT_EQ(100u, bytes.size());
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(uint8_t(i), bytes[i]) << i;
    EXPECT_EQ(std::vector<uint32_t>{MemoryMarkerTypeEndOfStream}, chain.Markers())
        << "once, at the cut";
    EXPECT_EQ(100u, cut->Position());
    EXPECT_TRUE(cut->Ended());
}

TEST(RenditionCut, AnEndAlreadyPassedEndsAtOnceAndAnUnknownEndWaitsForTheEndOfData) {
    Chain chain;
    const boost::shared_ptr<RenditionCut>& cut = chain.cut;
    cut->Add(Bytes(0, 50));
    cut->SetEnd(50);
    EXPECT_EQ(std::vector<uint32_t>{MemoryMarkerTypeEndOfStream}, chain.Markers());

    Chain other;
    other.cut->SetEnd(RenditionCut::kUnknown);
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

TEST(RenditionCut, PullsAreSmallUntilTheEndIsKnownThenStopThere) {
    Chain chain;
    const boost::shared_ptr<RenditionCut>& cut = chain.cut;
    ByteAmount amount(1u << 20);
    cut->PrePullData(amount);
    EXPECT_EQ(RenditionCut::kProbeBytes, amount.Get()) << "the index is still being read";
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

}  // namespace
}  // namespace SarvelonMediaKit
