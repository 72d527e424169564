// One playback position serves every player: requests the position has moved away from wait
// their turn and get their own segment, and segments cut whole are answered again from memory.
// Driven on the rig's clock; the expected seek times are worked out by hand from the track.
//
// Damaged media never leaves a request hanging: a group of pictures whose key frame was lost
// runs on in the segment before it, the segments after it keep their names (numbered from the
// time each group starts), the numbers passed over and those after an early end of the media
// are answered at once (with the program's tables alone once a segment has brought them, with
// "503" before), and no request waits past the bound. A playback stopped on an error answers
// only what it cut whole.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpSegmenterTestSupport.h"
#include "tests/support/ErrorRecorder.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::RecordingStage;

const std::string kOkStatus = "HTTP/1.1 200 OK";
const std::string kUnavailable = "HTTP/1.1 503 Service Unavailable";

// Key frames every 2 s, 60 s long: 30 uniform segments of 2 s. Segment n is sought at
// n x (2 s + one 90 kHz tick of 11.111 us), in whole microseconds.
boost::shared_ptr<MediaTrack> TurnLongTrack() { return UniformTrack(30, 2); }

class LiveHttpSegmenterTurnTest : public SegmenterTestBase {
protected:
    void SetUp() override {
        Start(true, false);
        rig->Tracks({TurnLongTrack()});
    }
};

TEST_F(LiveHttpSegmenterTurnTest, ASegmentAskedBeforeAFarOneIsServedInItsTurnNotRefused) {
    rig->WholeSegment("d0");  // 0 finished, 1 held
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Advance(100);
    const int far = Ask(Port(), "25.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    SeekNow();
    // To the last one asked for: 25 x 2000011.111 us.
    ASSERT_EQ(std::vector<std::string>{"seek 50000277"}, Seeks());
    rig->WholeSegment("d25");
    const Reply farReply = Await(far);
    EXPECT_EQ(kOkStatus, farReply.status);
    EXPECT_EQ("d25", farReply.body);
    // Nobody waits for what the position makes next: it moves to 5 on the next pass, without
    // the delay (5 has waited already). 5 x 2000011.111 us.
    rig->Pull();
    rig->RunTasks();
    EXPECT_EQ((std::vector<std::string>{"seek 50000277", "seek 10000055"}), Seeks());
    rig->WholeSegment("d5");
    const Reply fiveReply = Await(five);
    EXPECT_EQ(kOkStatus, fiveReply.status);
    EXPECT_EQ("d5", fiveReply.body);
}

TEST_F(LiveHttpSegmenterTurnTest, WhileOneReaderIsServedTheOtherTakesItsTurnBetweenItsSegments) {
    rig->WholeSegment("d0");
    // A reader at 10 and one at 20; 10 asked first.
    const int ten = Ask(Port(), "10.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    const int twenty = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    SeekNow();
    ASSERT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    rig->WholeSegment("d20");
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
    rig->WholeSegment("d10");
    EXPECT_EQ("d10", Await(ten).body);
    // 20 and 21 were cut whole: asked again they come from memory, with no seek.
    EXPECT_EQ("d21", Fetch(Port(), "21.ts").body);
    EXPECT_EQ("d20", Fetch(Port(), "20.ts").body);
    EXPECT_EQ(2u, Seeks().size());
}

TEST_F(LiveHttpSegmenterTurnTest, AFarSegmentAskedAgainIsAnsweredAtOnceWithoutASecondSeek) {
    rig->WholeSegment("d0");
    const int far = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    SeekNow();
    ASSERT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    rig->WholeSegment("d20");
    EXPECT_EQ("d20", Await(far).body);
    // Served, 20 has left the read-ahead; 21 is being written.
    ASSERT_TRUE(SegmentsBecome(Segments{{21, 1}}));
    // The clock stands still: an answer that waited out the seek delay would not come.
    const Reply again = Fetch(Port(), "20.ts");
    EXPECT_EQ(kOkStatus, again.status);
    EXPECT_EQ("d20", again.body);
    EXPECT_EQ(1u, Seeks().size());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
}

TEST_F(LiveHttpSegmenterTurnTest, TwentyFourPlayersAtScatteredPlacesEachGetTheirOwnSegmentInTurn) {
    rig->WholeSegment("d0");  // 0 finished, 1 held
    // 24 players, each waiting on its own connection for a different listed segment: far more
    // than one player keeps waiting at once, fewer than the connections the server holds.
    const uint32_t kPlayers = 24;
    std::vector<int> connections;
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < kPlayers; ++i) {
        numbers.push_back(1 + (i * 11) % 29);  // 11 and 29 coprime: 24 different numbers
        connections.push_back(Ask(Port(), std::to_string(numbers.back()) + ".ts"));
        ASSERT_TRUE(WaitingBecomes(i + 1)) << i;
    }
    // The delay before the first seek; every later turn is taken at once.
    rig->Advance(LiveHttpSegmenter::kSeekDelayMilliseconds + 1);
    // The servers take their answers (and mark segments served) on their own threads: the
    // passes go on until every request is answered, or for 20 s at most.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (rig->Segmenter().GetWaitingRequestCount() != 0 &&
           std::chrono::steady_clock::now() < end) {
        rig->Pull();
        rig->RunTasks();
        // After a seek the chain's next group opens a segment.
        if (rig->Segments().empty()) rig->Gop();
        const Segments segments = rig->Segments();
        // The segment the playback makes now gets its bytes, named after its number.
        if (!segments.empty() && segments.back().second == LiveHttpFile::StateWriting) {
            rig->Data("d" + std::to_string(segments.back().first));
            rig->Gop();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(0u, rig->Segmenter().GetWaitingRequestCount());
    for (uint32_t i = 0; i < kPlayers; ++i) {
        const Reply reply = Await(connections[i]);
        EXPECT_EQ(kOkStatus, reply.status) << "player " << i << " segment " << numbers[i];
        EXPECT_EQ("d" + std::to_string(numbers[i]), reply.body) << "player " << i;
    }
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

// Key frames every 2 s, 20 s long: ten segments, 0 to 9, segment n from n x 2 s.
boost::shared_ptr<MediaTrack> TurnTwoSecondTrack() { return UniformTrack(10, 2); }

class LiveHttpSegmenterDamageTest : public SegmenterTestBase {
protected:
    void Start(bool onDemand) {
        SegmenterTestBase::Start(onDemand, false);
        rig->Tracks({TurnTwoSecondTrack()});
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
    EXPECT_EQ(kOkStatus, one.status);
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

// The two packets the multiplexer writes in front of every key frame, as a segment opens with
// them; cc is their continuity counter.
std::string TablePackets(uint8_t cc) {
    // clang-format off
    const uint8_t patHead[] = {
        0x47, 0x40, 0x00,              // sync; payload_unit_start, PID 0
        uint8_t(0x10 | cc),            // payload only, continuity counter
        0x00,                          // pointer_field
        0x00, 0xB0, 0x0D,              // table_id 0 (PAT), section_length 13
        0x00, 0x01, 0xC1, 0x00, 0x00,  // transport_stream_id 1, version 0, current; sections 0/0
        0x00, 0x01, 0xF0, 0x00,        // program 1 -> PMT PID 0x1000
        0x2A, 0xB1, 0x04, 0xB2,        // CRC_32 (not checked by the segmenter)
    };
    const uint8_t pmtHead[] = {
        0x47, 0x50, 0x00,              // sync; payload_unit_start, PID 0x1000
        uint8_t(0x30 | cc),            // adaptation field and payload, continuity counter
        0x01, 0x00,                    // adaptation_field_length 1: its flags, none set
        0x00,                          // pointer_field
        0x02, 0xB0, 0x12,              // table_id 2 (PMT), section_length 18
        0x00, 0x01, 0xC1, 0x00, 0x00,  // program 1, version 0, current; sections 0/0
        0xE1, 0x00, 0xF0, 0x00,        // PCR PID 0x100, no program descriptors
        0x1B, 0xE1, 0x00, 0xF0, 0x00,  // H.264 on PID 0x100
        0x00, 0x00, 0x00, 0x00,        // CRC_32 (not checked)
    };
    // clang-format on
    // Each section ends in stuffing to the packet's end.
    std::string pat(188, '\xFF');
    pat.replace(0, sizeof patHead, reinterpret_cast<const char*>(patHead), sizeof patHead);
    std::string pmt(188, '\xFF');
    pmt.replace(0, sizeof pmtHead, reinterpret_cast<const char*>(pmtHead), sizeof pmtHead);
    return pat + pmt;
}

TEST_F(LiveHttpSegmenterDamageTest,
       ASegmentNeverCutIsAnsweredWithTheLastTablesAloneForPlayersToGoOn) {
    Start(true);
    rig->Gop(0);
    rig->Data(TablePackets(0) + "d0");
    rig->Gop(2000000);
    EXPECT_EQ(TablePackets(0) + "d0", Fetch(Port(), "0.ts").body);
    // The key frame at 4 s was lost (its group runs on in 1), and with it that group's tables.
    rig->Data(TablePackets(1) + "d1+rest-of-2");
    rig->Gop(6000000);
    // 2 will never be cut: a segment of the tables that opened 1, with no media. A player that
    // reads 1, 2, 3 sees those packets twice in a row, then 3's, counted on from them.
    const Reply two = Fetch(Port(), "2.ts");
    EXPECT_EQ(kOkStatus, two.status);
    EXPECT_EQ(TablePackets(1), two.body);
    EXPECT_EQ(TablePackets(1) + "d1+rest-of-2", Fetch(Port(), "1.ts").body);
    ASSERT_TRUE(SegmentsBecome(Segments{{3, 1}}));
    // The media ends after 3: 4 to 9 are listed and never come; asked for, the same answer.
    const int four = Ask(Port(), "4.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Data(TablePackets(2) + "d3");
    rig->EndOfStream();
    const Reply fourReply = Await(four);
    EXPECT_EQ(kOkStatus, fourReply.status);
    EXPECT_EQ(TablePackets(2), fourReply.body);
    EXPECT_EQ(TablePackets(2), Fetch(Port(), "9.ts").body);
    EXPECT_EQ(TablePackets(2) + "d3", Fetch(Port(), "3.ts").body);
    // Nothing made the playback move.
    EXPECT_TRUE(rig->Source().Log(RecordingStage::kSeek).empty());
}

// The playback stopped on an error (its file cut short while it was read): nothing past the
// error is a stretch of the title, so no answer may look like one. What was cut whole before
// is still answered; the group being cut, what waits and what is asked later are refused.
TEST_F(LiveHttpSegmenterDamageTest, AfterAnErrorOnlyWholeSegmentsAreAnsweredAndNothingIsCut) {
    Start(true);
    rig->Gop(0);
    rig->Data(TablePackets(0) + "d0");
    rig->Gop(2000000);
    EXPECT_EQ(TablePackets(0) + "d0", Fetch(Port(), "0.ts").body);
    ASSERT_TRUE(SegmentsBecome(Segments{{1, 1}}));
    rig->Data(TablePackets(1) + "d1-cut");
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));

    rig->Segmenter().EndOnError();
    EXPECT_EQ(kUnavailable, Await(five).status);
    EXPECT_TRUE(rig->Segments().empty()) << "the group cut short is not kept";
    // The chain's last bytes and its end, still on their way, make no segment.
    rig->Data("late");
    rig->Gop(4000000);
    rig->EndOfStream();
    EXPECT_TRUE(rig->Segments().empty());
    for (const char* name : {"1.ts", "2.ts", "9.ts"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kUnavailable, Fetch(Port(), name).status);
    }
    EXPECT_EQ(TablePackets(0) + "d0", Fetch(Port(), "0.ts").body);
    // Nothing is pulled or sought any more, however far a player asks.
    rig->Source().ClearLog();
    rig->Advance(LiveHttpSegmenter::kSeekDelayMilliseconds + 1);
    rig->Pull();
    EXPECT_EQ(0, rig->Source().Count(RecordingStage::kPull));
    EXPECT_TRUE(rig->Source().Log(RecordingStage::kSeek).empty());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
}

TEST_F(LiveHttpSegmenterDamageTest, ASeekToASegmentWhoseKeyFrameWasLostNamesWhatComesByItsTime) {
    Start(true);
    // The clock runs 1.2 s ahead of the media: 0 opens at 1.2 s, 1 at 3.2 s.
    rig->Gop(1200000);
    rig->Data("d0");
    rig->Gop(3200000);
    EXPECT_EQ("d0", Fetch(Port(), "0.ts").body);
    // A player jumps to 6, whose key frame (at 12 s) was lost: the playback sought there
    // finds the next key frame first, at 14 s, 15.2 s by the clock. That group is 7, not 6.
    const int six = Ask(Port(), "6.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    SeekNow();
    // 6 x 2000011.111 us.
    ASSERT_EQ(std::vector<std::string>{"seek 12000066"}, Seeks());
    rig->Gop(15200000);
    // 6 will never be cut: told at once, not given 7's pictures.
    EXPECT_EQ(kUnavailable, Await(six).status);
    rig->Data("d7");
    rig->Gop(17200000);
    EXPECT_EQ("d7", Fetch(Port(), "7.ts").body);
    ASSERT_TRUE(SegmentsBecome(Segments{{8, 1}}));
    rig->Data("d8");
    rig->Gop(19200000);
    EXPECT_EQ("d8", Fetch(Port(), "8.ts").body);
    // Back to 2, whose key frame is there: 4 s, 5.2 s by the clock, is 2 itself.
    const int two = Ask(Port(), "2.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    SeekNow();
    // 2 x 2000011.111 us.
    ASSERT_EQ((std::vector<std::string>{"seek 12000066", "seek 4000022"}), Seeks());
    rig->Gop(5200000);
    rig->Data("d2");
    rig->Gop(7200000);
    const Reply twoReply = Await(two);
    EXPECT_EQ(kOkStatus, twoReply.status);
    EXPECT_EQ("d2", twoReply.body);
    // A clock that lands on no listed start after a seek (here 1 s off) says nothing about
    // what was lost: the group takes the number sought, as it always did.
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    SeekNow();
    ASSERT_EQ(3u, Seeks().size());
    rig->Gop(12200000);
    rig->Data("d5");
    rig->Gop(14200000);
    EXPECT_EQ("d5", Await(five).body);
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
