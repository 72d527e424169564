// `mktitle --smil`: the folder it writes read back with other readers: the manifest as plain
// text, the title files with titledump and ffmpeg, the index digests with the engine's parser.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using SvTestSupport::AdtsOf;
using SvTestSupport::Fixtures;
using SvTestSupport::ReadWholeFile;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;
using Bytes = std::vector<uint8_t>;

// One element of the manifest as the text has it: its name and its attributes.
struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
};

// The empty "video", "audio" and "textstream" elements "<name a="v" .../>" of the text, in
// order (the manifest writes them so); attribute values as written.
std::vector<Element> EmptyElements(const std::string& text) {
    std::vector<Element> elements;
    const std::regex element("<([A-Za-z]+)((?:\\s+[A-Za-z]+=\"[^\"]*\")*)\\s*/>");
    const std::regex attribute("([A-Za-z]+)=\"([^\"]*)\"");
    for (std::sregex_iterator it(text.begin(), text.end(), element), end; it != end; ++it) {
        Element e;
        e.name = (*it)[1];
        if (e.name != "video" && e.name != "audio" && e.name != "textstream") {
            continue;
        }
        const std::string list = (*it)[2];
        for (std::sregex_iterator a(list.begin(), list.end(), attribute); a != end; ++a) {
            e.attributes[(*a)[1]] = (*a)[2];
        }
        elements.push_back(e);
    }
    return elements;
}

// The engine's parser over the file's header with the digest switched on: the digest it holds
// once the index is complete, as lower-case hex.
class DigestParser : public SarvelonMediaKit::Mpeg2PsParserListener,
                     public SarvelonMediaKit::Mpeg2PsParser {
public:
    DigestParser() : Mpeg2PsParser(*this, false) { GetHeaderSection().SetHashEnabled(true); }
};

std::string EngineDigest(const std::string& path) {
    const Bytes bytes = SvTestSupport::ReadFileBytes(path);
    DigestParser parser;
    parser.Parse(SarvelonMediaKit::MemoryChunk::CopyOf(bytes), false);
    std::string hex;
    static const char kDigits[] = "0123456789abcdef";
    for (uint8_t byte : parser.GetHeaderSection().GetIndexDigest()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Dump(const std::string& title) {
    std::string report;
    EXPECT_EQ(0, RunProgram({SV_TITLEDUMP_PATH, title}, &report)) << report;
    return report;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

SV_SUITE_LABEL(MktitleSmil, e2e);  // checked with outside clients
TEST(MktitleSmil, FolderHoldsPicturesSoundPerLanguageSubtitlesAndTheManifest) {
    const std::string manifest = Fixtures::SmilTitle();
    const std::string folder = manifest.substr(0, manifest.rfind('/'));
    const std::vector<Element> elements = EmptyElements(ReadWholeFile(manifest));
    ASSERT_EQ(elements.size(), 4u) << ReadWholeFile(manifest);

    // The pictures first, then the sound in the order of the languages, then the subtitles;
    // every source relative to the manifest.
    EXPECT_EQ(elements[0].name, "video");
    EXPECT_EQ(elements[0].attributes.at("src"), "video.svm");
    EXPECT_EQ(elements[0].attributes.count("systemLanguage"), 0u);
    EXPECT_EQ(elements[1].name, "audio");
    EXPECT_EQ(elements[1].attributes.at("src"), "audio-en.svm");
    EXPECT_EQ(elements[1].attributes.at("systemLanguage"), "en");
    EXPECT_EQ(elements[2].name, "audio");
    EXPECT_EQ(elements[2].attributes.at("src"), "audio-de.svm");
    EXPECT_EQ(elements[2].attributes.at("systemLanguage"), "de");
    EXPECT_EQ(elements[3].name, "textstream");
    EXPECT_EQ(elements[3].attributes.at("src"), "text-en.ttml");
    EXPECT_EQ(elements[3].attributes.at("systemLanguage"), "en");
    EXPECT_EQ(elements[3].attributes.count("hash"), 0u);

    // Each media file's hash is the digest the engine's parser takes over its index entries.
    for (size_t i = 0; i < 3; ++i) {
        const std::string file = folder + "/" + elements[i].attributes.at("src");
        ASSERT_TRUE(SvTestSupport::PathExists(file)) << file;
        EXPECT_EQ(elements[i].attributes.at("hash"), EngineDigest(file)) << file;
        EXPECT_EQ(elements[i].attributes.at("hash").size(), 64u);
    }
    // The subtitles are a copy.
    EXPECT_EQ(SvTestSupport::ReadFileBytes(folder + "/text-en.ttml"),
              SvTestSupport::ReadFileBytes(Fixtures::SubtitleFile()));

    // video.svm: one track with pictures and no sound, one elementary stream.
    const std::string video = Dump(folder + "/video.svm");
    EXPECT_NE(video.find("tracks: 1\n"), std::string::npos) << video;
    EXPECT_NE(video.find("track 1: video\n"), std::string::npos) << video;
    EXPECT_NE(video.find("TrackInfoKey_VideoWidth = 320"), std::string::npos) << video;
    EXPECT_EQ(video.find("TrackInfoKey_Audio"), std::string::npos) << video;
    EXPECT_EQ(Count(video, "\nstream 0x"), 1u) << video;

    // The audio files: one sound track each, tagged with its language.
    for (const char* language : {"en", "de"}) {
        const std::string audio = Dump(folder + "/audio-" + language + ".svm");
        EXPECT_NE(audio.find("track 1: audio\n"), std::string::npos) << audio;
        EXPECT_NE(audio.find("TrackInfoKey_AudioIdentifier = \"" + std::string(language) + "\""),
                  std::string::npos)
            << audio;
        EXPECT_EQ(audio.find("TrackInfoKey_Video"), std::string::npos) << audio;
        EXPECT_EQ(Count(audio, "\nstream 0x"), 1u) << audio;
    }

    // Each language carries its own source's frames unchanged, and the two differ.
    TemporaryDirectory scratch("mktitle-smil-");
    const std::string frames = scratch.File("frames.aac");
    const std::string en = AdtsOf(folder + "/audio-en.svm", frames);
    const std::string de = AdtsOf(folder + "/audio-de.svm", frames);
    ASSERT_FALSE(en.empty());
    EXPECT_TRUE(en == AdtsOf(Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), frames));
    EXPECT_TRUE(de == AdtsOf(Fixtures::SineAudioClip(Fixtures::kSmilSecondFrequency), frames));
    EXPECT_TRUE(en != de);
}

TEST(MktitleSmil, DigestsHoldForIndexEntriesSplitOverPacketsAndForSeveralTracks) {
    // Entries cut into 40-byte packets are digested once per packet by a reader (each time with
    // all of the entry gathered so far); a video file of two renditions has two entries.
    TemporaryDirectory scratch("mktitle-smil-");
    const std::string folder = scratch.File("title");
    const std::vector<std::string> rates = Fixtures::MultiRateClips();
    std::string output;
    ASSERT_EQ(0, RunProgram({Fixtures::MktitlePath(), "--smil", folder, "--split-index", "40",
                             "--lang", "en", rates[0], rates[1]},
                            &output))
        << output;
    const std::vector<Element> elements = EmptyElements(ReadWholeFile(folder + "/title.smil"));
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_NE(Dump(folder + "/video.svm").find("tracks: 2\n"), std::string::npos);
    // Both inputs carry "en" sound: one audio file of two tracks.
    EXPECT_NE(Dump(folder + "/audio-en.svm").find("tracks: 2\n"), std::string::npos);
    for (const Element& element : elements) {
        const std::string file = folder + "/" + element.attributes.at("src");
        EXPECT_EQ(element.attributes.at("hash"), EngineDigest(file)) << file;
    }
    // The same title with whole entries has other packets, so other digests.
    const std::string whole = scratch.File("whole");
    ASSERT_EQ(0, RunProgram(
                     {Fixtures::MktitlePath(), "--smil", whole, "--lang", "en", rates[0], rates[1]},
                     &output))
        << output;
    const std::vector<Element> wholeElements = EmptyElements(ReadWholeFile(whole + "/title.smil"));
    ASSERT_EQ(wholeElements.size(), 2u);
    EXPECT_NE(wholeElements[0].attributes.at("hash"), elements[0].attributes.at("hash"));
    EXPECT_EQ(wholeElements[0].attributes.at("hash"), EngineDigest(whole + "/video.svm"));
}

TEST(MktitleSmil, UsageErrorsAndAFailedRunLeaveNothingBehind) {
    TemporaryDirectory scratch("mktitle-smil-");
    const std::string clip = Fixtures::ShortClip();
    const std::string tool = Fixtures::MktitlePath();
    std::string output;
    // Options that do not go together, and languages that cannot name a file.
    EXPECT_EQ(
        2, RunProgram({tool, "--textstream", "en:x.ttml", clip, scratch.File("t.svm")}, &output));
    EXPECT_EQ(2, RunProgram({tool, "--smil", scratch.File("a"), "-o", "x", clip}, &output));
    EXPECT_EQ(2, RunProgram({tool, "--smil", scratch.File("a"), "--lang", "../x", clip}, &output));
    EXPECT_NE(output.find("../x"), std::string::npos) << output;
    EXPECT_EQ(2, RunProgram({tool, "--smil", scratch.File("a"), "--textstream", "nolanguage", clip},
                            &output));
    EXPECT_EQ(2,
              RunProgram({tool, "--smil", scratch.File("a"), "--truncate", "100", clip}, &output));
    EXPECT_EQ(2, RunProgram({tool, "--smil", scratch.File("a"), "--textstream",
                             "en:" + Fixtures::SubtitleFile(), "--textstream",
                             "en:" + Fixtures::SubtitleFile(), clip},
                            &output));
    EXPECT_FALSE(SvTestSupport::PathExists(scratch.File("a")));

    // A subtitle file that cannot be read fails the run after the titles were written: the
    // folder it made goes again.
    EXPECT_EQ(1, RunProgram({tool, "--smil", scratch.File("b"), "--textstream",
                             "en:" + scratch.File("missing.ttml"), clip},
                            &output));
    EXPECT_NE(output.find("missing.ttml"), std::string::npos) << output;
    EXPECT_FALSE(SvTestSupport::PathExists(scratch.File("b")));

    // In a folder that was there, only what the run made goes; other files stay untouched.
    const std::string kept = scratch.File("c");
    ASSERT_EQ(0, mkdir(kept.c_str(), 0755));
    {
        std::ofstream other(kept + "/notes.txt");
        other << "mine";
    }
    EXPECT_EQ(1, RunProgram({tool, "--smil", kept, "--textstream",
                             "en:" + scratch.File("missing.ttml"), clip},
                            &output));
    EXPECT_EQ(SvTestSupport::DirectoryEntries(kept), std::set<std::string>{"notes.txt"});
    EXPECT_EQ(ReadWholeFile(kept + "/notes.txt"), "mine");
}

}  // namespace
