// The titledump command: what it tells on which stream, its exit statuses, and its JSON report
// checked item by item against its text report.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "json/KvJsonParser.h"
#include "tools/titledump/TitleDump.h"
#include "tests/support/DamagedTitle.h"
#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;

struct Mpeg2PsResult {
    int status;
    std::string out;
    std::string err;
};

class TitleDumpTest : public ::testing::Test {
protected:
    // Runs titledump with standard output and standard error apart.
    Mpeg2PsResult Dump(const std::vector<std::string>& args) {
        const std::string err = dir.File("stderr.txt");
        std::vector<std::string> argv = {"sh", "-c", "f=$1; shift; exec \"$@\" 2>\"$f\"",
                                         "sh", err,  SV_TITLEDUMP_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        Mpeg2PsResult r;
        r.status = RunProgram(argv, &r.out);
        r.err = SvTestSupport::ReadWholeFile(err);
        return r;
    }
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    SvTestSupport::TemporaryDirectory dir{"titledump"};
};

TEST_F(TitleDumpTest, ProblemsGoToStandardErrorAndFailTheRun) {
    const std::string whole = SvTestSupport::ReadWholeFile(Fixtures::ShortTitle());
    // The title ends with the program end code; the media before it is what its index covers.
    ASSERT_EQ(std::string("\x00\x00\x01\xB9", 4), whole.substr(whole.size() - 4));
    const size_t cut = whole.size() * 8 / 10;
    // An MPEG-2 pack header with SCR 0 and the program end code: a title with no tracks.
    const std::string noTracks(
        "\x00\x00\x01\xBA"          // pack start code
        "\x44\x00\x04\x00\x04\x01"  // '01', SCR 0 with its marker bits
        "\x01\x89\xC3"              // program_mux_rate 25200, markers
        "\xF8"                      // reserved, no stuffing
        "\x00\x00\x01\xB9",         // program end code
        18);
    const std::string missing = dir.File("missing.svm");
    const std::string empty = WriteFile("empty.svm", "");
    const std::string noTrackTitle = WriteFile("no-tracks.svm", noTracks);
    const std::string cutTitle = WriteFile("cut.svm", whole.substr(0, cut));
    const std::string badMagic =
        Fixtures::MakeTitle("dump-badmagic.svm", {"--bad-magic", Fixtures::ShortClip(), "{out}"});
    const struct {
        std::string title;
        std::string err;
        std::string out;  // a line the report holds, or "" for no report at all
    } cases[] = {
        {missing, "titledump: cannot open " + missing + ": No such file or directory\n", ""},
        {empty, "titledump: " + empty + ": the file is empty\n", ""},
        // A program stream, but no title: with the hint how titles are made.
        {noTrackTitle,
         "titledump: " + noTrackTitle + ": the title has no index\n" +
             "titledump: " + noTrackTitle + ": the title has no tracks\n" +
             "titledump: hint: a title is a file of the engine's own container (.svm); mktitle "
             "makes one\nfrom MPEG-TS files as ffmpeg writes them (an .mp4 becomes one with:\n"
             "ffmpeg -i IN.mp4 -c copy IN.ts, then mktitle IN.ts OUT.svm)\n",
         "tracks: 0\n"},
        {cutTitle,
         "titledump: " + cutTitle + ": the media end without the program end code\n" +
             "titledump: " + cutTitle + ": the title is cut short: the file ends at byte " +
             std::to_string(cut) + ", its index gives " + std::to_string(whole.size() - 4) + "\n",
         "result: 0 (end of file)\n"},
        {badMagic,
         "titledump: " + badMagic +
             ": the parser stopped: bad index entry magic (4)\n"
             "titledump: " +
             badMagic + ": the title has no tracks\n",
         "result: 4 (bad index entry magic)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const Mpeg2PsResult r = Dump({c.title});
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(c.err, r.err);
        if (c.out.empty()) {
            EXPECT_EQ("", r.out);
        } else {
            EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
        }
    }

    // Most of the media zeroed, the file's size kept: the parser skips the zeros, and the
    // decode times stop far short of the index's duration. With the program end code zeroed
    // too, that is told as well.
    for (const bool keepEnd : {false, true}) {
        SCOPED_TRACE(keepEnd);
        std::string damaged = whole;
        const size_t from = whole.size() / 10;
        const size_t to = keepEnd ? whole.size() - 4 : whole.size();
        std::fill(damaged.begin() + std::ptrdiff_t(from), damaged.begin() + std::ptrdiff_t(to), 0);
        const std::string path = WriteFile("damaged.svm", damaged);
        const Mpeg2PsResult r = Dump({path});
        EXPECT_EQ(1, r.status) << r.err;
        EXPECT_NE(
            std::string::npos,
            r.err.find("titledump: " + path + ": the media are damaged: their decode times span "))
            << r.err;
        EXPECT_EQ(keepEnd, r.err.find("without the program end code") == std::string::npos)
            << r.err;
        EXPECT_NE(std::string::npos,
                  r.out.find(keepEnd ? "result: 12 (program end)\n" : "result: 0 (end of file)\n"))
            << r.out;
    }

    // A whole title: nothing on standard error; from standard input the same report.
    const Mpeg2PsResult r = Dump({Fixtures::ShortTitle()});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    std::string piped;
    EXPECT_EQ(0, RunProgram({"sh", "-c", "exec \"$0\" - < \"$1\"", SV_TITLEDUMP_PATH,
                             Fixtures::ShortTitle()},
                            &piped));
    EXPECT_EQ(r.out, piped);
}

// The problems of a summary made by hand: the index promises 4.09 s (368100 ticks of 90 kHz)
// and 1000 bytes from offset 100 in a file of 1100 bytes.
TEST(TitleProblemsTest, DecodeTimesFarShortOfTheIndexDurationAreDamage) {
    SvTools::TitleSummary summary;
    auto track = boost::make_shared<SarvelonMediaKit::MediaTrack>();
    SarvelonMediaKit::MediaTrackIndex& index = track->GetIndex();
    index.SetTimescale(90000);
    index.SetDuration(368100);
    index.SetOffset(100);
    index.SetSize(1000);
    summary.tracks.push_back(track);
    summary.fileSize = 1100;
    summary.indexSeen = true;
    summary.indexComplete = true;
    summary.result = SarvelonMediaKit::Mpeg2PsResult::ProgramEnd;
    SvTools::StreamSummary video;
    video.mediaType = 2;
    video.firstDecodeTime = 66000;  // microseconds
    video.lastDecodeTime = 546000;  // 0.480 s after the first
    SvTools::StreamSummary audio = video;
    audio.mediaType = 1;
    audio.lastDecodeTime = 266000;
    summary.streams = {video, audio};
    EXPECT_EQ(std::vector<std::string>{"the media are damaged: their decode times span 0.480 s of "
                                       "the 4.090 s its index gives"},
              SvTools::TitleProblems(summary));

    // The last sample's own length is allowed for: 3.1 s of decode times pass, 3.0 s do not.
    summary.streams[0].lastDecodeTime = 66000 + 3100000;
    EXPECT_TRUE(SvTools::TitleProblems(summary).empty());
    summary.streams[0].lastDecodeTime = 66000 + 3000000;
    EXPECT_EQ(1u, SvTools::TitleProblems(summary).size());

    // The end of the file without the program end code: the media stopped early.
    summary.streams[0].lastDecodeTime = 66000 + 4000000;
    summary.result = SarvelonMediaKit::Mpeg2PsResult::Ok;
    EXPECT_EQ(std::vector<std::string>{"the media end without the program end code"},
              SvTools::TitleProblems(summary));
}

// "  KEY = VALUE" lines of a report section, for the keys whose values are plain numbers.
std::map<std::string, std::string> NumberLines(const std::string& text) {
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find(" = ");
        if (line.rfind("  TrackInfoKey_", 0) == 0 && equals != std::string::npos) {
            const std::string value = line.substr(equals + 3);
            if (value.find_first_not_of("0123456789") == std::string::npos) {
                lines[line.substr(2, equals - 2)] = value;
            }
        }
    }
    return lines;
}

std::string Number(const ns::Value& value) {
    if (const uint64_t* u = value.AsUInt()) return std::to_string(*u);
    if (const int64_t* i = value.AsInt()) return std::to_string(*i);
    return "not a whole number";
}

std::string Text(const ns::Value& value) {
    return value.AsString() ? *value.AsString() : "not a string";
}

bool Flag(const ns::Value& value) { return value.AsBool() && *value.AsBool(); }

TEST_F(TitleDumpTest, JsonCarriesTheSameReportAsTheText) {
    const std::string title = Fixtures::MakeTitle(
        "dump-chapters.svm",
        {"--chapter", "0:Opening", "--chapter", "2.5:Second half", Fixtures::ShortClip(), "{out}"});
    const Mpeg2PsResult text = Dump({title});
    ASSERT_EQ(0, text.status) << text.err;
    const Mpeg2PsResult json = Dump({"--json", title});
    ASSERT_EQ(0, json.status) << json.err;
    KvJsonParser parser;
    const std::optional<ns::Value> report = parser.objectWithData(json.out.data(), json.out.size());
    ASSERT_TRUE(report) << parser.error() << "\n" << json.out;

    // Every numeric track item of the text, with the same value.
    const ns::Value& tracks = (*report)["tracks"];
    ASSERT_EQ(1u, tracks.Count());
    const std::map<std::string, std::string> numbers = NumberLines(text.out);
    ASSERT_GT(numbers.size(), 15u);
    for (const auto& item : numbers) {
        EXPECT_EQ(item.second, Number(tracks[0]["info"][item.first])) << item.first;
    }
    EXPECT_TRUE(Flag(tracks[0]["video"]));
    EXPECT_TRUE(Flag(tracks[0]["audio"]));
    // The seek table: "seek 1: time 180000 ticks (2.000 s), position N".
    const ns::Value& seek = tracks[0]["seekTable"];
    ASSERT_EQ(2u, seek.Count());
    const std::string seekLine = "seek 1: time " + Number(seek[1]["time"]) + " ticks (2.000 s), " +
                                 "position " + Number(seek[1]["position"]) + "\n";
    EXPECT_NE(std::string::npos, text.out.find(seekLine)) << seekLine;

    // The chapters as given to the title maker.
    const ns::Value& chapters = (*report)["chapters"];
    ASSERT_EQ(2u, chapters.Count());
    EXPECT_EQ("Second half", Text(chapters[1]["title"]));
    EXPECT_EQ("225000", Number(chapters[1]["time"]));

    // The streams, each with the text's line.
    const ns::Value& streams = (*report)["streams"];
    ASSERT_EQ(2u, streams.Count());
    for (size_t i = 0; i < 2; ++i) {
        const ns::Value& s = streams[i];
        char id[8];
        std::snprintf(id, sizeof id, "0x%02x", unsigned(std::stoul("0" + Number(s["streamId"]))));
        const std::string line = std::string("stream ") + id + ": " + Text(s["kind"]) +
                                 ", stream type " + (i == 0 ? "0x1b" : "0x0f") + ", " +
                                 Number(s["samples"]) + " samples (" + Number(s["keyFrames"]) +
                                 " key), " + Number(s["bytes"]) + " bytes, first decode time " +
                                 Number(s["firstDecodeTime"]) + " us, last decode time " +
                                 Number(s["lastDecodeTime"]) + " us\n";
        EXPECT_NE(std::string::npos, text.out.find(line)) << line << text.out;
    }
    EXPECT_EQ("12", Number((*report)["result"]["code"]));
    EXPECT_EQ("program end", Text((*report)["result"]["name"]));

    // -o writes the same report to a file, and nothing to standard output.
    const std::string file = dir.File("report.json");
    const Mpeg2PsResult toFile = Dump({"--json", title, "-o", file});
    EXPECT_EQ(0, toFile.status) << toFile.err;
    EXPECT_EQ("", toFile.out);
    EXPECT_EQ(json.out, SvTestSupport::ReadWholeFile(file));
}

// A group of pictures zeroed mid-file: the parser takes the zeros for stuffing before the next
// pack and says nothing, the decode times still span the whole duration, yet the key frame of
// that group never came. The long clip has a key frame every 50 pictures at 25 fps: its title
// lists 10 (0, 2, ..., 18 s), and zeroing group 5 loses the one at 10 s with its 50 pictures.
// The group's bytes are found by walking the title's packets (DamagedTitle.h). The report is
// printed all the same; a file named by -o is left as it was, or not made.
TEST_F(TitleDumpTest, AGroupOfPicturesLostMidFileFailsTheRunNamingTheLoss) {
    const std::string title =
        Fixtures::MakeTitle("dump-gop-loss.svm", {Fixtures::LongClip(), "{out}"});
    const std::string whole = SvTestSupport::ReadWholeFile(title);
    const std::vector<uint8_t> clean(whole.begin(), whole.end());
    ASSERT_EQ(10u, SvTestSupport::GroupOfPicturesStarts(clean).size());
    const SvTestSupport::DamagedTitle damaged = SvTestSupport::WithGroupOfPicturesZeroed(clean, 5);
    ASSERT_NE(0u, damaged.count);
    const std::string path =
        WriteFile("gop-lost.svm", std::string(damaged.bytes.begin(), damaged.bytes.end()));
    const Mpeg2PsResult r = Dump({path});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("titledump: " + path +
                  ": groups of pictures are lost: 1 of the 10 key frames its index lists never "
                  "came, the first at 10.000 s of track 1\n",
              r.err);
    // 500 pictures less the 50 of the lost group, 10 key frames less one.
    EXPECT_NE(std::string::npos, r.out.find("stream 0xe0: video, stream type 0x1b, 450 samples "
                                            "(9 key)"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("result: 12 (program end)\n")) << r.out;

    const std::string existing = WriteFile("existing.txt", "what it held\n");
    EXPECT_EQ(1, Dump({path, "-o", existing}).status);
    EXPECT_EQ("what it held\n", SvTestSupport::ReadWholeFile(existing));
    const std::string fresh = dir.File("fresh.txt");
    EXPECT_EQ(1, Dump({path, "-o", fresh}).status);
    EXPECT_FALSE(std::ifstream(fresh).good());  // no report file is made
    EXPECT_EQ(std::set<std::string>({"existing.txt", "gop-lost.svm", "stderr.txt"}),
              SvTestSupport::DirectoryEntries(dir.Path()));

    // The title as it was made: exit 0, its whole report in the file.
    const Mpeg2PsResult intact = Dump({title});
    EXPECT_EQ(0, intact.status) << intact.err;
    EXPECT_NE(std::string::npos, intact.out.find("500 samples (10 key)")) << intact.out;
    EXPECT_EQ(0, Dump({title, "-o", existing}).status);
    EXPECT_EQ(intact.out, SvTestSupport::ReadWholeFile(existing));
}

// A chapter title that is not UTF-8 cannot go into JSON: the writer's refusal is told on
// standard error with exit 1, and nothing that could pass for the report is printed.
// Two languages in one title: the pictures' own sound (stream 0xC0, "eng") and an audio-only
// rendition (stream 0xC1, "fra"). Both streams are sound, in the text and in the JSON.
TEST_F(TitleDumpTest, EachLanguagesStreamIsNamedAudio) {
    const std::string title = Fixtures::TwoLanguageTitle();
    const Mpeg2PsResult text = Dump({title});
    ASSERT_EQ(0, text.status) << text.err;
    EXPECT_NE(std::string::npos, text.out.find("stream 0xc0: audio, stream type 0x0f,"))
        << text.out;
    EXPECT_NE(std::string::npos, text.out.find("stream 0xc1: audio, stream type 0x0f,"))
        << text.out;
    EXPECT_NE(std::string::npos, text.out.find("stream 0xe0: video, stream type 0x1b,"))
        << text.out;
    EXPECT_EQ(std::string::npos, text.out.find(": other,")) << text.out;

    const Mpeg2PsResult json = Dump({"--json", title});
    ASSERT_EQ(0, json.status) << json.err;
    KvJsonParser parser;
    const std::optional<ns::Value> report = parser.objectWithData(json.out.data(), json.out.size());
    ASSERT_TRUE(report) << parser.error() << "\n" << json.out;
    const ns::Value& streams = (*report)["streams"];
    ASSERT_EQ(3u, streams.Count()) << json.out;
    size_t audio = 0;
    for (size_t i = 0; i < streams.Count(); ++i) {
        audio += Text(streams[i]["kind"]) == "audio" ? 1 : 0;
    }
    EXPECT_EQ(2u, audio) << json.out;
}

TEST_F(TitleDumpTest, JsonTheWriterRefusesFailsTheRun) {
    const std::string title = Fixtures::MakeTitle(
        "dump-latin1.svm", {"--chapter", "0:Caf\xe9", Fixtures::ShortClip(), "{out}"});
    const Mpeg2PsResult json = Dump({"--json", title});
    EXPECT_EQ(1, json.status);
    EXPECT_EQ("", json.out);
    EXPECT_EQ("titledump: " + title +
                  ": the report cannot be written as JSON: String is not valid UTF-8\n",
              json.err);
    const std::string file = dir.File("report.json");
    EXPECT_EQ(1, Dump({"--json", title, "-o", file}).status);
    EXPECT_FALSE(std::ifstream(file).good());  // no report file is made
    // The text report carries the bytes as they are.
    const Mpeg2PsResult text = Dump({title});
    EXPECT_EQ(0, text.status) << text.err;
    EXPECT_NE(std::string::npos, text.out.find("title \"Caf\xe9\"")) << text.out;

    SvTools::TitleSummary summary;
    SarvelonMediaKit::Mpeg2PsParser::Chapter chapter;
    chapter.title = "\xff";
    summary.chapters.push_back(chapter);
    std::string out = "untouched";
    std::string error;
    EXPECT_FALSE(SvTools::FormatTitleJson(summary, out, error));
    EXPECT_EQ("untouched", out);
    EXPECT_EQ("String is not valid UTF-8", error);
}

TEST_F(TitleDumpTest, UsageHelpAndVersion) {
    Mpeg2PsResult r = Dump({});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("usage: titledump [OPTIONS] TITLE\n")) << r.err;
    r = Dump({"--bogus", "x.svm"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(0u, r.err.find("titledump: unknown option --bogus\n")) << r.err;
    r = Dump({"--help"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0u, r.out.find("usage: titledump [OPTIONS] TITLE\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("--json")) << r.out;
    r = Dump({"--version"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("titledump ")) << r.out;
}

}  // namespace
