// svremux --ps on fixture titles: outside tools must read the program stream it writes, and the
// pictures and audio frames must come out byte for byte as they went into the title.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace {

using SvTestSupport::CopiedStream;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

// The system header of the first pack for H.264 video with the given audio stream id (0xC0
// for ADTS AAC, 0xBD for E-AC-3 behind HD-DVD private data).
std::vector<uint8_t> SystemHeader(uint8_t audioStreamId) {
    return {
        0x00,          0x00, 0x01, 0xBB,  // system_header_start_code
        0x00,          0x0F,              // header_length 15
        0x80,          0x11, 0xE7,        // marker, rate_bound 2291, marker
        0x04,                             // audio_bound 1, fixed_flag 0, CSPS_flag 0
        0xE1,                             // audio and video lock, marker, video_bound 1
        0x7F,                             // packet_rate_restriction_flag 0, reserved
        0xBC,          0xE0, 0x01,        // the stream map: scale 1, bound 1
        0xE0,          0xE0, 0xF4,        // video: scale 1, bound 244
        audioStreamId, 0xC0, 0x4B,        // audio: scale 0, bound 75
    };
}

class SvremuxPsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir{"svremux-ps"};
    const std::string out = dir.File("out.mpg");
};

SV_SUITE_LABEL(SvremuxPsTest, e2e);  // checked with outside clients
TEST_F(SvremuxPsTest, ATitleBecomesAProgramStreamThatToolsReadWithItsStreamsIntact) {
    const struct {
        std::string title;
        std::string clip;
        std::string audio;  // ffmpeg's name of the audio bitstream format
        std::string codec;  // ffprobe's name of the audio codec
        uint8_t audioStreamId;
    } cases[] = {{Fixtures::ShortTitle(), Fixtures::ShortClip(), "adts", "aac", 0xC0},
                 {Fixtures::Eac3Title(), Fixtures::Eac3Clip(), "eac3", "eac3", 0xBD}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string report;
        ASSERT_EQ(0, RunProgram({SV_SVREMUX_PATH, "--ps", c.title, "-o", out}, &report)) << report;
        EXPECT_EQ("", report);

        std::string probe;
        ASSERT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-show_entries",
                                 "format=format_name:stream=codec_type,codec_name", "-of",
                                 "default=nw=1", out},
                                &probe))
            << probe;
        EXPECT_NE(std::string::npos, probe.find("format_name=mpeg\n")) << probe;
        EXPECT_NE(std::string::npos, probe.find("codec_name=h264\ncodec_type=video")) << probe;
        EXPECT_NE(std::string::npos, probe.find("codec_name=" + c.codec + "\ncodec_type=audio"))
            << probe;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", out, "-map",
                                 "0", "-c", "copy", "-f", "null", "-"},
                                &report))
            << report;

        const std::vector<uint8_t> bytes = SvTestSupport::ReadFileBytes(out);
        ASSERT_GT(bytes.size(), 14u + 21u);
        // The pack header, then the system header of the first pack.
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA}),
                  std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
        EXPECT_EQ(SystemHeader(c.audioStreamId),
                  std::vector<uint8_t>(bytes.begin() + 14, bytes.begin() + 14 + 21));
        // MPEG_program_end_code closes the stream.
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB9}),
                  std::vector<uint8_t>(bytes.end() - 4, bytes.end()));

        SvTestSupport::ExpectStreamsOf(c.clip, out, c.audio, dir.File("copied"));
    }
}

// An MPEG-4 descriptor (ISO/IEC 14496-1, 8.3.3): a tag, a size of one to four bytes of seven
// bits each (the top bit says another follows), then that many bytes. Empty when the tag is
// another or the size runs past the bytes.
std::vector<uint8_t> Mpeg4Descriptor(const std::vector<uint8_t>& bytes, size_t& at, uint8_t tag) {
    if (at >= bytes.size() || bytes[at] != tag) return {};
    ++at;
    size_t size = 0;
    for (int i = 0; i < 4 && at < bytes.size(); ++i) {
        const uint8_t b = bytes[at++];
        size = (size << 7) | (b & 0x7F);
        if ((b & 0x80) == 0) break;
    }
    if (at + size > bytes.size()) return {};
    const std::vector<uint8_t> body(bytes.begin() + at, bytes.begin() + at + size);
    at += size;
    return body;
}

// The AudioSpecificConfig in the program stream map's initial object descriptor, read here on
// its own (ISO/IEC 13818-1 2.5.4 program_stream_map, 2.6.39 IOD_descriptor; ISO/IEC 14496-1
// InitialObjectDescriptor, ES_Descriptor, DecoderConfigDescriptor, DecoderSpecificInfo).
// Empty when the map holds none; infoLength receives program_stream_info_length.
std::vector<uint8_t> StreamMapAudioConfig(const std::vector<uint8_t>& ps, size_t& infoLength) {
    infoLength = 0;
    size_t map = 0;
    while (map + 12 <= ps.size() &&
           !(ps[map] == 0 && ps[map + 1] == 0 && ps[map + 2] == 1 && ps[map + 3] == 0xBC)) {
        ++map;
    }
    if (map + 12 > ps.size()) return {};
    // start code (4), program_stream_map_length (2), current_next and version (1), marker (1),
    // then 6 reserved bits and the 10-bit program_stream_info_length.
    infoLength = ((ps[map + 8] & 0x03) << 8) | ps[map + 9];
    if (map + 10 + infoLength > ps.size()) return {};
    const std::vector<uint8_t> info(ps.begin() + map + 10, ps.begin() + map + 10 + infoLength);
    for (size_t at = 0; at + 2 <= info.size(); at += 2 + info[at + 1]) {
        if (info[at] != 0x1D || at + 2 + info[at + 1] > info.size()) continue;  // IOD_descriptor
        // Scope_of_IOD_label and IOD_label, then the InitialObjectDescriptor.
        const std::vector<uint8_t> iod(info.begin() + at + 4, info.begin() + at + 2 + info[at + 1]);
        size_t pos = 0;
        const std::vector<uint8_t> initial = Mpeg4Descriptor(iod, pos, 0x02);
        // ObjectDescriptorID with its flags (2, no URL), five profile and level indications.
        pos = 7;
        const std::vector<uint8_t> es = Mpeg4Descriptor(initial, pos, 0x03);
        // ES_ID (2) and flags (1; the title's have no dependency, URL or OCR stream).
        pos = 3;
        const std::vector<uint8_t> decoder = Mpeg4Descriptor(es, pos, 0x04);
        // objectTypeIndication, streamType, bufferSizeDB (3), maxBitrate (4), avgBitrate (4).
        pos = 13;
        return Mpeg4Descriptor(decoder, pos, 0x05);
    }
    return {};
}

TEST_F(SvremuxPsTest, TheStreamMapCarriesTheAacConfiguration) {
    std::string report;
    ASSERT_EQ(0, RunProgram({SV_SVREMUX_PATH, "--ps", Fixtures::ShortTitle(), "-o", out}, &report))
        << report;
    // The configuration a decoder needs, from the first ADTS header of the source as ffmpeg
    // copies it out (ISO/IEC 13818-7): profile (2 bits, object type minus 1), sampling
    // frequency index (4), channel configuration (3). AudioSpecificConfig (ISO/IEC 14496-3):
    // object type (5 bits), frequency index (4), channel configuration (4), three zero bits.
    const std::string copied = CopiedStream(Fixtures::ShortClip(), "adts", dir.File("copied"));
    const std::vector<uint8_t> adts(copied.begin(), copied.end());
    ASSERT_GT(adts.size(), 7u);
    ASSERT_EQ(0xFFF0, ((adts[0] << 8) | adts[1]) & 0xFFF0);
    const uint32_t objectType = ((adts[2] >> 6) & 0x03) + 1;
    const uint32_t frequency = (adts[2] >> 2) & 0x0F;
    const uint32_t channels = ((adts[2] & 0x01) << 2) | (adts[3] >> 6);
    const uint16_t config =
        static_cast<uint16_t>((objectType << 11) | (frequency << 7) | (channels << 3));
    EXPECT_EQ(0x1190, config) << "AAC LC, 48 kHz, stereo: the fixture's recipe";

    size_t infoLength = 0;
    const std::vector<uint8_t> found =
        StreamMapAudioConfig(SvTestSupport::ReadFileBytes(out), infoLength);
    EXPECT_NE(0u, infoLength) << "program_stream_info_length";
    EXPECT_EQ((std::vector<uint8_t>{uint8_t(config >> 8), uint8_t(config & 0xFF)}), found);
}

TEST(SvremuxPsHelpTest, TheHelpNamesTheProgramStreamOption) {
    std::string help;
    ASSERT_EQ(0, RunProgram({SV_SVREMUX_PATH, "--help"}, &help));
    EXPECT_NE(std::string::npos, help.find("--ps")) << help;
    EXPECT_NE(std::string::npos, help.find("program stream")) << help;
    // The usage line names both kinds of output file.
    EXPECT_NE(std::string::npos, help.find("svremux [OPTIONS] TITLE -o OUTPUT.ts|OUTPUT.mpg\n"))
        << help;
}

}  // namespace
