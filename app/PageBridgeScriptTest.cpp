// The page bridge's scripts, written out by hand: a plain number goes in as it is, anything
// else as a single-quoted literal that no id can break out of.

#include "app/PageBridgeScript.h"

#include <gtest/gtest.h>

namespace {

TEST(PageBridgeScriptTest, PlainNumbersGoInUnchanged) {
    EXPECT_EQ("__zulPlayerProxy('complete',1001);", PageBridgeScript::complete("1001"));
    EXPECT_EQ("__zulPlayerProxy('play_progress',1001,600);",
              PageBridgeScript::playProgress("1001", 600));
    EXPECT_EQ("__zulPlayerProxy('error',1001,300);", PageBridgeScript::error("1001", 300));
    EXPECT_EQ("__zulPlayerProxy('complete',-7);", PageBridgeScript::complete("-7"));
    // Zero itself, and the longest run a double holds exactly: 15 digits.
    EXPECT_EQ("0", PageBridgeScript::mediaIdArgument("0"));
    EXPECT_EQ("-0", PageBridgeScript::mediaIdArgument("-0"));
    EXPECT_EQ("123456789012345", PageBridgeScript::mediaIdArgument("123456789012345"));
    EXPECT_EQ("-999999999999999", PageBridgeScript::mediaIdArgument("-999999999999999"));
}

TEST(PageBridgeScriptTest, NumbersThePageWouldReadOtherwiseAreQuoted) {
    // A leading zero: a script may read "010" as octal 8, so the page gets the text.
    EXPECT_EQ("__zulPlayerProxy('complete','007');", PageBridgeScript::complete("007"));
    EXPECT_EQ("__zulPlayerProxy('error','010',300);", PageBridgeScript::error("010", 300));
    EXPECT_EQ("'00'", PageBridgeScript::mediaIdArgument("00"));
    EXPECT_EQ("'-01'", PageBridgeScript::mediaIdArgument("-01"));
    // 16 digits no longer fit a double exactly (9007199254740993 would arrive as ...992).
    EXPECT_EQ("__zulPlayerProxy('play_progress','9007199254740993',600);",
              PageBridgeScript::playProgress("9007199254740993", 600));
    EXPECT_EQ("'-1234567890123456'", PageBridgeScript::mediaIdArgument("-1234567890123456"));
}

TEST(PageBridgeScriptTest, AnythingElseIsAQuotedEscapedString) {
    EXPECT_EQ("__zulPlayerProxy('complete','ab\\'c');", PageBridgeScript::complete("ab'c"));
    EXPECT_EQ("__zulPlayerProxy('error','a\\\\b',210);", PageBridgeScript::error("a\\b", 210));
    EXPECT_EQ("'x\\ny\\rz'", PageBridgeScript::mediaIdArgument("x\ny\rz"));
    EXPECT_EQ("'<\\/script><b>'", PageBridgeScript::mediaIdArgument("</script><b>"));
    // A quote and a backslash together cannot close the literal.
    EXPECT_EQ("'\\\\\\');alert(1);//'", PageBridgeScript::mediaIdArgument("\\');alert(1);//"));
    // Line and paragraph separators (U+2028, U+2029).
    EXPECT_EQ("'a\\u2028b\\u2029'", PageBridgeScript::mediaIdArgument("a\xE2\x80\xA8"
                                                                      "b\xE2\x80\xA9"));
    // Not numbers: nothing, a sign alone, an exponent, a second sign, spaces.
    EXPECT_EQ("''", PageBridgeScript::mediaIdArgument(""));
    EXPECT_EQ("'-'", PageBridgeScript::mediaIdArgument("-"));
    EXPECT_EQ("'1e3'", PageBridgeScript::mediaIdArgument("1e3"));
    EXPECT_EQ("'--1'", PageBridgeScript::mediaIdArgument("--1"));
    EXPECT_EQ("' 12'", PageBridgeScript::mediaIdArgument(" 12"));
    // Other text, UTF-8 included, stays as it is inside the quotes.
    EXPECT_EQ("'\xC5\xBC\xC3\xB3\xC5\x82w 12'",
              PageBridgeScript::mediaIdArgument("\xC5\xBC\xC3\xB3\xC5\x82w 12"));
}

}  // namespace
