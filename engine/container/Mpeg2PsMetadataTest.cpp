#include "engine/container/Mpeg2PsMetadata.h"

#include <gtest/gtest.h>

#include <boost/any.hpp>

#include <string>
#include <vector>

#include "engine/container/Mpeg2PsMetadataTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using containertest::ReadsWhole;

using Tag = Mpeg2PsMetadata::Tag;
Tag T(int n) { return static_cast<Tag>(n); }

const std::string kIndexTooShort = "Mpeg2PsMetadata::Read ERROR: Index too short\n";
const std::string kEntryTooShort = "Mpeg2PsMetadata::Read ERROR: Entry too short\n";

// A headed thumbnail block, as written and as read back below.
const std::vector<uint8_t> kThumbnailBlock = {
    0x00, 0x00, 0x00, 0x18,              // total length 24
    0x04,                                // kind: thumbnail
    0x02,                                // two entries, in tag order
    0x19, 0x0A, 0x00, 0x00, 0x00, 0x02,  // tag 0x19, bytes, length 2
    0xFF, 0xD8,                          //   the image
    0x1A, 0x05, 0x00, 0x00, 0x00, 0x04,  // tag 0x1A, uint32, length 4
    0x00, 0x00, 0x00, 0x02,              //   chapter index 2
};

// Tags 1 to 8 hold one number of each integer type, as the lists of the round trips below
// carry them: each must read back with its type and value.
void ExpectOneNumberOfEachType(const Mpeg2PsMetadata& read) {
    uint8_t u8 = 0;
    int8_t s8 = 0;
    uint16_t u16 = 0;
    int16_t s16 = 0;
    uint32_t u32 = 0;
    int32_t s32 = 0;
    uint64_t u64 = 0;
    int64_t s64 = 0;
    EXPECT_TRUE(read.GetUInt8(T(1), u8));
    EXPECT_EQ(0xFE, u8);
    EXPECT_TRUE(read.GetInt8(T(2), s8));
    EXPECT_EQ(-3, s8);
    EXPECT_TRUE(read.GetUInt16(T(3), u16));
    EXPECT_EQ(0xBEEF, u16);
    EXPECT_TRUE(read.GetInt16(T(4), s16));
    EXPECT_EQ(-1234, s16);
    EXPECT_TRUE(read.GetUInt32(T(5), u32));
    EXPECT_EQ(0xDEADBEEFu, u32);
    EXPECT_TRUE(read.GetInt32(T(6), s32));
    EXPECT_EQ(-123456789, s32);
    EXPECT_TRUE(read.GetUInt64(T(7), u64));
    EXPECT_EQ(0x0123456789ABCDEFull, u64);
    EXPECT_TRUE(read.GetInt64(T(8), s64));
    EXPECT_EQ(-1234567890123ll, s64);
}

TEST(Mpeg2PsMetadataTest, EveryTypeRoundTripsInBothFramings) {
    for (uint32_t version : {0u, 3u}) {
        Mpeg2PsMetadata written(version);
        written.SetUInt8(T(1), 0xFE);
        written.SetInt8(T(2), -3);
        written.SetUInt16(T(3), 0xBEEF);
        written.SetInt16(T(4), -1234);
        written.SetUInt32(T(5), 0xDEADBEEF);
        written.SetInt32(T(6), -123456789);
        written.SetUInt64(T(7), 0x0123456789ABCDEFull);
        written.SetInt64(T(8), -1234567890123ll);
        written.SetString(T(9), std::string("Chap\0ter", 8));  // bytes as they stand
        written.SetBytes(T(10), {0x00, 0xFF, 0x10});
        written.SetString(T(11), "");
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(written.Write(bytes));
        ASSERT_EQ(written.GetSize(), bytes.size());

        Mpeg2PsMetadata read(version ? 1 : 0);
        ASSERT_TRUE(ReadsWhole(read, bytes));
        EXPECT_EQ(version, read.GetVersion());
        ExpectOneNumberOfEachType(read);
        std::string text;
        std::vector<uint8_t> blob;
        EXPECT_TRUE(read.GetString(T(9), text));
        EXPECT_EQ(std::string("Chap\0ter", 8), text);
        EXPECT_TRUE(read.GetBytes(T(10), blob));
        EXPECT_EQ((std::vector<uint8_t>{0x00, 0xFF, 0x10}), blob);
        EXPECT_TRUE(read.GetString(T(11), text));
        EXPECT_EQ("", text);
        // Writing what was read gives the same bytes: every value kept its type.
        std::vector<uint8_t> again;
        ASSERT_TRUE(read.Write(again));
        EXPECT_EQ(bytes, again);
    }
}

TEST(Mpeg2PsMetadataTest, HeadedLayoutIsAsDocumented) {
    Mpeg2PsMetadata block(4);
    block.SetUInt32(Mpeg2PsFormat::TagThumbnailChapterIndex, 2);
    block.SetBytes(Mpeg2PsFormat::TagThumbnailImage, {0xFF, 0xD8});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(block.Write(bytes));
    EXPECT_EQ(kThumbnailBlock, bytes);
}

TEST(Mpeg2PsMetadataTest, ShortInputFailsWithTheReadersTexts) {
    struct Case {
        const char* name;
        uint32_t version;
        std::vector<uint8_t> bytes;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"bare, nothing", 0, {}, kIndexTooShort},
        {"headed, four bytes", 1, {0, 0, 0, 6}, kIndexTooShort},
        {"headed, total beyond the bytes", 1, {0, 0, 0, 9, 3, 0, 0, 0}, kIndexTooShort},
        {"headed, header only", 1, {0, 0, 0, 5, 3}, kIndexTooShort},
        {"entry header cut", 0, {1, 5, 5, 0, 0, 0}, kEntryTooShort},
        {"value shorter than its length", 0, {1, 9, 9, 0, 0, 0, 4, 'a', 'b', 'c'}, kEntryTooShort},
        {"second entry missing", 0, {2, 1, 1, 0, 0, 0, 1, 7}, kEntryTooShort},
        {"length near 2^32", 0, {1, 9, 10, 0xFF, 0xFF, 0xFF, 0xFF, 1}, kEntryTooShort},
        {"uint16 of length 4",
         0,
         {1, 0x2B, 3, 0, 0, 0, 4, 1, 2, 3, 4},
         "Mpeg2PsMetadata::Read ERROR: Invalid uint16 size 4 for tag 43\n"},
        {"int64 of length 1",
         0,
         {1, 200, 8, 0, 0, 0, 1, 0},
         "Mpeg2PsMetadata::Read ERROR: Invalid int64 size 1 for tag 200\n"},
        {"uint8 of length 0",
         0,
         {1, 7, 1, 0, 0, 0, 0},
         "Mpeg2PsMetadata::Read ERROR: Invalid uint8 size 0 for tag 7\n"},
    };
    for (const Case& c : cases) {
        Mpeg2PsMetadata metadata(c.version);
        size_t consumed = 12345;
        // A copy of exactly the given length, so that a read past it is caught by ASan.
        std::vector<uint8_t> exact(c.bytes);
        EXPECT_FALSE(metadata.Read(exact.data(), exact.size(), consumed)) << c.name;
        EXPECT_EQ(c.error, metadata.GetError()) << c.name;
        EXPECT_EQ(12345u, consumed) << c.name;  // not written on failure
    }
}

TEST(Mpeg2PsMetadataTest, FramingEdges) {
    size_t consumed = 0;
    // A headed block of exactly 6 bytes: no entries.
    Mpeg2PsMetadata empty(1);
    const uint8_t six[] = {0, 0, 0, 6, 2, 0, 0xAA};
    ASSERT_TRUE(empty.Read(six, sizeof six, consumed));
    EXPECT_EQ(6u, consumed);
    EXPECT_EQ(0u, empty.Count());
    EXPECT_EQ(2u, empty.GetVersion());

    // A single count byte of 0 makes an empty bare list.
    Mpeg2PsMetadata bare(0);
    const uint8_t zero[] = {0};
    ASSERT_TRUE(bare.Read(zero, 1, consumed));
    EXPECT_EQ(1u, consumed);

    // A total length smaller than the entries: the entries are read up to the given size.
    Mpeg2PsMetadata small(1);
    const uint8_t shortTotal[] = {0, 0, 0, 6, 3, 1, 0x18, 5, 0, 0, 0, 4, 0, 0, 0x01, 0x00};
    ASSERT_TRUE(small.Read(shortTotal, sizeof shortTotal, consumed));
    EXPECT_EQ(sizeof shortTotal, consumed);
    uint32_t time = 0;
    EXPECT_TRUE(small.GetUInt32(Mpeg2PsFormat::TagChapterTime, time));
    EXPECT_EQ(256u, time);

    // A block of kind 0 leaves a reader of version 0.
    Mpeg2PsMetadata kindZero(1);
    const uint8_t kind0[] = {0, 0, 0, 6, 0, 0};
    ASSERT_TRUE(kindZero.Read(kind0, sizeof kind0, consumed));
    EXPECT_EQ(0u, kindZero.GetVersion());
}

TEST(Mpeg2PsMetadataTest, UnknownTypesAreSkippedAndRepeatedTagsReplace) {
    const uint8_t bytes[] = {
        3,                                     // three entries
        0x30, 11, 0, 0, 0, 3, 1,   2,   3,     // type 11: skipped with its 3 bytes
        7,    5,  0, 0, 0, 4, 0,   0,   0, 9,  // tag 7 as uint32
        7,    9,  0, 0, 0, 2, 'h', 'i',        // tag 7 again, as string
        0xEE,                                  // after the list: not counted
    };
    Mpeg2PsMetadata metadata(0);
    size_t consumed = 0;
    ASSERT_TRUE(metadata.Read(bytes, sizeof bytes, consumed));
    EXPECT_EQ(sizeof bytes - 1, consumed);
    EXPECT_FALSE(metadata.Has(T(0x30)));
    std::string text;
    EXPECT_TRUE(metadata.GetString(T(7), text));
    EXPECT_EQ("hi", text);
    uint32_t number = 77;
    EXPECT_THROW(metadata.GetUInt32(T(7), number), boost::bad_any_cast);
    EXPECT_FALSE(metadata.GetUInt32(T(8), number));
    EXPECT_EQ(77u, number);  // untouched when absent

    // A second read keeps only the second list.
    const uint8_t other[] = {1, 8, 1, 0, 0, 0, 1, 4};
    ASSERT_TRUE(metadata.Read(other, sizeof other, consumed));
    EXPECT_FALSE(metadata.Has(T(7)));
    EXPECT_EQ(1u, metadata.Count());
}

TEST(Mpeg2PsMetadataTest, WriteRefusesMoreThan255Values) {
    Mpeg2PsMetadata metadata(0);
    for (int tag = 0; tag < 255; ++tag) metadata.SetUInt8(T(tag), 1);
    std::vector<uint8_t> bytes = {0xAB};
    ASSERT_TRUE(metadata.Write(bytes));
    EXPECT_EQ(255, bytes[1]);
    metadata.SetUInt8(T(255), 1);
    bytes.assign(1, 0xAB);
    EXPECT_FALSE(metadata.Write(bytes));
    EXPECT_EQ(std::vector<uint8_t>{0xAB}, bytes);  // nothing appended
}

TEST(Mpeg2PsMetadataTest, BareListOfEveryTypeReadsAndWritesBack) {
    const std::vector<uint8_t> golden = {
        0x0A,                                            // ten entries, in tag order
        0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0xFE,        // tag 1, uint8: 254
        0x02, 0x02, 0x00, 0x00, 0x00, 0x01, 0xFD,        // tag 2, int8: -3
        0x03, 0x03, 0x00, 0x00, 0x00, 0x02, 0xBE, 0xEF,  // tag 3, uint16: 0xBEEF
        0x04, 0x04, 0x00, 0x00, 0x00, 0x02, 0xFB, 0x2E,  // tag 4, int16: -1234
        0x05, 0x05, 0x00, 0x00, 0x00, 0x04,              // tag 5, uint32:
        0xDE, 0xAD, 0xBE, 0xEF,                          //   0xDEADBEEF
        0x06, 0x06, 0x00, 0x00, 0x00, 0x04,              // tag 6, int32:
        0xF8, 0xA4, 0x32, 0xEB,                          //   -123456789
        0x07, 0x07, 0x00, 0x00, 0x00, 0x08,              // tag 7, uint64:
        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,  //   0x0123456789ABCDEF
        0x08, 0x08, 0x00, 0x00, 0x00, 0x08,              // tag 8, int64:
        0xFF, 0xFF, 0xFE, 0xE0, 0x8E, 0x04, 0xFB, 0x35,  //   -1234567890123
        0x09, 0x09, 0x00, 0x00, 0x00, 0x03,              // tag 9, string of 3:
        'e',  'n',  'g',                                 //   "eng"
        0x0A, 0x0A, 0x00, 0x00, 0x00, 0x03,              // tag 10, bytes, 3 of them:
        0x00, 0xFF, 0x10,                                //   00 FF 10
    };
    Mpeg2PsMetadata read(0);
    ASSERT_TRUE(ReadsWhole(read, golden));
    EXPECT_EQ(10u, read.Count());
    ExpectOneNumberOfEachType(read);
    std::string text;
    std::vector<uint8_t> blob;
    ASSERT_TRUE(read.GetString(T(9), text));
    EXPECT_EQ("eng", text);
    ASSERT_TRUE(read.GetBytes(T(10), blob));
    EXPECT_EQ(std::vector<uint8_t>({0x00, 0xFF, 0x10}), blob);

    std::vector<uint8_t> written;
    ASSERT_TRUE(read.Write(written));
    EXPECT_EQ(golden, written);
}

TEST(Mpeg2PsMetadataTest, HeadedBlockReadsAndWritesBack) {
    Mpeg2PsMetadata read(1);  // any kind: the block's own replaces it
    ASSERT_TRUE(ReadsWhole(read, kThumbnailBlock));
    EXPECT_EQ(4u, read.GetVersion());
    std::vector<uint8_t> image;
    uint32_t index = 0;
    ASSERT_TRUE(read.GetBytes(Mpeg2PsFormat::TagThumbnailImage, image));
    EXPECT_EQ(std::vector<uint8_t>({0xFF, 0xD8}), image);
    ASSERT_TRUE(read.GetUInt32(Mpeg2PsFormat::TagThumbnailChapterIndex, index));
    EXPECT_EQ(2u, index);

    std::vector<uint8_t> written;
    ASSERT_TRUE(read.Write(written));
    EXPECT_EQ(kThumbnailBlock, written);
}

}  // namespace
}  // namespace SarvelonMediaKit
