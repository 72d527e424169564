#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <cstdio>
#include <fstream>

#include "portal/PortalTestFixture.h"

namespace ZulPortal {
namespace test {
namespace {

const std::string kSignedIn = "Cookie: COMPANY_ID=10157; ID=abc\r\n";

// A page read by libxml2's HTML parser: the parse errors it reported and XPath lookups.
class HtmlPage {
public:
    explicit HtmlPage(const std::string& html) {
        xmlSetStructuredErrorFunc(this, [](void* self, xmlError* error) {
            // libxml2's HTML parser knows HTML 4 only: the HTML5 elements (header, nav, main,
            // section, article, footer) are "unknown tags" to it and nothing worse.
            if (error->code != XML_HTML_UNKNOWN_TAG) {
                static_cast<HtmlPage*>(self)->errors_.push_back(
                    std::to_string(error->line) + ": " + (error->message ? error->message : ""));
            }
        });
        doc_ = htmlReadMemory(html.data(), static_cast<int>(html.size()), "page.html", "UTF-8",
                              HTML_PARSE_NONET);
        xmlSetStructuredErrorFunc(nullptr, nullptr);
    }
    ~HtmlPage() {
        if (doc_ != nullptr) xmlFreeDoc(doc_);
    }
    bool Parsed() const { return doc_ != nullptr; }
    const std::vector<std::string>& Errors() const { return errors_; }
    // The text values of the nodes an XPath expression selects (attributes or elements).
    std::vector<std::string> Select(const std::string& expression) const {
        std::vector<std::string> values;
        xmlXPathContextPtr context = xmlXPathNewContext(doc_);
        xmlXPathObjectPtr found = xmlXPathEvalExpression(BAD_CAST expression.c_str(), context);
        if (found != nullptr && found->nodesetval != nullptr) {
            for (int i = 0; i < found->nodesetval->nodeNr; ++i) {
                xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
                values.push_back(text ? reinterpret_cast<char*>(text) : "");
                xmlFree(text);
            }
        }
        xmlXPathFreeObject(found);
        xmlXPathFreeContext(context);
        return values;
    }

private:
    htmlDocPtr doc_ = nullptr;
    std::vector<std::string> errors_;
};

using PagesPortal = PortalTest;

TEST_F(PagesPortal, EveryPageIsHtmlWithTheStylesheetAndTheMenuLinks) {
    for (const char* path : {"/home", "/series", "/movies", "/my", "/-/-/101", "/-/-/201",
                             "/c/portal/login", "/nowhere"}) {
        SCOPED_TRACE(path);
        const TestResponse response = Get(Port(), path, kSignedIn);
        EXPECT_EQ(std::string(path) == "/nowhere" ? 404 : 200, response.status);
        EXPECT_EQ("text/html; charset=utf-8", response.Header("Content-Type"));
        const HtmlPage page(response.body);
        ASSERT_TRUE(page.Parsed());
        EXPECT_EQ(std::vector<std::string>(), page.Errors());
        EXPECT_EQ(std::vector<std::string>({"/static/portal.css"}),
                  page.Select("//link[@rel='stylesheet']/@href"));
        EXPECT_EQ(std::vector<std::string>({"/series", "/movies", "/my"}),
                  page.Select("//header/nav/a/@href"));
    }
    const TestResponse css = Get(Port(), "/static/portal.css");
    EXPECT_EQ("text/css; charset=utf-8", css.Header("Content-Type"));
    EXPECT_NE(std::string::npos, css.body.find(".grid"));
}

TEST_F(PagesPortal, GridsLinkTitlesUnderTheTitlePathWithThumbnails) {
    const HtmlPage movies(Get(Port(), "/movies", kSignedIn).body);
    EXPECT_EQ(std::vector<std::string>({"/-/-/101", "/-/-/102", "/-/-/103", "/-/-/104"}),
              movies.Select("//ul[@class='grid']/li/a/@href"));
    EXPECT_EQ(std::vector<std::string>(
                  {"/thumbs/101.jpg", "/thumbs/102.jpg", "/thumbs/103.jpg", "/thumbs/104.jpg"}),
              movies.Select("//ul[@class='grid']/li/a/img/@src"));
    EXPECT_EQ("\xC5\xBB\xC3\xB3\xC5\x82w i zaj\xC4\x85\x63",
              movies.Select("//li/a/span[@class='name']")[3]);
    // A series without a page is shown, not linked.
    const HtmlPage series(Get(Port(), "/series", kSignedIn).body);
    EXPECT_EQ(std::vector<std::string>({"/-/-/201"}), series.Select("//li/a/@href"));
    EXPECT_EQ(std::vector<std::string>({"Coming Soon"}),
              series.Select("//li/span[@class='soon']/span"));
    // The series page lists its episodes.
    const HtmlPage life(Get(Port(), "/-/-/201", kSignedIn).body);
    EXPECT_EQ(std::vector<std::string>({"/-/-/211", "/-/-/212"}),
              life.Select("//ul[@class='grid']/li/a/@href"));
}

TEST_F(PagesPortal, ATitlePageHasItsPosterItsPlayLinkAndThePageFunction) {
    const HtmlPage page(Get(Port(), "/-/-/101", kSignedIn).body);
    EXPECT_EQ(std::vector<std::string>({"/posters/101.jpg"}),
              page.Select("//img[@class='poster']/@src"));
    EXPECT_EQ(std::vector<std::string>({"Test Pattern"}), page.Select("//h1"));
    EXPECT_EQ(
        std::vector<std::string>({"zulmovie://" + portal_->Address() + "/api/playback?id=101"}),
        page.Select("//a[@class='play']/@href"));
    const std::vector<std::string> scripts = page.Select("//script");
    ASSERT_EQ(1u, scripts.size());
    EXPECT_NE(std::string::npos, scripts[0].find("function __zulPlayerProxy(kind, id, value)"));
    EXPECT_EQ(1u, page.Select("//*[@id='player-status']").size());
}

// The page function run by node with a stand-in document and request: what it shows and what
// it posts, for the three calls the application makes.
TEST_F(PagesPortal, ThePageFunctionShowsAndPostsWhatItReceives) {
    const HtmlPage page(Get(Port(), "/-/-/101", kSignedIn).body);
    const std::string script = page.Select("//script").at(0);
    const std::string path = ::testing::TempDir() + "/portal-bridge.js";
    {
        std::ofstream out(path);
        out << "var status = {textContent: ''};\n"
               "var document = {getElementById: function (id) {\n"
               "  return id === 'player-status' ? status : null; }};\n"
               "var sent = [];\n"
               "function XMLHttpRequest() {}\n"
               "XMLHttpRequest.prototype.open = function (m, u) { this.line = m + ' ' + u; };\n"
               "XMLHttpRequest.prototype.setRequestHeader = function () {};\n"
               "XMLHttpRequest.prototype.send = function (b) { sent.push(this.line + ' ' + b); };\n"
            << script
            << "\n__zulPlayerProxy('play_progress',101,600);\n"
               "console.log(status.textContent);\n"
               "__zulPlayerProxy('complete',101);\n"
               "console.log(status.textContent);\n"
               "__zulPlayerProxy('error',101,300);\n"
               "console.log(status.textContent);\n"
               "console.log(sent.join('\\n'));\n";
    }
    FILE* node = popen(("node " + path + " 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, node);
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, node) != nullptr) output += buffer;
    ASSERT_EQ(0, pclose(node)) << output;
    EXPECT_EQ(
        "Last position 10:00 (title 101)\n"
        "Completed (title 101)\n"
        "Playback error 300 (title 101)\n"
        "POST /api/progress kind=play_progress&id=101&value=600\n"
        "POST /api/progress kind=complete&id=101&value=\n"
        "POST /api/progress kind=error&id=101&value=300\n",
        output);
    // What it posts is what the portal files.
    EXPECT_EQ(204, Post(Port(), "/api/progress", "kind=complete&id=101&value=").status);
}

}  // namespace
}  // namespace test
}  // namespace ZulPortal
