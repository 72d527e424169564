// What the title maker cannot carry: an input stream it would leave out is a refusal (exit 1
// with the reason) unless --drop-unsupported asks for the title without it; renditions whose key
// frames do not fall at the same times are refused. The inputs are made by ffmpeg and the
// titles read back by ffprobe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tools/mktitle/MktitleTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace {

using MktitleTestSupport::Mktitle;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

// Two seconds of test pattern (160x90, 25 fps) and a 440 Hz sine, with the video and audio
// options given, in MPEG-TS.
std::vector<std::string> Clip(const std::vector<std::string>& inputs,
                              const std::vector<std::string>& codecs) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v",
                                     "error",  "-y",       "-f",
                                     "lavfi",  "-i",       "testsrc2=size=160x90:rate=25"};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    argv.insert(argv.end(), {"-t", "2"});
    argv.insert(argv.end(), codecs.begin(), codecs.end());
    argv.insert(argv.end(), {"-f", "mpegts", "{out}"});
    return argv;
}

const std::vector<std::string> kSine = {"-f", "lavfi", "-i",
                                        "sine=frequency=440:sample_rate=48000"};
const std::vector<std::string> kAac = {"-c:a", "aac", "-b:a", "64k", "-ac", "2"};

// Each stream of a file as ffprobe reads it: "codec,type,packets" a line.
std::string Streams(const std::string& path) {
    std::string out;
    EXPECT_EQ(0,
              RunProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                          "stream=codec_name,codec_type,nb_read_packets", "-of", "csv=p=0", path},
                         &out))
        << out;
    return out.substr(0, out.find("\n\n") == std::string::npos ? out.size() : out.find("\n\n") + 1);
}

class MktitleRefusal : public ::testing::Test {
protected:
    bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    TemporaryDirectory dir{"mkrefuse"};
};

SV_SUITE_LABEL(MktitleRefusal, e2e);  // checked with outside clients
TEST_F(MktitleRefusal, HevcVideoIsRefusedUnlessTheTitleMayGoWithoutIt) {
    std::string encoders;
    RunProgram({"ffmpeg", "-hide_banner", "-encoders"}, &encoders);
    if (encoders.find("libx265") == std::string::npos) GTEST_SKIP() << "no libx265 in ffmpeg";
    std::vector<std::string> codecs = {"-c:v", "libx265", "-x265-params", "log-level=error",
                                       "-g",   "25"};
    codecs.insert(codecs.end(), kAac.begin(), kAac.end());
    const std::string input = Fixtures::Make("hevc-aac.ts", Clip(kSine, codecs));
    ASSERT_EQ("hevc,video,50\naac,audio,95\n", Streams(input));

    const std::string title = dir.File("title.svm");
    std::string said;
    EXPECT_EQ(1, Mktitle({input, title}, &said));
    EXPECT_NE(std::string::npos, said.find("mktitle: " + input + ": ")) << said;
    EXPECT_NE(std::string::npos, said.find("HEVC video (stream type 0x24) on PID 256")) << said;
    EXPECT_NE(std::string::npos, said.find("--drop-unsupported")) << said;
    EXPECT_FALSE(Exists(title));

    // Asked for: the sound alone, every frame of it, with a warning naming what was left out.
    EXPECT_EQ(0, Mktitle({"--drop-unsupported", input, title}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("warning: " + input + ": left out: HEVC video")) << said;
    EXPECT_EQ("aac,audio,95\n", Streams(title));
}

TEST_F(MktitleRefusal, ASecondAudioStreamIsRefusedUnlessTheTitleMayGoWithoutIt) {
    std::vector<std::string> inputs = kSine;
    inputs.insert(inputs.end(), {"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=48000"});
    std::vector<std::string> codecs = {"-map", "0",    "-map",    "1",  "-map",
                                       "2",    "-c:v", "libx264", "-g", "25"};
    codecs.insert(codecs.end(), kAac.begin(), kAac.end());
    const std::string input = Fixtures::Make("two-audio.ts", Clip(inputs, codecs));
    ASSERT_EQ("h264,video,50\naac,audio,95\naac,audio,95\n", Streams(input));

    const std::string title = dir.File("title.svm");
    std::string said;
    EXPECT_EQ(1, Mktitle({input, "-o", title}, &said));
    // The stream ffmpeg wrote second (PIDs from 256 on: video, first audio, second audio).
    EXPECT_NE(std::string::npos, said.find("AAC audio (stream type 0x0F) on PID 258: a second "
                                           "audio stream"))
        << said;
    EXPECT_NE(std::string::npos, said.find("--lang")) << said;
    EXPECT_FALSE(Exists(title));

    EXPECT_EQ(0, Mktitle({input, "-o", title, "--drop-unsupported"}, &said)) << said;
    EXPECT_NE(std::string::npos, said.find("left out: AAC audio (stream type 0x0F) on PID 258"))
        << said;
    EXPECT_EQ("h264,video,50\naac,audio,95\n", Streams(title));
}

TEST_F(MktitleRefusal, RenditionsWhoseKeyFramesDoNotLineUpAreRefused) {
    // Key frames every 50 and every 30 pictures (fixed, no scene cuts): both start with one,
    // the second comes at 2 s in one and at 1.2 s in the other.
    auto clip = [](const std::string& name, const std::string& gop) {
        return Fixtures::Make(name, Clip({}, {"-c:v", "libx264", "-g", gop, "-keyint_min", gop,
                                              "-sc_threshold", "0"}));
    };
    const std::string every50 = clip("gop50.ts", "50");
    const std::string every30 = clip("gop30.ts", "30");
    const std::string title = dir.File("title.svm");
    std::string said;
    EXPECT_EQ(1, Mktitle({every50, every30, title}, &said));
    EXPECT_NE(std::string::npos,
              said.find(every50 + " and " + every30 + ": the key frames do not line up"))
        << said;
    EXPECT_FALSE(Exists(title));
    // The same renditions at the same key-frame times are one title (as the multi-rate one).
    EXPECT_EQ(0, Mktitle({every50, clip("gop50b.ts", "50"), title}, &said)) << said;
    // Not an option to carry on with: a title that cannot switch cleanly is not made.
    EXPECT_EQ(1, Mktitle({"--drop-unsupported", every50, every30, title + "2"}, &said));
    EXPECT_FALSE(Exists(title + "2"));
}

}  // namespace
