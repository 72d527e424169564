// One playback position serves every player: requests the position has moved away from wait
// their turn and get their own segment, and segments cut whole are answered again from memory.
// Driven on the rig's clock; the expected seek times are worked out by hand from the track.

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

// Key frames every 2 s, 60 s long: 30 uniform segments of 2 s. Segment n is sought at
// n x (2 s + one 90 kHz tick of 11.111 us), in whole microseconds.
boost::shared_ptr<MediaTrack> LongTrack() { return UniformTrack(30, 2); }

class LiveHttpSegmenterTurnTest : public SegmenterTestBase {
protected:
    void SetUp() override {
        Start(true, false);
        rig->Tracks({LongTrack()});
    }
    // Lets the delay before a seek pass and the session run the seek.
    void SeekNow() {
        rig->Advance(LiveHttpSegmenter::kSeekDelayMilliseconds + 1);
        rig->Pull();
        rig->RunTasks();
    }
};

TEST_F(LiveHttpSegmenterTurnTest, ASegmentAskedBeforeAFarOneIsServedInItsTurnNotRefused) {
    rig->Gop();
    rig->Data("d0");
    rig->Gop();  // 0 finished, 1 held
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Advance(100);
    const int far = Ask(Port(), "25.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    SeekNow();
    // To the last one asked for: 25 x 2000011.111 us.
    ASSERT_EQ(std::vector<std::string>{"seek 50000277"}, Seeks());
    rig->Gop();
    rig->Data("d25");
    rig->Gop();
    const Reply farReply = Await(far);
    EXPECT_EQ(kOk, farReply.status);
    EXPECT_EQ("d25", farReply.body);
    // Nobody waits for what the position makes next: it moves to 5 on the next pass, without
    // the delay (5 has waited already). 5 x 2000011.111 us.
    rig->Pull();
    rig->RunTasks();
    EXPECT_EQ((std::vector<std::string>{"seek 50000277", "seek 10000055"}), Seeks());
    rig->Gop();
    rig->Data("d5");
    rig->Gop();
    const Reply fiveReply = Await(five);
    EXPECT_EQ(kOk, fiveReply.status);
    EXPECT_EQ("d5", fiveReply.body);
}

TEST_F(LiveHttpSegmenterTurnTest, WhileOneReaderIsServedTheOtherTakesItsTurnBetweenItsSegments) {
    rig->Gop();
    rig->Data("d0");
    rig->Gop();
    // A reader at 10 and one at 20; 10 asked first.
    const int ten = Ask(Port(), "10.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    const int twenty = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    SeekNow();
    ASSERT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    rig->Gop();
    rig->Data("d20");
    rig->Gop();
    EXPECT_EQ("d20", Await(twenty).body);
    // The reader at 20 asks for 21, which the position makes next; 10 still waits. 21 is
    // finished and served; then nobody waits at the position and 10 gets its turn.
    const int next = Ask(Port(), "21.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    rig->Pull();
    rig->Data("d21");
    rig->Gop();
    EXPECT_EQ("d21", Await(next).body);
    ASSERT_EQ(1u, rig->Segmenter().GetWaitingRequestCount());
    rig->Pull();
    rig->RunTasks();
    // 10 x 2000011.111 us.
    EXPECT_EQ((std::vector<std::string>{"seek 40000222", "seek 20000111"}), Seeks());
    rig->Gop();
    rig->Data("d10");
    rig->Gop();
    EXPECT_EQ("d10", Await(ten).body);
    // 20 and 21 were cut whole: asked again they come from memory, with no seek.
    EXPECT_EQ("d21", Fetch(Port(), "21.ts").body);
    EXPECT_EQ("d20", Fetch(Port(), "20.ts").body);
    EXPECT_EQ(2u, Seeks().size());
}

TEST_F(LiveHttpSegmenterTurnTest, AFarSegmentAskedAgainIsAnsweredAtOnceWithoutASecondSeek) {
    rig->Gop();
    rig->Data("d0");
    rig->Gop();
    const int far = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    SeekNow();
    ASSERT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    rig->Gop();
    rig->Data("d20");
    rig->Gop();
    EXPECT_EQ("d20", Await(far).body);
    // Served, 20 has left the read-ahead; 21 is being written.
    ASSERT_TRUE(SegmentsBecome(Segments{{21, 1}}));
    // The clock stands still: an answer that waited out the seek delay would not come.
    const Reply again = Fetch(Port(), "20.ts");
    EXPECT_EQ(kOk, again.status);
    EXPECT_EQ("d20", again.body);
    EXPECT_EQ(1u, Seeks().size());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
}

TEST_F(LiveHttpSegmenterTurnTest, SegmentsKeptInMemoryAreBoundedTheOldestLetGo) {
    // Three whole segments of 6 MiB: together over the 16 MiB kept, so 0 is let go.
    const std::string big(6u * 1024u * 1024u, 'x');
    ASSERT_LT(2 * big.size(), LiveHttpSegmenter::kKeptBytes);
    ASSERT_GT(3 * big.size(), LiveHttpSegmenter::kKeptBytes);
    rig->Gop();
    for (uint32_t k = 0; k < 3; ++k) {
        rig->Data(std::to_string(k) + big);
        rig->Gop();
        EXPECT_EQ(std::to_string(k) + big, Fetch(Port(), std::to_string(k) + ".ts").body);
        ASSERT_TRUE(SegmentsBecome(Segments{{k + 1, 1}}));
    }
    // 1 and 2 are still in memory.
    EXPECT_EQ("1" + big, Fetch(Port(), "1.ts").body);
    EXPECT_EQ("2" + big, Fetch(Port(), "2.ts").body);
    // 0 is not: the playback has to go back for it.
    const int zero = Ask(Port(), "0.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    EXPECT_TRUE(rig->Segmenter().IsSeekPending());
    close(zero);
}

}  // namespace
}  // namespace SarvelonMediaKit
