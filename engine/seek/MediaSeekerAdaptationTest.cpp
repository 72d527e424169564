// The seeker's bit-rate adaptation on synthetic track lists, with a source whose download front
// and buffered bytes the test moves by hand. Every expectation below is worked out from the
// track tables the test builds (even byte rates, an entry every 2 s), not read back from the
// seeker.
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Session.h"
#include "engine/core/TaskManager.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/seek/MediaSeekerTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

const uint32_t kTicks = 90000;     // ticks per second of every synthetic index
const uint64_t kSecond = 1000000;  // microseconds

// The byte the source holds at a file position: varies along the file, so bytes from one
// place cannot pass for bytes from another.
uint8_t ByteAt(uint64_t position) {
    return static_cast<uint8_t>(position * 131 + (position >> 8) * 7 + (position >> 16) * 3);
}

std::vector<uint8_t> BytesOf(uint64_t from, uint64_t to) {
    std::vector<uint8_t> bytes;
    for (uint64_t p = from; p < to; ++p) bytes.push_back(ByteAt(p));
    return bytes;
}

// A normal-speed video track of 40 s with an entry every 2 s and its bytes spread evenly:
// `rate` bytes per second from `offset`, so the entry at s seconds sits at offset + rate * s.
// Groups of pictures are 2 s long, so the switch window is 12 s.
boost::shared_ptr<MediaTrack> EvenTrack(uint32_t id, uint64_t offset, uint32_t rate,
                                        int16_t trickRate = 0) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetVideo(true);
    track->SetAudio(true);
    track->SetTrickPlayRate(trickRate);
    MediaTrackIndex& index = track->GetIndex();
    index.SetTimescale(kTicks);
    index.SetOffset(offset);
    index.SetSize(uint64_t(rate) * 40);
    index.SetDuration(40 * kTicks);
    index.SetAdaptationInterval(2 * kTicks);
    EXPECT_TRUE(index.Reserve(20));
    for (uint32_t s = 0; s < 40; s += 2) EXPECT_TRUE(index.AddEntry(s * kTicks, offset + rate * s));
    return track;
}

// Three renditions: track 1 at 1000 B/s from byte 0, track 2 at 3000 B/s from 40000, track 3
// at 6000 B/s from 160000.
const uint64_t kStart1 = 0, kStart2 = 40000, kStart3 = 160000;
StreamInfoMonitor::TrackMap Ladder() {
    StreamInfoMonitor::TrackMap map;
    map[TrackId(1)] = EvenTrack(1, kStart1, 1000);
    map[TrackId(2)] = EvenTrack(2, kStart2, 3000);
    map[TrackId(3)] = EvenTrack(3, kStart3, 6000);
    return map;
}

// The input end: a download whose front the test moves (Download), holding the bytes between
// the read position and the front. A seek restarts both at its start.
class DownloadSource : public Component {
public:
    explicit DownloadSource(Session* session) : Component(session) {}
    std::string GetTypeName() const override { return "DownloadSource"; }
    using Component::DoSeek;

    void Download(uint64_t bytes) { front += bytes; }

    void DoPullData(ByteAmount& amount) override {
        uint64_t n = front - read;
        // A greedy source hands on all the consumer wants, whatever the pull asked for.
        if (!greedy && amount < n) n = amount.Get();
        if (boost::shared_ptr<Component> consumer = GetConsumer()) {
            wanted.push_back(consumer->BytesWanted().Get());
            if (consumer->BytesWanted() < n) n = consumer->BytesWanted().Get();
        }
        // In pieces of at most 1500 bytes, as a network delivers them.
        while (n != 0) {
            const uint32_t piece = n < 1500 ? uint32_t(n) : 1500u;
            MemoryChunk chunk(piece, 0, 0);
            for (uint32_t i = 0; i < piece; ++i) chunk.Data(0)[i] = ByteAt(read + i);
            read += piece;
            n -= piece;
            DoSend(chunk);
        }
    }
    // Saturating, as every component's count does.
    ByteAmount DoGetBufferedBytes() override {
        return ByteAmount(front - read > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(front - read));
    }
    bool KnowCurrentLoadedFilePosition() override { return true; }
    BytePosition DoCurrentLoadedFilePosition() override { return BytePosition(front); }
    void DoSeek(BytePosition start, BytePosition end, bool) override {
        seeks.push_back(std::to_string(start.Get()) + "-" + std::to_string(end.Get()));
        read = front = start.Get();
    }
    void DoSetDownloadLimited(bool limited) override { limits.push_back(limited); }

    bool greedy = false;
    uint64_t read = 0;             // the next byte to hand on
    uint64_t front = 0;            // one past the last byte downloaded
    std::vector<uint32_t> wanted;  // what the consumer wanted at each pull
    std::vector<std::string> seeks;
    std::vector<bool> limits;
};

// sink <- seeker <- source on a session whose queue the test runs (no pump). The seeker's
// memory budget is a tracker of its own with the given limit.
struct AdaptChain {
    explicit AdaptChain(uint32_t memoryLimit, const StreamInfoMonitor::TrackMap& tracks = Ladder())
        : session(Session::Create()),
          tracker(boost::make_shared<MemoryTracker>(boost::weak_ptr<Session>(),
                                                    ByteAmount(memoryLimit))) {
        sink = boost::make_shared<StreamWords>();
        seeker = boost::make_shared<MediaSeeker>(session.get());
        source = boost::make_shared<DownloadSource>(session.get());
        seeker->SetMemoryTracker(tracker);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, seeker, source});
        session->SetComponentStack(stack);
        stack.Link();
        seeker->OnMediaTracks(tracks, true);
    }
    ~AdaptChain() { session->Stop(true); }

    // What the demultiplexer would pull.
    void Pull(uint32_t bytes) { seeker->PullData(ByteAmount(bytes)); }
    // Pulls until the seeker's drain cache is gone (every drained byte and marker handed on).
    void Drain() {
        for (int i = 0; i < 100 && seeker->GetMemoryCache(); ++i) Pull(1u << 20);
        ASSERT_FALSE(seeker->GetMemoryCache());
    }
    void ReportMediaTime(uint64_t microseconds) {
        seeker->MediaTimeAvailable(2, MediaTime(0), MediaTime(microseconds));
    }
    uint32_t Current() const {
        return seeker->GetCurrentTrack() ? seeker->GetCurrentTrack()->GetId().Get() : 0;
    }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<MemoryTracker> tracker;
    boost::shared_ptr<StreamWords> sink;
    boost::shared_ptr<MediaSeeker> seeker;
    boost::shared_ptr<DownloadSource> source;
};

// On track 1 from byte 0: 9000 bytes downloaded, 3000 of them handed on, the demultiplexer at
// 0 s, a bandwidth that fits track 3, and a budget of 8 s at track 1's rate.
void SetUpForUp(AdaptChain& chain) {
    chain.source->Download(9000);
    chain.Pull(3000);
    chain.ReportMediaTime(0);
    chain.seeker->BandwidthUpdate(ByteAmount(10000), true);
}

TEST(MediaSeekerAdaptationTest, UpSwitchDrainsTheOldTrackToTheSwitchPointBetweenTwoMarkers) {
    AdaptChain chain(8000);
    SetUpForUp(chain);
    ASSERT_EQ(1u, chain.Current());
    chain.sink->Clear();

    chain.seeker->PeriodicCheck();
    // 8000 B of budget at 1000 B/s: 8 s, below the 12 s switch window (10 s + one 2 s GOP).
    EXPECT_EQ(8 * kSecond, chain.seeker->GetAdaptationBufferTime());
    EXPECT_EQ(12 * kSecond, chain.seeker->GetSwitchWindow());
    // The front (9000) lies past the 8 s entry (8000): up, to track 3. The search walks back
    // from 12 s to the 8 s entry, the latest at or before the front; the next byte to reach
    // the demultiplexer is 3000, so bytes 3000..8000 of track 1 are drained, and track 3
    // continues from its own 8 s entry, 160000 + 8 * 6000, to its end.
    ASSERT_EQ(3u, chain.Current());
    EXPECT_TRUE(chain.seeker->IsAdapted());
    EXPECT_EQ(std::vector<std::string>({"208000-400000"}), chain.source->seeks);
    EXPECT_EQ(std::vector<bool>({true, false}), chain.source->limits)
        << "track 1 was limited, the fastest track is not";

    chain.source->Download(2500);
    chain.Drain();
    chain.Pull(1u << 20);
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 5000", "change 3 4", "data 2500"}),
              chain.sink->words);
    std::vector<uint8_t> expected = BytesOf(3000, 8000);
    const std::vector<uint8_t> fresh = BytesOf(208000, 210500);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    EXPECT_TRUE(expected == chain.sink->bytes) << "old bytes to the switch point, then the new";
    EXPECT_EQ(0u, chain.seeker->GetPendingChange()) << "no third marker";
}

TEST(MediaSeekerAdaptationTest, TheDrainNeverHandsOnMoreThanItHolds) {
    AdaptChain chain(8000);
    SetUpForUp(chain);
    chain.sink->Clear();
    chain.seeker->PeriodicCheck();
    ASSERT_TRUE(chain.seeker->GetMemoryCache());
    EXPECT_EQ(5000u, chain.seeker->GetBufferedBytes().Get()) << "the drained bytes, nothing new";
    // Pulls of 1 MiB while the new track has bytes: only the drained ones come out, and
    // nothing is asked of the source until they are out.
    chain.source->Download(4000);
    for (int i = 0; i < 4; ++i) {
        chain.Pull(1u << 20);
        EXPECT_EQ(208000u, chain.source->read) << "pull " << i;
    }
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 5000"}), chain.sink->words);
    // The closing marker alone still makes a pull happen, and the new bytes follow it.
    chain.Pull(1u << 20);
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 5000", "change 3 4"}),
              chain.sink->words);
    chain.Pull(1u << 20);
    chain.Pull(1u << 20);
    EXPECT_FALSE(chain.seeker->GetMemoryCache()) << "dropped once empty";
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 5000", "change 3 4", "data 4000"}),
              chain.sink->words);
}

TEST(MediaSeekerAdaptationTest, WhileDrainingTheSeekerWantsOnlyWhatTheDrainLacks) {
    AdaptChain chain(8000);
    SetUpForUp(chain);
    chain.source->greedy = true;
    chain.source->wanted.clear();
    chain.sink->Clear();
    chain.seeker->Adapt();
    ASSERT_EQ(3u, chain.Current());
    // The drain of 3000..8000 asked once, wanting exactly the 5000 bytes to the switch point:
    // a source that hands on all that is wanted stops there, and not one byte past it.
    EXPECT_EQ(std::vector<uint32_t>({5000}), chain.source->wanted);
    EXPECT_EQ(5000u, chain.seeker->GetBufferedBytes().Get());
    chain.Drain();
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 5000", "change 3 4"}),
              chain.sink->words);
    EXPECT_TRUE(BytesOf(3000, 8000) == chain.sink->bytes);
    // Steady again: the seeker wants what its consumer wants.
    EXPECT_EQ(0xFFFFFFFFu, chain.seeker->BytesWanted().Get());
}

TEST(MediaSeekerAdaptationTest, NoStepDuringTrickPlayWhileDrainingWhilePullIsSuspendedOrWhenOff) {
    {
        AdaptChain chain(8000);
        SetUpForUp(chain);
        chain.seeker->SetAdaptation(false);
        chain.seeker->PeriodicCheck();
        EXPECT_EQ(1u, chain.Current());
        EXPECT_EQ(0u, chain.seeker->GetSwitchWindow()) << "not even sized";
        chain.seeker->SetAdaptation(true);
        chain.seeker->PeriodicCheck();
        EXPECT_EQ(3u, chain.Current()) << "the same state adapts once turned on";
        // Draining: a second step leaves the drain alone.
        const std::vector<std::string> seeks = chain.source->seeks;
        chain.seeker->BandwidthUpdate(ByteAmount(100), true);
        chain.seeker->Adapt();
        EXPECT_EQ(3u, chain.Current());
        EXPECT_EQ(seeks, chain.source->seeks);
    }
    {
        AdaptChain chain(8000);
        SetUpForUp(chain);
        chain.session->GetTaskManager()->SetDropDataTasks();
        chain.seeker->Adapt();
        EXPECT_EQ(1u, chain.Current());
        EXPECT_EQ(0u, chain.seeker->GetSwitchWindow());
        chain.session->GetTaskManager()->ClearDropDataTasks();
        chain.seeker->Adapt();
        EXPECT_EQ(3u, chain.Current());
    }
    {
        StreamInfoMonitor::TrackMap tracks = Ladder();
        tracks[TrackId(4)] = EvenTrack(4, 400000, 500, 4);
        AdaptChain chain(8000, tracks);
        SetUpForUp(chain);
        ASSERT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(4), MediaTime(0)));
        ASSERT_EQ(4u, chain.Current());
        chain.source->Download(9000);
        const std::vector<std::string> seeks = chain.source->seeks;
        chain.seeker->Adapt();
        EXPECT_EQ(4u, chain.Current());
        EXPECT_EQ(seeks, chain.source->seeks);
        EXPECT_EQ(0u, chain.seeker->GetSwitchWindow());
    }
}

TEST(MediaSeekerAdaptationTest, OneTrackOrATrackWithoutByteRateTakesNoStep) {
    {
        StreamInfoMonitor::TrackMap one;
        one[TrackId(1)] = EvenTrack(1, 0, 1000);
        AdaptChain chain(8000, one);
        SetUpForUp(chain);
        chain.seeker->Adapt();
        EXPECT_EQ(0u, chain.seeker->GetSwitchWindow());
        EXPECT_TRUE(chain.source->seeks.empty());
    }
    {
        // Track 1 has an empty index (no bytes, no duration): its byte rate is 0, which would
        // size the adaptation buffer by a division by zero.
        StreamInfoMonitor::TrackMap tracks = Ladder();
        boost::shared_ptr<MediaTrack> empty = boost::make_shared<MediaTrack>();
        empty->SetId(TrackId(1));
        empty->SetVideo(true);
        empty->GetIndex().SetTimescale(kTicks);
        tracks[TrackId(1)] = empty;
        AdaptChain chain(8000, tracks);
        ASSERT_EQ(1u, chain.Current());
        ASSERT_EQ(0u, chain.seeker->GetCurrentTrack()->GetIndex().GetPeakByteRate().Get());
        chain.source->Download(9000);
        chain.seeker->BandwidthUpdate(ByteAmount(10000), true);
        chain.seeker->PeriodicCheck();
        EXPECT_EQ(1u, chain.Current());
        EXPECT_EQ(0u, chain.seeker->GetSwitchWindow()) << "the step is skipped";
        EXPECT_TRUE(chain.source->seeks.empty());
    }
}

TEST(MediaSeekerAdaptationTest, NearTheEndTheSearchWalksBackPastTheTracksEnd) {
    AdaptChain chain(8000);
    chain.source->Download(40000);  // all of track 1
    chain.Pull(35000);
    chain.ReportMediaTime(30 * kSecond);
    chain.seeker->BandwidthUpdate(ByteAmount(10000), true);
    chain.sink->Clear();
    chain.seeker->Adapt();
    // 30 s + 8 s is the 38 s entry (38000), before the front: up. The search starts at 42 s,
    // past the last entry, where the track ends; the last switch point is 38 s: bytes
    // 35000..38000 are drained and track 3 goes on from its 38 s entry, 160000 + 228000.
    ASSERT_EQ(3u, chain.Current());
    EXPECT_EQ(std::vector<std::string>({"388000-400000"}), chain.source->seeks);
    chain.Drain();
    EXPECT_EQ(std::vector<std::string>({"change 3 1", "data 3000", "change 3 4"}),
              chain.sink->words);
    EXPECT_TRUE(BytesOf(35000, 38000) == chain.sink->bytes);
}

TEST(MediaSeekerAdaptationTest, ABudgetBeyondTheSwitchWindowIsCappedAtIt) {
    AdaptChain chain(100000);  // 100 s at 1000 B/s
    SetUpForUp(chain);
    chain.seeker->BandwidthUpdate(ByteAmount(500), true);  // fits nothing: stay on track 1
    chain.seeker->Adapt();
    chain.seeker->Adapt();  // the buffer no longer grows: a slower track would be taken now
    EXPECT_EQ(12 * kSecond, chain.seeker->GetSwitchWindow());
    EXPECT_EQ(12 * kSecond, chain.seeker->GetAdaptationBufferTime());
    // The lowest track is current and nothing fits: no switch, nothing owed.
    EXPECT_EQ(1u, chain.Current());
    EXPECT_FALSE(chain.seeker->IsSwitchPending());
    EXPECT_TRUE(chain.source->seeks.empty());
}

// On track 3 (seeked to 0 s with no bandwidth known), 9 s of it downloaded (front 214000),
// the demultiplexer at 4 s, a budget of 10 s at 6000 B/s, and a bandwidth that fits track 2.
void SetUpForDown(AdaptChain& chain, uint64_t handedOn) {
    DefaultBandwidthScope unlimited(0xFFFFFFFFu);
    chain.seeker->Seek(MediaTime(0));
    ASSERT_EQ(3u, chain.Current());
    chain.source->Download(54000);
    chain.Pull(uint32_t(handedOn));
    chain.ReportMediaTime(4 * kSecond);
    chain.seeker->BandwidthUpdate(ByteAmount(3500), true);
    chain.source->seeks.clear();
    chain.sink->Clear();
}

TEST(MediaSeekerAdaptationTest, DownSwitchWaitsForABufferThatDoesNotGrow) {
    AdaptChain chain(60000);
    SetUpForDown(chain, 30000);  // read position 190000, 24000 bytes buffered
    chain.seeker->Adapt();
    // The first step has no earlier buffer level to compare with (0): the buffer grew.
    EXPECT_EQ(3u, chain.Current());
    EXPECT_EQ(24000u, chain.seeker->GetLastBufferedBytes().Get());
    chain.seeker->Adapt();
    // Now it did not grow: down to track 2. The window ends at 16 s (256000, past the front);
    // the latest entry at or before the front is 8 s (208000), after the read position: bytes
    // 190000..208000 are drained and track 2 continues from its 8 s entry, 40000 + 24000.
    ASSERT_EQ(2u, chain.Current());
    EXPECT_EQ(10 * kSecond, chain.seeker->GetAdaptationBufferTime());
    EXPECT_EQ(std::vector<std::string>({"64000-160000"}), chain.source->seeks);
    chain.Drain();
    EXPECT_EQ(std::vector<std::string>({"change 2 1", "data 18000", "change 2 4"}),
              chain.sink->words);
    EXPECT_TRUE(BytesOf(190000, 208000) == chain.sink->bytes);
}

TEST(MediaSeekerAdaptationTest, AnUnreachableSwitchPointIsOwedAndTheFrontGopHeldBack) {
    AdaptChain chain(60000);
    SetUpForDown(chain, 50000);  // read position 210000: past the 8 s entry at 208000
    chain.seeker->Adapt();
    chain.seeker->Adapt();
    EXPECT_EQ(3u, chain.Current());
    EXPECT_TRUE(chain.seeker->IsSwitchPending());
    EXPECT_TRUE(chain.source->seeks.empty());

    // The download crosses the 10 s entry (220000) to 226000. A large pull hands on only the
    // bytes before that entry: the group of pictures it starts waits for the switch.
    chain.source->Download(12000);
    chain.Pull(1u << 20);
    EXPECT_EQ(std::vector<std::string>({"data 10000"}), chain.sink->words);
    EXPECT_EQ(220000u, chain.source->read);
    chain.Pull(1u << 20);
    EXPECT_EQ(std::vector<std::string>({"data 10000"}), chain.sink->words) << "still held";

    // The next step switches right at that entry: nothing to drain, track 2 from its 10 s.
    chain.seeker->Adapt();
    ASSERT_EQ(2u, chain.Current());
    EXPECT_FALSE(chain.seeker->IsSwitchPending());
    EXPECT_EQ(std::vector<std::string>({"70000-160000"}), chain.source->seeks);
    chain.source->Download(3000);
    chain.Drain();
    chain.Pull(1u << 20);
    EXPECT_EQ(std::vector<std::string>({"data 10000", "change 2 1", "change 2 4", "data 3000"}),
              chain.sink->words);
    std::vector<uint8_t> expected = BytesOf(210000, 220000);
    const std::vector<uint8_t> fresh = BytesOf(70000, 73000);
    expected.insert(expected.end(), fresh.begin(), fresh.end());
    EXPECT_TRUE(expected == chain.sink->bytes);
}

TEST(MediaSeekerAdaptationTest, NothingIsOwedOnTheLowestTrackWhenItIsAlsoTheChosenOne) {
    for (const bool chosen : {false, true}) {
        AdaptChain chain(8000);
        chain.source->Download(3000);
        chain.Pull(2500);  // read 2500, front 3000: no entry between them
        chain.ReportMediaTime(2 * kSecond);
        chain.seeker->BandwidthUpdate(ByteAmount(10000), true);
        chain.seeker->Adapt();  // sizes the window
        if (chosen) chain.seeker->SelectTrack(TrackId(1));
        chain.seeker->SwitchToTrack(chain.seeker->GetTracks().at(TrackId(2)));
        EXPECT_EQ(1u, chain.Current());
        EXPECT_EQ(!chosen, chain.seeker->IsSwitchPending()) << "chosen " << chosen;
    }
}

TEST(MediaSeekerAdaptationTest, AManualChoiceSwitchesAtTheNextSwitchPointWithTypesTwoAndFive) {
    AdaptChain chain(8000);
    SetUpForUp(chain);
    chain.seeker->BandwidthUpdate(ByteAmount(500), true);  // the bandwidth alone would stay
    chain.seeker->SelectTrack(TrackId(2));
    chain.sink->Clear();
    chain.seeker->Adapt();
    ASSERT_EQ(2u, chain.Current());
    // The same switch point as the automatic switch up: 8 s; track 2's entry is 40000 + 24000.
    EXPECT_EQ(std::vector<std::string>({"64000-160000"}), chain.source->seeks);
    EXPECT_EQ(std::vector<bool>({true, false}), chain.source->limits) << "a choice is not limited";
    chain.Drain();
    EXPECT_EQ(std::vector<std::string>({"change 2 2", "data 5000", "change 2 5"}),
              chain.sink->words);
    // Once there, further steps leave it.
    chain.source->Download(30000);
    chain.seeker->Adapt();
    EXPECT_EQ(std::vector<std::string>({"64000-160000"}), chain.source->seeks);
}

// More than 4 GiB between the read position and the download front: the buffered count stops
// at its ceiling and no longer tells where the next byte to hand on lies. Draining from the
// position it suggests would stop short of the switch point and cut the group of pictures
// before it, so the switch waits until the count is exact again.
TEST(MediaSeekerAdaptationTest, ASaturatedBufferedCountLeavesTheSwitchOwed) {
    StreamInfoMonitor::TrackMap tracks;
    tracks[TrackId(1)] = EvenTrack(1, 0, 200000000);              // 8 GB over 40 s
    tracks[TrackId(2)] = EvenTrack(2, 8000000000ull, 100000000);  // 4 GB after it
    AdaptChain chain(8000, tracks);
    chain.ReportMediaTime(8 * kSecond);
    // 1000 bytes before the entry at 20 s (byte 4e9), the front past 4 GiB beyond the read.
    chain.source->read = 4000000000ull - 1000;
    chain.source->front = chain.source->read + 0xFFFFFFFFull + 500;
    chain.seeker->SelectTrack(TrackId(2));
    chain.sink->Clear();
    chain.seeker->Adapt();
    EXPECT_EQ(1u, chain.Current());
    EXPECT_TRUE(chain.source->seeks.empty());
    EXPECT_TRUE(chain.sink->words.empty());
    EXPECT_TRUE(chain.seeker->IsSwitchPending());
    // Once less than 4 GiB is ahead, the switch drains the 1000 bytes up to the switch point.
    chain.source->front = chain.source->read + 3000000000ull;
    chain.seeker->Adapt();
    EXPECT_EQ(2u, chain.Current());
    chain.Drain();
    ASSERT_FALSE(chain.sink->words.empty());
    EXPECT_EQ("change 2 2", chain.sink->words.front());
    EXPECT_EQ(std::vector<uint8_t>(BytesOf(4000000000ull - 1000, 4000000000ull)),
              std::vector<uint8_t>(chain.sink->bytes.begin(), chain.sink->bytes.begin() + 1000));
}

TEST(MediaSeekerAdaptationTest, AfterASwitchAThinBufferScalesTheBandwidthDown) {
    // bandwidth 3999: three quarters is 2999, below track 2's 3000 B/s; 4000 gives exactly
    // 3000, which still fits it.
    for (const uint32_t bandwidth : {3999u, 4000u}) {
        AdaptChain chain(24000);  // 24 s at track 1 (capped at 12 s), 8 s at track 2
        chain.source->Download(14000);
        chain.Pull(6000);
        chain.ReportMediaTime(0);
        chain.seeker->BandwidthUpdate(ByteAmount(bandwidth), true);
        chain.seeker->Adapt();
        // Up to track 2 (track 3 does not fit) at the 12 s entry, 40000 + 36000.
        ASSERT_EQ(2u, chain.Current());
        ASSERT_EQ(std::vector<std::string>({"76000-160000"}), chain.source->seeks);
        chain.Drain();
        chain.sink->Clear();

        // 2 s of track 2 buffered (6000 bytes, no more than at the last step), a quarter of
        // its 8 s adaptation buffer: the decision works with 0.5 + 2/8 of the bandwidth.
        chain.source->Download(6000);
        chain.ReportMediaTime(10 * kSecond);
        chain.seeker->Adapt();
        EXPECT_EQ(8 * kSecond, chain.seeker->GetAdaptationBufferTime());
        if (bandwidth == 3999u) {
            // Down to track 1. The front (82000) sits exactly on track 2's 14 s entry: the
            // group before it is whole, so the switch is there, after the 6000 bytes drained.
            EXPECT_EQ(1u, chain.Current());
            EXPECT_EQ(std::vector<std::string>({"76000-160000", "14000-40000"}),
                      chain.source->seeks);
            chain.Drain();
            EXPECT_EQ(std::vector<std::string>({"change 1 1", "data 6000", "change 1 4"}),
                      chain.sink->words);
        } else {
            EXPECT_EQ(2u, chain.Current());
            EXPECT_EQ(std::vector<std::string>({"76000-160000"}), chain.source->seeks);
        }
    }
}

TEST(MediaSeekerAdaptationTest, ASeekClearsTheOwedSwitchAndTheAdaptedState) {
    AdaptChain chain(8000);
    SetUpForUp(chain);
    chain.seeker->Adapt();
    ASSERT_TRUE(chain.seeker->IsAdapted());
    chain.Drain();
    chain.seeker->Seek(MediaTime(20 * kSecond));
    EXPECT_FALSE(chain.seeker->IsAdapted());
    EXPECT_FALSE(chain.seeker->IsSwitchPending());
}

}  // namespace
}  // namespace SarvelonMediaKit
