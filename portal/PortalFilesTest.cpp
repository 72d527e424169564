#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "portal/DemoData.h"
#include "portal/PortalTestFixture.h"

namespace ZulPortal {
namespace test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

using FilesPortal = PortalTest;

TEST_F(FilesPortal, TitlesAreServedWithByteRanges) {
    const std::string file = DemoData::TitlePath(SV_PORTAL_DATA_DIR, "pattern");
    const std::string bytes = ReadFile(file);
    ASSERT_GT(bytes.size(), 1000u);
    const std::string size = std::to_string(bytes.size());

    const TestResponse part = Get(Port(), "/media/101.svm", "Range: bytes=100-199\r\n");
    EXPECT_EQ(206, part.status);
    EXPECT_EQ("bytes 100-199/" + size, part.Header("Content-Range"));
    EXPECT_EQ("100", part.Header("Content-Length"));
    EXPECT_EQ(bytes.substr(100, 100), part.body);

    const TestResponse tail = Get(Port(), "/media/101.svm", "Range: bytes=-10\r\n");
    EXPECT_EQ("bytes " + std::to_string(bytes.size() - 10) + "-" +
                  std::to_string(bytes.size() - 1) + "/" + size,
              tail.Header("Content-Range"));
    EXPECT_EQ(bytes.substr(bytes.size() - 10), tail.body);

    const TestResponse past = Get(Port(), "/media/101.svm", "Range: bytes=" + size + "-\r\n");
    EXPECT_EQ(416, past.status);
    EXPECT_EQ("bytes */" + size, past.Header("Content-Range"));

    const TestResponse whole = Get(Port(), "/media/101.svm");
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ("bytes", whole.Header("Accept-Ranges"));
    EXPECT_TRUE(whole.body == bytes);
    // Test title 905 shares its clip with another title; a series has no media.
    EXPECT_EQ(206, Get(Port(), "/media/905.svm", "Range: bytes=0-0\r\n").status);
    EXPECT_EQ(404, Get(Port(), "/media/201.svm").status);
}

// The subtitle documents are well-formed XML (libxml2) with each case a subtitle reader must
// take: a line break, an italic span as the player strips it, a hyphenated word, a comment,
// a "0:1:2.5" time, a cue without text and a cue after the title's end (65 s).
TEST_F(FilesPortal, SubtitlesAreServedInTwoLanguagesWithTheTrickyCues) {
    for (const char* language : {"en", "pl"}) {
        SCOPED_TRACE(language);
        const TestResponse response = Get(Port(), std::string("/media/101.") + language + ".ttml");
        ASSERT_EQ(200, response.status);
        EXPECT_EQ("application/ttml+xml; charset=utf-8", response.Header("Content-Type"));
        const std::string& ttml = response.body;
        EXPECT_NE(std::string::npos, ttml.find("<br/>"));
        EXPECT_NE(std::string::npos,
                  ttml.find("<span xml:space=\"preserve\" tts:fontStyle=\"italic\">"));
        EXPECT_NE(std::string::npos, ttml.find("<!--"));
        EXPECT_NE(std::string::npos, ttml.find("begin=\"0:1:2.5\""));

        xmlDocPtr doc = xmlReadMemory(ttml.data(), static_cast<int>(ttml.size()), "subtitles.ttml",
                                      nullptr, XML_PARSE_NONET);
        ASSERT_NE(nullptr, doc);
        xmlXPathContextPtr context = xmlXPathNewContext(doc);
        xmlXPathRegisterNs(context, BAD_CAST "t", BAD_CAST "http://www.w3.org/ns/ttml");
        xmlXPathObjectPtr cues = xmlXPathEvalExpression(BAD_CAST "//t:p", context);
        ASSERT_NE(nullptr, cues);
        ASSERT_EQ(6, xmlXPathNodeSetGetLength(cues->nodesetval));
        std::vector<std::string> begins;
        std::vector<std::string> texts;
        for (int i = 0; i < 6; ++i) {
            xmlNodePtr cue = xmlXPathNodeSetItem(cues->nodesetval, i);
            xmlChar* begin = xmlGetProp(cue, BAD_CAST "begin");
            xmlChar* text = xmlNodeGetContent(cue);
            begins.push_back(reinterpret_cast<char*>(begin));
            texts.push_back(reinterpret_cast<char*>(text));
            xmlFree(begin);
            xmlFree(text);
        }
        EXPECT_EQ(std::vector<std::string>({"00:00:01.000", "00:00:04.000", "00:00:07.000",
                                            "00:00:10.000", "0:1:2.5", "00:01:15.000"}),
                  begins);
        EXPECT_NE(std::string::npos, texts[2].find('-'));  // the hyphenated word
        EXPECT_EQ("", texts[3]);                           // the empty cue
        xmlXPathFreeObject(cues);
        xmlXPathFreeContext(context);
        xmlFreeDoc(doc);
    }
    EXPECT_EQ(404, Get(Port(), "/media/101.de.ttml").status);
}

TEST_F(FilesPortal, ThumbnailsAreJpegsAndTwoTestTitlesBreakTheirs) {
    for (const char* path : {"/thumbs/101.jpg", "/thumbs/211.jpg", "/posters/104.jpg"}) {
        SCOPED_TRACE(path);
        const TestResponse picture = Get(Port(), path);
        EXPECT_EQ(200, picture.status);
        EXPECT_EQ("image/jpeg", picture.Header("Content-Type"));
        ASSERT_GT(picture.body.size(), 4u);
        EXPECT_EQ("\xFF\xD8\xFF", picture.body.substr(0, 3));  // the JPEG start-of-image marker
    }
    EXPECT_EQ(404, Get(Port(), "/thumbs/906.jpg").status);
    const TestResponse cut = Get(Port(), "/thumbs/907.jpg");
    EXPECT_EQ(0, cut.status);
    EXPECT_TRUE(cut.reset);
    EXPECT_EQ(404, Get(Port(), "/thumbs/999.jpg").status);
    EXPECT_EQ(404, Get(Port(), "/thumbs/../media/101.svm").status);
}

// The request log keeps each head as it came, header order and spelling included.
TEST_F(FilesPortal, TheRequestLogKeepsHeadersInTheOrderReceived) {
    const std::string head =
        "GET /api/search?q=a%20b HTTP/1.1\r\nZeta: 1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
        "alpha: 2\r\nCookie: ID=1\r\nConnection: close";
    EXPECT_EQ(200, Exchange(Port(), head + "\r\n\r\n").status);
    const std::vector<HttpRequest> log = portal_->Requests();
    ASSERT_FALSE(log.empty());
    const HttpRequest& request = log.back();
    EXPECT_EQ(head, request.head);
    std::vector<std::string> names;
    for (const auto& field : request.fields) names.push_back(field.first);
    EXPECT_EQ(std::vector<std::string>({"Zeta", "Host", "Accept", "alpha", "Cookie", "Connection"}),
              names);
    EXPECT_EQ("/api/search", request.path);
    EXPECT_EQ("q=a%20b", request.query);
}

}  // namespace
}  // namespace test
}  // namespace ZulPortal
