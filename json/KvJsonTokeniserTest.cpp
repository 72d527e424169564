#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/KvJsonTokeniser.h"

namespace {

using ns::Decimal;
using ns::Value;

// Runs the tokeniser over `input` (whole) and returns the codes up to the first 0 or -1.
std::vector<int> Tokens(const std::string& input, KvJsonTokeniser& tokeniser) {
    tokeniser.appendData(input.data(), input.size());
    std::vector<int> tokens;
    for (;;) {
        const int token = tokeniser.getToken();
        tokens.push_back(token);
        if (token <= 0) {
            return tokens;
        }
    }
}

// Tokenises `text` followed by a space (a number is complete only when something follows).
struct Single {
    int token;
    std::string string;
    Value number;
    std::string error;
};
Single TokenOf(const std::string& text) {
    KvJsonTokeniser tokeniser;
    const std::string input = text + " ";
    tokeniser.appendData(input.data(), input.size());
    Single result;
    result.token = tokeniser.getToken();
    result.string = std::string(tokeniser.stringValue());
    result.number = tokeniser.numberValue();
    result.error = tokeniser.error();
    return result;
}

TEST(KvJsonTokeniser, PunctuationAndKeywords) {
    KvJsonTokeniser tokeniser;
    EXPECT_EQ(Tokens(" [ ] {\t}\n,\r: true false null ", tokeniser),
              (std::vector<int>{1, 2, 3, 4, 5, 6, 9, 10, 11, 0}));
}

TEST(KvJsonTokeniser, NumbersAreIntegersOrExactDecimals) {
    struct Case {
        const char* text;
        Value value;
        Value::Kind kind;
    };
    const Decimal::Mantissa big =
        Decimal::Mantissa(12345678901234567890ull) * 1000000000000000000ull +
        123456789012345678ull;  // 38 digits
    const Case cases[] = {
        {"0", Value(0), Value::Kind::Int},
        {"-0", Value(0), Value::Kind::Int},
        {"42", Value(42), Value::Kind::Int},
        {"-9223372036854775808", Value(INT64_MIN), Value::Kind::Int},
        {"9223372036854775807", Value(INT64_MAX), Value::Kind::Int},
        // 19 digits outside the signed range stay exact instead of changing sign.
        {"9223372036854775808", Value(Decimal(9223372036854775808ull, 0, false)),
         Value::Kind::Decimal},
        {"-9223372036854775809", Value(Decimal(9223372036854775809ull, 0, true)),
         Value::Kind::Decimal},
        {"9999999999999999999", Value(Decimal(9999999999999999999ull, 0, false)),
         Value::Kind::Decimal},
        {"12345678901234567890123456789012345678", Value(Decimal(big, 0, false)),
         Value::Kind::Decimal},
        {"1.50", Value(Decimal(15, -1, false)), Value::Kind::Decimal},
        {"-0.5", Value(Decimal(5, -1, true)), Value::Kind::Decimal},
        // Around the one-pass reading of short numbers: a leading zero before a fraction, a
        // negative zero decimal (zero is never negative), 19 digits in all (integer part and
        // fraction together), and 20, which take the wide mantissa.
        {"0.10", Value(Decimal(1, -1, false)), Value::Kind::Decimal},
        {"-0.0", Value(Decimal(0, 0, false)), Value::Kind::Decimal},
        {"1234567890.123456789", Value(Decimal(1234567890123456789ull, -9, false)),
         Value::Kind::Decimal},
        {"-12345678901.123456789", Value(Decimal(12345678901123456789ull, -9, true)),
         Value::Kind::Decimal},
        {"1000000000000000000", Value(1000000000000000000ll), Value::Kind::Int},
        {"1E22", Value(Decimal(1, 22, false)), Value::Kind::Decimal},
        {"1e+2", Value(Decimal(1, 2, false)), Value::Kind::Decimal},
        {"25e-1", Value(Decimal(25, -1, false)), Value::Kind::Decimal},
        {"1.5e-127", Value(Decimal(15, -128, false)), Value::Kind::Decimal},
        {"1e127", Value(Decimal(1, 127, false)), Value::Kind::Decimal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Single s = TokenOf(c.text);
        ASSERT_EQ(s.token, KvJsonTokenNumber) << s.error;
        EXPECT_EQ(s.number.GetKind(), c.kind);
        EXPECT_EQ(s.number, c.value);
    }
}

TEST(KvJsonTokeniser, BadNumbersNameTheirFault) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"0123", "Leading zero is illegal in number"},
        {"-01", "Leading zero is illegal in number"},
        {"1.", "No digits after decimal point"},
        {"1.e5", "No digits after decimal point"},
        {"1e", "No digits in exponent"},
        {"1e+", "No digits in exponent"},
        {"1E-x", "No digits in exponent"},
        {"-", "No digits after initial minus"},
        {"-x", "No digits after initial minus"},
        {"-.5", "No digits after initial minus"},
        {"-e5", "No digits after initial minus"},
        {"+1", "Leading + is illegal in number"},
        {"123456789012345678901234567890123456789", "Precision is too high"},
        {"0.00000000000000000000000000000000000001", "Precision is too high"},  // 39 digits
        {"1e128", "Exponent out of range"},
        {"1e-129", "Exponent out of range"},
        {"0.1e-128", "Exponent out of range"},
        // The written exponent saturates: 65536 does not wrap to 0.
        {"1e65536", "Exponent out of range"},
        {"1e99999999999999999999999", "Exponent out of range"},
        {"-1e-65536", "Exponent out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Single s = TokenOf(c.text);
        EXPECT_EQ(s.token, KvJsonTokenError);
        EXPECT_EQ(s.error, c.error);
    }
}

TEST(KvJsonTokeniser, StringsDecodeEscapesAndKeepUTF8) {
    struct Case {
        const char* json;
        std::string decoded;
    };
    const Case cases[] = {
        {R"("plain")", "plain"},
        {R"("")", ""},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("A\u0000B")", std::string("A\0B", 3)},
        {R"("\u00e9\u00E9")", "\xC3\xA9\xC3\xA9"},
        {R"("\u20AC")", "\xE2\x82\xAC"},
        {R"("\uD834\uDD1E")", "\xF0\x9D\x84\x9E"},  // one character from a surrogate pair
        {R"("\uDBFF\uDFFF")", "\xF4\x8F\xBF\xBF"},
        {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"\"\xEF\xBF\xBF\"", "\xEF\xBF\xBF"},  // a noncharacter is still UTF-8
        {R"("a\nb\u0041c")", "a\nbAc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const Single s = TokenOf(c.json);
        ASSERT_EQ(s.token, KvJsonTokenString) << s.error;
        EXPECT_EQ(s.string, c.decoded);
    }
}

TEST(KvJsonTokeniser, BadStringsNameTheirFault) {
    struct Case {
        std::string json;
        const char* error;
    };
    const Case cases[] = {
        {"\"a\tb\"", "Unescaped control character [0x09]"},
        {std::string("\"a\0\"", 4), "Unescaped control character [0x00]"},
        {"\"\x1F\"", "Unescaped control character [0x1F]"},
        {R"("\x")", "Illegal escape character"},
        {"\"\\\xC3\xA9\"", "Illegal escape character"},
        {R"("\u12G4")", "Invalid hex quad"},
        {R"("\u")", "Invalid hex quad"},
        {R"("\uDC00")", "Invalid high character in surrogate pair"},
        {R"("\uD800")", "Missing low character in surrogate pair"},
        {R"("\uD800x")", "Missing low character in surrogate pair"},
        {R"("\uD800\n")", "Missing low character in surrogate pair"},
        {R"("\uD800\u00zz")", "Missing low character in surrogate pair"},
        {R"("\uD800\u0041")", "Invalid low character in surrogate pair"},
        {R"("\uD800\uD800")", "Invalid low character in surrogate pair"},
        {"\"\xC3\"", "Broken Unicode encoding"},              // cut sequence
        {"\"\xC0\xAF\"", "Broken Unicode encoding"},          // overlong
        {"\"\xED\xA0\x80\"", "Broken Unicode encoding"},      // encoded surrogate
        {"\"\xF4\x90\x80\x80\"", "Broken Unicode encoding"},  // above U+10FFFF
        {"\"\xFF\"", "Broken Unicode encoding"},
        {"\"ok\\n\x80\"", "Broken Unicode encoding"},  // in a later fragment
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const Single s = TokenOf(c.json);
        EXPECT_EQ(s.token, KvJsonTokenError);
        EXPECT_EQ(s.error, c.error);
    }
}

TEST(KvJsonTokeniser, BadTokenStartsAndKeywords) {
    struct Case {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"x", "Illegal start of token [x]"},
        {".5", "Illegal start of token [.]"},
        {"\f", "Illegal start of token [\\014]"},
        {std::string(1, '\0'), "Illegal start of token [\\000]"},
        {"\xEF\xBB\xBF[]", "Illegal start of token [\\357]"},  // a byte-order mark
        {"tru ", "Expected 'true' after initial 't'"},
        {"falsy", "Expected 'false' after initial 'f'"},
        {"nul!", "Expected 'null' after initial 'n'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Single s = TokenOf(c.text);
        EXPECT_EQ(s.token, KvJsonTokenError);
        EXPECT_EQ(s.error, c.error);
    }
}

TEST(KvJsonTokeniser, UnfinishedTokensWaitAndResumeFromTheirStart) {
    // Each input is cut at every position; the first part must ask for more data, and the
    // whole token must come out once the rest is appended.
    const std::string inputs[] = {
        R"("ab\u00e9\uD834\uDD1E\n")", "-12.5e+3 ", "true", "false", "null", "\"x\xE2\x82\xAC\"",
    };
    for (const std::string& input : inputs) {
        const Single whole = TokenOf(input);
        ASSERT_GT(whole.token, 0) << input;
        for (size_t cut = 1; cut < input.size(); ++cut) {
            SCOPED_TRACE(input + " cut at " + std::to_string(cut));
            KvJsonTokeniser tokeniser;
            tokeniser.appendData(input.data(), cut);
            ASSERT_EQ(tokeniser.getToken(), KvJsonTokenEndOfInput);
            EXPECT_TRUE(tokeniser.hasUnfinishedToken());
            // Asking again without new data changes nothing.
            ASSERT_EQ(tokeniser.getToken(), KvJsonTokenEndOfInput);
            const std::string rest = input.substr(cut) + " ";
            tokeniser.appendData(rest.data(), rest.size());
            ASSERT_EQ(tokeniser.getToken(), whole.token);
            EXPECT_EQ(tokeniser.stringValue(), whole.string);
            EXPECT_EQ(tokeniser.numberValue(), whole.number);
        }
    }
}

TEST(KvJsonTokeniser, NumberAtEndOfInputIsNotComplete) {
    KvJsonTokeniser tokeniser;
    EXPECT_EQ(Tokens("[12", tokeniser), (std::vector<int>{1, 0}));
    tokeniser.appendData("3]", 2);
    EXPECT_EQ(tokeniser.getToken(), KvJsonTokenNumber);
    EXPECT_EQ(tokeniser.numberValue(), Value(123));
    EXPECT_EQ(tokeniser.getToken(), KvJsonTokenArrayEnd);
    EXPECT_EQ(tokeniser.getToken(), KvJsonTokenEndOfInput);
    EXPECT_FALSE(tokeniser.hasUnfinishedToken());
}

TEST(KvJsonTokeniser, LongStringFedByteByByteIsDecodedWhole) {
    // 200 kB of string in one-byte pieces, with escapes scattered through it.
    std::string body;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        body += "abcdefgh\\\"";
        expected += "abcdefgh\"";
    }
    const std::string input = "\"" + body + "\\u00e9\" ";
    expected += "\xC3\xA9";
    KvJsonTokeniser tokeniser;
    int token = KvJsonTokenEndOfInput;
    size_t fed = 0;
    while (token == KvJsonTokenEndOfInput && fed < input.size()) {
        tokeniser.appendData(input.data() + fed, 1);
        ++fed;
        token = tokeniser.getToken();
    }
    ASSERT_EQ(token, KvJsonTokenString);
    EXPECT_EQ(fed, input.size() - 1);  // complete as soon as the closing quote arrives
    EXPECT_EQ(tokeniser.stringValue(), expected);
}

}  // namespace
