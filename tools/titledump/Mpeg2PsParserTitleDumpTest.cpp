// The parser over titles made by the title maker from ffmpeg clips, checked against what
// ffprobe reads from the source clips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/container/TrackInfoKeys.h"
#include "tests/support/Fixtures.h"
#include "tools/titledump/TitleDump.h"
#include "tests/support/TestLabels.h"

namespace {

using SvTestSupport::Fixtures;
using namespace SarvelonMediaKit;

std::string ChapterTitle() {
    return Fixtures::MakeTitle(
        "dump-chapters.svm",
        {"--chapter", "0:Opening", "--chapter", "2.5:Second half", Fixtures::ShortClip(), "{out}"});
}

// The decode times (90 kHz) of one kind of stream ("v" or "a") of a transport stream.
std::vector<uint64_t> ProbeDecodeTimes(const std::string& ts, const std::string& kind) {
    std::string out;
    const int status =
        SvTestSupport::RunProgram({"ffprobe", "-v", "error", "-select_streams", kind,
                                   "-show_entries", "packet=dts", "-of", "csv=p=0", ts},
                                  &out);
    EXPECT_EQ(0, status) << out;
    std::vector<uint64_t> times;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.find_first_not_of("0123456789,") == std::string::npos) {
            times.push_back(std::strtoull(line.c_str(), nullptr, 10));
        }
    }
    return times;
}

size_t ProbeKeyFrames(const std::string& ts) {
    std::string out;
    SvTestSupport::RunProgram({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                               "packet=flags", "-of", "csv=p=0", ts},
                              &out);
    size_t count = 0;
    for (size_t at = out.find('K'); at != std::string::npos; at = out.find('K', at + 1)) {
        ++count;
    }
    return count;
}

uint64_t Microseconds(uint64_t ticks) { return static_cast<uint64_t>(ticks / 0.09); }

SV_TEST_LABEL(Mpeg2PsParserTitleDumpTest, ReadsTheTitleAsTheSourceHasIt,
              e2e);  // checked with outside clients
TEST(Mpeg2PsParserTitleDumpTest, ReadsTheTitleAsTheSourceHasIt) {
    const std::string title = ChapterTitle();
    SvTools::TitleSummary summary;
    std::string error;
    ASSERT_TRUE(SvTools::ReadTitle(title, summary, error)) << error;
    EXPECT_EQ(12u, Mpeg2PsResultNumber(summary.result)) << SvTools::FormatTitle(summary);

    // One track with the source's picture size and sample rate.
    ASSERT_EQ(1u, summary.tracks.size());
    const MediaTrack& track = *summary.tracks[0];
    EXPECT_EQ(320u, track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_VideoWidth, 0));
    EXPECT_EQ(180u, track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_VideoHeight, 0));
    EXPECT_EQ(48000u,
              track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_AudioSampleFrequency, 0));
    EXPECT_TRUE(track.HasVideo());
    EXPECT_TRUE(track.HasAudio());

    // One seek entry per key frame of the source.
    const std::string source = Fixtures::ShortClip();
    const size_t keyFrames = ProbeKeyFrames(source);
    EXPECT_EQ(2u, keyFrames);
    EXPECT_EQ(keyFrames, track.GetIndex().GetCount());

    // The chapters given to the title maker.
    ASSERT_EQ(2u, summary.chapters.size());
    EXPECT_EQ(0u, summary.chapters[0].time);
    EXPECT_EQ("Opening", summary.chapters[0].title);
    EXPECT_EQ(225000u, summary.chapters[1].time);
    EXPECT_EQ("Second half", summary.chapters[1].title);

    // Per stream: as many samples as ffprobe finds packets (video access units, ADTS frames),
    // the first decode times as the source's counted from its earliest one.
    const std::vector<uint64_t> video = ProbeDecodeTimes(source, "v");
    const std::vector<uint64_t> audio = ProbeDecodeTimes(source, "a");
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(audio.empty());
    const uint64_t origin = std::min(video.front(), audio.front());
    ASSERT_EQ(2u, summary.streams.size());
    for (const SvTools::StreamSummary& stream : summary.streams) {
        const bool isVideo = stream.streamId == 0xE0;
        const std::vector<uint64_t>& times = isVideo ? video : audio;
        SCOPED_TRACE(isVideo ? "video" : "audio");
        EXPECT_EQ(isVideo ? 2u : 1u, stream.mediaType);
        EXPECT_EQ(times.size(), stream.samples);
        EXPECT_EQ(Microseconds(times.front() - origin), stream.firstDecodeTime);
        EXPECT_EQ(Microseconds(times.back() - origin), stream.lastDecodeTime);
        if (isVideo) {
            EXPECT_EQ(keyFrames, stream.keyFrames);
        }
    }
}

TEST(Mpeg2PsParserTitleDumpTest, ToolPrintsTheTitle) {
    const std::string title = ChapterTitle();
    std::string out;
    ASSERT_EQ(0, SvTestSupport::RunProgram({SV_TITLEDUMP_PATH, title}, &out)) << out;
    for (const char* line :
         {"tracks: 1\n", "  TrackInfoKey_VideoWidth = 320\n", "  TrackInfoKey_VideoHeight = 180\n",
          "  TrackInfoKey_AudioSampleFrequency = 48000\n", "  seek table: 2 entries\n",
          "chapter 1: time 225000 ticks (2.500 s), title \"Second half\"",
          "stream 0xe0: video, stream type 0x1b, 100 samples (2 key)",
          "stream 0xc0: audio, stream type 0x0f, ", "result: 12 (program end)\n"}) {
        EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
    }

    // A damaged title: the parser's error and a failing exit status.
    const std::string bad =
        Fixtures::MakeTitle("dump-badmagic.svm", {"--bad-magic", Fixtures::ShortClip(), "{out}"});
    EXPECT_EQ(1, SvTestSupport::RunProgram({SV_TITLEDUMP_PATH, bad}, &out));
    EXPECT_NE(std::string::npos, out.find("result: 4 (bad index entry magic)")) << out;
    EXPECT_EQ(2, SvTestSupport::RunProgram({SV_TITLEDUMP_PATH}, &out));
}

}  // namespace
