// HTML escaping: each character that could change a page's markup, and nothing else.

#include "platform/net/HtmlEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HtmlEscapeTest, WritesTheMarkupCharactersAsReferences) {
    EXPECT_EQ("&amp;", ns::HtmlEscape::Escape("&"));
    EXPECT_EQ("&lt;", ns::HtmlEscape::Escape("<"));
    EXPECT_EQ("&gt;", ns::HtmlEscape::Escape(">"));
    EXPECT_EQ("&quot;", ns::HtmlEscape::Escape("\""));
    EXPECT_EQ("&#39;", ns::HtmlEscape::Escape("'"));
    // A script tag in an attribute value, and a reference that must not be read as one.
    EXPECT_EQ("&quot;&gt;&lt;script&gt;x&lt;/script&gt;",
              ns::HtmlEscape::Escape("\"><script>x</script>"));
    EXPECT_EQ("&amp;amp; is &amp;", ns::HtmlEscape::Escape("&amp; is &"));
}

TEST(HtmlEscapeTest, KeepsEverythingElseAsItIs) {
    EXPECT_EQ("", ns::HtmlEscape::Escape(""));
    // UTF-8 ("ś" is C5 9B), a percent sign, a placeholder, a line break and a NUL byte.
    const std::string other = "Zoë ś 100% %@ a=b;\n" + std::string(1, '\0') + "end";
    EXPECT_EQ(other, ns::HtmlEscape::Escape(other));
}

}  // namespace
