// The subtitle controller against real documents over the loopback: the demo portal's own
// subtitle files, and precise documents from a test origin. Every expected text and second is
// worked out by hand from the document in the test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/SubtitleController.h"
#include "app/testing/AppTestSupport.h"
#include "app/testing/LogCapture.h"
#include "platform/core/LogWriter.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Label.h"
#include "platform/ui/TestLoop.h"
#include "portal/PortalServer.h"
#include "tests/support/TestOrigin.h"

namespace {

// A loopback round trip; far more than it takes.
constexpr double kTimeout = 10;

// A TTML document with the given cues inside its one div.
std::string Ttml(const std::string& cues) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<tt xmlns=\"http://www.w3.org/ns/ttml\" "
           "xmlns:tts=\"http://www.w3.org/ns/ttml#styling\" xml:lang=\"en\">\n"
           "<body><div>\n" +
           cues + "</div></body></tt>\n";
}

class SubtitleControllerTest : public ::testing::Test {
protected:
    std::vector<std::string> Messages(const std::string& prefix) const {
        return log_.Messages(prefix);
    }
    int Count(const std::string& message) {
        int n = 0;
        for (const std::string& m : Messages("[Q-S]")) n += m == message;
        return n;
    }
    int ErrorCount() { return static_cast<int>(Messages("[Q-S] SubtitleError:").size()); }

    // Serves the document at path and has the controller load it; true once it is parsed.
    bool Load(const std::string& path, const std::string& document) {
        origin_.Serve(path, document);
        controller_.addDFXPSubtitle(origin_.Url(path));
        return driver_.WaitFor([this] { return controller_.parserDone(); }, kTimeout);
    }
    int RequestsFor(const std::string& path) const {
        int n = 0;
        for (const auto& request : origin_.Requests()) n += request.path == path;
        return n;
    }

    ui::TestLoop loop_;
    ui::Driver driver_{nullptr, &loop_.Clock()};
    SvTestSupport::TestOrigin origin_;
    SubtitleController controller_;
    AppTestSupport::LogCapture log_;  // last: what the members log while made is not counted
};

// The portal's English document: a cue with a line break at 1-3, one with an italic span at
// 4-6, a hyphenated one at 7-9, an empty one at 10-11, "0:1:2.5"-"0:1:4" (62-64) and one 10 s
// after the end of the 65 s clip (75-77), with a comment before the first cue. The duration
// given (30 s) is shorter than the last two cues: they are filed all the same.
TEST_F(SubtitleControllerTest, DemoPortalDocumentShowsEachCueForItsSeconds) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    ZulPortal::PortalServer portal(options);

    auto label = std::make_shared<ui::Label>();
    SubtitleController controller(label);
    EXPECT_EQ(".......", label->Text());
    controller.addDuration(30.9);
    EXPECT_EQ(30, controller.duration());
    const std::string url = portal.Url("/media/101.en.ttml");
    controller.addDFXPSubtitle(url);
    ASSERT_TRUE(driver_.WaitFor([&] { return controller.parserDone(); }, kTimeout));
    EXPECT_TRUE(Messages("[Q-S] Error:").empty());

    const std::string lines = "First line\nsecond line";
    const std::string italics = "In italics and upright";
    const std::string signal = "A wellknown test signal";
    const std::string minute = "A minute and two seconds in";
    const std::string after = "After the end";
    const std::vector<std::pair<int, std::string>> expected = {
        {0, ""},  {1, lines},  {2, lines},  {3, ""},      {4, italics}, {5, italics},
        {6, ""},  {7, signal}, {8, signal}, {9, ""},      {10, ""},     {11, ""},
        {59, ""}, {60, ""},    {61, ""},    {62, minute}, {63, minute}, {64, ""},
        {65, ""}, {70, ""},    {75, after}, {76, after},  {77, ""},     {100, ""},
    };
    for (const auto& [second, text] : expected) {
        EXPECT_EQ(text, controller.getCurrentSubtitle(second)) << "at " << second << " s";
    }
    // The empty cue (10-11) was refused.
    EXPECT_EQ(1, Count("[Q-S] Bad cell 10 - "));
    // The label keeps its placeholder: the player screen puts the answers there.
    EXPECT_EQ(".......", label->Text());

    // The same document again: nothing is sent.
    const auto requestsFor = [&portal] {
        int n = 0;
        for (const auto& request : portal.Requests()) n += request.path == "/media/101.en.ttml";
        return n;
    };
    EXPECT_EQ(1, requestsFor());
    controller.addDFXPSubtitle(url);
    driver_.Advance(1);
    EXPECT_EQ(1, requestsFor());
    EXPECT_EQ(2, Count("[Q-S] " + url));

    // Another language replaces the cues; its hyphen goes too.
    controller.addDFXPSubtitle(portal.Url("/media/101.pl.ttml"));
    ASSERT_TRUE(driver_.WaitFor([&] { return controller.parserDone(); }, kTimeout));
    EXPECT_EQ("Pierwsza linia\ndruga linia", controller.getCurrentSubtitle(1));
    EXPECT_EQ("Bia\xC5\x82oczerwony sygna\xC5\x82", controller.getCurrentSubtitle(7));
}

TEST_F(SubtitleControllerTest, CueShowsFromItsBeginUntilItsEnd) {
    controller_.addDuration(120);
    ASSERT_TRUE(Load("/a.ttml", Ttml("<p begin=\"00:00:05.000\" end=\"00:00:07.000\">Five</p>\n"
                                     "<p begin=\"0:1:2.5\" end=\"0:1:4\">Sixty-two</p>\n")));
    EXPECT_EQ("", controller_.getCurrentSubtitle(4));
    EXPECT_EQ("Five", controller_.getCurrentSubtitle(5));
    EXPECT_EQ("Five", controller_.getCurrentSubtitle(6));
    EXPECT_EQ("", controller_.getCurrentSubtitle(7));
    // "0:1:2.5": 0 h, 1 min, 2 s (the fraction dropped).
    EXPECT_EQ("", controller_.getCurrentSubtitle(61));
    EXPECT_EQ("Sixtytwo", controller_.getCurrentSubtitle(62));
    EXPECT_EQ("Sixtytwo", controller_.getCurrentSubtitle(63));
    EXPECT_EQ("", controller_.getCurrentSubtitle(64));
}

// Hyphens leave the text on screen only: the comments (whose "--" a document-wide removal would
// break) and the attributes stay. A span, italic or not, keeps its text and the text after it
// (every "</span>" is removed before parsing), nested ones too, and a line break is one however it
// is written. Any other inner element ends the cue's text at its end, and the document reads on.
TEST_F(SubtitleControllerTest, TextEditsKeepTheDocumentWellFormed) {
    controller_.addDuration(120);
    ASSERT_TRUE(
        Load("/edits.ttml",
             Ttml("<!-- first - and only - comment -->\n"
                  "<p begin=\"0:0:1\" end=\"0:0:3\" xml:id=\"cue-1\">A well-known - signal</p>\n"
                  "<p begin=\"0:0:4\" end=\"0:0:6\"><span xml:space=\"preserve\" "
                  "tts:fontStyle=\"italic\">In italics</span> and upright<br/>-second line</p>\n"
                  "<p begin=\"0:0:10\" end=\"0:0:12\">One line <span tts:color=\"red\">x</span> "
                  "Subtitle.</p>\n"
                  "<p begin=\"0:0:13\" end=\"0:0:14\"><span tts:fontWeight=\"bold\">a <span "
                  "tts:color=\"red\">b</span> c</span> d</p>\n"
                  "<p begin=\"0:0:15\" end=\"0:0:16\">First<br />second<br></br>third</p>\n"
                  "<p begin=\"0:0:17\" end=\"0:0:18\">Red <b>alert</b> lost</p>\n"
                  "<p begin=\"0:0:20\" end=\"0:0:21\">Still read</p>\n")));
    EXPECT_TRUE(Messages("[Q-S] Error:").empty());
    EXPECT_EQ("A wellknown  signal", controller_.getCurrentSubtitle(1));
    EXPECT_EQ("In italics and upright\nsecond line", controller_.getCurrentSubtitle(4));
    EXPECT_EQ("One line x Subtitle.", controller_.getCurrentSubtitle(10));
    EXPECT_EQ("a b c d", controller_.getCurrentSubtitle(13));
    EXPECT_EQ("First\nsecond\nthird", controller_.getCurrentSubtitle(15));
    EXPECT_EQ("Red alert", controller_.getCurrentSubtitle(17));
    EXPECT_EQ("Still read", controller_.getCurrentSubtitle(20));
}

// A cue without text leaves no entry of its own, but its end marker is filed: the earlier cue
// stays on screen through the empty one's begin and goes at its end.
TEST_F(SubtitleControllerTest, EmptyCueIsNotStoredButItsEndMarkerIs) {
    controller_.addDuration(120);
    ASSERT_TRUE(Load("/empty.ttml", Ttml("<p begin=\"0:0:20\" end=\"0:0:30\">Alpha</p>\n"
                                         "<p begin=\"0:0:22\" end=\"0:0:25\"></p>\n")));
    EXPECT_EQ("Alpha", controller_.getCurrentSubtitle(20));
    EXPECT_EQ("Alpha", controller_.getCurrentSubtitle(22));
    EXPECT_EQ("Alpha", controller_.getCurrentSubtitle(24));
    EXPECT_EQ("", controller_.getCurrentSubtitle(25));
    EXPECT_EQ(1, Count("[Q-S] Bad cell 22 - "));
}

TEST_F(SubtitleControllerTest, CueAcrossAMinuteEndsWithTheMinuteAndShowsAgainAfterASeekBack) {
    controller_.addDuration(300);
    ASSERT_TRUE(Load("/minute.ttml", Ttml("<p begin=\"0:0:58\" end=\"0:1:2\">Across</p>\n"
                                          "<p begin=\"0:1:58\" end=\"0:2:0\">Before</p>\n"
                                          "<p begin=\"0:2:0\" end=\"0:2:3\">On the minute</p>\n")));
    EXPECT_EQ("Across", controller_.getCurrentSubtitle(58));
    EXPECT_EQ("Across", controller_.getCurrentSubtitle(59));
    EXPECT_EQ("", controller_.getCurrentSubtitle(60));
    EXPECT_EQ("", controller_.getCurrentSubtitle(61));
    EXPECT_EQ("", controller_.getCurrentSubtitle(62));
    // Seeking back: the stored cue is unchanged.
    EXPECT_EQ("Across", controller_.getCurrentSubtitle(58));
    EXPECT_EQ("Across", controller_.getCurrentSubtitle(59));
    // An entry right at the new minute shows there (its own begin after the other's end).
    EXPECT_EQ("Before", controller_.getCurrentSubtitle(118));
    EXPECT_EQ("On the minute", controller_.getCurrentSubtitle(120));
    EXPECT_EQ("On the minute", controller_.getCurrentSubtitle(122));
    EXPECT_EQ("", controller_.getCurrentSubtitle(123));
}

// Times outside the clock form, or out of range, do no harm: a four-part time counts to the
// second, an unreadable begin drops the cue, an unreadable end leaves it until the minute ends,
// and a cue a day or more in is dropped rather than growing the table to it.
TEST_F(SubtitleControllerTest, TimesOutsideTheClockFormOrRangeAreIgnored) {
    controller_.addDuration(600);
    ASSERT_TRUE(Load("/times.ttml",
                     Ttml("<p begin=\"00:00:20:12\" end=\"00:00:22:00\">Frames</p>\n"
                          "<p begin=\"25s\" end=\"0:0:27\">Offset</p>\n"
                          "<p begin=\"0:0:-5\" end=\"0:0:2\">Negative</p>\n"
                          "<p begin=\"0:0:40\" end=\"42\">No end</p>\n"
                          "<p begin=\"99999999999:0:0\" end=\"99999999999:0:1\">Saturated</p>\n"
                          "<p begin=\"30:0:0\" end=\"30:0:1\">Next day</p>\n"
                          "<p end=\"0:0:51\">No begin</p>\n")));
    EXPECT_EQ("Frames", controller_.getCurrentSubtitle(20));
    EXPECT_EQ("", controller_.getCurrentSubtitle(22));
    EXPECT_EQ("", controller_.getCurrentSubtitle(25));
    EXPECT_EQ("", controller_.getCurrentSubtitle(27));
    EXPECT_EQ("No end", controller_.getCurrentSubtitle(40));
    EXPECT_EQ("No end", controller_.getCurrentSubtitle(42));
    EXPECT_EQ("No end", controller_.getCurrentSubtitle(59));
    EXPECT_EQ("", controller_.getCurrentSubtitle(60));
    // 30 h = 108000 s: past the day of buckets.
    EXPECT_EQ("", controller_.getCurrentSubtitle(108000));
    // A missing begin counts as 0 s.
    EXPECT_EQ("No begin", controller_.getCurrentSubtitle(0));
    EXPECT_EQ("", controller_.getCurrentSubtitle(51));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Offset"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Negative"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell -1 - Saturated"));
    EXPECT_EQ(1, Count("[Q-S] Bad cell 108000 - Next day"));
    EXPECT_EQ("", controller_.getCurrentSubtitle(-1));
    EXPECT_EQ("", controller_.getCurrentSubtitle(-61));
}

// Cues past the duration, and every cue of a document parsed before the duration is known,
// are kept; a second past the last one answers "".
TEST_F(SubtitleControllerTest, CuesPastTheDurationAreKept) {
    ASSERT_TRUE(Load("/early.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:6\">Early</p>\n"
                                         "<p begin=\"0:5:0\" end=\"0:5:2\">Later</p>\n")));
    EXPECT_EQ(1, Count("[Q-S] the max interval 0.000000"));
    EXPECT_EQ("Early", controller_.getCurrentSubtitle(5));
    EXPECT_EQ("Later", controller_.getCurrentSubtitle(300));
    EXPECT_EQ("Later", controller_.getCurrentSubtitle(301));
    EXPECT_EQ("", controller_.getCurrentSubtitle(302));
    EXPECT_EQ("", controller_.getCurrentSubtitle(100000));

    for (double bad : {-5.0, std::nan("")}) {
        controller_.addDuration(bad);
        EXPECT_EQ(0, controller_.duration());
    }
    controller_.addDuration(125.9);
    EXPECT_EQ(125, controller_.duration());
}

// A failure keeps the cues in use and forgets the address, so the same one may be tried again.
TEST_F(SubtitleControllerTest, FailedDownloadKeepsCuesAndCanBeRetried) {
    controller_.addDuration(120);
    ASSERT_TRUE(Load("/good.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Good</p>\n")));

    // An error status: its page is not parsed.
    SvTestSupport::TestOrigin::Fault status;
    status.status = 404;
    origin_.SetFault("/bad.ttml", status);
    ASSERT_FALSE(Load("/bad.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Bad</p>\n")));
    EXPECT_EQ(std::vector<std::string>{"[Q-S] SubtitleError:HTTP status 404"},
              Messages("[Q-S] SubtitleError:"));
    EXPECT_EQ("Good", controller_.getCurrentSubtitle(5));
    EXPECT_EQ(1, RequestsFor("/bad.ttml"));

    // The connection cut before the body.
    SvTestSupport::TestOrigin::Fault cut;
    cut.dropAfter = 0;
    origin_.SetFault("/bad.ttml", cut);
    controller_.addDFXPSubtitle(origin_.Url("/bad.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return ErrorCount() == 2; }, kTimeout));
    EXPECT_EQ(2, RequestsFor("/bad.ttml"));
    EXPECT_EQ("Good", controller_.getCurrentSubtitle(5));

    // Healed: the same address is asked for again, and its cues replace the old ones.
    origin_.SetFault("/bad.ttml", SvTestSupport::TestOrigin::Fault());
    controller_.addDFXPSubtitle(origin_.Url("/bad.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return controller_.parserDone(); }, kTimeout));
    EXPECT_EQ(3, RequestsFor("/bad.ttml"));
    EXPECT_EQ("Bad", controller_.getCurrentSubtitle(5));
}

// A document larger than the controller holds fails like any download; the cues stay.
TEST_F(SubtitleControllerTest, OversizedDocumentIsRefused) {
    controller_.addDuration(120);
    ASSERT_TRUE(Load("/good.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Good</p>\n")));
    std::string huge = Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Huge</p>\n");
    huge += std::string(SubtitleController::kMaxDocumentBytes + 1 - huge.size(), '\n');
    EXPECT_FALSE(Load("/huge.ttml", huge));
    EXPECT_EQ(std::vector<std::string>{"[Q-S] SubtitleError:the document is larger than 8388608 "
                                       "bytes"},
              Messages("[Q-S] SubtitleError:"));
    EXPECT_EQ("Good", controller_.getCurrentSubtitle(5));
}

// A document of many cues and one very long one: every cue's text is kept whole, but no line of
// the log is longer than its bound.
TEST_F(SubtitleControllerTest, LongCueTextIsKeptWholeButItsLogLinesAreCut) {
    controller_.addDuration(3600);
    const std::string longText(1 << 20, 'w');
    std::string cues = "<p begin=\"0:0:1\" end=\"0:0:2\">" + longText + "</p>\n";
    for (int second = 3; second < 3003; ++second) {
        cues += "<p begin=\"0:0:" + std::to_string(second) + "\">Cue " + std::to_string(second) +
                "</p>\n";
    }
    ASSERT_TRUE(Load("/long.ttml", Ttml(cues)));
    EXPECT_EQ(longText, controller_.getCurrentSubtitle(1));
    EXPECT_EQ("Cue 3002", controller_.getCurrentSubtitle(3002));
    const std::vector<std::string> logs = Messages("[Q-S]");
    EXPECT_GT(logs.size(), 3000u);
    for (const std::string& message : logs) {
        ASSERT_LT(message.size(), ns::LogWriter::kMaxLineBytes) << message.substr(0, 80);
    }
    // The long text's lines keep their start.
    EXPECT_FALSE(Messages("[Q-S] wwwwwwww").empty());
}

// The request's time-out is 60 s of the loop's clock from its start, whether the server keeps
// silent or trickles its answer in a byte now and then: the failure is logged and the cues
// already read stay.
TEST_F(SubtitleControllerTest, AnswerNotWholeAfterSixtySecondsTimesOutAndTheCuesStay) {
    controller_.addDuration(120);
    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 600000;
    origin_.SetFault("/silent.ttml", silent);
    origin_.Serve("/silent.ttml", Ttml(""));
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/trickle.ttml", trickle);
    origin_.Serve("/trickle.ttml",
                  Ttml(std::string(4000, ' ') + "<p begin=\"0:0:5\" end=\"0:0:7\">Late</p>\n"));
    ASSERT_TRUE(Load("/a.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Five</p>\n")));
    int errors = 0;
    for (const char* path : {"/silent.ttml", "/trickle.ttml"}) {
        SCOPED_TRACE(path);
        controller_.addDFXPSubtitle(origin_.Url(path));
        ASSERT_TRUE(driver_.WaitFor([&] { return RequestsFor(path) == 1; }, kTimeout));
        const auto failed = [&] { return ErrorCount() > errors; };
        EXPECT_FALSE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), failed, 59.5));
        ASSERT_TRUE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), failed, 1));
        ++errors;
        EXPECT_NE(std::string::npos, Messages("[Q-S] SubtitleError:").back().find("Code=-1001"));
        EXPECT_EQ("Five", controller_.getCurrentSubtitle(5));
    }
}

// A new address while another is loading: only the new document is read.
TEST_F(SubtitleControllerTest, NewAddressReplacesALoadUnderWay) {
    controller_.addDuration(120);
    origin_.Serve("/first.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">First</p>\n"));
    SvTestSupport::TestOrigin::Fault slow;
    slow.headDelayMs = 200;
    origin_.SetFault("/second.ttml", slow);
    controller_.addDFXPSubtitle(origin_.Url("/first.ttml"));
    ASSERT_TRUE(Load("/second.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Second</p>\n")));
    EXPECT_EQ("Second", controller_.getCurrentSubtitle(5));
    EXPECT_EQ(0, RequestsFor("/first.ttml"));
}

// Clearing drops the cues and the address: the same document is fetched again afterwards.
TEST_F(SubtitleControllerTest, ClearDropsTheCuesAndTheAddress) {
    controller_.addDuration(120);
    ASSERT_TRUE(Load("/a.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Five</p>\n")));
    controller_.clear();
    EXPECT_EQ("", controller_.getCurrentSubtitle(5));
    controller_.addDFXPSubtitle(origin_.Url("/a.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return RequestsFor("/a.ttml") == 2; }, kTimeout));
    ASSERT_TRUE(driver_.WaitFor([this] { return controller_.parserDone(); }, kTimeout));
    EXPECT_EQ("Five", controller_.getCurrentSubtitle(5));
}

// A document that stops parsing keeps the cues read before the error.
TEST_F(SubtitleControllerTest, BrokenDocumentKeepsTheCuesBeforeTheError) {
    controller_.addDuration(120);
    origin_.Serve("/broken.ttml", Ttml("<p begin=\"0:0:5\" end=\"0:0:7\">Read</p>\n"
                                       "<p begin=\"0:0:8\" end=\"0:0:9\">Lost &bogus;</p>\n"));
    controller_.addDFXPSubtitle(origin_.Url("/broken.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return !Messages("[Q-S] Error:").empty(); }, kTimeout));
    EXPECT_FALSE(controller_.parserDone());
    EXPECT_EQ("Read", controller_.getCurrentSubtitle(5));
    EXPECT_EQ("", controller_.getCurrentSubtitle(7));
    EXPECT_EQ("", controller_.getCurrentSubtitle(8));
}

}  // namespace
