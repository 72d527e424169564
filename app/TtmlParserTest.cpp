// The TTML reader on precise documents. Each document is read into a cue list (SubtitleCues)
// and looked up second by second, as the player screen shows it; every expected text and second
// is worked out by hand from the document in the test.
#include "app/TtmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/SubtitleCues.h"
#include "app/testing/AppTestSupport.h"
#include "app/testing/LogCapture.h"
#include "platform/core/LogWriter.h"

namespace {

using AppTestSupport::TtmlWithCues;

class TtmlParserTest : public ::testing::Test {
protected:
    int Count(const std::string& message) {
        int n = 0;
        for (const std::string& m : log_.Messages("[Q-S]")) n += m == message;
        return n;
    }
    // Reads the document to its end into cues_, for a movie of `duration` seconds.
    void Read(const std::string& document, double duration) {
        TtmlParser::Result result = TtmlParser::parse(document);
        ASSERT_TRUE(result.started);
        ASSERT_TRUE(result.finished);
        cues_.setDuration(duration);
        cues_.fill(std::move(result.entries));
    }

    SubtitleCues cues_;
    AppTestSupport::LogCapture log_;  // last: what the members log while made is not counted
};

TEST_F(TtmlParserTest, CueShowsFromItsBeginUntilItsEnd) {
    Read(TtmlWithCues("<p begin=\"00:00:05.000\" end=\"00:00:07.000\">Five</p>\n"
                      "<p begin=\"0:1:2.5\" end=\"0:1:4\">Sixty-two</p>\n"),
         120);
    EXPECT_EQ("", cues_.textAt(4));
    EXPECT_EQ("Five", cues_.textAt(5));
    EXPECT_EQ("Five", cues_.textAt(6));
    EXPECT_EQ("", cues_.textAt(7));
    // "0:1:2.5": 0 h, 1 min, 2 s (the fraction dropped).
    EXPECT_EQ("", cues_.textAt(61));
    EXPECT_EQ("Sixtytwo", cues_.textAt(62));
    EXPECT_EQ("Sixtytwo", cues_.textAt(63));
    EXPECT_EQ("", cues_.textAt(64));
}

// Hyphens leave the text on screen only: the comments (whose "--" a document-wide removal would
// break) and the attributes stay. A span, italic or not, keeps its text and the text after it
// (every "</span>" is removed before parsing), nested ones too, and a line break is one however it
// is written. Any other inner element ends the cue's text at its end, and the document reads on.
TEST_F(TtmlParserTest, TextEditsKeepTheDocumentWellFormed) {
    Read(
        TtmlWithCues("<!-- first - and only - comment -->\n"
                     "<p begin=\"0:0:1\" end=\"0:0:3\" xml:id=\"cue-1\">A well-known - signal</p>\n"
                     "<p begin=\"0:0:4\" end=\"0:0:6\"><span xml:space=\"preserve\" "
                     "tts:fontStyle=\"italic\">In italics</span> and upright<br/>-second line</p>\n"
                     "<p begin=\"0:0:10\" end=\"0:0:12\">One line <span tts:color=\"red\">x</span> "
                     "Subtitle.</p>\n"
                     "<p begin=\"0:0:13\" end=\"0:0:14\"><span tts:fontWeight=\"bold\">a <span "
                     "tts:color=\"red\">b</span> c</span> d</p>\n"
                     "<p begin=\"0:0:15\" end=\"0:0:16\">First<br />second<br></br>third</p>\n"
                     "<p begin=\"0:0:17\" end=\"0:0:18\">Red <b>alert</b> lost</p>\n"
                     "<p begin=\"0:0:20\" end=\"0:0:21\">Still read</p>\n"),
        120);
    EXPECT_TRUE(log_.Messages("[Q-S] Error:").empty());
    EXPECT_EQ("A wellknown  signal", cues_.textAt(1));
    EXPECT_EQ("In italics and upright\nsecond line", cues_.textAt(4));
    EXPECT_EQ("One line x Subtitle.", cues_.textAt(10));
    EXPECT_EQ("a b c d", cues_.textAt(13));
    EXPECT_EQ("First\nsecond\nthird", cues_.textAt(15));
    EXPECT_EQ("Red alert", cues_.textAt(17));
    EXPECT_EQ("Still read", cues_.textAt(20));
}

// A cue without text leaves no entry of its own, but its end marker is given: the earlier cue
// stays on screen through the empty one's begin and goes at its end.
TEST_F(TtmlParserTest, EmptyCueIsNotStoredButItsEndMarkerIs) {
    const TtmlParser::Result result =
        TtmlParser::parse(TtmlWithCues("<p begin=\"0:0:20\" end=\"0:0:30\">Alpha</p>\n"
                                       "<p begin=\"0:0:22\" end=\"0:0:25\"></p>\n"));
    ASSERT_EQ(3u, result.entries.size());
    EXPECT_EQ(20, result.entries[0].begin);
    EXPECT_EQ("Alpha", result.entries[0].subtitleString);
    EXPECT_EQ(30, result.entries[1].begin);  // Alpha's end marker
    EXPECT_EQ("", result.entries[1].subtitleString);
    EXPECT_EQ(25, result.entries[2].begin);  // the empty cue's end marker
    EXPECT_EQ("", result.entries[2].subtitleString);
    EXPECT_EQ(1, Count("[Q-S] Bad cell 22 - "));

    cues_.setDuration(120);
    cues_.fill(result.entries);
    EXPECT_EQ("Alpha", cues_.textAt(20));
    EXPECT_EQ("Alpha", cues_.textAt(22));
    EXPECT_EQ("Alpha", cues_.textAt(24));
    EXPECT_EQ("", cues_.textAt(25));
}

// Times outside the clock form, or out of range, do no harm: a four-part time counts to the
// second, an unreadable begin drops the cue, an unreadable end leaves it until the minute ends,
// and a cue a day or more in is dropped by the cue list rather than growing the table to it.
TEST_F(TtmlParserTest, TimesOutsideTheClockFormOrRangeAreIgnored) {
    Read(TtmlWithCues("<p begin=\"00:00:20:12\" end=\"00:00:22:00\">Frames</p>\n"
                      "<p begin=\"25s\" end=\"0:0:27\">Offset</p>\n"
                      "<p begin=\"0:0:-5\" end=\"0:0:2\">Negative</p>\n"
                      "<p begin=\"0:0:40\" end=\"42\">No end</p>\n"
                      "<p begin=\"99999999999:0:0\" end=\"99999999999:0:1\">Saturated</p>\n"
                      "<p begin=\"30:0:0\" end=\"30:0:1\">Next day</p>\n"
                      "<p end=\"0:0:51\">No begin</p>\n"),
         600);
    EXPECT_EQ("Frames", cues_.textAt(20));
    EXPECT_EQ("", cues_.textAt(22));
    EXPECT_EQ("", cues_.textAt(25));
    EXPECT_EQ("", cues_.textAt(27));
    EXPECT_EQ("No end", cues_.textAt(40));
    EXPECT_EQ("No end", cues_.textAt(42));
    EXPECT_EQ("No end", cues_.textAt(59));
    EXPECT_EQ("", cues_.textAt(60));
    // 30 h = 108000 s: past the day of buckets.
    EXPECT_EQ("", cues_.textAt(108000));
    // A missing begin counts as 0 s.
    EXPECT_EQ("No begin", cues_.textAt(0));
    EXPECT_EQ("", cues_.textAt(51));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Offset"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Negative"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Saturated"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell 108000 - Next day"));
    EXPECT_EQ("", cues_.textAt(-1));
    EXPECT_EQ("", cues_.textAt(-61));
}

// A document of many cues and one very long one: every cue's text is kept whole, but no line of
// the log is longer than its bound.
TEST_F(TtmlParserTest, LongCueTextIsKeptWholeButItsLogLinesAreCut) {
    const std::string longText(1 << 20, 'w');
    std::string cues = "<p begin=\"0:0:1\" end=\"0:0:2\">" + longText + "</p>\n";
    for (int second = 3; second < 3003; ++second) {
        cues += "<p begin=\"0:0:" + std::to_string(second) + "\">Cue " + std::to_string(second) +
                "</p>\n";
    }
    Read(TtmlWithCues(cues), 3600);
    EXPECT_EQ(longText, cues_.textAt(1));
    EXPECT_EQ("Cue 3002", cues_.textAt(3002));
    const std::vector<std::string> logs = log_.Messages("[Q-S]");
    EXPECT_GT(logs.size(), 3000u);
    for (const std::string& message : logs) {
        ASSERT_LT(message.size(), ns::LogWriter::kMaxLineBytes) << message.substr(0, 80);
    }
    // The long text's lines keep their start.
    EXPECT_FALSE(log_.Messages("[Q-S] wwwwwwww").empty());
}

// Only an element whose name, as written, is "p" is a cue: the reader takes no notice of
// namespaces, so "tt:p", a paragraph of the same namespace under a prefix, is none (its text
// and its end are not filed), and an unprefixed "p" after it is read as ever.
TEST_F(TtmlParserTest, OnlyAnElementNamedPAsWrittenIsACue) {
    Read(TtmlWithCues("<tt:p xmlns:tt=\"http://www.w3.org/ns/ttml\" begin=\"0:0:5\" "
                      "end=\"0:0:7\">Prefixed</tt:p>\n"
                      "<p begin=\"0:0:6\">Plain</p>\n"
                      "<ttml:p xmlns:ttml=\"http://www.w3.org/ns/ttml\" begin=\"0:0:8\" "
                      "end=\"0:0:9\">Also prefixed</ttml:p>\n"),
         120);
    EXPECT_EQ("", cues_.textAt(5));
    EXPECT_EQ("Plain", cues_.textAt(6));
    // No end marker of the prefixed cue at 7, nor its text at 8: the plain one stays.
    EXPECT_EQ("Plain", cues_.textAt(7));
    EXPECT_EQ("Plain", cues_.textAt(8));
    EXPECT_EQ("Plain", cues_.textAt(9));
}

// A document that stops parsing gives the cues read before the error, and says it did not end.
TEST_F(TtmlParserTest, BrokenDocumentGivesTheCuesBeforeTheError) {
    const TtmlParser::Result result =
        TtmlParser::parse(TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Read</p>\n"
                                       "<p begin=\"0:0:8\" end=\"0:0:9\">Lost &bogus;</p>\n"));
    EXPECT_FALSE(log_.Messages("[Q-S] Error:").empty());
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.finished);
    cues_.setDuration(120);
    cues_.fill(result.entries);
    EXPECT_EQ("Read", cues_.textAt(5));
    EXPECT_EQ("", cues_.textAt(7));
    EXPECT_EQ("", cues_.textAt(8));
}

}  // namespace
