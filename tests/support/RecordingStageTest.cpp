#include "tests/support/RecordingStage.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ChainBuilder.h"

namespace SvTestSupport {
namespace {

using namespace SarvelonMediaKit;
typedef std::vector<std::string> Lines;

// sink <- front <- back: both stages record; what they do not take passes through.
struct StageChain : ::testing::Test {
    StageChain()
        : sink(boost::make_shared<RecordingSink>()),
          front(boost::make_shared<RecordingStage>(nullptr, "Front")),
          back(boost::make_shared<RecordingStage>()) {
        stack = SvTestSupport::BuildChain(StackIdMain, {sink, front, back});
    }
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink;
    boost::shared_ptr<RecordingStage> front;
    boost::shared_ptr<RecordingStage> back;
};

TEST_F(StageChain, RequestsAreLoggedAndPassedTowardTheSource) {
    front->Seek(7000000);
    front->SeekFilePosition(10, 20, true);
    front->TrickPlay(-4, 3000);
    front->SelectTrack(17);
    front->GetChapterData(2, 5);
    front->SetPosition(4096, StackIdAny);
    front->PreLoad(15);
    front->Tick();
    front->PeriodicCheck();
    front->Stop();
    const Lines expected = {
        "seek 7000000",        "seek file 10 20 1", "trick -4 3000", "track 17", "chapters 2 5",
        "position 4096 65535", "preload 15",        "tick",          "check",    "stop"};
    EXPECT_EQ(expected, front->Log());
    EXPECT_EQ(expected, back->Log());
    EXPECT_EQ(1, back->Count(RecordingStage::kSeek));
    EXPECT_EQ(1, back->Count(RecordingStage::kStop));
    EXPECT_EQ(Lines{"track 17"}, back->Log(RecordingStage::kSelectTrack));
    EXPECT_EQ("Front", front->GetTypeName());
    EXPECT_EQ("RecordingStage", back->GetTypeName());

    front->ClearLog();
    EXPECT_TRUE(front->Log().empty());
    EXPECT_EQ(1, front->Count(RecordingStage::kTick));  // the counts stay
}

TEST_F(StageChain, DataAndMarkersPassUnlessAStageRefusesThem) {
    back->Add(MemoryChunk(3, 0, 0));
    back->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    EXPECT_EQ((Lines{"D3", "M2"}), sink->Trace());
    EXPECT_EQ((Lines{"data 3", "marker 2"}), front->Log());

    front->SetPassMarkers(false);
    back->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>()));
    EXPECT_EQ((Lines{"D3", "M2"}), sink->Trace());
    EXPECT_EQ(2, front->Count(RecordingStage::kMarker));
}

TEST_F(StageChain, SettingsAnswerForTheStage) {
    EXPECT_EQ(0u, sink->EndPosition());
    back->SetEndPosition(5000);
    EXPECT_EQ(5000u, sink->EndPosition());

    EXPECT_FALSE(sink->OutOfBandRequest(0, 10));
    back->SetAcceptOutOfBand(true);
    EXPECT_TRUE(sink->OutOfBandRequest(0, 10));
    // Offered both times, taken the second.
    EXPECT_EQ((Lines{"out-of-band request 0 10", "out-of-band request 0 10"}),
              back->Log(RecordingStage::kOutOfBandRequest));

    front->SetRoom(4, 1);
    back->SetRoom(8, 2);
    stack.Link();
    stack.Link();
    EXPECT_EQ(12u, back->GetLinkedHeadroom());
    EXPECT_EQ(3u, back->GetLinkedTailroom());
    EXPECT_EQ((Lines{"linked first", "linked again"}), front->Log(RecordingStage::kLinked));

    EXPECT_FALSE(sink->IsPreLoading());
    back->SetPreloadState(Component::PreloadStatePreloading);
    EXPECT_TRUE(sink->IsPreLoading());
}

// Adds the moment to each line.
class NumberingStage : public RecordingStage {
protected:
    std::string Describe(const std::string& line) override {
        return std::to_string(++lines_) + " " + line;
    }

private:
    int lines_ = 0;
};

TEST(RecordingStage, ASubclassDescribesTheLinesAndTheLogCanBeTurnedOff) {
    NumberingStage numbered;
    numbered.Tick();
    numbered.Tick();
    EXPECT_EQ((Lines{"1 tick", "2 tick"}), numbered.Log());

    RecordingStage counting;
    counting.KeepLog(false);
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) counting.Tick();
    });
    for (int i = 0; i < 1000; ++i) counting.Seek(i);
    other.join();
    EXPECT_EQ(1000, counting.Count(RecordingStage::kTick));
    EXPECT_EQ(1000, counting.Count(RecordingStage::kSeek));
    EXPECT_TRUE(counting.Log().empty());
}

}  // namespace
}  // namespace SvTestSupport
