#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>

#include "platform/Value.h"

namespace {

using ns::Array;
using ns::Decimal;
using ns::Dictionary;
using ns::Value;

Value Sample() {
    Dictionary drm;
    drm.Set("deliveryUri", "http://host/title.mpg");
    Dictionary video;
    video.Set("drm", std::move(drm));
    video.Set("startPosition", "42");
    video.Set("url", nullptr);
    Dictionary top;
    top.Set("video", std::move(video));
    top.Set("list", Array{1, "two", 3.5});
    return Value(std::move(top));
}

TEST(Value, ChainedLookupsNeverThrowAndFindTellsMissingFromNull) {
    const Value info = Sample();
    EXPECT_EQ(*info["video"]["drm"]["deliveryUri"].AsString(), "http://host/title.mpg");
    EXPECT_EQ(info["video"]["startPosition"].IntValue(), 42);
    EXPECT_EQ(*info["list"][1].AsString(), "two");

    // Missing keys, indexes out of range and lookups on the wrong kind all yield null.
    EXPECT_TRUE(info["nothing"]["deeper"][3].IsNull());
    EXPECT_TRUE(info["list"][3].IsNull());
    EXPECT_TRUE(info["list"]["key"].IsNull());
    EXPECT_TRUE(info[0].IsNull());
    EXPECT_TRUE(info["video"]["drm"]["deliveryUri"]["x"].IsNull());

    // A JSON null member exists; a missing member does not.
    ASSERT_NE(info["video"].Find("url"), nullptr);
    EXPECT_TRUE(info["video"].Find("url")->IsNull());
    EXPECT_EQ(info["video"].Find("nope"), nullptr);
    EXPECT_EQ(info["list"].Find("url"), nullptr);
    EXPECT_EQ(info.Count(), 2u);
    EXPECT_EQ(info["list"].Count(), 3u);
    EXPECT_EQ(info["list"][0].Count(), 0u);
}

TEST(Value, MutatorsOnlyActOnTheirOwnKind) {
    Value array{Array{}};
    Value dictionary{Dictionary{}};
    Value text{"x"};
    EXPECT_TRUE(array.Append(1));
    EXPECT_FALSE(array.Set("k", 1));
    EXPECT_TRUE(dictionary.Set("k", 1));
    EXPECT_FALSE(dictionary.Append(1));
    EXPECT_FALSE(text.Append(1));
    EXPECT_FALSE(text.Set("k", 1));
    EXPECT_EQ(array.Count(), 1u);
    EXPECT_EQ(dictionary["k"].IntValue(), 1);
    EXPECT_EQ(*text.AsString(), "x");
}

TEST(Dictionary, LaterKeyReplacesEarlierAndKeepsItsPlace) {
    Dictionary d;
    d.Set("b", 1);
    d.Set("a", 2);
    d.Set("b", 3);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.Keys(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(d.Find("b")->IntValue(), 3);
}

TEST(Dictionary, LargeDictionaryFindsEveryKeyAfterGrowingAndReplacing) {
    Dictionary d;
    for (int i = 0; i < 5000; ++i) {
        d.Set("key" + std::to_string(i), i);
    }
    for (int i = 0; i < 5000; i += 7) {
        d.Set("key" + std::to_string(i), -i);
    }
    d.Set(std::string("nul\0key", 7), "embedded");
    ASSERT_EQ(d.size(), 5001u);
    for (int i = 0; i < 5000; ++i) {
        const Value* v = d.Find("key" + std::to_string(i));
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(v->IntValue(), i % 7 == 0 ? -i : i);
    }
    EXPECT_EQ(d.Find("key5000"), nullptr);
    EXPECT_EQ(d.Find("nul"), nullptr);
    EXPECT_EQ(*d.Find(std::string("nul\0key", 7))->AsString(), "embedded");
    // Insertion order survives the hashing.
    EXPECT_EQ(d.begin()->first, "key0");
    // A copy keeps a working index.
    const Dictionary copy = d;
    EXPECT_EQ(copy.Find("key4999")->IntValue(), 4999);
    EXPECT_EQ(copy, d);
}

// SetAll moves a builder's members in as Set for each in turn would: a key given twice keeps
// its first place and takes its last value, whether it repeats within the batch or a member
// already there, below and past the size where lookups start hashing (more than 16 members).
TEST(Dictionary, SetAllResolvesRepeatedKeysAsSetDoes) {
    // Keys of one length with the same first and last bytes ("axb", "ayb") differ only inside.
    std::vector<std::string> keys{"axb", "k", "ayb", "axb", "", "k", ""};
    std::vector<Value> values{1, 2, 3, 4, 5, 6, 7};
    Dictionary small;
    small.Set("ayb", "before");
    small.Set("z", true);
    small.SetAll(keys.data(), values.data(), keys.size());
    // ayb, z were there; axb, k and "" are new, in the order of their first appearance.
    EXPECT_EQ(small.Keys(), (std::vector<std::string>{"ayb", "z", "axb", "k", ""}));
    EXPECT_EQ(small.Find("ayb")->IntValue(), 3);
    EXPECT_TRUE(small.Find("z")->BoolValue());
    EXPECT_EQ(small.Find("axb")->IntValue(), 4);
    EXPECT_EQ(small.Find("k")->IntValue(), 6);
    EXPECT_EQ(small.Find("")->IntValue(), 7);

    // 30 members m0..m29 in one batch, then m3 again (within the first 16) and m20 again
    // (past them, where the index answers), then m0 once more as the very last member.
    keys.clear();
    values.clear();
    for (int i = 0; i < 30; ++i) {
        keys.push_back("m" + std::to_string(i));
        values.emplace_back(i);
    }
    keys.insert(keys.end(), {"m3", "m20", "m0"});
    values.insert(values.end(), {Value("three"), Value("twenty"), Value(nullptr)});
    Dictionary large;
    large.SetAll(keys.data(), values.data(), keys.size());
    ASSERT_EQ(large.size(), 30u);
    size_t at = 0;
    for (const Dictionary::Entry& entry : large) {
        EXPECT_EQ(entry.first, "m" + std::to_string(at++));
    }
    EXPECT_TRUE(large.Find("m0")->IsNull());
    EXPECT_EQ(*large.Find("m3")->AsString(), "three");
    EXPECT_EQ(*large.Find("m20")->AsString(), "twenty");
    EXPECT_EQ(large.Find("m29")->IntValue(), 29);
    EXPECT_EQ(large.Find("m30"), nullptr);
    // Still a working dictionary: Set after SetAll replaces in place and appends.
    large.Set("m17", -17);
    large.Set("new", 1);
    EXPECT_EQ(large.Find("m17")->IntValue(), -17);
    EXPECT_EQ(large.size(), 31u);
    EXPECT_EQ(large.Keys().back(), "new");

    // A batch that fills a dictionary of 10 members past 16 in the middle of the batch.
    Dictionary crossing;
    for (int i = 0; i < 10; ++i) {
        crossing.Set("c" + std::to_string(i), i);
    }
    keys.clear();
    values.clear();
    for (int i = 5; i < 20; ++i) {  // c5..c9 are there, c10..c19 are new
        keys.push_back("c" + std::to_string(i));
        values.emplace_back(100 + i);
    }
    crossing.SetAll(keys.data(), values.data(), keys.size());
    ASSERT_EQ(crossing.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(crossing.Find("c" + std::to_string(i))->IntValue(), i < 5 ? i : 100 + i) << i;
        EXPECT_EQ(crossing.Keys()[size_t(i)], "c" + std::to_string(i));
    }
    crossing.SetAll(nullptr, nullptr, 0);
    EXPECT_EQ(crossing.size(), 20u);
}

// Sizes on both sides of the point where a dictionary starts hashing its keys, each copied
// (constructed and assigned) and then changed: the copy and the original keep their own
// entries and lookups.
TEST(Dictionary, CopiesAroundTheIndexThresholdStayIndependent) {
    for (int count : {1, 8, 16, 17, 40}) {
        Dictionary original;
        for (int i = 0; i < count; ++i) {
            original.Set("k" + std::to_string(i), i);
        }
        Dictionary assigned;
        assigned.Set("stale", true);
        assigned = original;
        Dictionary copy(original);
        for (Dictionary* changed : {&copy, &assigned}) {
            changed->Set("k0", "changed");  // replaced in place: still first
            changed->Set("extra", 100);     // one more key, last
            ASSERT_EQ(changed->size(), size_t(count) + 1) << count;
            EXPECT_EQ(changed->begin()->first, "k0");
            EXPECT_EQ(*changed->Find("k0")->AsString(), "changed");
            EXPECT_EQ(changed->Find("extra")->IntValue(), 100);
            EXPECT_EQ(changed->Find("stale"), nullptr);
            EXPECT_EQ(changed->Find("k" + std::to_string(count - 1))->IntValue(), count - 1);
        }
        ASSERT_EQ(original.size(), size_t(count)) << count;
        EXPECT_EQ(original.Find("k0")->IntValue(), 0);
        EXPECT_EQ(original.Find("extra"), nullptr);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(original.Find("k" + std::to_string(i))->IntValue(), i) << count;
        }
        // A dictionary moved from is empty and usable again.
        Dictionary moved(std::move(copy));
        EXPECT_EQ(moved.size(), size_t(count) + 1);
        copy = Dictionary();
        copy.Set("again", 1);
        EXPECT_EQ(copy.Find("again")->IntValue(), 1);
        EXPECT_EQ(copy.Find("k0"), nullptr);
    }
}

TEST(Decimal, NormalisesAndWritesPlainText) {
    struct Case {
        Decimal::Mantissa mantissa;
        int32_t exponent;
        bool negative;
        const char* text;
    };
    const Case cases[] = {
        {150, -2, false, "1.5"},
        {1, 22, false, "10000000000000000000000"},
        {1, -1, false, "0.1"},
        {5, -3, true, "-0.005"},
        {12345, -2, false, "123.45"},
        {0, -5, true, "0"},  // zero is never negative
        {100, 0, false, "100"},
        // 38 nines: the widest mantissa the parser produces.
        {Decimal::Mantissa(10000000000000000000ull) * 10000000000000000000ull - 1, 0, false,
         "99999999999999999999999999999999999999"},
        {15, 300, false, "1.5E+301"},
        {25, -400, true, "-2.5E-399"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decimal(c.mantissa, c.exponent, c.negative).ToString(), c.text) << c.text;
    }
    EXPECT_EQ(Decimal(150, -2, false), Decimal(15, -1, false));
    EXPECT_EQ(Decimal(0, 7, true), Decimal());
}

TEST(Decimal, ConvertsToDoubleAndTruncatedInteger) {
    EXPECT_EQ(Decimal(1, -1, false).ToDouble(), 0.1);  // correctly rounded
    EXPECT_EQ(Decimal(15, -1, true).ToDouble(), -1.5);
    EXPECT_EQ(Decimal(1, 400, false).ToDouble(), HUGE_VAL);
    EXPECT_EQ(Decimal(1, -400, false).ToDouble(), 0.0);
    EXPECT_EQ(Decimal(199, -2, false).ToInt64(), 1);
    EXPECT_EQ(Decimal(199, -2, true).ToInt64(), -1);
    EXPECT_EQ(Decimal(1, -60, false).ToInt64(), 0);
    EXPECT_EQ(Decimal(9223372036854775808ull, 0, true).ToInt64(),
              std::numeric_limits<int64_t>::min());
    EXPECT_EQ(Decimal(9223372036854775808ull, 0, false).ToInt64(),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(Decimal(1, 100, true).ToInt64(), std::numeric_limits<int64_t>::min());
}

TEST(Value, ConversionsFollowThePlatformRules) {
    struct Case {
        Value value;
        int32_t intValue;
        int64_t int64Value;
        bool boolValue;
        double doubleValue;
        const char* stringValue;
    };
    const double inf = HUGE_VAL;
    const Case cases[] = {
        {Value(), 0, 0, false, 0.0, ""},
        {Value(true), 1, 1, true, 1.0, "1"},
        {Value(false), 0, 0, false, 0.0, "0"},
        {Value(42), 42, 42, true, 42.0, "42"},
        // A 64-bit integer is cut to its low 32 bits by IntValue.
        {Value(int64_t{4294967297}), 1, 4294967297, true, 4294967297.0, "4294967297"},
        {Value(uint64_t{18446744073709551615u}), -1, -1, true, 18446744073709551615.0,
         "18446744073709551615"},
        {Value(-2.75), -2, -2, true, -2.75, "-2.75"},
        // Doubles out of range saturate instead of being undefined.
        {Value(1e300), 2147483647, std::numeric_limits<int64_t>::max(), true, 1e300, "1e+300"},
        {Value(std::nan("")), 0, 0, true, std::nan(""), "nan"},
        {Value(Decimal(12345, -2, true)), -123, -123, true, -123.45, "-123.45"},
        {Value(Decimal(1, 20, false)), 2147483647, std::numeric_limits<int64_t>::max(), true, 1e20,
         "100000000000000000000"},
        {Value(Decimal()), 0, 0, false, 0.0, "0"},
        // Strings: leading white space, sign, digits; the rest is ignored.
        {Value("  -17abc"), -17, -17, true, -17.0, "  -17abc"},
        {Value("+8"), 8, 8, true, 8.0, "+8"},
        {Value("abc"), 0, 0, false, 0.0, "abc"},
        {Value("99999999999"), 2147483647, 99999999999, true, 99999999999.0, "99999999999"},
        {Value("-99999999999999999999"), -2147483647 - 1, std::numeric_limits<int64_t>::min(), true,
         -99999999999999999999.0, "-99999999999999999999"},
        {Value(" 1.5e3x"), 1, 1, true, 1500.0, " 1.5e3x"},
        {Value("0.5"), 0, 0, false, 0.5, "0.5"},  // "0" then ".": bool looks past zeros only
        {Value("00012"), 12, 12, true, 12.0, "00012"},
        {Value("yes"), 0, 0, true, 0.0, "yes"},
        {Value("True"), 0, 0, true, 0.0, "True"},
        {Value("no"), 0, 0, false, 0.0, "no"},
        {Value("-0009"), -9, -9, true, -9.0, "-0009"},
        {Value("1e999"), 1, 1, true, inf, "1e999"},
        {Value("-1e999"), -1, -1, true, -inf, "-1e999"},
        {Value("1e-999"), 1, 1, true, 0.0, "1e-999"},
        {Value(Array{1}), 0, 0, false, 0.0, ""},
        {Value(Dictionary{}), 0, 0, false, 0.0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.Description());
        EXPECT_EQ(c.value.IntValue(), c.intValue);
        EXPECT_EQ(c.value.Int64Value(), c.int64Value);
        EXPECT_EQ(c.value.BoolValue(), c.boolValue);
        if (std::isnan(c.doubleValue)) {
            EXPECT_TRUE(std::isnan(c.value.DoubleValue()));
        } else {
            EXPECT_EQ(c.value.DoubleValue(), c.doubleValue);
        }
        EXPECT_EQ(c.value.StringValue(), c.stringValue);
    }
}

TEST(Value, EqualityComparesNumbersByValueAndDictionariesWithoutOrder) {
    EXPECT_EQ(Value(100), Value(Decimal(1, 2, false)));
    EXPECT_EQ(Value(uint64_t{7}), Value(7));
    EXPECT_EQ(Value(-7), Value(Decimal(70, -1, true)));
    EXPECT_EQ(Value(1.5), Value(Decimal(15, -1, false)));
    EXPECT_NE(Value(1), Value(Decimal(1, -1, false)));
    EXPECT_NE(Value(-1), Value(uint64_t{18446744073709551615u}));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(), Value(0));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value(std::string("a\0b", 3)), Value(std::string("a\0b", 3)));
    EXPECT_NE(Value(std::string("a\0b", 3)), Value("a"));

    Dictionary one;
    one.Set("a", 1);
    one.Set("b", Array{true, nullptr});
    Dictionary two;
    two.Set("b", Array{true, nullptr});
    two.Set("a", Decimal(1, 0, false));
    EXPECT_EQ(Value(one), Value(two));
    two.Set("c", 1);
    EXPECT_NE(Value(one), Value(two));
    EXPECT_NE(Value(Array{1, 2}), Value(Array{2, 1}));
}

TEST(Value, DescriptionIsOneLineForLogs) {
    Dictionary d;
    d.Set("text", std::string("a\"b\n\x01", 5));
    d.Set("list", Array{1, Decimal(5, -1, false), nullptr, false, 2.5});
    d.Set("empty", Dictionary{});
    EXPECT_EQ(Value(d).Description(),
              "{\"text\": \"a\\\"b\\n\\u0001\", \"list\": [1, 0.5, null, false, 2.5], "
              "\"empty\": {}}");
    // Backslash, carriage return and tab by letter, backspace, form feed and 0x1F by number in
    // lower-case hex; DEL, '/' and UTF-8 as they are. Keys go the same way.
    Dictionary more;
    more.Set("k\\\x1F", std::string("\\\r\t\b\f\x1F\x7F/caf\xC3\xA9"));
    EXPECT_EQ(Value(more).Description(),
              "{\"k\\\\\\u001f\": \"\\\\\\r\\t\\u0008\\u000c\\u001f\x7F/caf\xC3\xA9\"}");
}

}  // namespace

namespace {

// The C library's calendar as the oracle for our own date arithmetic.
std::string GmTimeText(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[80];  // room for any int year the format may print
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

TEST(Date, ISO8601TextAgreesWithTheCLibraryAcrossTheRange) {
    // From year 1 to 9999: both ends, the epoch and its neighbours, leap days, and a spread
    // of seconds in between (a fixed linear congruential walk).
    std::vector<int64_t> samples = {-62135596800, 253402300799, -1,          0,         1,
                                    951782400,    4107542400,   -2203891200, 1330559999};
    uint64_t state = 12345;
    for (int i = 0; i < 2000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        samples.push_back(-62135596800 + static_cast<int64_t>(state % 315537897600u));
    }
    for (const int64_t seconds : samples) {
        const std::string text = ns::Date(seconds).ToISO8601();
        ASSERT_EQ(text, GmTimeText(seconds)) << seconds;
        ns::Date back;
        ASSERT_TRUE(ns::Date::FromISO8601(text, back)) << text;
        EXPECT_EQ(back.SecondsSince1970(), seconds) << text;
    }
    EXPECT_EQ(ns::Date(-62135596801).ToISO8601(), "");  // year 0
    EXPECT_EQ(ns::Date(253402300800).ToISO8601(), "");  // year 10000
    ns::Date untouched(7);
    for (const char* bad : {"2024-13-01T00:00:00Z", "2100-02-29T00:00:00Z", "2024-01-01T00:60:00Z",
                            "2024-01-01T00:00:60Z", "2024-01-01 00:00:00Z", "2024-1-01T00:00:00Z",
                            "+024-01-01T00:00:00Z", "2024-01-01T00:00:00Zx"}) {
        EXPECT_FALSE(ns::Date::FromISO8601(bad, untouched)) << bad;
    }
    EXPECT_EQ(untouched.SecondsSince1970(), 7);
}

TEST(Value, DataAndDateKindsCompareAndDescribe) {
    const Value data(ns::Data(std::string_view("\x00\x1f\xff", 3)));
    EXPECT_TRUE(data.IsData());
    EXPECT_EQ(data.Description(), "<001fff>");
    EXPECT_EQ(data, Value(ns::Data(std::vector<uint8_t>{0x00, 0x1f, 0xff})));
    EXPECT_NE(data, Value(ns::Data(std::string_view("\x00\x1f", 2))));
    // Bytes are not text and a date is not a number.
    EXPECT_NE(data, Value(std::string("\x00\x1f\xff", 3)));
    const Value date(ns::Date(0));
    EXPECT_TRUE(date.IsDate());
    EXPECT_FALSE(date.IsNumber());
    EXPECT_NE(date, Value(0));
    EXPECT_EQ(date, Value(ns::Date(0)));
    EXPECT_EQ(date.Description(), "1970-01-01T00:00:00Z");
    EXPECT_EQ(date.IntValue(), 0);
    EXPECT_EQ(data.StringValue(), "");
    Dictionary both;
    both.Set("d", data);
    both.Set("t", date);
    EXPECT_EQ(Value(both).Description(), "{\"d\": <001fff>, \"t\": 1970-01-01T00:00:00Z}");
}

}  // namespace
