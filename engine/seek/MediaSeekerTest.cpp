#include "engine/seek/MediaSeeker.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/Session.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/RecordingStage.h"
#include "tests/support/ChainBuilder.h"
#include "engine/seek/MediaSeekerTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::RecordingStage;

const uint32_t kIndexTicks = 90000;  // ticks per second of every synthetic index

// A track of a synthetic title: entries (seconds, byte position) on a 90 kHz timescale, the
// track's bytes running from offset to offset + size.
struct TrackSpec {
    uint32_t id;
    bool video;
    bool audio;
    int16_t trickRate;
    uint64_t offset;
    uint64_t size;
    uint32_t seconds;
    std::vector<std::pair<uint32_t, uint64_t>> entries;
};

boost::shared_ptr<MediaTrack> MakeTrack(const TrackSpec& spec) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(spec.id));
    track->SetVideo(spec.video);
    track->SetAudio(spec.audio);
    track->SetTrickPlayRate(spec.trickRate);
    MediaTrackIndex& index = track->GetIndex();
    index.SetTimescale(kIndexTicks);
    index.SetOffset(spec.offset);
    index.SetSize(spec.size);
    index.SetDuration(spec.seconds * kIndexTicks);
    EXPECT_TRUE(index.Reserve(static_cast<uint32_t>(spec.entries.size())));
    for (const auto& e : spec.entries) EXPECT_TRUE(index.AddEntry(e.first * kIndexTicks, e.second));
    return track;
}

// A video track of 10 s with an entry every 2 s, its bytes spread evenly: the mean and the
// peak rate are both size / 10 bytes per second.
TrackSpec EvenVideo(uint32_t id, uint64_t offset, uint64_t size, int16_t trickRate = 0) {
    TrackSpec spec{id, true, true, trickRate, offset, size, 10, {}};
    for (uint32_t s = 0; s < 10; s += 2) spec.entries.push_back({s, offset + size * s / 10});
    return spec;
}

StreamInfoMonitor::TrackMap MakeMap(const std::vector<TrackSpec>& specs) {
    StreamInfoMonitor::TrackMap map;
    for (const TrackSpec& spec : specs) map[TrackId(spec.id)] = MakeTrack(spec);
    return map;
}

std::vector<std::pair<uint32_t, uint64_t>> EntriesOf(const MediaTrack& track) {
    std::vector<std::pair<uint32_t, uint64_t>> entries;
    const MediaTrackIndex& index = track.GetIndex();
    for (uint32_t i = 0; i < index.GetCount(); ++i)
        entries.push_back(
            {index.GetEntries()[i].time / kIndexTicks, index.GetEntries()[i].position});
    return entries;
}

// The output end: keeps every marker with what it carries, as one word each:
// "change <track> <type>" or "time <microseconds> <track>".
class MarkerSink : public SvTestSupport::RecordingSink {
public:
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (const MemoryMarkerTrackChange* change =
                dynamic_cast<const MemoryMarkerTrackChange*>(marker.get())) {
            words.push_back("change " + std::to_string(change->GetTrack().Get()) + " " +
                            std::to_string(change->GetChangeType()));
        } else if (const MemoryMarkerMediaTimeSeek* seek =
                       dynamic_cast<const MemoryMarkerMediaTimeSeek*>(marker.get())) {
            words.push_back("time " + std::to_string(seek->GetMediaTime().Get()) + " " +
                            std::to_string(seek->GetTrack().Get()));
        }
        return RecordingSink::DoProcessMemoryMarker(marker);
    }
    std::vector<std::string> words;
};

// The source end: the recording stage plus its name and download limit.
class SourceStage : public RecordingStage {
public:
    explicit SourceStage(Session* session) : RecordingStage(session, "SourceStage") {}
    void DoSetName(const std::string& name, bool) override { names.push_back(name); }
    std::string DoGetName() override { return names.empty() ? std::string() : names.back(); }
    void DoSetDownloadLimited(bool limited) override { limits.push_back(limited); }
    // What it says it holds, so that a stage without a cache pulls it.
    ByteAmount DoGetBufferedBytes() override { return ByteAmount(buffered); }
    uint32_t buffered = 0;
    std::vector<std::string> names;
    std::vector<bool> limits;
};

// sink <- seeker <- source on a session whose queue the test runs (no pump).
struct SeekerChain {
    SeekerChain() : session(Session::Create()) {
        sink = boost::make_shared<MarkerSink>();
        seeker = boost::make_shared<MediaSeeker>(session.get());
        source = boost::make_shared<SourceStage>(session.get());
        ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, seeker, source});
        session->SetComponentStack(stack);
        stack.Link();
    }
    ~SeekerChain() { session->Stop(true); }

    // One pull through the seeker: emits a track-change marker that is due.
    void Pull() { seeker->PullData(ByteAmount(4096)); }
    std::vector<std::string> Seeks() const {
        return source->Log(RecordingStage::kSeekFilePosition);
    }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<MarkerSink> sink;
    boost::shared_ptr<MediaSeeker> seeker;
    boost::shared_ptr<SourceStage> source;
};

// Three normal-speed renditions (ids 1..3: 1000, 3000 and 2000 bytes per second), a forward
// and a reverse trick track at 4x, and an audio-only track.
std::vector<TrackSpec> LadderSpecs() {
    std::vector<TrackSpec> specs = {EvenVideo(1, 0, 10000), EvenVideo(2, 10000, 30000),
                                    EvenVideo(3, 40000, 20000), EvenVideo(4, 60000, 5000, 4),
                                    EvenVideo(5, 65000, 5000, -4)};
    specs.push_back(TrackSpec{6, false, true, 0, 70000, 1000, 10, {{0, 70000}, {5, 70500}}});
    return specs;
}

TEST(MediaSeekerTest, FirstTrackListChoosesTheFirstVideoTrackAndMarksItAtTheNextPull) {
    SeekerChain chain;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(1u, chain.seeker->GetLowestTrackId().Get());   // 1000 B/s
    EXPECT_EQ(2u, chain.seeker->GetHighestTrackId().Get());  // 3000 B/s
    // Rates over the whole track for the trick and audio tracks: size * timescale / duration.
    EXPECT_EQ(500u, chain.seeker->GetTracks().at(TrackId(4))->GetIndex().GetPeakByteRate());
    EXPECT_EQ(100u, chain.seeker->GetTracks().at(TrackId(6))->GetIndex().GetPeakByteRate());
    EXPECT_TRUE(chain.sink->words.empty()) << "the marker waits for data to follow it";
    chain.Pull();
    EXPECT_EQ(std::vector<std::string>{"change 1 6"}, chain.sink->words);
    chain.Pull();
    EXPECT_EQ(1u, chain.sink->words.size()) << "one marker per change";
    // Track 1 is not the fastest and the choice is automatic: downloads are limited.
    EXPECT_EQ(std::vector<bool>{true}, chain.source->limits);
    EXPECT_EQ("SarvelonMediaKit::MediaSeeker", chain.seeker->GetTypeName());
    EXPECT_FALSE(chain.seeker->KnowCurrentLoadedFilePosition());
}

TEST(MediaSeekerTest, SeekByTimeRestartsTheSourceAtTheEntryAndMarksTheTime) {
    DefaultBandwidthScope bandwidth(0xFFFFFFFFu);
    SeekerChain chain;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.Pull();
    chain.sink->words.clear();

    chain.seeker->Seek(MediaTime(5500000));
    // No bandwidth report yet: the default (no limit) picks the fastest rendition, track 2,
    // whose entry at or before 5.5 s is the one at 4 s, byte 10000 + 30000 * 4 / 10.
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(2u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(std::vector<std::string>{"seek file 22000 40000 1"}, chain.Seeks())
        << "the download ends with the track";
    EXPECT_EQ(std::vector<std::string>{"position 22000 1"},
              chain.source->Log(RecordingStage::kPosition));
    EXPECT_EQ(std::vector<std::string>{"time 4000000 2"}, chain.sink->words);
    chain.Pull();
    EXPECT_EQ(std::vector<std::string>({"time 4000000 2", "change 2 4"}), chain.sink->words);
    // The fastest track in automatic mode is fetched without a limit.
    EXPECT_EQ(std::vector<bool>({true, false}), chain.source->limits);
}

TEST(MediaSeekerTest, SwitchPointsAreAlignedOnlyWhereTheTracksDiffer) {
    // Identical entry times: every index stays as it was.
    {
        MediaSeeker seeker(nullptr);
        const StreamInfoMonitor::TrackMap map = MakeMap(LadderSpecs());
        const MediaTrackIndex::Entry* before = map.at(TrackId(2))->GetIndex().GetEntries();
        seeker.OnMediaTracks(map, true);
        EXPECT_EQ(5u, map.at(TrackId(1))->GetIndex().GetCount());
        EXPECT_EQ(5u, map.at(TrackId(2))->GetIndex().GetCount());
        EXPECT_EQ(before, map.at(TrackId(2))->GetIndex().GetEntries()) << "not even rebuilt";
    }
    // One extra entry (at 3 s) in the second rendition: only that entry goes; the trick and
    // audio tracks, whose entries differ anyway, are not touched.
    std::vector<TrackSpec> specs = LadderSpecs();
    specs[1].entries.insert(specs[1].entries.begin() + 2, {3, 19000});
    specs[4].entries = {{0, 65000}, {1, 65100}};
    const std::vector<std::pair<uint32_t, uint64_t>> aligned = {
        {0, 10000}, {2, 16000}, {4, 22000}, {6, 28000}, {8, 34000}};
    {
        MediaSeeker seeker(nullptr);
        const StreamInfoMonitor::TrackMap map = MakeMap(specs);
        seeker.OnMediaTracks(map, true);
        EXPECT_EQ(aligned, EntriesOf(*map.at(TrackId(2))));
        EXPECT_EQ(5u, map.at(TrackId(1))->GetIndex().GetCount());
        EXPECT_EQ(5u, map.at(TrackId(3))->GetIndex().GetCount());
        EXPECT_EQ(2u, map.at(TrackId(5))->GetIndex().GetCount());
        EXPECT_EQ(2u, map.at(TrackId(6))->GetIndex().GetCount());
    }
    // The extra entry in the current track (the first rendition) goes from it too.
    {
        std::vector<TrackSpec> first = LadderSpecs();
        first[0].entries.push_back({9, 9500});
        MediaSeeker seeker(nullptr);
        const StreamInfoMonitor::TrackMap map = MakeMap(first);
        seeker.OnMediaTracks(map, true);
        EXPECT_EQ(5u, map.at(TrackId(1))->GetIndex().GetCount());
        EXPECT_EQ(8u * kIndexTicks, map.at(TrackId(1))->GetIndex().GetEntries()[4].time);
    }
    // Not while the list is incomplete, nor when alignment is off.
    for (int incomplete = 0; incomplete < 2; ++incomplete) {
        MediaSeeker seeker(nullptr);
        seeker.SetAlignSwitchPoints(incomplete == 0);
        const StreamInfoMonitor::TrackMap map = MakeMap(specs);
        seeker.OnMediaTracks(map, incomplete == 0 ? false : true);
        EXPECT_EQ(6u, map.at(TrackId(2))->GetIndex().GetCount());
    }
}

TEST(MediaSeekerTest, WithoutVideoTheFirstAudioTrackIsCurrentAndNothingIsAligned) {
    MediaSeeker seeker(nullptr);
    const StreamInfoMonitor::TrackMap map =
        MakeMap({TrackSpec{1, false, false, 0, 0, 100, 10, {{0, 0}}},  // neither: a text track
                 TrackSpec{2, false, true, 0, 100, 1000, 10, {{0, 100}, {5, 600}}},
                 TrackSpec{3, false, true, 0, 1100, 2000, 10, {{0, 1100}, {2, 1500}, {4, 1900}}}});
    seeker.OnMediaTracks(map, true);
    ASSERT_TRUE(seeker.GetCurrentTrack());
    EXPECT_EQ(2u, seeker.GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(uint32_t(MediaSeeker::ChangeFirstTrack), seeker.GetPendingChange());
    EXPECT_EQ(0u, seeker.GetLowestTrackId().Get());
    EXPECT_EQ(2u, map.at(TrackId(2))->GetIndex().GetCount());
    EXPECT_EQ(3u, map.at(TrackId(3))->GetIndex().GetCount());
    // Trick play needs a video track: refused, the audio track stays current.
    EXPECT_FALSE(seeker.DoTrickPlay(TrickPlayRate(4), MediaTime(0)));
    EXPECT_EQ(2u, seeker.GetCurrentTrack()->GetId().Get());
    // A list without any usable track leaves none current.
    seeker.OnMediaTracks(MakeMap({TrackSpec{1, false, false, 0, 0, 100, 10, {{0, 0}}}}), true);
    EXPECT_FALSE(seeker.GetCurrentTrack());
    EXPECT_FALSE(seeker.StartSelectedTrack());
}

TEST(MediaSeekerTest, TiesKeepTheLowerTrackId) {
    MediaSeeker seeker(nullptr);
    // Two renditions and two forward trick tracks of equal rates (1000 B/s, 500 B/s).
    seeker.OnMediaTracks(MakeMap({EvenVideo(1, 0, 10000), EvenVideo(2, 10000, 10000),
                                  EvenVideo(3, 20000, 5000, 4), EvenVideo(4, 25000, 5000, 8)}),
                         true);
    EXPECT_EQ(1u, seeker.GetLowestTrackId().Get());
    EXPECT_EQ(1u, seeker.GetHighestTrackId().Get());
    for (uint32_t bandwidth : {0u, 1000u, 0xFFFFFFFFu}) {
        const boost::shared_ptr<MediaTrack> normal =
            seeker.SelectTrackForBandwidth(ByteAmount(bandwidth), MediaTime(0), TrickPlayRate(0));
        ASSERT_TRUE(normal) << bandwidth;
        EXPECT_EQ(1u, normal->GetId().Get()) << bandwidth;
    }
    // The magnitude of a trick rate is not compared, only its sign: both are candidates, and
    // with room for both (budget 4000 / 4) the first wins the tie; with none (budget 0) the
    // first is also the slowest.
    for (uint32_t bandwidth : {0u, 4000u}) {
        const boost::shared_ptr<MediaTrack> trick =
            seeker.SelectTrackForBandwidth(ByteAmount(bandwidth), MediaTime(0), TrickPlayRate(4));
        ASSERT_TRUE(trick) << bandwidth;
        EXPECT_EQ(3u, trick->GetId().Get()) << bandwidth;
    }
    EXPECT_FALSE(seeker.SelectTrackForBandwidth(ByteAmount(4000), MediaTime(0), TrickPlayRate(-2)))
        << "no reverse track";
}

TEST(MediaSeekerTest, BandwidthDecidesTheRendition) {
    MediaSeeker seeker(nullptr);
    seeker.OnMediaTracks(MakeMap(LadderSpecs()), true);
    const struct {
        uint32_t bandwidth;
        uint32_t track;
    } cases[] = {
        {50, 1},    // fits none: the lowest-rate video track
        {999, 6},   // only the audio-only track (100 B/s) fits: it counts as a rendition
        {1000, 1},  // exactly the rate fits
        {2500, 3},  // 2000 B/s fits, 3000 does not
        {3000, 2},  // the fastest
        {0, 2},     // no measurement: unlimited
    };
    for (const auto& c : cases) {
        const boost::shared_ptr<MediaTrack> track =
            seeker.SelectTrackForBandwidth(ByteAmount(c.bandwidth), MediaTime(0), TrickPlayRate(0));
        ASSERT_TRUE(track) << c.bandwidth;
        EXPECT_EQ(c.track, track->GetId().Get()) << c.bandwidth;
    }
}

TEST(MediaSeekerTest, ManualSelectionKeepsKnownTracksOnly) {
    MediaSeeker seeker(nullptr);
    seeker.OnMediaTracks(MakeMap(LadderSpecs()), true);
    seeker.DoSelectTrack(TrackId(99));
    EXPECT_EQ(0u, seeker.GetSelectedTrackId().Get()) << "unknown id ignored";
    seeker.DoSelectTrack(TrackId(3));
    EXPECT_EQ(3u, seeker.GetSelectedTrackId().Get());
    seeker.DoSelectTrack(TrackId(99));
    EXPECT_EQ(3u, seeker.GetSelectedTrackId().Get()) << "an unknown id keeps the selection";
    // The selection wins over any bandwidth.
    EXPECT_EQ(
        3u, seeker.SelectTrackForBandwidth(ByteAmount(0xFFFFFFFFu), MediaTime(0), TrickPlayRate(0))
                ->GetId()
                .Get());
    seeker.DoSelectTrack(TrackId(0));
    EXPECT_EQ(0u, seeker.GetSelectedTrackId().Get()) << "0 with a current video track: automatic";

    // A selected id that a new track list no longer has is dropped at the next choice.
    seeker.DoSelectTrack(TrackId(3));
    std::vector<TrackSpec> fewer = LadderSpecs();
    fewer.erase(fewer.begin() + 2);
    seeker.OnMediaTracks(MakeMap(fewer), true);
    EXPECT_EQ(3u, seeker.GetSelectedTrackId().Get());
    const boost::shared_ptr<MediaTrack> chosen =
        seeker.SelectTrackForBandwidth(ByteAmount(1500), MediaTime(0), TrickPlayRate(0));
    EXPECT_EQ(0u, seeker.GetSelectedTrackId().Get());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(1u, chosen->GetId().Get());

    // Without a current video track, 0 is not a track and changes nothing.
    MediaSeeker audio(nullptr);
    audio.OnMediaTracks(MakeMap({TrackSpec{2, false, true, 0, 0, 1000, 10, {{0, 0}}}}), true);
    audio.DoSelectTrack(TrackId(2));
    audio.DoSelectTrack(TrackId(0));
    EXPECT_EQ(2u, audio.GetSelectedTrackId().Get());
}

TEST(MediaSeekerTest, TrickPlayChoosesATrackOfTheDirection) {
    SeekerChain chain;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.Pull();
    chain.sink->words.clear();

    // No bandwidth report: bandwidth 0, the slowest forward trick track (the only one here).
    EXPECT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(4), MediaTime(3000000)));
    EXPECT_EQ(4u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(4, chain.seeker->GetTrickRate().Get());
    // Forward rounds up: the entry at 4 s of the trick track, 60000 + 5000 * 4 / 10.
    EXPECT_EQ(std::vector<std::string>{"seek file 62000 65000 1"}, chain.Seeks());
    chain.Pull();
    EXPECT_EQ(std::vector<std::string>({"time 4000000 4", "change 4 7"}), chain.sink->words);

    // 4 -> 2 without a time: only the rate changes.
    EXPECT_FALSE(
        chain.seeker->TrickPlay(TrickPlayRate(2), MediaTime(MediaSeeker::kInvalidMediaTime)));
    EXPECT_EQ(2, chain.seeker->GetTrickRate().Get());
    EXPECT_EQ(4u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(1u, chain.Seeks().size());

    // Reverse: the time counts from the end of the reverse track (10 s - 3 s = 7 s, rounded
    // down to the entry at 6 s).
    EXPECT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(-4), MediaTime(3000000)));
    EXPECT_EQ(5u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ("seek file 68000 70000 1", chain.Seeks().back());
}

TEST(MediaSeekerTest, TrickPlayWithoutATrackOfTheDirectionChangesNothing) {
    SeekerChain chain;
    std::vector<TrackSpec> specs = LadderSpecs();
    specs.erase(specs.begin() + 4);  // no reverse track
    chain.seeker->OnMediaTracks(MakeMap(specs), true);
    EXPECT_FALSE(chain.seeker->TrickPlay(TrickPlayRate(-4), MediaTime(1000000)));
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(0, chain.seeker->GetTrickRate().Get());
    EXPECT_TRUE(chain.Seeks().empty());

    // Before any track list there is nothing to play.
    MediaSeeker empty(nullptr);
    EXPECT_FALSE(empty.DoTrickPlay(TrickPlayRate(4), MediaTime(0)));
    EXPECT_FALSE(empty.DoTrickPlay(TrickPlayRate(0), MediaTime(0)));
}

TEST(MediaSeekerTest, LeavingReversePlayRestartsEarlyOrResumesAtTheNextEntry) {
    const struct {
        uint64_t time;
        const char* seek;
        const char* marker;
    } cases[] = {
        // At 3 s: back to the start.
        {3000000, "seek file 0 10000 1", "time 0 1"},
        // At 6 s: the entry at or after 6 s; on an entry it is that entry.
        {6000000, "seek file 6000 10000 1", "time 6000000 1"},
        // At 6.5 s: rounded up to 8 s.
        {6500000, "seek file 8000 10000 1", "time 8000000 1"},
    };
    for (const auto& c : cases) {
        SeekerChain chain;
        chain.seeker->BandwidthUpdate(ByteAmount(1500), true);  // 80 %: track 1 only
        chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
        ASSERT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(-4), MediaTime(0)));
        chain.sink->words.clear();
        EXPECT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(0), MediaTime(c.time))) << c.time;
        EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
        EXPECT_EQ(0, chain.seeker->GetTrickRate().Get());
        EXPECT_EQ(c.seek, chain.Seeks().back()) << c.time;
        ASSERT_FALSE(chain.sink->words.empty());
        EXPECT_EQ(c.marker, chain.sink->words.front()) << c.time;
    }
}

TEST(MediaSeekerTest, ReversePlayPastTheEndStartsAtTheReverseTracksStart) {
    SeekerChain chain;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    // 12 s is past the 10 s reverse track: its time 0, not a wrapped-around huge time.
    EXPECT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(-4), MediaTime(12000000)));
    EXPECT_EQ("seek file 65000 70000 1", chain.Seeks().back());
    chain.Pull();
    EXPECT_EQ("time 0 5", chain.sink->words.front());
    // No time: the last media time that the demultiplexer reported, as it is.
    chain.seeker->MediaTimeAvailable(2, MediaTime(1), MediaTime(4100000));
    EXPECT_EQ(4100000u, chain.seeker->GetLastMediaTime().Get());
    EXPECT_TRUE(
        chain.seeker->TrickPlay(TrickPlayRate(4), MediaTime(MediaSeeker::kInvalidMediaTime)));
    EXPECT_EQ("seek file 63000 65000 1", chain.Seeks().back()) << "4.1 s rounded up to 6 s";
}

TEST(MediaSeekerTest, ByteSeeksAreBoundedToTheCurrentTrack) {
    SeekerChain chain;
    chain.seeker->SeekFilePosition(BytePosition(100), BytePosition(0), true);
    EXPECT_EQ("seek file 100 0 1", chain.Seeks().back()) << "no track: passed on as it is";
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.seeker->SeekFilePosition(BytePosition(100), BytePosition(0), false);
    EXPECT_EQ("seek file 100 10000 0", chain.Seeks().back());
    chain.seeker->SeekFilePosition(BytePosition(100), BytePosition(500), true);
    EXPECT_EQ("seek file 100 500 1", chain.Seeks().back()) << "an end given is kept";
    // A track whose index has no size leaves the end open.
    chain.seeker->OnMediaTracks(MakeMap({TrackSpec{1, true, false, 0, 0, 0, 10, {{0, 0}}}}), true);
    chain.seeker->SeekFilePosition(BytePosition(7), BytePosition(0), true);
    EXPECT_EQ("seek file 7 0 1", chain.Seeks().back());
}

TEST(MediaSeekerTest, SeeksUseEightyPercentOfTheMeasuredBandwidth) {
    SeekerChain chain;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.seeker->BandwidthUpdate(ByteAmount(3000), true);
    EXPECT_EQ(3000u, chain.seeker->GetBandwidth().Get());
    chain.seeker->Seek(MediaTime(0));
    // 2400 B/s for the choice: track 3 (2000), not track 2 (3000).
    EXPECT_EQ(3u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ("seek file 40000 60000 1", chain.Seeks().back());

    // A manual choice is kept and marked as such.
    chain.seeker->DoSelectTrack(TrackId(2));
    chain.Pull();
    chain.sink->words.clear();
    chain.seeker->Seek(MediaTime(2000000));
    chain.Pull();
    EXPECT_EQ(std::vector<std::string>({"time 2000000 2", "change 2 5"}), chain.sink->words);
    EXPECT_FALSE(chain.source->limits.back()) << "a manual choice is never limited";
}

// A measured trickle is still a measurement: 80 % of 1 B/s is not "unmeasured" (0), which
// would pick the fastest rendition, but the least there is, which picks the slowest.
TEST(MediaSeekerTest, ATrickleOfBandwidthPicksTheSlowestRendition) {
    DefaultBandwidthScope bandwidth(0xFFFFFFFFu);
    for (uint32_t measured : {1u, 2u}) {
        SeekerChain chain;
        chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
        chain.seeker->BandwidthUpdate(ByteAmount(measured), true);
        chain.seeker->Seek(MediaTime(0));
        ASSERT_TRUE(chain.seeker->GetCurrentTrack());
        EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get()) << measured << " B/s";
        EXPECT_EQ("seek file 0 10000 1", chain.Seeks().back());
    }
}

// A reposition whose time snaps to the end of the track (past the duration, or forward past
// the last entry) ends the stream in the seeker: the time marker, then the end marker, and
// the source is not sent to the empty range at the track's end. The next seek plays again.
TEST(MediaSeekerTest, ARepositionPastTheEndEndsTheStream) {
    DefaultBandwidthScope bandwidth(0xFFFFFFFFu);
    SeekerChain chain;
    chain.source->buffered = 1000;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.Pull();
    chain.sink->words.clear();

    chain.seeker->Seek(MediaTime(12000000));  // the tracks run 10 s
    EXPECT_EQ(2u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_TRUE(chain.Seeks().empty()) << "no empty range is asked for";
    EXPECT_EQ(std::vector<std::string>{"position 40000 1"},
              chain.source->Log(RecordingStage::kPosition))
        << "the caches are still moved off the old bytes";
    EXPECT_EQ(std::vector<std::string>{"time 10000000 2"}, chain.sink->words)
        << "the time snapped to the duration";
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    EXPECT_EQ(0u, chain.seeker->GetBufferedBytes().Get());
    const int pulls = chain.source->Count(RecordingStage::kPull);
    chain.Pull();
    EXPECT_EQ(pulls, chain.source->Count(RecordingStage::kPull)) << "nothing after the end";
    EXPECT_EQ(1u, chain.sink->words.size()) << "the track change waits for the next bytes";

    // Back inside: the source is restarted and the due change comes with the next pull.
    chain.seeker->Seek(MediaTime(2000000));
    EXPECT_EQ(std::vector<std::string>{"seek file 16000 40000 1"}, chain.Seeks());
    chain.Pull();
    EXPECT_EQ(std::vector<std::string>({"time 10000000 2", "time 2000000 2", "change 2 4"}),
              chain.sink->words);
    EXPECT_EQ(pulls + 1, chain.source->Count(RecordingStage::kPull));

    // Forward trick play rounds 9 s up past the last entry (8 s) of the 4x track: the end too.
    chain.sink->words.clear();
    EXPECT_TRUE(chain.seeker->TrickPlay(TrickPlayRate(4), MediaTime(9000000)));
    EXPECT_EQ(4u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(1u, chain.Seeks().size());
    EXPECT_EQ(std::vector<std::string>{"time 10000000 4"}, chain.sink->words);
    EXPECT_EQ(2u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    // A byte seek from the consumer also starts the stream again.
    chain.seeker->SeekFilePosition(BytePosition(61000), BytePosition(0), true);
    EXPECT_EQ("seek file 61000 65000 1", chain.Seeks().back());
    EXPECT_EQ(1000u, chain.seeker->GetBufferedBytes().Get());
    chain.Pull();
    EXPECT_EQ(pulls + 2, chain.source->Count(RecordingStage::kPull));
}

// What the source hands the seeker as it would: a data chunk, or a marker.
void FromSource(SeekerChain& chain, uint32_t bytes) { chain.seeker->Add(MemoryChunk(bytes, 0, 0)); }
void EndOfData(SeekerChain& chain) {
    chain.seeker->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>()));
}

// The data and the two end markers that reached the sink, in order: "D<size>", "end of stream",
// "end of data".
std::vector<std::string> Ends(const MarkerSink& sink) {
    std::vector<std::string> words;
    for (const SvTestSupport::RecordingSink::Entry& entry : sink.entries) {
        if (!entry.isMarker) {
            words.push_back("D" + std::to_string(entry.bytes.size()));
        } else if (entry.markerType == MemoryMarkerTypeEndOfStream) {
            words.push_back("end of stream");
        } else if (entry.markerType == MemoryMarkerTypeEndOfData) {
            words.push_back("end of data");
        }
    }
    return words;
}

// A download's end of data ends the range's stream: one end-of-stream marker behind the
// range's bytes in its place, however often the end of data comes, and nothing of the source
// after it, neither pulled nor handed on. A seek starts the stream again, to its own end.
TEST(MediaSeekerTest, TheEndOfARangesDataEndsTheStreamOnceAndNothingFollows) {
    DefaultBandwidthScope bandwidth(0xFFFFFFFFu);
    SeekerChain chain;
    chain.source->buffered = 1000;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.seeker->Seek(MediaTime(2000000));
    ASSERT_EQ(std::vector<std::string>{"seek file 16000 40000 1"}, chain.Seeks());
    chain.sink->Clear();

    FromSource(chain, 100);
    FromSource(chain, 20);
    EndOfData(chain);
    EXPECT_EQ(std::vector<std::string>({"D100", "D20", "end of stream"}), Ends(*chain.sink))
        << "the end of the stream in place of the end of data, which goes no further";
    EndOfData(chain);
    FromSource(chain, 30);  // whatever the source still sends after its end
    EXPECT_EQ(std::vector<std::string>({"D100", "D20", "end of stream"}), Ends(*chain.sink));
    EXPECT_EQ(0u, chain.seeker->GetBufferedBytes().Get());
    const int pulls = chain.source->Count(RecordingStage::kPull);
    chain.Pull();
    EXPECT_EQ(pulls, chain.source->Count(RecordingStage::kPull)) << "nothing pulled after the end";
    EXPECT_EQ(3u, Ends(*chain.sink).size());

    // A seek re-arms it: the new range's bytes pass and its own end of data ends it again.
    chain.seeker->Seek(MediaTime(6000000));
    EXPECT_EQ("seek file 28000 40000 1", chain.Seeks().back());
    EXPECT_EQ(1000u, chain.seeker->GetBufferedBytes().Get());
    chain.Pull();
    EXPECT_EQ(pulls + 1, chain.source->Count(RecordingStage::kPull));
    FromSource(chain, 40);
    EndOfData(chain);
    EndOfData(chain);
    EXPECT_EQ(std::vector<std::string>({"D100", "D20", "end of stream", "D40", "end of stream"}),
              Ends(*chain.sink));
}

// A reposition replaces a transfer that has not ended yet, or one that has: an end of data of
// the old transfer still on its way arrives before the first byte of the new range and must
// not end the new range's stream, which would stop its output at the start.
TEST(MediaSeekerTest, ALateEndOfDataOfAReplacedTransferEndsNothing) {
    DefaultBandwidthScope bandwidth(0xFFFFFFFFu);
    SeekerChain chain;
    chain.source->buffered = 1000;
    chain.seeker->OnMediaTracks(MakeMap(LadderSpecs()), true);
    chain.seeker->Seek(MediaTime(2000000));
    chain.sink->Clear();
    FromSource(chain, 100);

    chain.seeker->Seek(MediaTime(4000000));  // the first transfer is still running
    EndOfData(chain);                        // ... and its end comes late
    EXPECT_EQ(std::vector<std::string>{"D100"}, Ends(*chain.sink));
    FromSource(chain, 60);
    EndOfData(chain);
    EXPECT_EQ(std::vector<std::string>({"D100", "D60", "end of stream"}), Ends(*chain.sink));

    // The same after a range that ended: its end of data comes a second time after the seek.
    chain.seeker->Seek(MediaTime(0));
    EndOfData(chain);
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    FromSource(chain, 10);
    EXPECT_EQ("D10", Ends(*chain.sink).back()) << "the new range's bytes still pass";

    // And after a reposition past the end, whose end-of-stream marker the seeker sent itself.
    chain.seeker->Seek(MediaTime(12000000));
    EXPECT_EQ(2u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    EndOfData(chain);
    EXPECT_EQ(2u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    EXPECT_EQ(0u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

// Before the seeker has asked for any range, the source's own download (the whole resource)
// is the range; a range that holds no byte ends with its end of data alone.
TEST(MediaSeekerTest, TheSourcesOwnDownloadAndAnEmptyRangeEndTooAtTheirEndOfData) {
    SeekerChain chain;
    EndOfData(chain);
    EXPECT_EQ(std::vector<std::string>{"end of stream"}, Ends(*chain.sink));
    chain.seeker->SeekFilePosition(BytePosition(5000), BytePosition(5000), true);
    EndOfData(chain);
    EXPECT_EQ(std::vector<std::string>({"end of stream", "end of stream"}), Ends(*chain.sink));
    chain.seeker->SeekFilePosition(BytePosition(5000), BytePosition(6000), true);
    EndOfData(chain);
    EXPECT_EQ(2u, Ends(*chain.sink).size()) << "1000 bytes asked for, none came yet";
}

TEST(MediaSeekerTest, ANamedRenditionRenamesTheSourceOnlyWhenItDiffers) {
    SeekerChain chain;
    chain.source->names.push_back("a.svm");  // the name the source was opened with
    std::vector<TrackSpec> specs = {EvenVideo(1, 0, 10000), EvenVideo(2, 0, 30000)};
    StreamInfoMonitor::TrackMap map = MakeMap(specs);
    map.at(TrackId(1))->SetSource("a.svm");
    map.at(TrackId(2))->SetSource("b.svm");
    chain.seeker->OnMediaTracks(map, true);
    EXPECT_EQ(std::vector<std::string>{"a.svm"}, chain.source->names) << "already open";
    chain.seeker->Seek(MediaTime(0));  // default bandwidth: the faster, in b.svm
    EXPECT_EQ(std::vector<std::string>({"a.svm", "b.svm"}), chain.source->names);
    // The same file as a URL is the same rendition.
    map.at(TrackId(1))->SetSource("file://b.svm");
    chain.seeker->DoSelectTrack(TrackId(1));
    chain.seeker->Seek(MediaTime(0));
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(2u, chain.source->names.size());
}

TEST(MediaSeekerTest, StartSelectedTrackFixesTheCurrentTrackAndFetchesItsStart) {
    SeekerChain chain;
    chain.seeker->OnMediaTracks(
        MakeMap({TrackSpec{7, false, true, 0, 5000, 1000, 10, {{0, 5000}, {5, 5500}}}}), true);
    EXPECT_TRUE(chain.seeker->StartSelectedTrack());
    EXPECT_EQ(7u, chain.seeker->GetSelectedTrackId().Get());
    EXPECT_EQ(std::vector<std::string>{"seek file 5000 6000 1"}, chain.Seeks());
}

TEST(MediaSeekerTest, PredictionRatesTheStretchAhead) {
    MediaSeeker seeker(nullptr);
    seeker.SetUsePrediction(true);
    // 60 s renditions, entries every 10 s. Track 1 holds 1000 B/s throughout; track 2 holds
    // 500 B/s for its first 30 s and 3000 B/s after: mean 1750 B/s.
    TrackSpec steady{1, true, false, 0, 0, 60000, 60, {}};
    TrackSpec late{2, true, false, 0, 60000, 105000, 60, {}};
    for (uint32_t s = 0; s < 60; s += 10) {
        steady.entries.push_back({s, s * 1000});
        late.entries.push_back({s, 60000 + (s <= 30 ? s * 500 : 15000 + (s - 30) * 3000)});
    }
    seeker.OnMediaTracks(MakeMap({steady, late}), true);
    EXPECT_EQ(1750u, seeker.GetTracks().at(TrackId(2))->GetIndex().GetPeakByteRate());
    // At 0 s, 1200 B/s: track 2's next 30 s need 500 B/s, track 1's 1000; the higher wins.
    boost::shared_ptr<MediaTrack> chosen =
        seeker.SelectTrackForBandwidth(ByteAmount(1200), MediaTime(0), TrickPlayRate(0));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(1u, chosen->GetId().Get());
    chosen = seeker.SelectTrackForBandwidth(ByteAmount(600), MediaTime(0), TrickPlayRate(0));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(2u, chosen->GetId().Get()) << "only track 2's stretch ahead fits";
    // At 30 s track 2 needs 3000 B/s over the next 30 s (to its end): it no longer fits.
    chosen =
        seeker.SelectTrackForBandwidth(ByteAmount(2000), MediaTime(30000000), TrickPlayRate(0));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(1u, chosen->GetId().Get());
}

TEST(MediaSeekerTest, ReportsAreKeptAsTheyCome) {
    MediaSeeker seeker(nullptr);
    seeker.MediaTimeAvailable(1, MediaTime(900), MediaTime(700));
    EXPECT_EQ(700u, seeker.GetLastMediaTime().Get());
    seeker.MediaTimeAvailable(2, MediaTime(100), MediaTime(50));
    EXPECT_EQ(50u, seeker.GetLastMediaTime().Get()) << "whatever the previous value";
    seeker.BandwidthUpdate(ByteAmount(12345), false);
    EXPECT_EQ(12345u, seeker.GetBandwidth().Get());
}

}  // namespace
}  // namespace SarvelonMediaKit
