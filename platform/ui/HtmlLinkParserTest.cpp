// The headless web view's link reader: which elements give links, how an href becomes a URL
// (the expected URLs are worked out by hand from RFC 3986 section 5.4's examples and a
// browser's handling of white space and non-ASCII bytes), and pages that are not well formed.

#include "platform/ui/HtmlLinkParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ui {
namespace {

const ns::URL kBase = *ns::URL::Parse("http://a/b/c/d;p?q");

std::vector<std::string> Urls(const std::string& html, const ns::URL& page = kBase) {
    std::vector<std::string> out;
    for (const HtmlLink& link : HtmlLinkParser::Parse(html, page)) {
        out.push_back(link.url.AbsoluteString());
    }
    return out;
}

TEST(HtmlLinkParser, ResolvesEachHrefAgainstThePage) {
    const std::string html =
        "<html><body>"
        "<a href=\"g\">1</a>"                 // same folder
        "<a href=\"../g\">2</a>"              // one folder up
        "<a href=\"//g\">3</a>"               // another host, same scheme
        "<a href=\"?y\">4</a>"                // same path, new query
        "<a href=\"#s\">5</a>"                // same document with a fragment
        "<a href=\"/c/portal/login\">6</a>"   // absolute path
        "<a href=\"zulmovie://h/t/1\">7</a>"  // another scheme stays as written
        "</body></html>";
    EXPECT_EQ(Urls(html),
              (std::vector<std::string>{"http://a/b/c/g", "http://a/b/g", "http://g",
                                        "http://a/b/c/d;p?y", "http://a/b/c/d;p?q#s",
                                        "http://a/c/portal/login", "zulmovie://h/t/1"}));
}

TEST(HtmlLinkParser, TakesHrefsAsABrowserDoes) {
    const std::vector<HtmlLink> links = HtmlLinkParser::Parse(
        "<A HREF=\"/x?a=1&amp;b=2\">  Play\n\t now  </A>"  // upper case, an entity, spaces
        "<a href=\"  /trimmed  \">T</a>"                   // white space around is dropped
        "<a href=\"/two words\">W</a>"                     // a space inside is escaped
        "<a href=\"/caf\xc3\xa9\">C</a>"                   // UTF-8 "é" escaped byte by byte
        "<a name=\"anchor\">no href</a>"                   // no link without an href
        "<a href=\"JavaScript:go()\">script</a>"           // needs a script engine
        "<a href=\"http://[::1\">bad</a>",                 // does not resolve
        kBase);
    ASSERT_EQ(links.size(), 4u);
    EXPECT_EQ(links[0].href, "/x?a=1&b=2");
    EXPECT_EQ(links[0].url.AbsoluteString(), "http://a/x?a=1&b=2");
    EXPECT_EQ(links[0].text, "Play now");
    EXPECT_EQ(links[1].url.AbsoluteString(), "http://a/trimmed");
    EXPECT_EQ(links[2].url.AbsoluteString(), "http://a/two%20words");
    EXPECT_EQ(links[3].url.AbsoluteString(), "http://a/caf%C3%A9");
}

TEST(HtmlLinkParser, ReadsBrokenAndNestedMarkupInDocumentOrder) {
    // Unclosed elements, a stray end tag, a link inside a table cell and one after the body.
    EXPECT_EQ(Urls("<p><div><a href=\"/1\">one<table><tr><td><a href=\"/2\">two</td></tr>"
                   "</span></table></div></body><a href=\"/3\">three",
                   *ns::URL::Parse("http://h/")),
              (std::vector<std::string>{"http://h/1", "http://h/2", "http://h/3"}));
    // Text of nested elements is the link's text.
    const auto links = HtmlLinkParser::Parse("<a href=\"/m\"><span>Movies</span> <b>HD</b></a>",
                                             *ns::URL::Parse("http://h/"));
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].text, "Movies HD");
}

TEST(HtmlLinkParser, GivesNothingForNoPageAndStaysWithinItsBounds) {
    EXPECT_TRUE(Urls("").empty());
    EXPECT_TRUE(Urls(std::string("\0\0\xff\xfe", 4)).empty());
    // Far more links than the bound: exactly the bound comes back.
    std::string many;
    for (size_t i = 0; i < HtmlLinkParser::kMaxLinks + 50; ++i) many += "<a href=\"/l\">l</a>";
    EXPECT_EQ(Urls(many).size(), HtmlLinkParser::kMaxLinks);
    // Deep nesting neither crashes nor loses the link before it.
    std::string deep = "<a href=\"/first\">f</a>";
    for (int i = 0; i < 100000; ++i) deep += "<div>";
    const std::vector<std::string> urls = Urls(deep);
    ASSERT_FALSE(urls.empty());
    EXPECT_EQ(urls.front(), "http://a/first");
}

}  // namespace
}  // namespace ui
