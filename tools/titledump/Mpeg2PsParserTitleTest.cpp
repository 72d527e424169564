// The parser over a whole title made by the title maker: the same reports however the bytes
// are cut, and trick play written back as packs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "SVLibrary/Util/ByteOrder.h"
#include "SVLibrary/Util/Sha256.h"
#include "engine/demux/IndexDigestTestSupport.h"
#include "engine/demux/Mpeg2PsParserTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace ParserTest;
using SvTestSupport::Fixtures;

const Bytes& ChapterTitleBytes() {
    static const Bytes bytes = SvTestSupport::ReadFileBytes(Fixtures::MakeTitle(
        "dump-chapters.svm", {"--chapter", "0:Opening", "--chapter", "2.5:Second half",
                              Fixtures::ShortClip(), "{out}"}));
    return bytes;
}

// Every report of a demultiplexing parser over the title, then its chapters.
std::vector<std::string> EventLog(const Bytes& title, const std::vector<size_t>& pieces) {
    RecordingParser parser(true);
    parser.Feed(title, pieces);
    std::vector<std::string> log = parser.log;
    for (const Mpeg2PsParser::Chapter& c : parser.GetHeaderSection().GetChapters()) {
        log.push_back("chapter " + std::to_string(c.time) + " " + c.title + " " +
                      std::to_string(c.thumbnailPosition) + "+" + std::to_string(c.thumbnailSize));
    }
    return log;
}

TEST(Mpeg2PsParserTitleTest, EveryCutGivesTheSameEventLog) {
    const Bytes& title = ChapterTitleBytes();
    ASSERT_GT(title.size(), 10000u);
    const std::vector<std::string> whole = EventLog(title, {});
    // A track, the chapters, some hundreds of samples and the program end.
    ASSERT_GT(whole.size(), 250u);
    EXPECT_EQ(0u, whole.front().rfind("track ", 0)) << whole.front();
    EXPECT_EQ("chapter 225000 Second half", whole.back().substr(0, 26));

    std::mt19937 random(7);
    std::vector<size_t> randomPieces;
    for (int i = 0; i < 500; ++i) {
        randomPieces.push_back(1 + random() % 3000);
    }
    EXPECT_EQ(whole, EventLog(title, {1}));
    EXPECT_EQ(whole, EventLog(title, {7}));
    EXPECT_EQ(whole, EventLog(title, randomPieces));
}

TEST(Mpeg2PsParserTitleTest, SplitIndexEntriesGiveTheSameTrack) {
    // Index entries cut into 40-byte private stream 2 packets read as one entry each.
    const Bytes split = SvTestSupport::ReadFileBytes(Fixtures::MakeTitle(
        "dump-split.svm", {"--split-index", "40", Fixtures::ShortClip(), "{out}"}));
    const Bytes plain = SvTestSupport::ReadFileBytes(Fixtures::ShortTitle());
    RecordingParser a(true);
    RecordingParser b(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, a.Feed(split, {13}));
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, b.Feed(plain, {}));
    ASSERT_EQ(1u, a.tracks.size());
    ASSERT_EQ(1u, b.tracks.size());
    // The same track (but for where its data start: the split header is longer) and the same
    // samples.
    EXPECT_EQ(b.tracks[0]->GetIndex().GetCount(), a.tracks[0]->GetIndex().GetCount());
    EXPECT_EQ(b.tracks[0]->GetIndex().GetDuration(), a.tracks[0]->GetIndex().GetDuration());
    EXPECT_EQ(320u, a.tracks[0]->GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_VideoWidth, 0));
    EXPECT_EQ(std::vector<std::string>(b.log.begin() + 1, b.log.end()),
              std::vector<std::string>(a.log.begin() + 1, a.log.end()));
}

Bytes Sha256Of(const std::vector<Bytes>& pieces) {
    SV::Sha256Context context;
    Bytes digest(SV::kSha256DigestLength);
    EXPECT_EQ(1, SV::Sha256Init(&context));
    for (const Bytes& piece : pieces) {
        EXPECT_EQ(1, SV::Sha256Update(&context, piece.data(), static_cast<uint32_t>(piece.size())));
    }
    EXPECT_EQ(1, SV::Sha256Final(digest.data(), &context));
    return digest;
}

TEST(Mpeg2PsParserTitleTest, IndexDigestCoversTheEntriesAsTheyWereFed) {
    // One entry in one packet: the digest of the entry's bytes.
    const Bytes plain = SvTestSupport::ReadFileBytes(Fixtures::ShortTitle());
    const std::vector<Bytes> plainPackets = test::IndexPackets(plain);
    ASSERT_EQ(1u, plainPackets.size());
    RecordingParser a(true);
    a.GetHeaderSection().SetHashEnabled(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, a.Feed(plain, {7}));
    EXPECT_EQ(Sha256Of(plainPackets), a.GetHeaderSection().GetIndexDigest());

    // One entry over several packets: at each packet's end the whole buffer so far is fed.
    const Bytes split = SvTestSupport::ReadFileBytes(Fixtures::MakeTitle(
        "dump-split.svm", {"--split-index", "40", Fixtures::ShortClip(), "{out}"}));
    const std::vector<Bytes> splitPackets = test::IndexPackets(split);
    ASSERT_GT(splitPackets.size(), 2u);
    std::vector<Bytes> fed;
    Bytes buffer;
    for (const Bytes& packet : splitPackets) {
        Append(buffer, packet);
        fed.push_back(buffer);
    }
    RecordingParser b(true);
    b.GetHeaderSection().SetHashEnabled(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, b.Feed(split, {}));
    EXPECT_EQ(Sha256Of(fed), b.GetHeaderSection().GetIndexDigest());

    // Without the hash switched on there is no digest.
    RecordingParser c(true);
    c.Feed(plain, {});
    EXPECT_TRUE(c.GetHeaderSection().GetIndexDigest().empty());
}

TEST(Mpeg2PsParserTitleTest, TrickPlayWritesKeyFramesAtTheFrameStepWithSilentAudio) {
    const Bytes& title = ChapterTitleBytes();
    RecordingParser parser(false);
    // A first pass reads the track (as the demultiplexer does before it plays).
    ASSERT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(title, {}));
    ASSERT_EQ(1u, parser.tracks.size());
    const boost::shared_ptr<MediaTrack> track = parser.tracks[0];
    const uint32_t frameStep = track->GetIndex().GetFrameDuration();
    ASSERT_EQ(3600u, frameStep);  // 25 frames per second

    parser.SetSelectedTrack(track);
    parser.GetTrickPlay().SetFlags(Mpeg2PsTrickPlayWriter::SilentAudio);
    parser.GetTrickPlay().SetRate(4, true);
    parser.Reset(false);
    parser.output.clear();
    parser.outputChunks.clear();
    std::vector<Bytes> handedOn;  // the bytes of each chunk as it was handed on
    ASSERT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(title, {4096}));

    std::vector<uint64_t> videoPts, packScr;
    std::vector<Bytes> audioPayloads;
    size_t offset = 0;
    for (const MemoryChunk& chunk : parser.outputChunks) {
        // The chunk still holds what was handed on: later copies did not rewrite it.
        const Bytes now = FromChunk(chunk);
        ASSERT_LE(offset + now.size(), parser.output.size());
        EXPECT_TRUE(std::equal(now.begin(), now.end(), parser.output.begin() + offset));
        offset += now.size();
        ASSERT_GE(now.size(), 4u);
        if (now[3] == 0xBA) {
            packScr.push_back(PackScr(now));
        } else if (now[3] == 0xE0 && (now[7] & 0x80)) {
            videoPts.push_back(PesPts(now));
        } else if (now[3] == 0xC0) {
            audioPayloads.push_back(Bytes(now.begin() + 9 + now[8], now.end()));
        }
    }
    // The first pack carries the system header and the map that the output needs.
    ASSERT_FALSE(parser.outputChunks.empty());
    const Bytes first = FromChunk(parser.outputChunks.front());
    ASSERT_GT(first.size(), 18u);
    EXPECT_EQ(0xBB, first[17]);

    // The key frame of the second GOP (2 s in) is played for 2 s / 4 = 0.5 s: 13 copies of
    // 40 ms, their PTS one frame step apart, one pack each.
    ASSERT_GE(videoPts.size(), 12u);
    EXPECT_EQ(videoPts.size(), packScr.size());
    for (size_t i = 1; i < videoPts.size(); ++i) {
        EXPECT_EQ(frameStep, videoPts[i] - videoPts[i - 1]) << i;
        EXPECT_EQ(uint64_t(frameStep) * 300, packScr[i] - packScr[i - 1]) << i;
    }

    // Silent stereo AAC at 48 kHz fills the time: ADTS header (LC, index 3, two channels,
    // 17 bytes, buffer fullness 0x7FF) and the silent block.
    const Bytes silent{0xFF, 0xF1, 0x4C, 0xB0, 0x02, 0x3F, 0xFC, 0x21, 0x0B,
                       0xD0, 0x00, 0x7E, 0x00, 0x00, 0x3F, 0x01, 0xC0};
    ASSERT_FALSE(audioPayloads.empty());
    for (const Bytes& payload : audioPayloads) {
        EXPECT_EQ(silent, payload);
    }
    // About as many 1024-sample frames as the output lasts.
    const double seconds = videoPts.size() * frameStep / 90000.0;
    EXPECT_NEAR(seconds * 48000 / 1024, static_cast<double>(audioPayloads.size()), 2.0);
}

TEST(Mpeg2PsParserTitleTest, TrickPlayWithoutTrackOrWithUnsupportedAudioStops) {
    const Bytes& title = ChapterTitleBytes();
    {
        RecordingParser parser(false);
        parser.GetTrickPlay().SetRate(4, true);
        EXPECT_EQ(Mpeg2PsResult::NoSelectedTrack, parser.Feed(title, {}));
    }
    {
        // A track whose ES descriptor says 3 channels: no silent frame for it.
        RecordingParser parser(false);
        boost::shared_ptr<MediaTrack> track(new MediaTrack);
        const Bytes es{0x03, 0x19, 0x00, 0xC0, 0x00,  // ES_ID 0xC0, no flags
                       0x04, 0x11, 0x40, 0x15, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 13 fixed
                       0x05, 0x02, 0x11, 0x98,  // LC, 48 kHz, 3 ch
                       0x06, 0x01, 0x02};
        track->GetInfo().SetValue(TrackInfoKey_AudioEsDescriptor, SV::SVTypedValue(es));
        parser.SetSelectedTrack(track);
        parser.GetTrickPlay().SetFlags(Mpeg2PsTrickPlayWriter::SilentAudio);
        parser.GetTrickPlay().SetRate(-4, true);
        EXPECT_EQ(Mpeg2PsResult::UnsupportedAudio, parser.Feed(title, {}));
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
