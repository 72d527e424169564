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

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::RecordingStage;

const uint32_t kTicks = 90000;  // ticks per second of every synthetic index

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
    index.SetTimescale(kTicks);
    index.SetOffset(spec.offset);
    index.SetSize(spec.size);
    index.SetDuration(spec.seconds * kTicks);
    EXPECT_TRUE(index.Reserve(static_cast<uint32_t>(spec.entries.size())));
    for (const auto& e : spec.entries) EXPECT_TRUE(index.AddEntry(e.first * kTicks, e.second));
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
        entries.push_back({index.GetEntries()[i].time / kTicks, index.GetEntries()[i].position});
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
    std::vector<std::string> names;
    std::vector<bool> limits;
};

// sink <- seeker <- source on a session whose queue the test runs (no pump).
struct SeekerChain {
    SeekerChain() : session(Session::Create()) {
        sink = boost::make_shared<MarkerSink>();
        seeker = boost::make_shared<MediaSeeker>(session.get());
        source = boost::make_shared<SourceStage>(session.get());
        ComponentStack stack(StackIdMain);
        stack.AddComponent(sink);
        stack.AddComponent(seeker);
        stack.AddComponent(source);
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

class DefaultBandwidthScope {
public:
    explicit DefaultBandwidthScope(uint32_t bandwidth) : saved_(GetDefaultBandwidth()) {
        SetDefaultBandwidth(ByteAmount(bandwidth));
    }
    ~DefaultBandwidthScope() { SetDefaultBandwidth(saved_); }

private:
    ByteAmount saved_;
};

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
}  // namespace
}  // namespace SarvelonMediaKit
