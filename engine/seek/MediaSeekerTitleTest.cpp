// The seeker in a real chain: file client -> seeker -> demultiplexer -> recording multiplexer,
// on titles made by the title maker. What the demultiplexer delivers after a seek is checked
// against ffprobe's reading of the transport streams the title was made from, and the byte
// the client restarts at against a plain scan of the title's packets; neither shares code with
// the engine's parser.

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/seek/MediaSeeker.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/RecordingSink.h"
#include "engine/seek/SeekChainTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using demuxtest::EventRecorder;
using demuxtest::ObservingStage;
using demuxtest::RecordingMux;
using SvTestSupport::Fixtures;

// A video packet as ffprobe reads it from a source transport stream: decode time in
// microseconds from the stream's earliest decode time (where the title maker starts its
// clock), and the key flag.
struct ProbedFrame {
    uint64_t time;
    bool key;
};

std::vector<ProbedFrame> ProbeVideo(const std::string& source) {
    struct Packet {
        bool video;
        uint64_t dts;
        bool key;
    };
    std::vector<Packet> packets;
    for (SvTestSupport::PacketFields& fields :
         SvTestSupport::ProbePackets(source, "codec_type,dts,flags")) {
        packets.push_back(Packet{fields["codec_type"] == "video", std::stoull(fields["dts"]),
                                 SvTestSupport::IsKeyPacket(fields)});
    }
    uint64_t base = UINT64_MAX;
    for (const Packet& p : packets) base = std::min(base, p.dts);
    std::vector<ProbedFrame> frames;
    for (const Packet& p : packets) {
        if (p.video) frames.push_back(ProbedFrame{(p.dts - base) * 100 / 9, p.key});  // 90 kHz
    }
    return frames;
}

// Index in decode order of the n-th key frame (0-based).
size_t NthKeyFrame(const std::vector<ProbedFrame>& frames, size_t n) {
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].key && n-- == 0) return i;
    }
    ADD_FAILURE() << "no key frame " << n;
    return frames.size();
}

// Counts the video access units whose data starts in the title before a byte position: the
// video PES packets (stream 0xE0) that carry a timestamp, found by walking the program
// stream's start codes (ISO/IEC 13818-1 pack headers and length-prefixed packets).
size_t VideoUnitsBefore(const std::string& path, uint64_t position) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    size_t count = 0;
    size_t at = 0;
    while (at + 6 <= bytes.size() && at < position) {
        if (bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 1) {
            ADD_FAILURE() << "no start code at " << at;
            return count;
        }
        const uint8_t code = bytes[at + 3];
        if (code == 0xB9) break;  // program end
        if (code == 0xBA) {       // pack header: 14 bytes and its stuffing
            if (at + 14 > bytes.size()) break;
            at += 14 + (bytes[at + 13] & 0x07);
            continue;
        }
        const size_t length = (size_t(bytes[at + 4]) << 8) | bytes[at + 5];
        // PES_header_data flags: PTS_DTS_flags in the top two bits of the eighth byte.
        if (code == 0xE0 && at + 8 < bytes.size() && (bytes[at + 7] & 0xC0) != 0) ++count;
        at += 6 + length;
    }
    return count;
}

// The entry of a track at or before a time: its number and byte position.
std::pair<uint32_t, uint64_t> EntryAtOrBefore(const MediaTrack& track, uint64_t microseconds) {
    const MediaTrackIndex& index = track.GetIndex();
    uint32_t found = 0;
    for (uint32_t i = 0; i < index.GetCount(); ++i) {
        if (index.TicksToMicroseconds(index.GetEntries()[i].time) <= microseconds) found = i;
    }
    return {found, index.GetEntries()[found].position};
}

// Checks the video samples delivered after a seek: they start with the key frame of entry
// number `entry` and run on, frame by frame, to the end of the rendition.
void ExpectVideoFromKeyFrame(const std::vector<std::pair<uint64_t, bool>>& got,
                             const std::vector<ProbedFrame>& probed, size_t entry) {
    const size_t first = NthKeyFrame(probed, entry);
    ASSERT_LT(first, probed.size());
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(got.front().second) << "the first video sample is a key frame";
    EXPECT_EQ(probed[first].time, got.front().first) << "and it is the entry's key frame";
    ASSERT_EQ(probed.size() - first, got.size()) << "every later frame, and no other";
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(probed[first + i].time, got[i].first) << "frame " << i;
        EXPECT_EQ(probed[first + i].key, got[i].second) << "frame " << i;
    }
}

TEST(MediaSeekerTitleTest, ASeekRestartsTheClientAtTheEntryAndDeliversItsKeyFrameFirst) {
    const std::string path = Fixtures::MakeTitle("seek-long.svm", {Fixtures::LongClip(), "{out}"});
    const std::vector<ProbedFrame> probed = ProbeVideo(Fixtures::LongClip());
    SeekChain chain(path);
    chain.Preload();
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    const boost::shared_ptr<MediaTrack> track = chain.seeker->GetCurrentTrack();
    EXPECT_EQ(1u, track->GetId().Get());
    chain.Pull(8);  // playback under way
    ASSERT_FALSE(chain.Video().empty());

    for (uint64_t time : {9500000u, 2000000u, 17900000u}) {
        SCOPED_TRACE(time);
        chain.mux->Forget();
        chain.stage->ClearLog();
        chain.session->SeekInTask(MediaTime(time));
        const std::pair<uint32_t, uint64_t> entry = EntryAtOrBefore(*track, time);
        const MediaTrackIndex& index = track->GetIndex();
        EXPECT_EQ(
            std::vector<std::string>{"seek file " + std::to_string(entry.second) + " " +
                                     std::to_string(index.GetOffset() + index.GetSize()) + " 1"},
            chain.stage->Log(SvTestSupport::RecordingStage::kSeekFilePosition));
        // The byte is where the entry's key frame starts: the frames before it in decode
        // order lie before it in the file.
        EXPECT_EQ(NthKeyFrame(probed, entry.first), VideoUnitsBefore(path, entry.second));
        chain.PullToEnd();
        ExpectVideoFromKeyFrame(chain.Video(), probed, entry.first);
        EXPECT_TRUE(chain.events.errors.empty());
    }
}

TEST(MediaSeekerTitleTest, ASeekOnAMultiRateTitleFetchesTheFastestRenditionOnly) {
    const std::string path = Fixtures::MultiRateTitle();
    const std::vector<std::string> sources = Fixtures::MultiRateClips();  // 150k, 300k, 600k
    SeekChain chain(path);
    chain.Preload();
    ASSERT_EQ(3u, chain.seeker->GetTracks().size());
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get()) << "the first rendition";
    chain.Pull(2);

    chain.mux->Forget();
    chain.stage->ClearLog();
    chain.session->SeekInTask(MediaTime(2500000));
    // A local file sets no bandwidth limit: the 600 kbit/s rendition, the third track.
    const boost::shared_ptr<MediaTrack> track = chain.seeker->GetCurrentTrack();
    ASSERT_TRUE(track);
    EXPECT_EQ(3u, track->GetId().Get());
    const std::pair<uint32_t, uint64_t> entry = EntryAtOrBefore(*track, 2500000);
    const MediaTrackIndex& index = track->GetIndex();
    EXPECT_EQ(std::vector<std::string>{"seek file " + std::to_string(entry.second) + " " +
                                       std::to_string(index.GetOffset() + index.GetSize()) + " 1"},
              chain.stage->Log(SvTestSupport::RecordingStage::kSeekFilePosition));
    chain.PullToEnd();
    // The demultiplexer followed the marker to the new rendition.
    ASSERT_FALSE(chain.events.changedTracks.empty());
    EXPECT_EQ(3u, chain.events.changedTracks.back());
    EXPECT_EQ(3u, chain.demux->GetCurrentTrack()->GetId().Get());
    // Only that rendition's frames, from the entry's key frame to its end.
    ExpectVideoFromKeyFrame(chain.Video(), ProbeVideo(sources[2]), entry.first);
    EXPECT_TRUE(chain.events.errors.empty());
}

// The renditions lie one after another in the title: a seek into the first or the second
// fetches that rendition and ends with it, never running on into the ones after it (whose
// frames would step back in time).
TEST(MediaSeekerTitleTest, ASeekIntoAnEarlierRenditionEndsWithThatRendition) {
    const std::string path = Fixtures::MultiRateTitle();
    const std::vector<std::string> sources = Fixtures::MultiRateClips();  // 150k, 300k, 600k
    for (uint32_t id : {1u, 2u}) {
        for (uint64_t time : {0u, 2500000u}) {
            SCOPED_TRACE(testing::Message() << "track " << id << " at " << time);
            SeekChain chain(path);
            chain.Preload();
            ASSERT_EQ(3u, chain.seeker->GetTracks().size());
            chain.seeker->DoSelectTrack(TrackId(id));
            chain.mux->Forget();
            chain.session->SeekInTask(MediaTime(time));
            const boost::shared_ptr<MediaTrack> track = chain.seeker->GetCurrentTrack();
            ASSERT_TRUE(track);
            ASSERT_EQ(id, track->GetId().Get());
            const std::pair<uint32_t, uint64_t> entry = EntryAtOrBefore(*track, time);
            chain.PullToEnd();
            ExpectVideoFromKeyFrame(chain.Video(), ProbeVideo(sources[id - 1]), entry.first);
            EXPECT_EQ(id, chain.demux->GetCurrentTrack()->GetId().Get());
            EXPECT_TRUE(chain.events.errors.empty());
        }
    }
}

// Starting the selected track from its start: the client delivers exactly that rendition's
// bytes and then the end, so the first rendition's frames arrive, all of them, and nothing of
// the two after it. The restart sends no time marker of its own, so a seek to 0 first clears
// what the preload read, as a chain that has not played yet holds nothing.
TEST(MediaSeekerTitleTest, StartSelectedTrackPlaysThatRenditionOnly) {
    const std::string path = Fixtures::MultiRateTitle();
    SeekChain chain(path);
    chain.Preload();
    chain.seeker->DoSelectTrack(TrackId(1));
    chain.session->SeekInTask(MediaTime(0));
    chain.seeker->DoSelectTrack(TrackId(0));  // back to automatic choice
    const boost::shared_ptr<MediaTrack> track = chain.seeker->GetCurrentTrack();
    ASSERT_TRUE(track);
    ASSERT_EQ(1u, track->GetId().Get());
    chain.mux->Forget();
    chain.stage->ClearLog();
    ASSERT_TRUE(chain.seeker->StartSelectedTrack());
    EXPECT_EQ(1u, chain.seeker->GetSelectedTrackId().Get());
    const MediaTrackIndex& index = track->GetIndex();
    EXPECT_EQ(std::vector<std::string>{"seek file " + std::to_string(index.GetOffset()) + " " +
                                       std::to_string(index.GetOffset() + index.GetSize()) + " 1"},
              chain.stage->Log(SvTestSupport::RecordingStage::kSeekFilePosition));
    chain.PullToEnd();

    uint64_t bytes = 0;
    for (const std::string& line : chain.stage->Log(SvTestSupport::RecordingStage::kData))
        bytes += std::stoull(line.substr(5));  // "data <size>"
    EXPECT_EQ(index.GetSize(), bytes) << "the rendition's bytes and no more";
    ExpectVideoFromKeyFrame(chain.Video(), ProbeVideo(Fixtures::MultiRateClips()[0]), 0);
    const size_t frames = chain.Video().size();
    chain.Pull(4);  // after the end, nothing more
    EXPECT_EQ(frames, chain.Video().size());
    EXPECT_TRUE(chain.events.errors.empty());
}

// A seek past the end of the title ends playback: the stream ends, without an error and
// without a frame.
TEST(MediaSeekerTitleTest, ASeekPastTheEndEndsTheStreamWithoutAnError) {
    const std::string path = Fixtures::MakeTitle("seek-long.svm", {Fixtures::LongClip(), "{out}"});
    SeekChain chain(path);
    chain.Preload();
    chain.Pull(4);
    ASSERT_FALSE(chain.Video().empty());
    chain.mux->Forget();
    chain.stage->ClearLog();
    chain.session->SeekInTask(MediaTime(30000000));  // the title runs 20 s
    EXPECT_TRUE(chain.stage->Log(SvTestSupport::RecordingStage::kSeekFilePosition).empty())
        << "the client is asked for nothing";
    chain.PullToEnd();
    chain.Pull(4);  // nothing of the bytes the client still holds follows the end
    EXPECT_EQ(1u, chain.mux->CountMarkers(MemoryMarkerTypeEndOfStream));
    EXPECT_TRUE(chain.Video().empty());
    EXPECT_TRUE(chain.events.errors.empty());
    // A seek back into the title plays again from its entry.
    chain.mux->Forget();
    chain.session->SeekInTask(MediaTime(17900000));
    chain.PullToEnd();
    const std::pair<uint32_t, uint64_t> entry =
        EntryAtOrBefore(*chain.seeker->GetCurrentTrack(), 17900000);
    ExpectVideoFromKeyFrame(chain.Video(), ProbeVideo(Fixtures::LongClip()), entry.first);
    EXPECT_TRUE(chain.events.errors.empty());
}

// The adaptation checks switch renditions at shared key frames: the three renditions of the
// adaptive title must rise in byte rate and share every index entry time, so the seeker's
// alignment of switch points has nothing to remove.
TEST(MediaSeekerTitleTest, TheAdaptiveRenditionsRiseInRateAndShareEverySwitchPoint) {
    SeekChain chain(Fixtures::AdaptiveTitle());
    chain.Preload();
    ASSERT_EQ(3u, chain.seeker->GetTracks().size());
    std::vector<uint32_t> rates;
    std::vector<std::vector<uint32_t>> times;
    for (const auto& entry : chain.seeker->GetTracks()) {
        const MediaTrackIndex& index = entry.second->GetIndex();
        EXPECT_TRUE(entry.second->HasVideo());
        EXPECT_EQ(0, entry.second->GetTrickPlayRate().Get());
        rates.push_back(index.GetPeakByteRate());
        times.emplace_back();
        for (uint32_t i = 0; i < index.GetCount(); ++i)
            times.back().push_back(index.GetEntries()[i].time);
    }
    EXPECT_LT(rates[0], rates[1]);
    EXPECT_LT(rates[1], rates[2]);
    // One entry per 2 s GOP over the whole clip.
    EXPECT_EQ(Fixtures::kAdaptiveClipSeconds / 2, times[0].size());
    EXPECT_EQ(times[0], times[1]);
    EXPECT_EQ(times[0], times[2]);
}

}  // namespace
}  // namespace SarvelonMediaKit
