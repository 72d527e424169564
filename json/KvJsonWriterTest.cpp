#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "json/KvJsonLog.h"
#include "json/KvJsonParser.h"
#include "json/KvJsonStreamWriter.h"
#include "json/KvJsonStreamWriterAccumulator.h"
#include "json/KvJsonWriter.h"
#include "json/KvJsonWriting.h"

namespace {

using ns::Array;
using ns::Decimal;
using ns::Dictionary;
using ns::Value;

std::string Write(const Value& value, bool human = false, bool sort = false) {
    KvJsonWriter writer;
    writer.setHumanReadable(human);
    writer.setSortKeys(sort);
    const std::optional<std::string> text = writer.dataWithObject(value);
    return text ? *text : "error: " + writer.error();
}

Value Parse(const std::string& text) {
    KvJsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    EXPECT_TRUE(value) << text << ": " << parser.error();
    return value.value_or(Value());
}

TEST(KvJsonWriter, WritesEveryKindCompactly) {
    Dictionary object;
    object.Set("s", "x");
    object.Set("n", nullptr);
    object.Set("t", true);
    object.Set("f", false);
    object.Set("i", -42);
    object.Set("u", uint64_t{18446744073709551615u});
    object.Set("d", 0.1);  // "%.17g"
    object.Set("whole", 100.0);
    object.Set("dec", Decimal(15, -1, true));
    object.Set("a", Array{Array{}, Dictionary{}});
    EXPECT_EQ(Write(Value(object)),
              R"({"s":"x","n":null,"t":true,"f":false,"i":-42,"u":18446744073709551615,)"
              R"("d":0.10000000000000001,"whole":100,"dec":-1.5,"a":[[],{}]})");
}

TEST(KvJsonWriter, EscapesStringsByteForByte) {
    struct Case {
        std::string string;
        const char* written;
    };
    const Case cases[] = {
        {"plain / text", R"("plain / text")"},
        {"\"\\", R"("\"\\")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {std::string("\0\x01\x0B\x1F", 4), R"("\u0000\u0001\u000b\u001f")"},
        {"\x7F", "\"\x7F\""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(Write(Value(Array{c.string})), std::string("[") + c.written + "]");
        // Keys go through the same encoding.
        Dictionary d;
        d.Set(c.string, 1);
        EXPECT_EQ(Write(Value(d)), std::string("{") + c.written + ":1}");
    }
}

TEST(KvJsonWriter, RefusesStringsThatAreNotUTF8) {
    for (const std::string bad : {"\xC3", "a\xFF", "\xED\xA0\x80", "\xC0\xAF"}) {
        EXPECT_EQ(Write(Value(Array{"ok", bad})), "error: String is not valid UTF-8");
        Dictionary d;
        d.Set(bad, 1);
        EXPECT_EQ(Write(Value(d)), "error: String is not valid UTF-8");
    }
}

TEST(KvJsonWriter, HumanReadableLayout) {
    EXPECT_EQ(Write(Parse(R"({"b":[1,{}],"a":true})"), true, true),
              "{\n"
              "  \"a\": true,\n"
              "  \"b\": [\n"
              "    1,\n"
              "    {\n"
              "    }\n"
              "  ]\n"
              "}");
    EXPECT_EQ(Write(Parse(R"({"k":"v"})"), true), "{\n  \"k\": \"v\"\n}");
    EXPECT_EQ(Write(Parse("[]"), true), "[\n]");
}

TEST(KvJsonWriter, SortsKeysPlainlyOrWithAComparator) {
    const Value value = Parse(R"({"b":1,"B":2,"a":{"z":1,"y":2},"aa":3})");
    EXPECT_EQ(Write(value), R"({"b":1,"B":2,"a":{"z":1,"y":2},"aa":3})");
    EXPECT_EQ(Write(value, false, true), R"({"B":2,"a":{"y":2,"z":1},"aa":3,"b":1})");

    // By length only: keys of equal length keep their stored order (a stable sort).
    KvJsonWriter writer;
    writer.setSortKeys(true);
    writer.setSortKeysComparator([](const std::string& x, const std::string& y) {
        return static_cast<int>(x.size()) - static_cast<int>(y.size());
    });
    EXPECT_EQ(writer.dataWithObject(value).value_or(""),
              R"({"b":1,"B":2,"a":{"z":1,"y":2},"aa":3})");
}

TEST(KvJsonWriter, WrittenNumbersReadBackExactly) {
    // Decimals at the edges of what the parser takes, written and read again.
    const std::string document =
        "[1e-128,1e127,-1.5e-127,10000000000000000000000000000000000000e127,"
        "12345678901234567890123456789012345678,0.00001,9223372036854775808,-0,1E22]";
    const Value value = Parse(document);
    const std::string written = Write(value);
    EXPECT_EQ(written,
              "[1E-128,1E+127,-1.5E-127,1.0000000000000000000000000000000000000E+164,"
              "12345678901234567890123456789012345678,0.00001,9223372036854775808,0,"
              "10000000000000000000000]");
    EXPECT_EQ(Parse(written), value);
    EXPECT_EQ(Write(Parse(written)), written);
}

TEST(KvJsonWriter, FailuresNameTheirCause) {
    struct Case {
        Value value;
        const char* error;
    };
    std::vector<Case> cases = {
        {Value("top-level string"), "Not valid type for JSON"},
        {Value(5), "Not valid type for JSON"},
        {Value(), "Not valid type for JSON"},
        {Value(Array{std::nan("")}), "NaN is not a valid number in JSON"},
        {Value(Array{HUGE_VAL}), "+Infinity is not a valid number in JSON"},
        {Value(Array{-HUGE_VAL}), "-Infinity is not a valid number in JSON"},
    };
    Value deep(Array{});
    for (int i = 0; i < 32; ++i) {
        deep = Value(Array{deep});
    }
    cases.push_back({deep, "Nested too deep"});  // 33 arrays
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.Description());
        KvJsonError error;
        KvJsonWriter writer;
        EXPECT_FALSE(writer.stringWithObject(c.value, &error));
        EXPECT_EQ(writer.error(), c.error);
        EXPECT_EQ(error.code, 0);
        EXPECT_EQ(error.domain, KvJsonWriterErrorDomain);
        EXPECT_EQ(error.localizedDescription, c.error);
    }
    // 32 arrays are fine, and without a limit so are 33.
    EXPECT_EQ(Write(deep[0]).size(), 64u);
    KvJsonWriter unlimited;
    unlimited.setMaxDepth(0);
    EXPECT_EQ(unlimited.dataWithObject(deep).value_or("").size(), 66u);
}

// Drives a stream writer by hand and returns what it wrote, then "|" and the error if the
// last step failed.
struct Stream {
    KvJsonStreamWriterAccumulator output;
    KvJsonStreamWriter writer;
    Stream() { writer.setDelegate(&output); }
    std::string result(bool lastOk) const {
        return output.data() + (lastOk ? "" : "|" + writer.error());
    }
};

TEST(KvJsonStreamWriter, RefusesWritesThatWouldBreakTheDocument) {
    {
        Stream s;  // a key must be a string
        s.writer.writeObjectOpen();
        EXPECT_EQ(s.result(s.writer.writeNumber(Value(1))), "{|JSON object key must be string");
        EXPECT_EQ(s.result(s.writer.writeArrayOpen()), "{|JSON object key must be string");
    }
    {
        Stream s;  // nothing after a complete document
        s.writer.writeArrayOpen();
        s.writer.writeArrayClose();
        EXPECT_EQ(s.result(s.writer.writeNull()), "[]|Stream is closed");
        EXPECT_EQ(s.result(s.writer.writeString("x")), "[]|Stream is closed");
    }
    {
        Stream s;  // an object close inside an array
        s.writer.writeArrayOpen();
        s.writer.writeNumber(Value(1));
        EXPECT_EQ(s.result(s.writer.writeObjectClose()), "[1|Object close outside an object");
        EXPECT_EQ(s.result(s.writer.writeArrayClose()), "[1]");
    }
    {
        Stream s;  // an object closed after a key without its value
        s.writer.writeObjectOpen();
        s.writer.writeString("a");
        EXPECT_EQ(s.result(s.writer.writeObjectClose()), "{\"a\"|Object key without value");
        EXPECT_EQ(s.result(s.writer.writeArrayClose()), "{\"a\"|Array close outside an array");
        EXPECT_EQ(s.result(s.writer.writeBool(false)), "{\"a\":false");
        EXPECT_EQ(s.result(s.writer.writeObjectClose()), "{\"a\":false}");
    }
    {
        Stream s;  // closes with nothing open
        EXPECT_EQ(s.result(s.writer.writeObjectClose()), "|Object close outside an object");
        EXPECT_EQ(s.result(s.writer.writeArrayClose()), "|Array close outside an array");
        EXPECT_EQ(s.result(s.writer.writeObjectOpen()), "{");
        EXPECT_EQ(s.result(s.writer.writeArrayClose()), "{|JSON object key must be string");
    }
    {
        Stream s;  // a bad number writes nothing, not even its separator
        s.writer.writeArrayOpen();
        s.writer.writeNumber(Value(1));
        EXPECT_EQ(s.result(s.writer.writeNumber(Value(std::nan("")))),
                  "[1|NaN is not a valid number in JSON");
        EXPECT_EQ(s.result(s.writer.writeNumber(Value("1"))),
                  "[1|JSON serialisation not supported for string");
        // Bytes and dates have no JSON form; the refusal names what was given.
        EXPECT_EQ(s.result(s.writer.writeNumber(Value(ns::Data(std::string_view("ab"))))),
                  "[1|JSON serialisation not supported for data");
        EXPECT_EQ(s.result(s.writer.writeNumber(Value(ns::Date(0)))),
                  "[1|JSON serialisation not supported for date");
    }
}

TEST(KvJsonStreamWriter, CompositeWriteStopsAtTheFirstFailure) {
    Dictionary inner;
    inner.Set("bad", std::nan(""));
    inner.Set("after", 1);
    Stream s;
    EXPECT_FALSE(s.writer.writeArray(Array{1, inner, 2}));
    EXPECT_EQ(s.output.data(), R"([1,{"bad")");
    EXPECT_EQ(s.writer.error(), "NaN is not a valid number in JSON");
}

std::vector<std::string> gWriterLogLines;
void CaptureWriterLog(const std::string& line) { gWriterLogLines.push_back(line); }

TEST(KvJsonWriting, JSONRepresentationLogsItsFailure) {
    gWriterLogLines.clear();
    KvJsonSetLogHandler(&CaptureWriterLog);
    const std::optional<std::string> good = JSONRepresentation(Value(Array{1, "a"}));
    const std::optional<std::string> bad = JSONRepresentation(Value("scalar"));
    KvJsonSetLogHandler(nullptr);
    EXPECT_EQ(good.value_or(""), R"([1,"a"])");
    EXPECT_FALSE(bad);
    EXPECT_EQ(gWriterLogLines,
              (std::vector<std::string>{
                  "-JSONRepresentation failed. Error is: Not valid type for JSON"}));
}

}  // namespace

namespace {

// A string written again comes from the writer's encoding cache: the bytes must be those of a
// first writing, escapes included, and the cache stays bounded however many strings pass.
// Only strings that need work are cached (plain ASCII is copied as it is), so the many
// distinct strings carry a tab.
TEST(KvJsonStreamWriter, RepeatedStringsAreWrittenTheSameFromTheCache) {
    KvJsonStreamWriterAccumulator out;
    KvJsonStreamWriter writer;
    writer.setDelegate(&out);
    const std::string tricky = "quote \" back \\ tab \t bell \x07 caf\xC3\xA9";
    ASSERT_TRUE(writer.writeArrayOpen());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(writer.writeString(tricky));
        ASSERT_TRUE(writer.writeString("key"));
    }
    // Many distinct strings, and one longer than any the cache keeps.
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(writer.writeString("s\t" + std::to_string(i)));
    const std::string longText(KvJsonStreamWriter::kStringCacheLength + 1, 'x');
    ASSERT_TRUE(writer.writeString(longText));
    ASSERT_TRUE(writer.writeString(longText));
    ASSERT_TRUE(writer.writeString("s\t99"));  // not cached: written as it is all the same
    ASSERT_TRUE(writer.writeArrayClose());

    EXPECT_EQ(KvJsonStreamWriter::kStringCacheEntries, writer.cachedStringCount());
    // Each form written out by hand: the quotation mark and backslash escaped, tab as \t,
    // 0x07 as \u0007, UTF-8 copied.
    const std::string trickyJson = R"("quote \" back \\ tab \t bell \u0007 caf)"
                                   "\xC3\xA9\"";
    std::string expected = "[";
    for (int round = 0; round < 3; ++round) expected += trickyJson + ",\"key\",";
    for (int i = 0; i < 100; ++i) expected += "\"s\\t" + std::to_string(i) + "\",";
    expected += "\"" + longText + "\",\"" + longText + "\",\"s\\t99\"]";
    EXPECT_EQ(expected, out.data());
    // And it reads back.
    const Value parsed = Parse(out.data());
    ASSERT_TRUE(parsed.IsArray());
    const ns::Array& items = *parsed.AsArray();
    ASSERT_EQ(3u * 2 + 100 + 3, items.size());
    ASSERT_TRUE(items[4].AsString());
    EXPECT_EQ(tricky, *items[4].AsString());  // the third writing, from the cache
}

// A cached key still obeys the states: a second top-level value is refused, cached or not.
TEST(KvJsonStreamWriter, ACachedStringStillChecksTheState) {
    KvJsonStreamWriterAccumulator out;
    KvJsonStreamWriter writer;
    writer.setDelegate(&out);
    ASSERT_TRUE(writer.writeObjectOpen());
    ASSERT_TRUE(writer.writeString("k"));
    ASSERT_TRUE(writer.writeString("k"));  // the value, from the cache
    ASSERT_TRUE(writer.writeObjectClose());
    EXPECT_FALSE(writer.writeString("k"));
    EXPECT_EQ("Stream is closed", writer.error());
    EXPECT_EQ(R"({"k":"k"})", out.data());
}

}  // namespace

namespace {

// Plain text is copied without a second look, so the scan that decides "plain" must see every
// byte whatever the length (short texts and the tail of long ones are read in overlapping
// words). One byte that needs work, at every position of texts of 1 to 20 bytes: an escape
// worked out by hand appears exactly there, and a byte that is not UTF-8 fails the write.
TEST(KvJsonStreamWriter, EveryByteOfAStringIsSeenWhateverItsLengthAndPosition) {
    const struct {
        char byte;
        const char* json;  // its form inside a JSON string
    } specials[] = {{'"', "\\\""}, {'\\', "\\\\"},   {'\x01', "\\u0001"}, {'\x1f', "\\u001f"},
                    {'\n', "\\n"}, {'\x7f', "\x7f"}, {' ', " "},          {'~', "~"}};
    for (size_t length = 1; length <= 20; ++length) {
        for (size_t at = 0; at < length; ++at) {
            for (const auto& special : specials) {
                std::string text(length, 'a');
                text[at] = special.byte;
                KvJsonStreamWriterAccumulator out;
                KvJsonStreamWriter writer;
                writer.setDelegate(&out);
                ASSERT_TRUE(writer.writeArrayOpen());
                ASSERT_TRUE(writer.writeString(text));
                ASSERT_TRUE(writer.writeArrayClose());
                const std::string expected = "[\"" + std::string(at, 'a') + special.json +
                                             std::string(length - at - 1, 'a') + "\"]";
                EXPECT_EQ(expected, out.data()) << "length " << length << " at " << at;
            }
            std::string broken(length, 'a');
            broken[at] = '\x80';  // a continuation byte with nothing before it
            KvJsonStreamWriter writer;
            ASSERT_TRUE(writer.writeArrayOpen());
            EXPECT_FALSE(writer.writeString(broken)) << "length " << length << " at " << at;
            EXPECT_EQ("String is not valid UTF-8", writer.error());
        }
    }
}

}  // namespace
