#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"

namespace {

using SV::SVDataBlob;
using SV::SVDictionary;
using SV::SVTypedValue;

// The dictionary's entries as "key=uint" pairs, in iteration order (other kinds show as '?').
std::string Listing(const SVDictionary& dictionary) {
    std::string text;
    for (const auto& entry : dictionary) {
        uint32_t value = 0;
        text += entry.first + "=" +
                (entry.second.GetUnsignedInt(value) ? std::to_string(value) : std::string("?")) +
                " ";
    }
    return text;
}

SVDictionary Make(std::initializer_list<std::pair<const char*, uint32_t>> entries) {
    SVDictionary dictionary;
    for (const auto& entry : entries) {
        dictionary.SetValue(entry.first, SVTypedValue(entry.second));
    }
    return dictionary;
}

TEST(SVDictionary, KeysIterateInByteOrder) {
    SVDictionary dictionary = Make({{"b", 1}, {"B", 2}, {"a", 3}});
    EXPECT_EQ(Listing(dictionary), "B=2 a=3 b=1 ");
    // A prefix sorts first; bytes compare unsigned, so 0xC3 follows 'z'.
    dictionary = Make({{"\xc3\xa9", 1}, {"ab", 2}, {"a", 3}, {"z", 4}});
    EXPECT_EQ(Listing(dictionary), "a=3 ab=2 z=4 \xc3\xa9=1 ");
}

TEST(SVDictionary, SetGetAndRemove) {
    SVDictionary dictionary = Make({{"k", 1}});
    dictionary.SetValue("k", SVTypedValue("now text"));
    ASSERT_EQ(dictionary.size(), 1u);
    EXPECT_EQ(dictionary.GetStringOrDefault("k", ""), "now text");

    EXPECT_EQ(dictionary.GetValue("absent"), nullptr);
    dictionary.RemoveValue("absent");
    EXPECT_EQ(dictionary.size(), 1u);

    // GetValue allows a change in place.
    *dictionary.GetValue("k") = SVTypedValue(5u);
    EXPECT_EQ(dictionary.GetUnsignedIntOrDefault("k", 0), 5u);
    dictionary.RemoveValue("k");
    EXPECT_TRUE(dictionary.empty());
}

TEST(SVDictionary, TypedGettersByKeyWriteOnlyOnSuccess) {
    SVDictionary dictionary;
    dictionary.SetValue("u", SVTypedValue(7u));
    dictionary.SetValue("f", SVTypedValue(0.5f));
    dictionary.SetValue("blob", SVTypedValue(SVDataBlob{9}));

    uint32_t u = 99;
    EXPECT_FALSE(dictionary.GetUnsignedInt("absent", u));
    EXPECT_FALSE(dictionary.GetUnsignedInt("f", u));
    EXPECT_EQ(u, 99u);
    EXPECT_TRUE(dictionary.GetUnsignedInt("u", u));
    EXPECT_EQ(u, 7u);
    int32_t s = 99;
    EXPECT_FALSE(dictionary.GetSignedInt("u", s));  // no conversion between kinds
    EXPECT_EQ(s, 99);
    uint64_t ul = 99;
    EXPECT_FALSE(dictionary.GetUnsignedLong("u", ul));
    EXPECT_EQ(ul, 99u);
    const SVDataBlob* blob = nullptr;
    EXPECT_TRUE(dictionary.GetDataBlob("blob", blob));
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(*blob, SVDataBlob{9});
    const SVDataBlob* stored = nullptr;
    ASSERT_TRUE(dictionary.GetValue("blob")->GetDataBlob(stored));
    EXPECT_EQ(blob, stored);  // points into the stored value, no copy

    // The getters with a default fall back both for an absent key and for another kind.
    EXPECT_EQ(dictionary.GetUnsignedIntOrDefault("absent", 42), 42u);
    EXPECT_EQ(dictionary.GetUnsignedIntOrDefault("f", 42), 42u);
    EXPECT_EQ(dictionary.GetFloatOrDefault("f", 2.0f), 0.5f);
    EXPECT_EQ(dictionary.GetFloatOrDefault("u", 2.0f), 2.0f);
    EXPECT_TRUE(dictionary.GetBooleanOrDefault("u", true));
    EXPECT_EQ(dictionary.GetStringOrDefault("u", "fallback"), "fallback");
}

TEST(SVDictionary, CopyValueAndMerge) {
    const SVDictionary source = Make({{"a", 10}, {"b", 20}});
    struct CopyCase {
        const char* key;
        bool removeIfAbsent;
        const char* expected;
    };
    const CopyCase copies[] = {
        {"a", false, "a=10 x=1 "},  // present in source: copied over
        {"x", true, "a=1 "},        // absent in source, flag set: removed here
        {"x", false, "a=1 x=1 "},   // absent in source, flag clear: kept
    };
    for (const CopyCase& c : copies) {
        SVDictionary target = Make({{"a", 1}, {"x", 1}});
        target.CopyValue(c.key, source, c.removeIfAbsent);
        EXPECT_EQ(Listing(target), c.expected) << c.key << " " << c.removeIfAbsent;
    }

    SVDictionary keep = Make({{"a", 1}, {"c", 3}});
    keep.Merge(source, false);
    EXPECT_EQ(Listing(keep), "a=1 b=20 c=3 ");
    SVDictionary overwrite = Make({{"a", 1}, {"c", 3}});
    overwrite.Merge(source, true);
    EXPECT_EQ(Listing(overwrite), "a=10 b=20 c=3 ");
}

TEST(SVDictionary, CopyConstructionIsDeep) {
    SVDictionary source;
    source.SetValue("text", SVTypedValue("one"));
    SVDictionary copy(source);
    *source.GetValue("text") = SVTypedValue("two");
    EXPECT_EQ(copy.GetStringOrDefault("text", ""), "one");
    const std::string* a = nullptr;
    const std::string* b = nullptr;
    ASSERT_TRUE(source.GetString("text", a));
    ASSERT_TRUE(copy.GetString("text", b));
    EXPECT_NE(a, b);
}

}  // namespace
