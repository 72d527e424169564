#include "platform/store/StringsFile.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TemporaryDirectory.h"

namespace {

using ns::StringsFile;

std::string Get(const StringsFile& table, const std::string& key) {
    const std::string* v = table.Find(key);
    return v ? *v : "<missing>";
}

TEST(StringsFileTest, EscapesGiveTheCharactersTheyStandFor) {
    const std::string file = R"(
"quote" = "say \"hi\"";
"backslash" = "a\\b";
"lines" = "one\ntwo\tthree\rfour";
"single" = "it\'s";
"e-acute" = "caf\U00e9";
"lower-u" = "\u20AC";
"pair" = "\UD83D\UDE00";
"lone" = "x\UDC00y";
"lone-high" = "\UD83Dz";
"octal" = "\101\60";
"other" = "\q";
"literal newline" = "a
b";
)";
    StringsFile table;
    std::string error;
    ASSERT_TRUE(table.Parse(file, &error)) << error;
    EXPECT_EQ("say \"hi\"", Get(table, "quote"));
    EXPECT_EQ("a\\b", Get(table, "backslash"));
    EXPECT_EQ("one\ntwo\tthree\rfour", Get(table, "lines"));
    EXPECT_EQ("it's", Get(table, "single"));
    EXPECT_EQ("caf\xC3\xA9", Get(table, "e-acute"));    // U+00E9 in UTF-8
    EXPECT_EQ("\xE2\x82\xAC", Get(table, "lower-u"));   // U+20AC
    EXPECT_EQ("\xF0\x9F\x98\x80", Get(table, "pair"));  // U+1F600 from its two halves
    EXPECT_EQ("x\xEF\xBF\xBDy", Get(table, "lone"));    // U+FFFD for a lone half
    EXPECT_EQ("\xEF\xBF\xBDz", Get(table, "lone-high"));
    EXPECT_EQ("A0", Get(table, "octal"));  // octal 101 and 60
    EXPECT_EQ("q", Get(table, "other"));
    EXPECT_EQ("a\nb", Get(table, "literal newline"));
    EXPECT_EQ(12u, table.Size());
}

TEST(StringsFileTest, CommentsAreSkippedWhereverWhiteSpaceMayStand) {
    const std::string file =
        "/* A block comment holding what looks like an entry:\n"
        "   \"fake\" = \"no\";\n"
        "*/\n"
        "\"Login-SignIn\" /* inside */ = /* and here */ \"Sign in\" ; // \"fake2\" = \"no\";\n"
        "// a line comment at the end without a line feed";
    StringsFile table;
    std::string error;
    ASSERT_TRUE(table.Parse(file, &error)) << error;
    EXPECT_EQ(1u, table.Size());
    EXPECT_EQ("Sign in", Get(table, "Login-SignIn"));
    EXPECT_EQ(nullptr, table.Find("fake"));
    EXPECT_EQ(nullptr, table.Find("fake2"));
    // Slashes and stars inside a string are text, not comments.
    ASSERT_TRUE(table.Parse("\"url\" = \"http://x/*y*/\";", &error)) << error;
    EXPECT_EQ("http://x/*y*/", Get(table, "url"));
}

TEST(StringsFileTest, UnquotedKeysShortFormsAndRepeatedKeys) {
    StringsFile table;
    std::string error;
    ASSERT_TRUE(
        table.Parse("Title-Home = Home;\n\"Same\";\nk = \"first\";\nk = \"second\";", &error))
        << error;
    EXPECT_EQ("Home", Get(table, "Title-Home"));
    EXPECT_EQ("Same", Get(table, "Same"));
    EXPECT_EQ("second", Get(table, "k"));
    EXPECT_EQ(nullptr, table.Find("missing"));
    // Empty files and files of comments only are empty tables.
    EXPECT_TRUE(table.Parse("", &error));
    EXPECT_TRUE(table.Parse("  /* nothing */ // here\n", &error));
    EXPECT_TRUE(table.Empty());
}

// UTF-16 of an ASCII-and-Latin-1 text, one code unit per character.
std::string Utf16(const std::u16string& text, bool bigEndian, bool mark) {
    std::string out;
    if (mark) out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

TEST(StringsFileTest, ReadsUtf16AndUtf8WithByteOrderMarks) {
    const std::u16string text = u"/* c */ \"k\" = \"caf\u00e9 \U0001F600\";";
    for (bool bigEndian : {false, true}) {
        for (bool mark : {true, false}) {
            StringsFile table;
            std::string error;
            ASSERT_TRUE(table.Parse(Utf16(text, bigEndian, mark), &error)) << error;
            EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80", Get(table, "k")) << bigEndian << mark;
        }
    }
    StringsFile table;
    ASSERT_TRUE(table.Parse("\xEF\xBB\xBF\"k\" = \"v\";"));
    EXPECT_EQ("v", Get(table, "k"));
    // Half a code unit, and a lone surrogate, are refused.
    EXPECT_FALSE(table.Parse(Utf16(u"\"k\"=\"v\";", false, true) + "x"));
    EXPECT_FALSE(table.Parse(std::string("\xFF\xFE\"\0\x00\xD8\"\0;\0", 10)));
}

TEST(StringsFileTest, MalformedFilesAreRefusedWholeWithTheLine) {
    struct Case {
        std::string file;
        std::string where;
    };
    const Case cases[] = {
        {"\"a\" = \"1\";\n\"b\" = \"unterminated;\n", "line 2"},
        {"\"a\" = \"1\";\n\n/* unterminated", "line 3"},
        {"\"a\" = \"1\"\n\"b\" = \"2\";", "line 2"},       // ";" missing after the first value
        {"\"a\" \"1\";", "line 1"},                        // "=" missing
        {"\"a\" = ;", "line 1"},                           // value missing
        {"\"a\" = \"1\";\n\"b\" = \"\\U12\";", "line 2"},  // short \U
        {"\"a\" = \"1\";\n\"b\" = \"x\\", "line 2"},       // escape at the end
        {"\"a\" = \"1\";\n\"b\" = ", "line 2"},
        {"\"a\" = \"1\";\n@", "line 2"},
        {"\"a\" = \"1\";\n\"b\"", "line 2"},
    };
    for (const auto& c : cases) {
        StringsFile table;
        std::string error;
        EXPECT_FALSE(table.Parse(c.file, &error)) << c.file;
        EXPECT_NE(std::string::npos, error.find(c.where)) << c.file << " -> " << error;
        // Nothing of a refused file is kept, not even the good first entry.
        EXPECT_TRUE(table.Empty()) << c.file;
    }
}

TEST(StringsFileTest, LoadReadsFilesAndRefusesMissingAndOversizedOnes) {
    SvTestSupport::TemporaryDirectory dir("stringsfile-");
    std::ofstream(dir.File("Localizable.strings")) << "\"Login-SignIn\" = \"Anmelden\";\n";
    StringsFile table;
    std::string error;
    ASSERT_TRUE(table.Load(dir.File("Localizable.strings"), &error)) << error;
    EXPECT_EQ("Anmelden", Get(table, "Login-SignIn"));

    EXPECT_FALSE(table.Load(dir.File("missing.strings"), &error));
    EXPECT_NE(std::string::npos, error.find("missing.strings")) << error;
    EXPECT_TRUE(table.Empty());

    {
        std::ofstream big(dir.File("big.strings"));
        const std::string line = "\"k\" = \"" + std::string(1000, 'x') + "\";\n";
        for (size_t n = 0; n <= StringsFile::kMaxFileBytes / line.size(); ++n) big << line;
    }
    EXPECT_FALSE(table.Load(dir.File("big.strings"), &error));
    EXPECT_TRUE(table.Empty());
}

}  // namespace
