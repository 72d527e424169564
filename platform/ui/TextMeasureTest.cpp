#include "platform/ui/TextMeasure.h"

#include "platform/ui/Label.h"

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

// A renderer's own measure: "W" 10 wide, "i" 2, a space 3, anything else 5 (the font ignored).
double UnevenWidth(const std::string& text, const Font& /*font*/) {
    double w = 0;
    for (char c : text) w += c == 'W' ? 10 : c == 'i' ? 2 : c == ' ' ? 3 : 5;
    return w;
}

class TextMeasureHookTest : public ::testing::Test {
protected:
    void SetUp() override { TextMeasure::SetWidthMeasure(&UnevenWidth); }
    void TearDown() override { TextMeasure::SetWidthMeasure(nullptr); }
};

TEST_F(TextMeasureHookTest, SizesAndLabelsFollowTheInstalledMeasure) {
    Font f = Font::SystemFont(10);
    EXPECT_EQ(TextMeasure::SizeOf("Wii", f, 0, 1), Size(14, 12));
    ui::Label label;
    label.SetFont(f);
    label.SetText("Wi W");  // 10 + 2 + 3 + 10
    EXPECT_EQ(label.SizeThatFits(Size()), Size(25, 12));
    // A fractional width is rounded up to a whole point, as the deterministic one is.
    TextMeasure::SetWidthMeasure([](const std::string&, const Font&) { return 13.2; });
    EXPECT_EQ(TextMeasure::SizeOf("x", f, 0, 1), Size(14, 12));
    // A measure that answers nonsense measures nothing rather than a negative width.
    TextMeasure::SetWidthMeasure([](const std::string&, const Font&) { return -4.0; });
    EXPECT_EQ(TextMeasure::SizeOf("x", f, 0, 1), Size(0, 12));
    // Taken away, the deterministic measure is back: 3 x 5.
    TextMeasure::SetWidthMeasure(nullptr);
    EXPECT_EQ(TextMeasure::SizeOf("Wii", f, 0, 1), Size(15, 12));
}

TEST_F(TextMeasureHookTest, WrapsWhereTheMeasuredWidthsSay) {
    Font f = Font::SystemFont(10);
    // "WW" is 20 and fits; "WW ii" would be 27: the break comes after "WW", though the
    // deterministic measure (5 per code point) would keep four code points on a line.
    EXPECT_EQ(TextMeasure::Lines("WW ii ii", f, 20, 0), (Lines{"WW", "ii ii"}));
    EXPECT_EQ(TextMeasure::SizeOf("WW ii ii", f, 20, 0), Size(20, 24));
    // A word wider than the line breaks after the last code point that fits: "WW" is 20,
    // "WWW" 30.
    EXPECT_EQ(TextMeasure::Lines("WWWii", f, 25, 0), (Lines{"WW", "Wii"}));
    // Narrower than its first code point: one per line still.
    EXPECT_EQ(TextMeasure::Lines("WW", f, 4, 0), (Lines{"W", "W"}));
    // A two-line label wraps to its width with the same measure.
    ui::Label label;
    label.SetFont(f);
    label.SetNumberOfLines(2);
    label.SetText("iiii WWW");  // 8, then 3 + 30
    EXPECT_EQ(label.SizeThatFits(Size(30, 0)), Size(30, 24));
}

}  // namespace
