#include "platform/ui/TextMeasure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::Font;
using ui::Size;
using ui::TextMeasure;
using Lines = std::vector<std::string>;

TEST(TextMeasureTest, FontsCarryFaceSizeAndLineHeight) {
    Font neue = Font::Named("HelveticaNeue", 18);
    EXPECT_EQ(neue.Name(), "HelveticaNeue");
    EXPECT_EQ(neue.LineHeight(), 22);                  // ceil(1.2 x 18 = 21.6)
    EXPECT_EQ(Font::SystemFont(17).LineHeight(), 21);  // ceil(20.4)
    EXPECT_EQ(Font::SystemFont(15).LineHeight(), 18);  // 1.2 x 15 is exactly 18
    EXPECT_TRUE(Font::Named("Arial-BoldMT", 16).IsBold());
    EXPECT_TRUE(Font::BoldSystemFont(12).IsBold());
    EXPECT_FALSE(Font::SystemFont(12).IsBold());
    EXPECT_EQ(neue.WithSize(14), Font("HelveticaNeue", 14));
    EXPECT_NE(neue, Font::SystemFont(18));
}

TEST(TextMeasureTest, OneLineIsHalfTheSizePerCodePoint) {
    // "Hello" at 18: 5 x 9 = 45 wide, one line of 22.
    EXPECT_EQ(TextMeasure::SizeOf("Hello", Font::Named("HelveticaNeue", 18), 0, 1), Size(45, 22));
    // Four code points in eight bytes of UTF-8, at 10: 4 x 5 = 20.
    EXPECT_EQ(TextMeasure::CodePoints("\xC5\xBC\xC3\xB3\xC5\x82w"), 4u);
    EXPECT_EQ(TextMeasure::SizeOf("\xC5\xBC\xC3\xB3\xC5\x82w", Font::SystemFont(10), 0, 0),
              Size(20, 12));
    // At 15 a code point is 7.5 wide: "abc" is 22.5, rounded up to 23.
    EXPECT_EQ(TextMeasure::SizeOf("abc", Font::SystemFont(15), 0, 1), Size(23, 18));
    EXPECT_EQ(TextMeasure::SizeOf("", Font::SystemFont(15), 0, 0), Size(0, 0));
}

TEST(TextMeasureTest, WrapsAtSpacesBreaksLongWordsAndHonoursTheLineLimit) {
    Font f = Font::SystemFont(10);  // 5 per code point, lines of 12: 40 wide holds 8
    EXPECT_EQ(TextMeasure::Lines("one two three", f, 40, 0), (Lines{"one two", "three"}));
    // Widest line "one two" = 7 x 5 = 35; two lines of 12.
    EXPECT_EQ(TextMeasure::SizeOf("one two three", f, 40, 0), Size(35, 24));
    // A word of 10 in lines of 8 holding 4 code points (width 20).
    EXPECT_EQ(TextMeasure::Lines("abcdefghij", f, 20, 0), (Lines{"abcd", "efgh", "ij"}));
    EXPECT_EQ(TextMeasure::Lines("abcdefghij", f, 20, 2), (Lines{"abcd", "efgh"}));
    // Line feeds break even without a width; a limit of one keeps the first line.
    EXPECT_EQ(TextMeasure::Lines("a\nbb", f, 0, 0), (Lines{"a", "bb"}));
    EXPECT_EQ(TextMeasure::SizeOf("a\nbb", f, 0, 0), Size(10, 24));
    EXPECT_EQ(TextMeasure::Lines("a\nbb", f, 0, 1), (Lines{"a"}));
    // A width narrower than one code point still makes progress, one per line.
    EXPECT_EQ(TextMeasure::Lines("ab", f, 1, 0), (Lines{"a", "b"}));
}

}  // namespace
