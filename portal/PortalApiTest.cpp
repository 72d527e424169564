#include <gtest/gtest.h>

#include <chrono>

#include "json/KvJsonParser.h"
#include "portal/PortalTestFixture.h"

namespace ZulPortal {
namespace test {
namespace {

ns::Value ParseJson(const TestResponse& response) {
    KvJsonParser parser;
    const std::optional<ns::Value> value = parser.objectWithString(response.body);
    EXPECT_TRUE(value.has_value()) << response.body;
    return value ? *value : ns::Value();
}

std::vector<std::string> Ids(const ns::Value& list) {
    std::vector<std::string> ids;
    if (!list.IsArray()) return {"(not a list)"};
    for (const ns::Value& item : *list.AsArray()) ids.push_back(item["id"].StringValue());
    return ids;
}

using ApiPortal = PortalTest;

TEST_F(ApiPortal, SearchAnswersTheThreeListsWithTheirItems) {
    const TestResponse response = Get(Port(), "/api/search?q=life");
    EXPECT_EQ(200, response.status);
    EXPECT_EQ("application/json; charset=utf-8", response.Header("Content-Type"));
    const ns::Value results = ParseJson(response)["results"];
    EXPECT_EQ(std::vector<std::string>(), Ids(results["movies"]));
    EXPECT_EQ(std::vector<std::string>({"201"}), Ids(results["series"]));
    EXPECT_EQ(std::vector<std::string>({"211", "212"}), Ids(results["episodes"]));
    const ns::Value& episode = results["episodes"][0];
    EXPECT_EQ("Game of Life: Episode 1", episode["title"].StringValue());
    EXPECT_EQ(portal_->Url("/thumbs/211.jpg"), episode["thumb"].StringValue());
    EXPECT_EQ("/-/-/211", episode["url"].StringValue());
}

// The search text as the application sends it (UTF-8, percent-escaped) finds titles whatever the
// case of its letters; the ids are those of the catalogue's titles "Żółw i zając" (104), "Game of
// Life" (201) and its episodes (211, 212).
TEST_F(ApiPortal, SearchFoldsTheCaseOfEveryLetter) {
    struct Row {
        const char* query;
        std::vector<std::string> movies;
        std::vector<std::string> series;
        std::vector<std::string> episodes;
    };
    const Row rows[] = {
        {"%C5%BB%C3%B3%C5%82", {"104"}, {}, {}},                    // "Żół" as the title has it
        {"%C5%BC%C3%B3%C5%82w", {"104"}, {}, {}},                   // "żółw"
        {"%C5%BB%C3%93%C5%81W%20I%20ZAJ%C4%84C", {"104"}, {}, {}},  // "ŻÓŁW I ZAJĄC"
        {"%C4%84", {"104"}, {}, {}},                                // "Ą"
        {"zolw", {}, {}, {}},                                       // the marks still count
        {"GAME%20OF%20LIFE", {}, {"201"}, {"211", "212"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.query);
        const ns::Value results =
            ParseJson(Get(Port(), std::string("/api/search?q=") + row.query))["results"];
        EXPECT_EQ(row.movies, Ids(results["movies"]));
        EXPECT_EQ(row.series, Ids(results["series"]));
        EXPECT_EQ(row.episodes, Ids(results["episodes"]));
    }
}

// Names in the three scripts whose letters fold, against texts typed in another case; half a
// character or a byte that is not UTF-8 matches nothing, although its bytes are in the name.
TEST(PortalCatalogSearch, MatchesLettersInAnyCaseAndNothingThatIsNotUtf8) {
    struct Row {
        const char* name;
        const char* text;
        bool matches;
    };
    const Row rows[] = {
        {"Żółw i zając", "ŻÓŁW I ZAJĄC", true},
        {"ŻÓŁW I ZAJĄC", "żółw i zając", true},
        {"Ελλάδα", "ΕΛΛΆΔΑ", true},
        {"Σοφός", "ΣΟΦΌΣ", true},  // a capital sigma finds the final one
        {"Москва", "МОСКВА", true},
        {"Ёлка", "ЁЛКА", true},
        {"Ђорђе", "ЂОРЂЕ", true},
        {"Việt Nam", "VIỆT NAM", true},
        {"Straße", "STRAẞE", true},
        {"Żółw i zając", "zolw", false},
        {"Żółw i zając", "\xC5", false},          // the first byte of "Ż"
        {"Żółw i zając", "\xBB", false},          // its second byte alone
        {"Żółw i zając", "\xC5\xBB\xC3", false},  // cut inside "ó"
        {"Test Pattern", "\xC1\xB4", false},      // an overlong "t"
        {"Test Pattern", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " / " + row.text);
        EXPECT_EQ(row.matches, PortalCatalog::Matches(row.name, row.text));
    }
}

TEST_F(ApiPortal, SearchGivesANullUrlForATitleWithoutPage) {
    // A space reaches the portal as %20.
    const ns::Value soon = ParseJson(Get(Port(), "/api/search?q=coming%20soon"))["results"];
    ASSERT_EQ(std::vector<std::string>({"202"}), Ids(soon["series"]));
    const ns::Value* url = soon["series"][0].Find("url");
    ASSERT_NE(nullptr, url);
    EXPECT_TRUE(url->IsNull());
    // Nothing found: the three lists are there, empty.
    const ns::Value none = ParseJson(Get(Port(), "/api/search?q=zzz"))["results"];
    for (const char* list : {"movies", "series", "episodes"}) {
        ASSERT_TRUE(none[list].IsArray()) << list;
        EXPECT_TRUE(none[list].AsArray()->empty()) << list;
    }
}

TEST_F(ApiPortal, SearchTextsThatFailOrAnswerLate) {
    EXPECT_EQ(500, Get(Port(), "/api/search?q=error500").status);
    EXPECT_EQ(400, Get(Port(), "/api/search?q=%C5").status);  // half a UTF-8 character
    const auto start = std::chrono::steady_clock::now();
    const TestResponse slow = Get(Port(), "/api/search?q=slow");
    EXPECT_EQ(200, slow.status);
    // The fixture sets the slow answer to 300 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(ApiPortal, PlaybackInformationHasTheShapeThePlayerScreenReads) {
    const TestResponse response = Get(Port(), "/api/playback?id=101&ios=1");
    ASSERT_EQ(200, response.status);
    const ns::Value info = ParseJson(response);
    EXPECT_EQ("en", info["subtitleLanguage"].StringValue());
    EXPECT_EQ("en", info["UILanguage"].StringValue());
    const ns::Value& video = info["video"];
    EXPECT_EQ("101", video["mediaID"].StringValue());
    EXPECT_TRUE(video["startPosition"].IsNumber());
    EXPECT_EQ(0, video["startPosition"].IntValue());
    EXPECT_EQ(portal_->Url("/media/101.svm"), video["drm"]["deliveryUri"].StringValue());
    EXPECT_EQ("English", video["subtitles"]["en"]["label"].StringValue());
    EXPECT_EQ(portal_->Url("/media/101.en.ttml"),
              video["subtitles"]["en"]["assets"]["TTML"]["uri"].StringValue());
    EXPECT_EQ("Polski", video["subtitles"]["pl"]["label"].StringValue());
    EXPECT_EQ(portal_->Url("/media/101.pl.ttml"),
              video["subtitles"]["pl"]["assets"]["TTML"]["uri"].StringValue());
    // What it names is served.
    EXPECT_EQ(200, Get(Port(), "/media/101.pl.ttml").status);
    EXPECT_EQ(404, Get(Port(), "/api/playback?id=201").status);  // a series plays nothing
    EXPECT_EQ(404, Get(Port(), "/api/playback?id=999").status);
}

TEST_F(ApiPortal, TestTitlesBreakTheirPlaybackInformation) {
    const ns::Value missing = ParseJson(Get(Port(), "/api/playback?id=901&ios=1"));
    EXPECT_EQ(nullptr, missing.Find("UILanguage"));
    EXPECT_EQ("901", missing["video"]["mediaID"].StringValue());
    EXPECT_EQ("",
              ParseJson(Get(Port(), "/api/playback?id=902&ios=1"))["video"]["drm"]["deliveryUri"]
                  .StringValue());
    const std::string textId =
        ParseJson(Get(Port(), "/api/playback?id=905&ios=1"))["video"]["mediaID"].StringValue();
    EXPECT_FALSE(textId.empty());
    EXPECT_NE(std::string::npos, textId.find_first_not_of("0123456789"));

    const TestResponse dropped = Get(Port(), "/api/playback?id=904&ios=1");
    EXPECT_EQ(0, dropped.status);
    EXPECT_TRUE(dropped.reset);
    // Never answered: the client gives up, and the portal still stops at once.
    const TestResponse never = Exchange(
        Port(), "GET /api/playback?id=903&ios=1 HTTP/1.1\r\nConnection: close\r\n\r\n", 300);
    EXPECT_EQ(0, never.status);
    const auto start = std::chrono::steady_clock::now();
    portal_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ApiPortal, ReportsOfThePageBridgeAreKeptPerTitle) {
    EXPECT_EQ(204, Post(Port(), "/api/progress", "kind=play_progress&id=101&value=600").status);
    EXPECT_EQ(
        600,
        ParseJson(Get(Port(), "/api/playback?id=101&ios=1"))["video"]["startPosition"].IntValue());
    EXPECT_NE(std::string::npos, Get(Port(), "/-/-/101").body.find("continue at 10:00"));
    EXPECT_EQ(
        0,
        ParseJson(Get(Port(), "/api/playback?id=102&ios=1"))["video"]["startPosition"].IntValue());

    EXPECT_EQ(204, Post(Port(), "/api/progress", "kind=error&id=101&value=300").status);
    EXPECT_NE(std::string::npos, Get(Port(), "/-/-/101").body.find("Playback error 300"));
    EXPECT_EQ(204, Post(Port(), "/api/progress", "kind=complete&id=101").status);
    EXPECT_EQ(
        0,
        ParseJson(Get(Port(), "/api/playback?id=101&ios=1"))["video"]["startPosition"].IntValue());
    EXPECT_EQ(std::string::npos, Get(Port(), "/-/-/101").body.find("continue at"));

    // Reports the portal cannot file are refused and change nothing.
    EXPECT_EQ(404, Post(Port(), "/api/progress", "kind=complete&id=media-905").status);
    EXPECT_EQ(400, Post(Port(), "/api/progress", "kind=play_progress&id=102&value=-5").status);
    EXPECT_EQ(400, Post(Port(), "/api/progress", "kind=play_progress&id=102&value=5x").status);
    EXPECT_EQ(400, Post(Port(), "/api/progress", "kind=rewind&id=102&value=5").status);
    EXPECT_EQ(405, Get(Port(), "/api/progress").status);
    EXPECT_EQ(
        0,
        ParseJson(Get(Port(), "/api/playback?id=102&ios=1"))["video"]["startPosition"].IntValue());
}

}  // namespace
}  // namespace test
}  // namespace ZulPortal
