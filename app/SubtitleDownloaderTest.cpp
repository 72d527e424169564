// The subtitle downloader against real documents over the loopback: the demo portal's own
// subtitle files (read through to the cues the player screen shows), and precise documents and
// faults from a test origin. Every expected text and second is worked out by hand from the
// document in the test.
#include "app/SubtitleDownloader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/SubtitleCues.h"
#include "app/TtmlParser.h"
#include "app/testing/AppTestSupport.h"
#include "app/testing/LogCapture.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TestLoop.h"
#include "portal/PortalServer.h"
#include "tests/support/TestOrigin.h"

namespace {

// A loopback round trip; far more than it takes.
constexpr double kTimeout = 10;

using AppTestSupport::TtmlWithCues;

class SubtitleDownloaderTest : public ::testing::Test {
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

    // Serves the document at path and has the downloader load it; true once it is handed over.
    bool Load(const std::string& path, const std::string& document) {
        origin_.Serve(path, document);
        const size_t before = documents_.size();
        downloader_.download(origin_.Url(path));
        return driver_.WaitFor([&] { return documents_.size() > before; }, kTimeout);
    }
    int RequestsFor(const std::string& path) const {
        int n = 0;
        for (const auto& request : origin_.Requests()) n += request.path == path;
        return n;
    }

    ui::TestLoop loop_;
    ui::Driver driver_{nullptr, &loop_.Clock()};
    SvTestSupport::TestOrigin origin_;
    // Every document handed over, in order.
    std::vector<std::string> documents_;
    SubtitleDownloader downloader_{
        [this](std::string document) { documents_.push_back(std::move(document)); }};
    AppTestSupport::LogCapture log_;  // last: what the members log while made is not counted
};

// The portal's English document: a cue with a line break at 1-3, one with an italic span at
// 4-6, a hyphenated one at 7-9, an empty one at 10-11, "0:1:2.5"-"0:1:4" (62-64) and one 10 s
// after the end of the 65 s clip (75-77), with a comment before the first cue. The duration
// given (30 s) is shorter than the last two cues: they are filed all the same.
TEST_F(SubtitleDownloaderTest, DemoPortalDocumentShowsEachCueForItsSeconds) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    ZulPortal::PortalServer portal(options);

    SubtitleCues cues;
    cues.setDuration(30.9);
    const auto read = [&cues](const std::string& document) {
        TtmlParser::Result result = TtmlParser::parse(document);
        EXPECT_TRUE(result.finished);
        cues.fill(std::move(result.entries));
    };
    const std::string url = portal.Url("/media/101.en.ttml");
    downloader_.download(url);
    ASSERT_TRUE(driver_.WaitFor([&] { return documents_.size() == 1; }, kTimeout));
    read(documents_.back());
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
        EXPECT_EQ(text, cues.textAt(second)) << "at " << second << " s";
    }
    // The empty cue (10-11) was refused.
    EXPECT_EQ(1, Count("[Q-S] Bad cell 10 - "));

    // The same document again: nothing is sent.
    const auto requestsFor = [&portal] {
        int n = 0;
        for (const auto& request : portal.Requests()) n += request.path == "/media/101.en.ttml";
        return n;
    };
    EXPECT_EQ(1, requestsFor());
    downloader_.download(url);
    // A load would be under way from here until its document was handed over, after the
    // portal took its request.
    ASSERT_TRUE(driver_.WaitFor([&] { return !downloader_.loading(); }, kTimeout));
    EXPECT_EQ(1, requestsFor());
    EXPECT_EQ(1u, documents_.size());
    EXPECT_EQ(2, Count("[Q-S] " + url));

    // Another language replaces the cues; its hyphen goes too.
    downloader_.download(portal.Url("/media/101.pl.ttml"));
    ASSERT_TRUE(driver_.WaitFor([&] { return documents_.size() == 2; }, kTimeout));
    read(documents_.back());
    EXPECT_EQ("Pierwsza linia\ndruga linia", cues.textAt(1));
    EXPECT_EQ("Bia\xC5\x82oczerwony sygna\xC5\x82", cues.textAt(7));
}

// A failure hands nothing over and forgets the address, so the same one may be tried again.
TEST_F(SubtitleDownloaderTest, FailedDownloadHandsNothingOverAndCanBeRetried) {
    const std::string good = TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Good</p>\n");
    ASSERT_TRUE(Load("/good.ttml", good));

    // An error status: its page is not handed over.
    SvTestSupport::TestOrigin::Fault status;
    status.status = 404;
    origin_.SetFault("/bad.ttml", status);
    const std::string bad = TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Bad</p>\n");
    ASSERT_FALSE(Load("/bad.ttml", bad));
    EXPECT_EQ(std::vector<std::string>{"[Q-S] SubtitleError:HTTP status 404"},
              Messages("[Q-S] SubtitleError:"));
    EXPECT_EQ(std::vector<std::string>{good}, documents_);
    EXPECT_EQ(1, RequestsFor("/bad.ttml"));

    // The connection cut before the body.
    SvTestSupport::TestOrigin::Fault cut;
    cut.dropAfter = 0;
    origin_.SetFault("/bad.ttml", cut);
    downloader_.download(origin_.Url("/bad.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return ErrorCount() == 2; }, kTimeout));
    EXPECT_EQ(2, RequestsFor("/bad.ttml"));
    EXPECT_EQ(std::vector<std::string>{good}, documents_);

    // Healed: the same address is asked for again, and its document comes.
    origin_.SetFault("/bad.ttml", SvTestSupport::TestOrigin::Fault());
    downloader_.download(origin_.Url("/bad.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return documents_.size() == 2; }, kTimeout));
    EXPECT_EQ(3, RequestsFor("/bad.ttml"));
    EXPECT_EQ(bad, documents_.back());
}

// A document larger than the downloader holds fails like any download.
TEST_F(SubtitleDownloaderTest, OversizedDocumentIsRefused) {
    ASSERT_TRUE(Load("/good.ttml", TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Good</p>\n")));
    std::string huge = TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Huge</p>\n");
    huge += std::string(SubtitleDownloader::kMaxDocumentBytes + 1 - huge.size(), '\n');
    EXPECT_FALSE(Load("/huge.ttml", huge));
    EXPECT_EQ(std::vector<std::string>{"[Q-S] SubtitleError:the document is larger than 8388608 "
                                       "bytes"},
              Messages("[Q-S] SubtitleError:"));
    EXPECT_EQ(1u, documents_.size());
}

// The request's time-out is 60 s of the loop's clock from its start, whether the server keeps
// silent or trickles its answer in a byte now and then: the failure is logged and nothing is
// handed over.
TEST_F(SubtitleDownloaderTest, AnswerNotWholeAfterSixtySecondsTimesOut) {
    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 600000;
    origin_.SetFault("/silent.ttml", silent);
    origin_.Serve("/silent.ttml", TtmlWithCues(""));
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/trickle.ttml", trickle);
    origin_.Serve("/trickle.ttml", TtmlWithCues(std::string(4000, ' ') +
                                                "<p begin=\"0:0:5\" end=\"0:0:7\">Late</p>\n"));
    ASSERT_TRUE(Load("/a.ttml", TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Five</p>\n")));
    int errors = 0;
    for (const char* path : {"/silent.ttml", "/trickle.ttml"}) {
        SCOPED_TRACE(path);
        downloader_.download(origin_.Url(path));
        ASSERT_TRUE(driver_.WaitFor([&] { return RequestsFor(path) == 1; }, kTimeout));
        const auto failed = [&] { return ErrorCount() > errors; };
        EXPECT_FALSE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), failed, 59.5));
        ASSERT_TRUE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), failed, 1));
        ++errors;
        EXPECT_NE(std::string::npos, Messages("[Q-S] SubtitleError:").back().find("Code=-1001"));
        EXPECT_EQ(1u, documents_.size());
    }
}

// A new address while another is loading: only the new document is read.
TEST_F(SubtitleDownloaderTest, NewAddressReplacesALoadUnderWay) {
    origin_.Serve("/first.ttml", TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">First</p>\n"));
    SvTestSupport::TestOrigin::Fault slow;
    slow.headDelayMs = 200;
    origin_.SetFault("/second.ttml", slow);
    downloader_.download(origin_.Url("/first.ttml"));
    const std::string second = TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Second</p>\n");
    ASSERT_TRUE(Load("/second.ttml", second));
    EXPECT_EQ(std::vector<std::string>{second}, documents_);
    EXPECT_EQ(0, RequestsFor("/first.ttml"));
}

// Clearing forgets the address: the same document is fetched again afterwards.
TEST_F(SubtitleDownloaderTest, ClearForgetsTheAddress) {
    const std::string five = TtmlWithCues("<p begin=\"0:0:5\" end=\"0:0:7\">Five</p>\n");
    ASSERT_TRUE(Load("/a.ttml", five));
    downloader_.clear();
    downloader_.download(origin_.Url("/a.ttml"));
    ASSERT_TRUE(driver_.WaitFor([this] { return RequestsFor("/a.ttml") == 2; }, kTimeout));
    ASSERT_TRUE(driver_.WaitFor([this] { return documents_.size() == 2; }, kTimeout));
    EXPECT_EQ(five, documents_.back());
}

}  // namespace
