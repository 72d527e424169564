#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"

namespace SV {
namespace {

// Calls every typed getter on `value` with sentinel outputs and returns, as a string of nine
// '0'/'1' characters, which ones succeeded (order: uint, int, ulong, float, bool, string,
// array, dictionary, blob). A failing getter must leave its sentinel alone.
std::string SucceedingGetters(const SVTypedValue& value) {
    uint32_t u = 77;
    int32_t s = 77;
    uint64_t ul = 77;
    float f = 77.0f;
    bool b = false;
    const std::string* text = nullptr;
    const SVTypedValueArray* array = nullptr;
    const SVDictionary* dictionary = nullptr;
    const SVDataBlob* blob = nullptr;
    std::string result;
    result += value.GetUnsignedInt(u) ? '1' : (u == 77 ? '0' : 'X');
    result += value.GetSignedInt(s) ? '1' : (s == 77 ? '0' : 'X');
    result += value.GetUnsignedLong(ul) ? '1' : (ul == 77 ? '0' : 'X');
    result += value.GetFloat(f) ? '1' : (f == 77.0f ? '0' : 'X');
    result += value.GetBoolean(b) ? '1' : (!b ? '0' : 'X');
    result += value.GetString(text) ? '1' : (text == nullptr ? '0' : 'X');
    result += value.GetArray(array) ? '1' : (array == nullptr ? '0' : 'X');
    result += value.GetDictionary(dictionary) ? '1' : (dictionary == nullptr ? '0' : 'X');
    result += value.GetDataBlob(blob) ? '1' : (blob == nullptr ? '0' : 'X');
    return result;
}

TEST(SVTypedValue, EachKindAnswersOnlyItsOwnGetter) {
    SVDictionary dictionary;
    dictionary.SetValue("k", SVTypedValue(1u));
    struct Case {
        SVTypedValue value;
        SVTypedValueKind kind;
        const char* getters;
    };
    const Case cases[] = {
        {SVTypedValue(), SVTypedValueKind::Null, "000000000"},
        {SVTypedValue(uint32_t{5}), SVTypedValueKind::UnsignedInt, "100000000"},
        {SVTypedValue(int32_t{5}), SVTypedValueKind::SignedInt, "010000000"},
        {SVTypedValue(uint64_t{5}), SVTypedValueKind::UnsignedLong, "001000000"},
        {SVTypedValue(1.5f), SVTypedValueKind::Float, "000100000"},
        {SVTypedValue(true), SVTypedValueKind::Boolean, "000010000"},
        {SVTypedValue(false), SVTypedValueKind::Boolean, "000010000"},
        {SVTypedValue(std::string("x")), SVTypedValueKind::String, "000001000"},
        {SVTypedValue("literal"), SVTypedValueKind::String, "000001000"},
        {SVTypedValue(SVTypedValueArray{SVTypedValue(1u)}), SVTypedValueKind::Array, "000000100"},
        {SVTypedValue(dictionary), SVTypedValueKind::Dictionary, "000000010"},
        {SVTypedValue(SVDataBlob{1, 2}), SVTypedValueKind::DataBlob, "000000001"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].value.GetKind(), cases[i].kind) << i;
        EXPECT_EQ(SucceedingGetters(cases[i].value), cases[i].getters) << i;
    }
}

TEST(SVTypedValue, GettersReturnTheHeldValues) {
    int32_t s = 0;
    EXPECT_TRUE(SVTypedValue(int32_t{-7}).GetSignedInt(s));
    EXPECT_EQ(s, -7);
    uint64_t ul = 0;
    EXPECT_TRUE(SVTypedValue(uint64_t{0x123456789abcdef0}).GetUnsignedLong(ul));
    EXPECT_EQ(ul, 0x123456789abcdef0u);  // all 64 bits kept
    bool b = false;
    EXPECT_TRUE(SVTypedValue(true).GetBoolean(b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(SVTypedValue(false).GetBoolean(b));
    EXPECT_FALSE(b);
    const std::string* text = nullptr;
    const SVTypedValue withZero(std::string("a\0b", 3));
    ASSERT_TRUE(withZero.GetString(text));
    EXPECT_EQ(*text, std::string("a\0b", 3));
}

TEST(SVTypedValue, CopiesShareNothingAtAnyDepth) {
    // A dictionary holding a string, a blob and an array that holds a dictionary.
    SVDictionary innermost;
    innermost.SetValue("leaf", SVTypedValue("deep"));
    SVDictionary outer;
    outer.SetValue("text", SVTypedValue("hello"));
    outer.SetValue("blob", SVTypedValue(SVDataBlob{0xde, 0xad}));
    outer.SetValue("list",
                   SVTypedValue(SVTypedValueArray{SVTypedValue(innermost), SVTypedValue(3u)}));

    auto source = std::make_unique<SVTypedValue>(outer);
    std::vector<uint8_t> before;
    source->Serialize(before);

    SVTypedValue copied(*source);
    SVTypedValue assigned;
    assigned = *source;

    for (const SVTypedValue* copy : {&copied, &assigned}) {
        const SVDictionary* sourceDict = nullptr;
        const SVDictionary* copyDict = nullptr;
        ASSERT_TRUE(source->GetDictionary(sourceDict));
        ASSERT_TRUE(copy->GetDictionary(copyDict));
        EXPECT_NE(sourceDict, copyDict);
        for (const char* key : {"text", "blob", "list"}) {
            EXPECT_NE(sourceDict->GetValue(key), copyDict->GetValue(key)) << key;
        }
        const std::string* sourceText = nullptr;
        const std::string* copyText = nullptr;
        ASSERT_TRUE(sourceDict->GetString("text", sourceText));
        ASSERT_TRUE(copyDict->GetString("text", copyText));
        EXPECT_NE(sourceText, copyText);
        const SVDataBlob* sourceBlob = nullptr;
        const SVDataBlob* copyBlob = nullptr;
        ASSERT_TRUE(sourceDict->GetDataBlob("blob", sourceBlob));
        ASSERT_TRUE(copyDict->GetDataBlob("blob", copyBlob));
        EXPECT_NE(sourceBlob, copyBlob);
        const SVTypedValueArray* sourceList = nullptr;
        const SVTypedValueArray* copyList = nullptr;
        ASSERT_TRUE(sourceDict->GetValue("list")->GetArray(sourceList));
        ASSERT_TRUE(copyDict->GetValue("list")->GetArray(copyList));
        EXPECT_NE(sourceList, copyList);
        const SVDictionary* sourceInner = nullptr;
        const SVDictionary* copyInner = nullptr;
        ASSERT_TRUE((*sourceList)[0].GetDictionary(sourceInner));
        ASSERT_TRUE((*copyList)[0].GetDictionary(copyInner));
        EXPECT_NE(sourceInner, copyInner);
    }

    // Changing the source in place leaves the copies as they were.
    SVDictionary* sourceDict = nullptr;
    {
        const SVDictionary* d = nullptr;
        ASSERT_TRUE(source->GetDictionary(d));
        sourceDict = const_cast<SVDictionary*>(d);
    }
    *sourceDict->GetValue("text") = SVTypedValue(1u);
    sourceDict->RemoveValue("blob");
    // Destroying the source must leave the copies whole (ASan reports any dangling pointer).
    source.reset();
    for (const SVTypedValue* copy : {&copied, &assigned}) {
        std::vector<uint8_t> after;
        copy->Serialize(after);
        EXPECT_EQ(after, before);
    }
}

TEST(SVTypedValue, AssignmentReleasesTheOldRepresentation) {
    SVTypedValue value("some text");
    value = SVTypedValue(9u);  // the string is released (ASan reports a leak otherwise)
    uint32_t u = 0;
    EXPECT_TRUE(value.GetUnsignedInt(u));
    EXPECT_EQ(u, 9u);
    const std::string* text = nullptr;
    EXPECT_FALSE(value.GetString(text));

    SVTypedValue array(SVTypedValueArray{SVTypedValue("x")});
    SVTypedValue& self = array;
    array = self;
    const SVTypedValueArray* elements = nullptr;
    ASSERT_TRUE(array.GetArray(elements));
    ASSERT_EQ(elements->size(), 1u);
    ASSERT_TRUE((*elements)[0].GetString(text));
    EXPECT_EQ(*text, "x");
}

TEST(SVTypedValue, AssigningAPartOfItselfIsSafe) {
    // The source lives inside the target's own array: it must be copied before the target's
    // old content is released.
    SVTypedValue value(SVTypedValueArray{SVTypedValue("inner"), SVTypedValue(2u)});
    const SVTypedValueArray* elements = nullptr;
    ASSERT_TRUE(value.GetArray(elements));
    value = (*elements)[0];
    const std::string* text = nullptr;
    ASSERT_TRUE(value.GetString(text));
    EXPECT_EQ(*text, "inner");

    SVTypedValue moved(SVTypedValueArray{SVTypedValue("inner")});
    ASSERT_TRUE(moved.GetArray(elements));
    moved = std::move(const_cast<SVTypedValue&>((*elements)[0]));
    ASSERT_TRUE(moved.GetString(text));
    EXPECT_EQ(*text, "inner");
}

TEST(SVTypedValue, ClearAndMoveLeaveNull) {
    SVTypedValue value(SVDataBlob{1, 2, 3});
    SVTypedValue taken(std::move(value));
    EXPECT_EQ(value.GetKind(), SVTypedValueKind::Null);  // NOLINT: checking the moved-from state
    const SVDataBlob* blob = nullptr;
    ASSERT_TRUE(taken.GetDataBlob(blob));
    EXPECT_EQ(*blob, (SVDataBlob{1, 2, 3}));
    taken.Clear();
    EXPECT_EQ(taken.GetKind(), SVTypedValueKind::Null);
    EXPECT_EQ(SucceedingGetters(taken), "000000000");
}

}  // namespace
}  // namespace SV
