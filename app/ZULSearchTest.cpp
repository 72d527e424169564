#include "app/ZULSearch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/SearchTestFixture.h"
#include "platform/core/LogWriter.h"
#include "platform/net/Error.h"

namespace {

using SearchTest::kTimeout;

// The escaped text takes the place of the one "%@"; everything else is sent as configured.
TEST(ZULSearchURLTest, TextIsEscapedAloneAsUtf8) {
    struct Case {
        const char* format;
        const char* text;
        const char* url;
    };
    const char* const format = "http://h:1/api/search?q=%@";
    for (const Case& c : {
             Case{format, "a b", "http://h:1/api/search?q=a%20b"},
             // "ś" is U+015B, C5 9B in UTF-8; "&" is 0x26.
             Case{format, "ś&", "http://h:1/api/search?q=%C5%9B%26"},
             // Every reserved character of the text is escaped, so none ends or starts a query
             // value.
             Case{format, "a+b=c/d?e#f%g", "http://h:1/api/search?q=a%2Bb%3Dc%2Fd%3Fe%23f%25g"},
             Case{format, "Az09-._~", "http://h:1/api/search?q=Az09-._~"},
             // An escape already in the configured URL stays as it is.
             Case{"http://h:1/a%20b/search?lang=pl&q=%@&n=1", "x",
                  "http://h:1/a%20b/search?lang=pl&q=x&n=1"},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.url, ZULSearch::searchURLForText(c.format, c.text));
    }
}

// Records what a search tells its delegate.
struct Recorder : ZULSearchDelegate {
    void zulSearchDidReceiveData(ZULSearch& /*search*/, const ns::Value* value) override {
        ++dataCalls;
        hadResults = value != nullptr;
        if (value) results = *value;
    }
    void zulSearchDidReceiveError(ZULSearch& /*search*/, const ns::Error& error) override {
        errors.push_back(error);
    }
    int dataCalls = 0;
    bool hadResults = false;
    ns::Value results;
    std::vector<ns::Error> errors;
};

class ZULSearchTest : public SearchTest::SearchTestBase {
protected:
    // The search made as the portal's provider makes it: with the configured search URL.
    void MakeSearchers() override {
        SearchTestBase::MakeSearchers();
        search_ = std::make_unique<ZULSearch>(appDelegate_->zulSearchURL());
        search_->setDelegate(&recorder_);
    }
    bool Finished() {
        return driver_.WaitFor(
            [this] { return recorder_.dataCalls + static_cast<int>(recorder_.errors.size()) > 0; },
            kTimeout);
    }

    Recorder recorder_;
    std::unique_ptr<ZULSearch> search_;
};

TEST_F(ZULSearchTest, TextReachesThePortalEscapedAndItsResultsComeBack) {
    struct Case {
        const char* text;
        const char* query;
    };
    const std::vector<Case> cases = {{"a b", "q=a%20b"}, {"ś&", "q=%C5%9B%26"}, {"game", "q=game"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        recorder_ = Recorder();
        search_->searchForSearchText(c.text);
        EXPECT_TRUE(search_->isSearchInProgress());
        ASSERT_TRUE(Finished());
        EXPECT_FALSE(search_->isSearchInProgress());
        EXPECT_TRUE(recorder_.errors.empty());
    }

    const std::vector<ZulPortal::HttpRequest> requests = PortalRequests("/api/search");
    ASSERT_EQ(cases.size(), requests.size());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].query, requests[i].query);
    // The search request is not one of the application's own: no user agent of its own.
    EXPECT_NE("zul-pellun-native-ios", requests.back().Header("User-Agent"));

    // The last search's answer: "Game of Life" (201) and its two episodes (211, 212) in the demo
    // catalogue.
    ASSERT_TRUE(recorder_.hadResults);
    EXPECT_EQ("Game of Life", recorder_.results["series"][0]["title"].AsString()
                                  ? *recorder_.results["series"][0]["title"].AsString()
                                  : "");
    ASSERT_NE(nullptr, recorder_.results["episodes"].AsArray());
    EXPECT_EQ(2u, recorder_.results["episodes"].AsArray()->size());

    const std::vector<std::string> logs = Messages("[S]");
    ASSERT_GE(logs.size(), 4u);
    EXPECT_EQ("[S] searchForString:a b", logs[0]);
    EXPECT_EQ("[S] connection didReceiveResponse code:200", logs[1]);
    EXPECT_EQ("[S] connection didReceiveData", logs[2]);
}

TEST_F(ZULSearchTest, NonOkAnswerEndsTheSearchWithoutResults) {
    search_->searchForSearchText("error500");
    ASSERT_TRUE(Finished());
    EXPECT_FALSE(search_->isSearchInProgress());
    EXPECT_EQ(1, recorder_.dataCalls);
    EXPECT_FALSE(recorder_.hadResults);
    EXPECT_TRUE(recorder_.errors.empty());
    const std::vector<std::string> logs = Messages("[S] connection didReceiveResponse");
    ASSERT_EQ(1u, logs.size());
    EXPECT_EQ("[S] connection didReceiveResponse code:500", logs[0]);
}

// Answers that are not a search answer: no results, no error, nothing kept.
TEST_F(ZULSearchTest, AnswersWithoutResultsGiveNone) {
    UseServer(OriginAddress());
    for (const std::string& body :
         {std::string("<html>not json</html>"), std::string("{\"other\": 1}"),
          std::string(4 * 1024 * 1024 + 1, ' ')}) {
        origin_.Serve("/api/search", body);
        recorder_ = Recorder();
        search_->searchForSearchText("x");
        ASSERT_TRUE(Finished());
        EXPECT_EQ(1, recorder_.dataCalls);
        EXPECT_FALSE(recorder_.hadResults);
        EXPECT_TRUE(recorder_.errors.empty());
        EXPECT_FALSE(search_->isSearchInProgress());
    }
    // None of them is a transport failure.
    EXPECT_TRUE(Messages("[S] connection didFailWithError:").empty());
}

// A large answer (34,000 movies, about 3.4 MB) comes back whole, but its log line keeps only its
// start: no line of the search is longer than the log's bound.
TEST_F(ZULSearchTest, LargeAnswerArrivesWholeButItsLogLineIsCut) {
    UseServer(OriginAddress());
    constexpr size_t kMovies = 34000;
    std::string movies;
    for (size_t i = 0; i < kMovies; ++i) {
        movies += std::string(i ? "," : "") + "{\"title\":\"Movie number " + std::to_string(i) +
                  "\",\"thumb\":\"http://127.0.0.1:1/thumbs/" + std::to_string(i) +
                  ".jpg\",\"id\":\"" + std::to_string(i) + "\",\"url\":null}";
    }
    const std::string answer = "{\"results\":{\"movies\":[" + movies + "]}}";
    ASSERT_GT(answer.size(), 3000000u);
    ASSERT_LT(answer.size(), ZULSearch::kMaxAnswerBytes);
    origin_.Serve("/api/search", answer);
    search_->searchForSearchText("x");
    ASSERT_TRUE(Finished());
    ASSERT_TRUE(recorder_.hadResults);
    ASSERT_NE(nullptr, recorder_.results["movies"].AsArray());
    EXPECT_EQ(kMovies, recorder_.results["movies"].AsArray()->size());

    const std::vector<std::string> logs = Messages("[S]");
    ASSERT_FALSE(logs.empty());
    for (const std::string& message : logs) {
        EXPECT_LT(message.size(), ns::LogWriter::kMaxLineBytes) << message.substr(0, 80);
    }
    const std::vector<std::string> finished =
        Messages("[S] connection connectionDidFinishLoading:");
    ASSERT_EQ(1u, finished.size());
    EXPECT_NE(std::string::npos, finished[0].find("Movie number 0"));
    EXPECT_NE(std::string::npos, finished[0].find(" bytes cut)"));
}

TEST_F(ZULSearchTest, TransportFailureGoesToTheDelegate) {
    portal_->Stop();
    search_->searchForSearchText("game");
    ASSERT_TRUE(Finished());
    ASSERT_EQ(1u, recorder_.errors.size());
    EXPECT_EQ(ns::Error::kCannotConnectToHost, recorder_.errors[0].GetCode());
    EXPECT_EQ(0, recorder_.dataCalls);
    EXPECT_FALSE(search_->isSearchInProgress());
    EXPECT_EQ(1u, Messages("[S] connection didFailWithError:").size());
}

// The portal holds "slow" for a minute; the search gives up 30 s after it started.
TEST_F(ZULSearchTest, GivesUpAfterThirtySilentSeconds) {
    search_->searchForSearchText("slow");
    // The clock stands still until the portal holds the request.
    ASSERT_TRUE(WaitReal([this] { return !PortalRequests("/api/search").empty(); }));
    ASSERT_EQ(1u, PortalRequests("/api/search").size());
    ASSERT_TRUE(driver_.Advance(29.5));
    EXPECT_TRUE(search_->isSearchInProgress());
    EXPECT_TRUE(recorder_.errors.empty());
    ASSERT_TRUE(driver_.Advance(1));
    ASSERT_TRUE(Finished());
    ASSERT_EQ(1u, recorder_.errors.size());
    EXPECT_EQ(ns::Error::kTimedOut, recorder_.errors[0].GetCode());
    EXPECT_FALSE(search_->isSearchInProgress());
}

}  // namespace
