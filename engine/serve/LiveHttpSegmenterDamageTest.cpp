// Damaged media never leaves a request hanging: a group of pictures whose key frame was lost
// runs on in the segment before it, the segments after it keep their names (numbered from the
// time each group starts), the numbers passed over and those after an early end of the media
// are answered "503" at once, and no request waits past the bound.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpSegmenterTestSupport.h"
#include "tests/support/ErrorRecorder.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::RecordingStage;

const uint32_t k90k = 90000;
const std::string kOk = "HTTP/1.1 200 OK";
const std::string kUnavailable = "HTTP/1.1 503 Service Unavailable";

// Key frames every 2 s, 20 s long: ten segments, 0 to 9, segment n from n x 2 s.
boost::shared_ptr<MediaTrack> TwoSecondTrack() { return UniformTrack(10, 2); }

class LiveHttpSegmenterDamageTest : public SegmenterTestBase {
protected:
    void Start(bool onDemand) {
        SegmenterTestBase::Start(onDemand, false);
        rig->Tracks({TwoSecondTrack()});
    }
};

TEST_F(LiveHttpSegmenterDamageTest, ALostKeyFrameLeavesOneNumberUnavailableAndTheRestNamedRight) {
    Start(true);
    // The markers carry the multiplexer's clock: any start, then the media's own steps.
    rig->Gop(1200000);
    rig->Data("d0");
    rig->Gop(3200000);  // 2 s on: segment 1
    EXPECT_EQ("d0", Fetch(Port(), "0.ts").body);
    // The key frame at 4 s was lost: that group's other pictures run on in segment 1, and
    // the next marker comes 4 s on, at the start of segment 3.
    rig->Data("d1+rest-of-2");
    rig->Gop(7200000);
    EXPECT_EQ((Segments{{1, 3}, {3, 0}}), rig->Segments());
    // 2 will never be cut: told at once, not left waiting.
    EXPECT_EQ(kUnavailable, Fetch(Port(), "2.ts").status);
    const Reply one = Fetch(Port(), "1.ts");
    EXPECT_EQ(kOk, one.status);
    EXPECT_EQ("d1+rest-of-2", one.body);
    ASSERT_TRUE(SegmentsBecome(Segments{{3, 1}}));
    rig->Data("d3");
    rig->Gop(9200000);  // 2 s on: segment 4
    EXPECT_EQ("d3", Fetch(Port(), "3.ts").body);
    ASSERT_TRUE(SegmentsBecome(Segments{{4, 1}}));
    // A player already waits for 5; the media ends after 4, so 5 to 9 (listed) never come.
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Data("d4");
    rig->EndOfStream();
    EXPECT_EQ(kUnavailable, Await(five).status);
    EXPECT_EQ(kUnavailable, Fetch(Port(), "9.ts").status);
    EXPECT_EQ("d4", Fetch(Port(), "4.ts").body);
    // 2 is still unavailable, and nothing made the playback move.
    EXPECT_EQ(kUnavailable, Fetch(Port(), "2.ts").status);
    EXPECT_TRUE(rig->Source().Log(RecordingStage::kSeek).empty());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
}

TEST_F(LiveHttpSegmenterDamageTest, OnlyAClockLandingOnAListedStartRenumbers) {
    Start(true);
    rig->Gop(0);
    rig->Data("d0");
    rig->Gop(1990000);  // 10 ms short of 2 s, within the tolerance: segment 1
    EXPECT_EQ("d0", Fetch(Port(), "0.ts").body);
    rig->Data("d1");
    // 3.01 s on from 2 s is 5.01 s, a second from 4 s and from 6 s alike: no listed start,
    // so the segments go on in turn rather than leave 3 out.
    rig->Gop(5000000);
    EXPECT_EQ("d1", Fetch(Port(), "1.ts").body);
    EXPECT_EQ((Segments{{2, 1}}), rig->Segments());
    rig->Data("d2");
    // A trick rendition's clock does not step with the list at all.
    rig->Segmenter().TrickPlay(TrickPlayRate(4), MediaTime(0));
    rig->Gop(9000000);  // 4 s on, as if 2 groups later
    EXPECT_EQ("d2", Fetch(Port(), "2.ts").body);
    EXPECT_EQ((Segments{{3, 1}}), rig->Segments());
}

TEST_F(LiveHttpSegmenterDamageTest, NoSegmentRequestWaitsPastTheBound) {
    Start(false);
    rig->Gop();
    rig->Data("d0");
    // 1 comes next, but the media stalls before it.
    const int one = Ask(Port(), "1.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Advance(LiveHttpSegmenter::kMaxWaitMilliseconds);
    rig->Pull();
    EXPECT_EQ(1u, rig->Segmenter().GetWaitingRequestCount());
    rig->Advance(1);
    rig->Pull();
    EXPECT_EQ(kUnavailable, Await(one).status);
    EXPECT_EQ(0u, rig->Segmenter().GetWaitingRequestCount());
}

}  // namespace
}  // namespace SarvelonMediaKit
