#include <gtest/gtest.h>

#include <string>

#include "platform/net/PercentEscape.h"

namespace {

using ns::PercentEscape;

TEST(PercentEscape, ComponentEscapingLeavesOnlyUnreservedCharacters) {
    // Sign-in form fields: '+', '@' and '&' must not change the form's meaning.
    EXPECT_EQ(PercentEscape::EscapeComponent("a+b@c.d"), "a%2Bb%40c.d");
    EXPECT_EQ(PercentEscape::EscapeComponent("p&ss=w rd"), "p%26ss%3Dw%20rd");
    EXPECT_EQ(PercentEscape::EscapeComponent("50%"), "50%25");
    // "ł" is C5 82 in UTF-8.
    EXPECT_EQ(PercentEscape::EscapeComponent("\xc5\x82"), "%C5%82");
    EXPECT_EQ(PercentEscape::EscapeComponent("AZaz09-._~"), "AZaz09-._~");
    // Every reserved character is escaped.
    EXPECT_EQ(PercentEscape::EscapeComponent(PercentEscape::kReserved),
              "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%23%5B%5D");
    EXPECT_EQ(PercentEscape::EscapeComponent(std::string("a\0b", 3)), "a%00b");
}

TEST(PercentEscape, UrlEscapingKeepsDelimitersAndExistingEscapes) {
    EXPECT_EQ(PercentEscape::Escape("http://h/search?q=a b&l=\xc3\xbc"),
              "http://h/search?q=a%20b&l=%C3%BC");
    EXPECT_EQ(PercentEscape::Escape("http://h/a%20b"), "http://h/a%20b");
    // A '%' that begins no escape is escaped itself, also at the very end.
    EXPECT_EQ(PercentEscape::Escape("100%"), "100%25");
    EXPECT_EQ(PercentEscape::Escape("%4"), "%254");
    EXPECT_EQ(PercentEscape::Escape("%zz"), "%25zz");
    EXPECT_EQ(PercentEscape::Escape("<a href=\"x\">{|}^`\\"),
              "%3Ca%20href=%22x%22%3E%7B%7C%7D%5E%60%5C");
    EXPECT_EQ(PercentEscape::Escape("a/b?c", "/?"), "a%2Fb%3Fc");
    EXPECT_EQ(PercentEscape::Escape("%41", "%"), "%2541");
    // Escaping an escaped text changes nothing.
    const std::string once = PercentEscape::Escape("x y%z\x7f");
    EXPECT_EQ(PercentEscape::Escape(once), once);
}

TEST(PercentEscape, UnescapeInvertsAndRefusesBrokenEscapes) {
    EXPECT_EQ(PercentEscape::Unescape("a%2Bb%40c%2fd%C5%82").value(), "a+b@c/d\xc5\x82");
    EXPECT_EQ(PercentEscape::Unescape("a+b").value(), "a+b");
    EXPECT_EQ(PercentEscape::Unescape("%00").value(), std::string("\0", 1));
    EXPECT_FALSE(PercentEscape::Unescape("%").has_value());
    EXPECT_FALSE(PercentEscape::Unescape("ab%2").has_value());
    EXPECT_FALSE(PercentEscape::Unescape("%g1").has_value());
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(PercentEscape::Unescape(PercentEscape::EscapeComponent(all)).value(), all);
    EXPECT_EQ(PercentEscape::Unescape(PercentEscape::Escape(all)).value(), all);
}

}  // namespace
