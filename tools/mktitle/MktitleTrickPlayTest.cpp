// Trick-play renditions of the title maker, read back by the title dumper (the engine's own
// index reader, not the writer's code) and checked against ffprobe's reading of the inputs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tools/mktitle/MktitleTestSupport.h"
#include "tools/titledump/TitleDump.h"

namespace {

using SvTestSupport::Fixtures;

std::string RunTool(const std::vector<std::string>& argv, int* status) {
    std::string output;
    *status = SvTestSupport::RunProgram(argv, &output);
    return output;
}

// The "TrackInfoKey_..." lines titledump prints under each "track N:" line, by track number.
std::map<int, std::map<std::string, std::string>> DumpedTracks(const std::string& text) {
    std::map<int, std::map<std::string, std::string>> tracks;
    std::istringstream lines(text);
    std::string line;
    int current = 0;
    while (std::getline(lines, line)) {
        if (line.compare(0, 6, "track ") == 0) {
            current = std::stoi(line.substr(6));
        } else if (current != 0 && line.compare(0, 2, "  ") == 0) {
            const size_t equals = line.find(" = ");
            if (equals != std::string::npos) {
                tracks[current][line.substr(2, equals - 2)] = line.substr(equals + 3);
            }
        } else {
            current = 0;
        }
    }
    return tracks;
}

size_t ProbedFrames(const std::string& clip) {
    int status = 0;
    const std::string count =
        RunTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                 "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", clip},
                &status);
    EXPECT_EQ(0, status) << count;
    return std::stoul(count);
}

TEST(MktitleTrickPlay, RatesAreWrittenAndTracksSpanTheTitle) {
    const std::string title = Fixtures::TrickTitle();
    const std::vector<std::string> clips = Fixtures::TrickClips();
    int status = -1;
    const std::string dump = RunTool({SV_TITLEDUMP_PATH, title}, &status);
    EXPECT_EQ(0, status) << "a whole title: " << dump;
    const auto tracks = DumpedTracks(dump);
    ASSERT_EQ(3u, tracks.size()) << dump;
    EXPECT_EQ(0u, tracks.at(1).count("TrackInfoKey_TrickPlayRate")) << "absent at normal speed";
    EXPECT_EQ("4", tracks.at(2).at("TrackInfoKey_TrickPlayRate"));
    EXPECT_EQ("-4", tracks.at(3).at("TrackInfoKey_TrickPlayRate"));

    // Each trick rendition: every fourth picture of the 500 of the source, at 25 fps.
    const size_t trickFrames = Fixtures::kTrickClipFrames / 4;
    SvTools::TitleSummary summary;
    std::string error;
    ASSERT_TRUE(SvTools::ReadTitle(title, summary, error)) << error;
    ASSERT_EQ(3u, summary.tracks.size());
    for (size_t i = 1; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(trickFrames, ProbedFrames(clips[i]));
        const SarvelonMediaKit::MediaTrackIndex& index = summary.tracks[i]->GetIndex();
        // A seek point at every picture, four frame times (4 x 3600 ticks of 90 kHz) apart:
        // the 5 s of pictures stretched over the 20 s of the title.
        ASSERT_EQ(trickFrames, index.GetCount());
        for (uint32_t e = 1; e < index.GetCount(); ++e) {
            EXPECT_EQ(4u * 3600u, index.GetEntries()[e].time - index.GetEntries()[e - 1].time)
                << "entry " << e;
        }
        EXPECT_EQ(20000000u, index.TicksToMicroseconds(index.GetDuration()));
        EXPECT_EQ(25.0, std::stod(tracks.at(int(i + 1)).at("TrackInfoKey_VideoFrameRate")))
            << "played at the normal frame rate";
    }
    // The normal rendition keeps its own 2 s key-frame spacing: no alignment with the others.
    EXPECT_EQ(10u, summary.tracks[0]->GetIndex().GetCount());
}

TEST(MktitleTrickPlay, BadRatesAndUnfitInputsAreRefused) {
    const std::vector<std::string> clips = Fixtures::TrickClips();
    const std::string out = Fixtures::Directory() + "/never-trick.svm";
    // The output is the last name of each.
    std::vector<MktitleTestSupport::RefusedRun> runs = {
        {{"--trick-rate=4", clips[0], clips[1]}, 2, "--trick-rate given 1 times for 2 inputs"},
        {{"--trick-rate=0", "--trick-rate=four", clips[0], clips[1]}, 2, "\"four\" is not"},
        {{"--trick-rate=0", "--trick-rate=32768", clips[0], clips[1]}, 2, "from -32768 to 32767"},
        {{"--trick-rate=0", "--trick-rate= 4", clips[0], clips[1]}, 2, "is not a whole number"},
        {{"--trick-rate=0", "--trick-rate=4x", clips[0], clips[1]}, 2, "is not a whole number"},
        // A clip with a 2 s GOP: its second picture is no key frame.
        {{"--trick-rate=4", "--trick-rate=0", clips[0], clips[1]},
         1,
         "picture 1 is not a key frame"},
        {{"--trick-rate=-2", Fixtures::ShortClip()}, 1, "carries audio"},
        {{"--trick-rate=2", Fixtures::AudioOnlyClip()}, 1, "has no video"},
    };
    for (MktitleTestSupport::RefusedRun& run : runs) {
        run.args.push_back(out);
    }
    MktitleTestSupport::ExpectRefused(runs, out);
}

}  // namespace
