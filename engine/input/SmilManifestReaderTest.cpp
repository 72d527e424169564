// Reading SMIL manifests: which elements count, their attributes and errors, where sources
// resolve, and hostile documents. Nothing here fetches a file or starts a session.

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/container/MediaTrack.h"
#include "engine/input/SmilManifestReader.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace {

const char kBadBegin[] = "SMIL \"begin\" attribute must be in seconds (x.ys)";

std::string Smil(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<smil xmlns=\"http://www.w3.org/ns/SMIL\"><body><par>" + body +
           "</par></body></smil>";
}

TEST(SmilManifestReader, MediaAndTextStreamElementsAnywhereInTheDocument) {
    const int pumpsBefore = SvTestSupport::ThreadsNamed("Pump");
    SmilManifestReader reader("/data/m.smil");
    ASSERT_EQ(SVStatusSuccess,
              reader.Read("<smil><head><meta name=\"x\"/></head><body><switch>"
                          "<video src=\"v.svm\" begin=\"2.5s\" hash=\"00ff10\"/>"
                          "<par><audio src=\"a-en.svm\" systemLanguage=\"en\"/>"
                          "<Audio src=\"ignored.svm\"/>"  // names are compared exactly
                          "<textstream src=\"subs/en.ttml\" systemLanguage=\"en\" begin=\"-1.5\"/>"
                          "</par></switch>"
                          "<audio src=\"/abs/a-fr.svm\" systemLanguage=\"fr\" begin=\"12\"/>"
                          "</body></smil>"));
    const std::vector<SmilManifestReader::MediaEntry> entries = reader.GetMediaEntries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ("/data/v.svm", entries[0].location);
    EXPECT_EQ("", entries[0].language);
    EXPECT_FLOAT_EQ(2.5f, entries[0].begin);
    EXPECT_TRUE(entries[0].hashGiven);
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0xFF, 0x10}), entries[0].hash);
    EXPECT_EQ("/data/a-en.svm", entries[1].location);
    EXPECT_EQ("en", entries[1].language);
    EXPECT_FLOAT_EQ(0.0f, entries[1].begin);
    EXPECT_FALSE(entries[1].hashGiven);
    EXPECT_EQ("/abs/a-fr.svm", entries[2].location);
    EXPECT_FLOAT_EQ(12.0f, entries[2].begin);

    const std::list<boost::shared_ptr<MediaTrack>> text = reader.GetTextStreamTracks();
    ASSERT_EQ(1u, text.size());
    const MediaTrack& track = *text.front();
    EXPECT_TRUE(track.HasText());
    EXPECT_FALSE(track.HasAudio() || track.HasVideo());
    EXPECT_EQ("/data/subs/en.ttml", track.GetSource());
    EXPECT_EQ("en", track.GetInfo().GetStringOrDefault(TrackInfoKey_SubtitleIdentifier, ""));
    EXPECT_EQ(1u, track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_SubtitleFormat, 0));
    EXPECT_FLOAT_EQ(-1.5f, track.GetTimingOffset());
    // Reading a manifest starts nothing.
    EXPECT_EQ(pumpsBefore, SvTestSupport::ThreadsNamed("Pump"));
}

TEST(SmilManifestReader, BeginValues) {
    struct Case {
        const char* begin;
        bool ok;
        float seconds;
    };
    const Case cases[] = {
        {"2", true, 2.0f}, {"2.5s", true, 2.5f}, {"-1.5s", true, -1.5f}, {"12.5", true, 12.5f},
        {"abc", false, 0}, {"", false, 0},       {"s2", false, 0},       {"nan", false, 0},
        {"inf", false, 0}, {"1e40", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.begin);
        SmilManifestReader reader("/m.smil");
        const SVStatus status =
            reader.Read(Smil(std::string("<video src=\"v\" begin=\"") + c.begin + "\"/>"));
        if (c.ok) {
            ASSERT_EQ(SVStatusSuccess, status);
            ASSERT_EQ(1u, reader.GetMediaEntries().size());
            EXPECT_FLOAT_EQ(c.seconds, reader.GetMediaEntries()[0].begin);
        } else {
            EXPECT_EQ(SVStatusManifest, status);
            EXPECT_EQ(kBadBegin, reader.GetErrorText());
            EXPECT_TRUE(reader.GetMediaEntries().empty());
        }
        // The same rule for text streams.
        SmilManifestReader text("/m.smil");
        const SVStatus textStatus =
            text.Read(Smil(std::string("<textstream src=\"t\" systemLanguage=\"en\" begin=\"") +
                           c.begin + "\"/>"));
        EXPECT_EQ(c.ok ? SVStatusSuccess : SVStatusManifest, textStatus);
    }
}

TEST(SmilManifestReader, ElementErrorsStopAtTheFirst) {
    struct Case {
        const char* body;
        const char* text;
    };
    const Case cases[] = {
        {"<video/>", "Missing src attribute"},
        {"<audio systemLanguage=\"en\"/>", "Missing src attribute"},
        {"<textstream systemLanguage=\"en\"/>", "Missing src attribute"},
        {"<textstream src=\"t.ttml\"/>", "Missing textstream systemLanguage attribute"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        SmilManifestReader reader("/m.smil");
        EXPECT_EQ(SVStatusManifest, reader.Read(Smil(c.body)));
        EXPECT_EQ(SVStatusManifest, reader.GetStatus());
        EXPECT_EQ(c.text, reader.GetErrorText());
    }
    // An error in the second of three elements leaves the first record only.
    SmilManifestReader reader("/m.smil");
    EXPECT_EQ(SVStatusManifest, reader.Read(Smil("<video src=\"1\"/><audio/><audio src=\"3\"/>")));
    ASSERT_EQ(1u, reader.GetMediaEntries().size());
    EXPECT_EQ("/1", reader.GetMediaEntries()[0].location);
}

TEST(SmilManifestReader, DocumentsThatAreNotManifests) {
    const std::string notXml[] = {"", "not xml at all", "<smil><video src=\"a\">", "<a></b>",
                                  std::string("<smil>\0</smil>", 14)};
    for (const std::string& text : notXml) {
        SCOPED_TRACE(text);
        SmilManifestReader reader("/m.smil");
        EXPECT_EQ(SVStatusManifest, reader.Read(text));
        EXPECT_TRUE(reader.GetMediaEntries().empty());
    }
    // Well-formed, but nothing to load: fine for the reader (Load then times out).
    SmilManifestReader empty("/m.smil");
    EXPECT_EQ(SVStatusSuccess, empty.Read("<smil><body/></smil>"));
    EXPECT_TRUE(empty.GetMediaEntries().empty());
    // Larger than the cap, even though well-formed.
    SmilManifestReader huge("/m.smil");
    const std::string padding(SmilManifestReader::kMaxManifestBytes, ' ');
    EXPECT_EQ(SVStatusManifest, huge.Read("<smil>" + padding + "</smil>"));
}

TEST(SmilManifestReader, DocumentsThatDeclareEntitiesAreRefusedUnread) {
    // The classic exponential entity: ten levels of ten references, 10^9 copies of "lol".
    std::string classic = "<!DOCTYPE smil [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        std::string refs;
        for (int j = 0; j < 10; ++j) refs += "&l" + std::to_string(i - 1) + ";";
        classic += "<!ENTITY l" + std::to_string(i) + " \"" + refs + "\">";
    }
    classic += "]>";
    // Empty entities a thousand wide and three deep: nothing to expand, but the reader's own
    // checks of such a document run for minutes.
    std::string wide = "<!DOCTYPE smil [<!ENTITY a0 \"\">";
    for (int i = 1; i <= 3; ++i) {
        std::string refs;
        for (int j = 0; j < 1000; ++j) refs += "&a" + std::to_string(i - 1) + ";";
        wide += "<!ENTITY a" + std::to_string(i) + " \"" + refs + "\">";
    }
    wide += "]>";
    const std::string documents[] = {
        classic + "<smil><video src=\"&l9;\"/></smil>",
        classic + "<smil>&l9;</smil>",
        wide + "<smil><video src=\"a.svm\" begin=\"&a3;1s\"/></smil>",
        // An external entity (the file exists on every system).
        "<!DOCTYPE smil [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><smil><video "
        "src=\"&x;\"/></smil>",
        "<!DOCTYPE smil [<!ENTITY f \"a.svm\">]><smil><video src=\"x/&f;\"/></smil>",
    };
    for (const std::string& text : documents) {
        SCOPED_TRACE(text.substr(0, 80));
        SmilManifestReader reader("/m.smil");
        EXPECT_EQ(SVStatusManifest, reader.Read(text));
        EXPECT_EQ("Manifest declares entities, which a manifest may not", reader.GetErrorText());
        EXPECT_TRUE(reader.GetMediaEntries().empty());
    }
    // The predefined entities of XML need no declaration and still read as their characters.
    SmilManifestReader plain("/data/m.smil");
    ASSERT_EQ(SVStatusSuccess, plain.Read("<smil><video src=\"x/a&amp;b.svm\" "
                                          "systemLanguage=\"&lt;\"/></smil>"));
    ASSERT_EQ(1u, plain.GetMediaEntries().size());
    EXPECT_EQ("/data/x/a&b.svm", plain.GetMediaEntries()[0].location);
    EXPECT_EQ("<", plain.GetMediaEntries()[0].language);
}

TEST(SmilManifestReader, DeepNestingFailsCleanly) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "<a>";
    SmilManifestReader reader("/m.smil");
    EXPECT_EQ(SVStatusManifest, reader.Read(text));
}

TEST(SmilManifestReader, SourcesResolveAgainstTheManifestsFolder) {
    struct Case {
        const char* manifest;
        const char* src;
        const char* resolved;
    };
    const Case cases[] = {
        // Files: the manifest's folder, with or without "file://".
        {"/data/m.smil", "track2", "/data/track2"},
        {"file:///data/m.smil", "track2", "/data/track2"},
        {"/data/m.smil", "sub/dir/a b.svm", "/data/sub/dir/a b.svm"},
        {"/data/m.smil", "/other/a.svm", "/other/a.svm"},
        {"/data/m.smil", "file:///other/a.svm", "/other/a.svm"},
        // A local src names a file: valid escapes decoded, anything else as it stands.
        {"/data/m.smil", "c%20d.svm", "/data/c d.svm"},
        {"/data/m.smil", "a/b%2Bc.svm", "/data/a/b+c.svm"},
        {"/data/m.smil", "a/b%2bc.svm", "/data/a/b+c.svm"},
        {"/data/m.smil", "/other/c%20d.svm", "/other/c d.svm"},
        {"/data/m.smil", "file:///other/c%20d.svm", "/other/c d.svm"},
        {"/data/m.smil", "100%.svm", "/data/100%.svm"},
        {"/data/m.smil", "%zz%4", "/data/%zz%4"},
        {"/data/m.smil", "%252F.svm", "/data/%2F.svm"},    // decoded once only
        {"/data/m.smil", "a%00b.svm", "/data/a%00b.svm"},  // a NUL would cut the name short
        {"/data/m.smil", "%C3%A9.svm", "/data/\xc3\xa9.svm"},
        {"/data/m.smil", "http://cdn/a.svm", "http://cdn/a.svm"},
        // HTTP: up to the last '/' of the path; each segment encoded, the '/' kept.
        {"http://h:8/t/m.smil?k=1", "a.svm", "http://h:8/t/a.svm"},
        {"http://h/t/m.smil", "audio/fr a.svm", "http://h/t/audio/fr%20a.svm"},
        {"https://h/m.smil", "x/y/z.svm", "https://h/x/y/z.svm"},
        {"http://h", "a.svm", "http://h/a.svm"},
        // A src is a URI reference: its query (and fragment) stay as written.
        {"http://h/t/m.smil", "a?b#c", "http://h/t/a?b#c"},
        // Valid escapes kept as they stand, never encoded twice.
        {"http://h/t/m.smil", "c%20d.svm", "http://h/t/c%20d.svm"},
        {"http://h/t/m.smil", "a/b%2Bc.svm", "http://h/t/a/b%2Bc.svm"},
        {"http://h/t/m.smil", "a%2fb.svm", "http://h/t/a%2fb.svm"},
        {"http://h/t/m.smil", "t.svm?token=a%2Bb&x=1", "http://h/t/t.svm?token=a%2Bb&x=1"},
        {"http://h/t/m.smil", "/r/c%20d.svm?k=%7E", "http://h/r/c%20d.svm?k=%7E"},
        {"http://h/t/m.smil", "http://cdn/a b%20c.svm", "http://cdn/a%20b%20c.svm"},
        // What may not stand in a URI is encoded: space, '"', '<', '>', '\\', '^', '`', '{',
        // '|', '}', controls, non-ASCII bytes, and a '%' that opens no escape.
        {"http://h/t/m.smil", "a \"<>\\^`{|}.svm",
         "http://h/t/a%20%22%3C%3E%5C%5E%60%7B%7C%7D.svm"},
        {"http://h/t/m.smil", "\t\x7f\xc3\xa9.svm", "http://h/t/%09%7F%C3%A9.svm"},
        {"http://h/t/m.smil", "100%.svm", "http://h/t/100%25.svm"},
        {"http://h/t/m.smil", "%zz%4", "http://h/t/%25zz%254"},
        {"http://h/t/m.smil", "a?q=50%", "http://h/t/a?q=50%25"},
        // A reference's other characters stay: sub-delimiters, ':', '@', '~'.
        {"http://h/t/m.smil", "a:b@c!$&'()*+,;=~.svm", "http://h/t/a:b@c!$&'()*+,;=~.svm"},
        {"http://h/t/m.smil", "https://other/a.svm", "https://other/a.svm"},
        // From the root of the manifest's own server; never a local file.
        {"http://h/t/m.smil", "/abs/a.svm", "http://h/abs/a.svm"},
        {"http://h:8/t/m.smil", "/a b.svm", "http://h:8/a%20b.svm"},
        {"http://h", "/a.svm", "http://h/a.svm"},
        {"http://h/t/m.smil", "file:///etc/passwd", ""},
        // Any other scheme would be opened as a local path.
        {"http://h/t/m.smil", "x://../../etc/passwd", ""},
        {"https://h/t/m.smil", "ftp://h/a.svm", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.manifest) + " + " + c.src);
        SmilManifestReader reader(c.manifest);
        EXPECT_EQ(c.resolved, reader.ResolveLocation(c.src));
    }
}

TEST(SmilManifestReader, AManifestOnAServerMayNotNameALocalFile) {
    for (const char* element : {"<video src=\"file:///etc/passwd\"/>",
                                "<textstream src=\"file:///dev/zero\" systemLanguage=\"en\"/>"}) {
        SCOPED_TRACE(element);
        SmilManifestReader reader("http://127.0.0.1:9/t/m.smil");
        EXPECT_EQ(SVStatusManifest, reader.Read(Smil(element)));
        EXPECT_EQ(0u,
                  reader.GetErrorText().find("A manifest on a server may not name a local file"))
            << reader.GetErrorText();
        EXPECT_TRUE(reader.GetMediaEntries().empty());
        EXPECT_TRUE(reader.GetTextStreamTracks().empty());
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
