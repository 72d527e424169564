// Trick play as the player screen gets it: a title started through the bridge and served as HLS
// on a loopback port, then switched to a trick-play rate through the engine's trick-play entry.
// What is served afterwards is read by outside programs (ffprobe, ffmpeg) and by the tools'
// independent transport-stream reader, and compared with the clips the renditions were made of.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestFixture.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "engine/api/Transformer.h"
#include "engine/core/Session.h"
#include "engine/serve/ListeningPort.h"
#include "tests/support/Fixtures.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"
#include "common/TsReader.h"
#include "tests/support/TestLabels.h"

namespace {

using namespace BridgeTestSupport;
using SarvelonMediaKit::MediaTime;
using SarvelonMediaKit::SViOsApiState;
using SarvelonMediaKit::SVMediaTransformerSession;
using SarvelonMediaKit::TrickPlayRate;
using SvTestSupport::Fixtures;
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;
using SvTestSupport::RunProgram;

// Segments the title's complete playlist names: 20 s in groups of 2 s.
const uint32_t kListedSegments = 10;

// What the independent reader finds in one served segment.
struct SegmentView {
    uint32_t number = 0;
    std::string bytes;
    bool mapSeen = false;
    uint8_t mapVersion = 0;
    bool audioInMap = false;    // the PMT lists an audio stream
    bool audioPackets = false;  // packets on the audio PID
    size_t videoPes = 0;
};

SegmentView ReadSegment(uint32_t number, const std::string& bytes) {
    SegmentView view;
    view.number = number;
    view.bytes = bytes;
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    for (const SvTools::TsProgram& program : reader.Programs()) {
        if (!program.mapSeen) continue;
        view.mapSeen = true;
        view.mapVersion = program.mapVersion;
        for (const SvTools::TsStreamInfo& stream : program.streams) {
            view.audioInMap = view.audioInMap || stream.pid == kAudioPid;
        }
    }
    view.audioPackets = reader.PacketsPerPid().count(kAudioPid) != 0;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.pid == kVideoPid) ++view.videoPes;
    }
    return view;
}

// The hashes of the decoded pictures of a media file, in order (ffmpeg's framemd5 listing,
// written to listingPath so that no message of ffmpeg's mixes in).
std::vector<std::string> PictureHashes(const std::string& path, const std::string& listingPath) {
    std::string messages;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-map", "0:v",
                             "-f", "framemd5", listingPath},
                            &messages))
        << messages;
    std::ifstream in(listingPath);
    std::vector<std::string> hashes;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
        while (!hashes.back().empty() && hashes.back()[0] == ' ') hashes.back().erase(0, 1);
    }
    return hashes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class SViOsApiTrickPlayTest : public SViOsApiTestFixture {
protected:
    // Plays the trick title with sound through the bridge, reads two segments at normal speed,
    // asks for `rate` and reads on to the end of the playlist. Checks what the segments after the
    // change hold; `source` is the clip the rendition of that rate was made from.
    void PlayThenTrick(int16_t rate, const std::string& source);
};

void SViOsApiTrickPlayTest::PlayThenTrick(int16_t rate, const std::string& source) {
    const std::string titlePath = Fixtures::TrickAudioTitle();
    const std::string root = titlePath.substr(0, titlePath.rfind('/'));
    const std::string title = titlePath.substr(titlePath.rfind('/') + 1);
    std::string url;
    const uint16_t port = PlayFromRoot(root, title, &url);
    ASSERT_NE(0, port);
    const HttpAnswer list = AwaitPlaylist(port, url);
    ASSERT_EQ(200, list.status);
    ASSERT_NE(std::string::npos, list.body.find((std::to_string(kListedSegments - 1) + ".ts\n")))
        << list.body;

    // Two groups at normal speed: pictures with sound.
    std::vector<SegmentView> before;
    for (uint32_t n = 0; n < 2; ++n) {
        const HttpAnswer segment = HttpGet(port, std::to_string(n) + ".ts");
        ASSERT_EQ(200, segment.status) << n;
        before.push_back(ReadSegment(n, segment.body));
        ASSERT_TRUE(before.back().mapSeen) << n;
        // Otherwise the check for no audio below could not fail.
        ASSERT_TRUE(before.back().audioInMap) << n;
        ASSERT_TRUE(before.back().audioPackets) << n;
    }

    // The trick-play entry of the running playback, from where it stands.
    const boost::shared_ptr<SVMediaTransformerSession> session =
        SVMediaTransformerSession::Find(SViOsApiState::Instance().GetSession());
    ASSERT_TRUE(session);
    const boost::shared_ptr<SarvelonMediaKit::Transformer> transformer = session->GetTransformer();
    ASSERT_TRUE(transformer);
    ASSERT_TRUE(transformer->GetSession());
    transformer->GetSession()->TrickPlay(TrickPlayRate(rate),
                                         MediaTime(std::numeric_limits<uint64_t>::max()));

    // Segments cut before the change (one read ahead, and the group being written) still go
    // out as they were; from the first one with a new program map on, every one is trick play.
    std::vector<SegmentView> after;
    bool changed = false;
    size_t leftover = 0;
    for (uint32_t n = 2; n < kListedSegments; ++n) {
        const HttpAnswer segment = HttpGet(port, std::to_string(n) + ".ts");
        ASSERT_EQ(200, segment.status) << n;
        ASSERT_TRUE(segment.complete) << n;
        const SegmentView view = ReadSegment(n, segment.body);
        ASSERT_TRUE(view.mapSeen) << n;
        if (!changed && view.mapVersion == before.back().mapVersion) {
            ++leftover;
            continue;
        }
        changed = true;
        after.push_back(view);
    }
    // How many were cut before the change was heard depends on how far ahead the chain ran
    // meanwhile; the start checked below allows for each of them.
    ASSERT_GE(after.size(), 4u) << "trick-play segments served after " << leftover
                                << " of normal play";

    std::vector<std::string> served;
    for (const SegmentView& view : after) {
        SCOPED_TRACE("segment " + std::to_string(view.number));
        // A new program map, numbered after the one before, listing no audio, and no audio.
        EXPECT_EQ(uint8_t((before.back().mapVersion + 1) & 0x1F), view.mapVersion);
        EXPECT_FALSE(view.audioInMap);
        EXPECT_FALSE(view.audioPackets);
        EXPECT_GE(view.videoPes, 1u);
        // Key frames only, as ffprobe sees the packets.
        const std::string file = tmp_.File("segment" + std::to_string(view.number) + ".ts");
        WriteFile(file, view.bytes);
        const std::vector<SvTestSupport::PacketFields> packets =
            SvTestSupport::ProbePackets(file, "codec_type,dts,flags");
        ASSERT_FALSE(packets.empty());
        for (const SvTestSupport::PacketFields& packet : packets) {
            EXPECT_EQ("video", packet.at("codec_type"));
            EXPECT_TRUE(SvTestSupport::IsKeyPacket(packet)) << packet.at("flags");
        }
        const std::vector<std::string> hashes = PictureHashes(file, file + ".md5");
        served.insert(served.end(), hashes.begin(), hashes.end());
    }

    // The pictures are the rendition's own, one after another in its order: forward through
    // the title for a positive rate, backward for a negative one (that clip runs reversed).
    const std::vector<std::string> clip = PictureHashes(source, tmp_.File("clip.md5"));
    ASSERT_EQ(Fixtures::kTrickClipFrames / 4, clip.size());
    ASSERT_GE(served.size(), after.size());
    const auto first = std::find(clip.begin(), clip.end(), served.front());
    ASSERT_NE(clip.end(), first) << "a picture not of the rendition";
    const size_t at = size_t(first - clip.begin());
    ASSERT_LE(at + served.size(), clip.size());
    for (size_t i = 0; i < served.size(); ++i) {
        EXPECT_EQ(clip[at + i], served[i]) << "picture " << i << " after the change";
    }
    // It starts where normal play stood: picture i of a trick clip is picture 4 x i of the 25
    // fps title counted from its start (rate 4) or from its last picture, 496 (rate -4). Play
    // stood past the start of the last segment read before the change (2 s), and at most one
    // group (2 s) past the end of those cut before it was heard.
    const size_t titlePicture = rate > 0 ? 4 * at : 4 * (clip.size() - 1 - at);
    const double seconds = double(titlePicture) / 25.0;
    EXPECT_GE(seconds, 2.0) << "picture " << at << " of the rendition";
    EXPECT_LE(seconds, 2.0 * double(2 + leftover) + 2.0) << "picture " << at << " of the rendition";
    EXPECT_EQ(SV_Stop(), 0);
}

SV_SUITE_LABEL(SViOsApiTrickPlayTest, e2e);  // checked with outside clients
TEST_F(SViOsApiTrickPlayTest, RateFourServesTheForwardRenditionsKeyFramesWithoutAudio) {
    PlayThenTrick(4, Fixtures::TrickClips()[1]);
}

TEST_F(SViOsApiTrickPlayTest, RateMinusFourServesTheReverseRenditionsKeyFramesWithoutAudio) {
    PlayThenTrick(-4, Fixtures::TrickClips()[2]);
}

}  // namespace
