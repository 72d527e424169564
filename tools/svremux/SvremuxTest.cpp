// svremux run on fixture titles: outside tools must accept what it writes, and the pictures
// and audio must come out byte for byte as they went into the title.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/common/TsReader.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class SvremuxTest : public ::testing::Test {
protected:
    int Remux(const std::string& title, std::string* report) {
        return RunProgram({SV_SVREMUX_PATH, title, "-o", out}, report);
    }
    // The elementary stream of the kind ("h264", "adts", "eac3") as ffmpeg copies it out.
    std::vector<char> Extract(const std::string& ts, const std::string& format,
                              const std::string& name) {
        const std::string path = dir.File(name + "." + format);
        const std::string map = format == "h264" ? "0:v:0" : "0:a:0";
        std::string report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", ts, "-map", map,
                                 "-c", "copy", "-f", format, path},
                                &report))
            << report;
        return ReadAll(path);
    }
    std::string WriteFile(const std::string& name, const std::vector<char>& bytes) {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }

    TemporaryDirectory dir{"svremux"};
    const std::string out = dir.File("out.ts");
};

TEST_F(SvremuxTest, ATitleBecomesATransportStreamThatToolsAcceptWithItsStreamsIntact) {
    const struct {
        std::string title;
        std::string clip;
        std::string audio;  // ffmpeg's name of the audio bitstream format
    } cases[] = {{Fixtures::ShortTitle(), Fixtures::ShortClip(), "adts"},
                 // Of three renditions only the first is written.
                 {Fixtures::MultiRateTitle(), Fixtures::MultiRateClips()[0], "adts"},
                 {Fixtures::Eac3Title(), Fixtures::Eac3Clip(), "eac3"}};  // last: see below
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string report;
        ASSERT_EQ(0, Remux(c.title, &report)) << report;
        EXPECT_EQ("", report);  // not a terminal: no progress line, nothing to say

        EXPECT_EQ(0, RunProgram({"tsinfo", out}, &report)) << report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "warning", "-xerror", "-i", out,
                                 "-map", "0", "-c", "copy", "-f", "null", "-"},
                                &report))
            << report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", out, "-map",
                                 "0", "-f", "null", "-"},
                                &report))
            << report;

        // PCRs present, none further apart than 0.1 s.
        ASSERT_EQ(0, RunProgram({"tsreport", "-b", out}, &report)) << report;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(report, m,
                                      std::regex("PCRs found: ([0-9]+), Bad \\(>\\.1s\\) gaps: "
                                                 "([0-9]+)")))
            << report;
        EXPECT_GT(std::stoul(m[1]), 10u);
        EXPECT_EQ("0", m[2].str()) << report;

        const std::vector<char> video = Extract(out, "h264", "out");
        EXPECT_FALSE(video.empty());
        EXPECT_TRUE(video == Extract(c.clip, "h264", "clip"));
        const std::vector<char> audio = Extract(out, c.audio, "out");
        EXPECT_FALSE(audio.empty());
        EXPECT_TRUE(audio == Extract(c.clip, c.audio, "clip"));
    }

    // The E-AC-3 title's audio (the last output) is told apart by its stream type.
    SvTools::TsReader got = SvTools::TsReader::ReadFile(out);
    const SvTools::TsStreamInfo* audio = got.FindStream(0x22);
    ASSERT_NE(nullptr, audio);
    EXPECT_EQ(0x87, audio->streamType);
    std::string probe;
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                             "stream=codec_name", "-of", "csv=p=0", out},
                            &probe));
    EXPECT_EQ(0u, probe.find("eac3\n")) << probe;  // also listed once more under its program
}

// Each failure is told with the chain's error, exits 1 and leaves no output behind.
TEST_F(SvremuxTest, FailuresAreToldAndLeaveNoOutput) {
    const std::vector<char> title = ReadAll(Fixtures::ShortTitle());
    ASSERT_FALSE(title.empty());
    std::vector<char> noise(200000);
    std::mt19937 random(7);
    for (char& c : noise) c = char(random());
    const std::string missing = dir.File("missing.svm");
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {missing, "cannot open " + missing + " (error 1013)"},
        {WriteFile("truncated.svm",
                   std::vector<char>(title.begin(), title.begin() + title.size() * 8 / 10)),
         "error 1005: Media was truncated"},
        {WriteFile("noise.svm", noise), "error 1001: Invalid data format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::string report;
        EXPECT_EQ(1, Remux(c.input, &report)) << report;
        EXPECT_NE(std::string::npos, report.find(c.expected)) << report;
        EXPECT_FALSE(Exists(out));
    }

    // The title is never its own output.
    std::string report;
    const std::string copy = WriteFile("copy.svm", title);
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, copy, "-o", copy}, &report));
    EXPECT_TRUE(ReadAll(copy) == title);
}

TEST_F(SvremuxTest, UsageErrorsExitWith2) {
    const std::vector<std::vector<std::string>> cases = {
        {SV_SVREMUX_PATH},
        {SV_SVREMUX_PATH, "a.svm"},
        {SV_SVREMUX_PATH, "a.svm", "-o"},
        {SV_SVREMUX_PATH, "a.svm", "b.svm", "-o", "x.ts"},
        {SV_SVREMUX_PATH, "--bogus", "a.svm", "-o", "x.ts"},
    };
    for (const auto& argv : cases) {
        std::string report;
        EXPECT_EQ(2, RunProgram(argv, &report)) << argv.size();
        EXPECT_NE(std::string::npos, report.find("usage: svremux")) << report;
    }
}

}  // namespace
