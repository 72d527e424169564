// svremux --ps on fixture titles: outside tools must read the program stream it writes, and the
// pictures and audio frames must come out byte for byte as they went into the title.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

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
    // The elementary stream of the kind ("h264", "adts", "eac3") as ffmpeg copies it out.
    std::vector<uint8_t> Extract(const std::string& file, const std::string& format,
                                 const std::string& name) {
        const std::string path = dir.File(name + "." + format);
        const std::string map = format == "h264" ? "0:v:0" : "0:a:0";
        std::string report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file, "-map", map,
                                 "-c", "copy", "-f", format, path},
                                &report))
            << report;
        return ReadAll(path);
    }

    TemporaryDirectory dir{"svremux-ps"};
    const std::string out = dir.File("out.mpg");
};

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

        const std::vector<uint8_t> bytes = ReadAll(out);
        ASSERT_GT(bytes.size(), 14u + 21u);
        // The pack header, then the system header of the first pack.
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA}),
                  std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
        EXPECT_EQ(SystemHeader(c.audioStreamId),
                  std::vector<uint8_t>(bytes.begin() + 14, bytes.begin() + 14 + 21));
        // MPEG_program_end_code closes the stream.
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB9}),
                  std::vector<uint8_t>(bytes.end() - 4, bytes.end()));

        const std::vector<uint8_t> video = Extract(out, "h264", "out");
        EXPECT_FALSE(video.empty());
        EXPECT_TRUE(video == Extract(c.clip, "h264", "clip"));
        const std::vector<uint8_t> audio = Extract(out, c.audio, "out");
        EXPECT_FALSE(audio.empty());
        EXPECT_TRUE(audio == Extract(c.clip, c.audio, "clip"));
    }
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
