#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "SVLibrary/TypedValue/SVTypedValueRep.h"

namespace SV {
namespace {

using Bytes = std::vector<uint8_t>;

// "01 00 0a" -> {0x01, 0x00, 0x0a}
Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

Bytes Encode(const SVTypedValue& value) {
    Bytes bytes;
    value.Serialize(bytes);
    return bytes;
}

std::string Printed(const SVTypedValue& value, const std::string& indent = "") {
    std::string text;
    value.Print(indent, text);
    return text;
}

// n nested one-element arrays around a null: 08 00 00 00 01 ... 00.
Bytes NestedArrays(size_t levels) {
    Bytes bytes;
    for (size_t i = 0; i < levels; ++i) {
        const Bytes level = Hex("08 00000001");
        bytes.insert(bytes.end(), level.begin(), level.end());
    }
    bytes.push_back(0x00);
    return bytes;
}

TEST(SVTypedValueFormat, ExamplesEncodeExactlyAndReadBack) {
    SVDictionary oneEntry;
    oneEntry.SetValue("a", SVTypedValue(true));
    struct Case {
        SVTypedValue value;
        const char* bytes;
    };
    const Case cases[] = {
        {SVTypedValue(), "00"},
        {SVTypedValue(5u), "01 00000005"},                           // kind, u32 BE
        {SVTypedValue(int32_t{-2}), "02 fffffffe"},                  // kind, s32 BE
        {SVTypedValue(uint64_t{1}), "03 0000000000000001"},          // kind, u64 BE
        {SVTypedValue(1.0f), "05 0000803f"},                         // kind, float LE
        {SVTypedValue(false), "06 00"},                              // kind, bool
        {SVTypedValue("abc"), "07 00000003 616263"},                 // kind, length, text
        {SVTypedValue(""), "07 00000000"},                           // empty text
        {SVTypedValue(SVDataBlob{0xde, 0xad}), "0a 00000002 dead"},  // kind, length, bytes
        {SVTypedValue(SVTypedValueArray{SVTypedValue(1u), SVTypedValue()}),
         "08 00000002 01 00000001 00"},  // kind, count, elements
        {SVTypedValue(oneEntry),
         "09 00000001 00000001 61 06 01"},              // kind, count, key len, key, value
        {SVTypedValue(SVDictionary()), "09 00000000"},  // empty dictionary
    };
    for (const Case& c : cases) {
        const Bytes expected = Hex(c.bytes);
        EXPECT_EQ(Encode(c.value), expected) << c.bytes;
        SVTypedValue read(7u);
        EXPECT_EQ(read.Deserialize(expected, 0), expected.size()) << c.bytes;
        EXPECT_EQ(read.GetKind(), c.value.GetKind()) << c.bytes;
        EXPECT_EQ(Encode(read), expected) << c.bytes;
        EXPECT_EQ(Printed(read), Printed(c.value)) << c.bytes;
    }
}

TEST(SVTypedValueFormat, SerializeAppendsAndDeserializeReadsAtAnOffset) {
    Bytes bytes = Hex("ffff");
    SVTypedValue("ab").Serialize(bytes);
    SVTypedValue(3u).Serialize(bytes);
    EXPECT_EQ(bytes, Hex("ffff 07 00000002 6162 01 00000003"));
    SVTypedValue value;
    ASSERT_EQ(value.Deserialize(bytes, 2), 7u);
    EXPECT_EQ(Printed(value), "SVString \"ab\"\n");
    ASSERT_EQ(value.Deserialize(bytes, 9), 5u);
    EXPECT_EQ(Printed(value), "SVUnsignedInt 3\n");
}

TEST(SVTypedValueFormat, SignedLongExistsOnlyThroughBytes) {
    const Bytes bytes = Hex("04 fffffffffffffffe");
    SVTypedValue value;
    ASSERT_EQ(value.Deserialize(bytes, 0), 9u);
    EXPECT_EQ(value.GetKind(), SVTypedValueKind::SignedLong);
    uint64_t ul = 0;
    EXPECT_FALSE(value.GetUnsignedLong(ul));
    EXPECT_EQ(Printed(value), "SVSignedLong -2\n");
    const SVTypedValue copy(value);
    EXPECT_EQ(Encode(copy), bytes);
}

TEST(SVTypedValueFormat, ReadsThatFail) {
    const char* const failing[] = {
        "",                                  // nothing to read
        "01 000005",                         // u32 one byte short
        "02 00",                             // s32 short
        "03 00000000000000",                 // u64 one byte short
        "04",                                // s64 without payload
        "05 000080",                         // float one byte short
        "06",                                // boolean without its byte
        "0b",                                // no such kind
        "ff 00000000",                       // no such kind
        "07 000000",                         // length field short
        "07 00000005 6162",                  // two of five promised bytes
        "0a 00000003 0102",                  // blob short
        "0a ffffffff 00",                    // huge blob length
        "08 00000002 01 00000001",           // second element missing
        "08 00000001 07 00000009",           // nested element fails
        "08 00000003 00 00",                 // count one more than the bytes left
        "08 ffffffff 00",                    // corrupt huge count
        "09 00000001 00000002 61",           // key shorter than its length
        "09 00000001 000000",                // key length field short
        "09 00000001 00000001 61",           // entry without its value
        "09 00000001 00000000 0b",           // entry with a bad value
        "09 00000002 00000000 00 00000000",  // count beyond what the bytes can hold
        "09 ffffffff 00000000 00",           // corrupt huge count
    };
    for (const char* hex : failing) {
        SVTypedValue value("previous content");
        EXPECT_EQ(value.Deserialize(Hex(hex), 0), 0u) << hex;
    }
    // Past the end, or exactly at it.
    SVTypedValue value;
    EXPECT_EQ(value.Deserialize(Hex("00"), 1), 0u);
    EXPECT_EQ(value.Deserialize(Hex("00"), 5), 0u);
    // The value is cleared before reading, whatever the outcome.
    value = SVTypedValue("old");
    value.Deserialize(Hex("0b"), 0);
    const std::string* text = nullptr;
    EXPECT_FALSE(value.GetString(text));
}

TEST(SVTypedValueFormat, CountsAreCheckedAgainstTheBytesLeft) {
    // An array's count may equal the bytes left (each element one null byte), not exceed it.
    SVTypedValue value;
    EXPECT_EQ(value.Deserialize(Hex("08 00000003 00 00 00"), 0), 8u);
    EXPECT_EQ(value.Deserialize(Hex("08 00000004 00 00 00"), 0), 0u);
    // A dictionary entry needs at least five bytes: a key length and a kind byte.
    EXPECT_EQ(value.Deserialize(Hex("09 00000002 00000000 00 00000001 61 00"), 0), 16u);
    EXPECT_EQ(value.Deserialize(Hex("09 00000003 00000000 00 00000001 61 00"), 0), 0u);
    // A huge count over a small input fails at once instead of asking for 2^32 elements.
    Bytes bytes = Hex("08 fffffffe");
    bytes.resize(bytes.size() + 4096, 0x00);
    EXPECT_EQ(value.Deserialize(bytes, 0), 0u);
}

TEST(SVTypedValueFormat, NestingIsCapped) {
    SVTypedValue value;
    const Bytes deepest = NestedArrays(kSVTypedValueMaxNesting);
    ASSERT_EQ(value.Deserialize(deepest, 0), deepest.size());
    EXPECT_EQ(Encode(value), deepest);
    EXPECT_EQ(value.Deserialize(NestedArrays(kSVTypedValueMaxNesting + 1), 0), 0u);
    // Far deeper input fails at the cap rather than recursing through it.
    EXPECT_EQ(value.Deserialize(NestedArrays(200000), 0), 0u);

    // Dictionaries count as levels too, also when read on their own.
    Bytes dictionaries;
    for (uint32_t i = 0; i < kSVTypedValueMaxNesting + 1; ++i) {
        const Bytes level = Hex("00000001 00000001 6b 09");  // count 1, key "k", kind 9
        dictionaries.insert(dictionaries.end(), level.begin(), level.end());
    }
    const Bytes tail = Hex("00000000");
    dictionaries.insert(dictionaries.end(), tail.begin(), tail.end());
    // Each level is 10 bytes; from offset 20 exactly the allowed number of levels remains.
    SVDictionary dictionary;
    EXPECT_EQ(dictionary.Deserialize(dictionaries, 0), 0u);
    EXPECT_EQ(dictionary.Deserialize(dictionaries, 10), 0u);
    EXPECT_EQ(dictionary.Deserialize(dictionaries, 20), dictionaries.size() - 20);
}

TEST(SVTypedValueFormat, BooleanReadsAnyNonZeroAsTrue) {
    SVTypedValue value;
    ASSERT_EQ(value.Deserialize(Hex("06 02"), 0), 2u);
    bool b = false;
    ASSERT_TRUE(value.GetBoolean(b));
    EXPECT_TRUE(b);
    EXPECT_EQ(Encode(value), Hex("06 01"));
}

TEST(SVTypedValueFormat, DictionaryKeysAreWrittenInByteOrder) {
    SVDictionary dictionary;
    dictionary.SetValue("b", SVTypedValue());
    dictionary.SetValue("B", SVTypedValue());
    dictionary.SetValue("a", SVTypedValue());
    Bytes bytes;
    dictionary.Serialize(bytes);
    EXPECT_EQ(bytes, Hex("00000003"           // count, no kind byte on its own
                         "00000001 42 00"     // B
                         "00000001 61 00"     // a
                         "00000001 62 00"));  // b
    SVDictionary read;
    read.SetValue("stale", SVTypedValue(1u));
    ASSERT_EQ(read.Deserialize(bytes, 0), bytes.size());
    EXPECT_EQ(read.size(), 3u);  // emptied before reading
    EXPECT_EQ(read.GetValue("stale"), nullptr);
}

TEST(SVTypedValueFormat, RepeatedKeyKeepsTheLastValue) {
    SVTypedValue value;
    const Bytes bytes = Hex("09 00000002 00000001 6b 07 00000001 78 00000001 6b 01 00000002");
    ASSERT_EQ(value.Deserialize(bytes, 0), bytes.size());
    const SVDictionary* dictionary = nullptr;
    ASSERT_TRUE(value.GetDictionary(dictionary));
    EXPECT_EQ(dictionary->size(), 1u);
    EXPECT_EQ(dictionary->GetUnsignedIntOrDefault("k", 0), 2u);
}

TEST(SVTypedValueFormat, ArrayOfManyBlobs) {
    SVTypedValueArray blobs;
    Bytes expected = Hex("08 0000012c");  // 300 elements
    for (int i = 0; i < 300; ++i) {
        const SVDataBlob blob{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
        blobs.push_back(SVTypedValue(blob));
        const Bytes one = Hex("0a 00000002");
        expected.insert(expected.end(), one.begin(), one.end());
        expected.insert(expected.end(), blob.begin(), blob.end());
    }
    EXPECT_EQ(Encode(SVTypedValue(blobs)), expected);
    SVTypedValue read;
    ASSERT_EQ(read.Deserialize(expected, 0), expected.size());
    const SVTypedValueArray* elements = nullptr;
    ASSERT_TRUE(read.GetArray(elements));
    ASSERT_EQ(elements->size(), 300u);
    const SVDataBlob* last = nullptr;
    ASSERT_TRUE(elements->back().GetDataBlob(last));
    EXPECT_EQ(*last, (SVDataBlob{299 & 0xff, 1}));
}

TEST(SVTypedValueFormat, PrintedBlobs) {
    SVDataBlob blob(256);
    std::string digits;
    for (size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<uint8_t>(i);
        static const char kHex[] = "0123456789abcdef";
        digits += kHex[i >> 4];
        digits += kHex[i & 15];
    }
    EXPECT_EQ(Printed(SVTypedValue(blob)), "SVDataBlob (256 bytes) 0x" + digits + "\n");
    blob.push_back(0xff);
    EXPECT_EQ(Printed(SVTypedValue(blob)), "SVDataBlob (257 bytes) 0x" + digits + "...\n");
    EXPECT_EQ(Printed(SVTypedValue(SVDataBlob())), "SVDataBlob (0 bytes) 0x\n");
}

TEST(SVTypedValueFormat, PrintedForms) {
    SVDictionary single;
    single.SetValue("n", SVTypedValue(int32_t{-1}));
    SVDictionary nested;
    nested.SetValue("rate", SVTypedValue(5u));
    nested.SetValue("list",
                    SVTypedValue(SVTypedValueArray{SVTypedValue(true), SVTypedValue(single)}));
    struct Case {
        SVTypedValue value;
        const char* indent;
        const char* text;
    };
    const Case cases[] = {
        {SVTypedValue(single), "",
         "SVDictionary (1 entries)\n"
         "    n =     SVSignedInt -1\n"},
        {SVTypedValue(0.1f), "", "SVFloat 0.100000\n"},
        {SVTypedValue(1.5f), "> ", "> SVFloat 1.500000\n"},
        {SVTypedValue(), "  ", "  Null\n"},
        {SVTypedValue(4294967295u), "", "SVUnsignedInt 4294967295\n"},
        {SVTypedValue(uint64_t{18446744073709551615u}), "",
         "SVUnsignedLong 18446744073709551615\n"},
        {SVTypedValue(false), "", "SVBoolean false\n"},
        {SVTypedValue("say \"hi\""), "", "SVString \"say \"hi\"\"\n"},  // no escaping
        {SVTypedValue(nested), "",
         "SVDictionary (2 entries)\n"
         "    list =     SVTypedValueArray (2 entries)\n"
         "        SVBoolean true\n"
         "        SVDictionary (1 entries)\n"
         "            n =             SVSignedInt -1\n"
         "    rate =     SVUnsignedInt 5\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Printed(c.value, c.indent), c.text);
    }
    // The dictionary prints the same on its own.
    std::string text;
    single.Print("", text);
    EXPECT_EQ(text, "SVDictionary (1 entries)\n    n =     SVSignedInt -1\n");
}

}  // namespace
}  // namespace SV
