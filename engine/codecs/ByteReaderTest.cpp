#include "engine/codecs/ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace SarvelonMediaKit {
namespace {

TEST(ByteReader, ReadsBigEndianFieldsInOrder) {
    const uint8_t bytes[] = {0x12,                                             // U8
                             0x34, 0x56,                                       // U16
                             0x78, 0x9A, 0xBC,                                 // U24
                             0xDE, 0xF0, 0x01, 0x02,                           // U32
                             0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};  // U64
    ByteReader reader(bytes, sizeof bytes);
    EXPECT_EQ(reader.U8(), 0x12);
    EXPECT_EQ(reader.U16(), 0x3456);
    EXPECT_EQ(reader.U24(), 0x789ABCu);
    EXPECT_EQ(reader.U32(), 0xDEF00102u);
    EXPECT_EQ(reader.U64(), 0x0102030405060708ull);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Left(), 0u);
}

TEST(ByteReader, AReadPastTheEndFailsAndEveryLaterReadFailsToo) {
    const uint8_t bytes[] = {0xAA, 0xBB, 0xCC};
    ByteReader reader(bytes, sizeof bytes);
    EXPECT_EQ(reader.U16(), 0xAABB);
    EXPECT_EQ(reader.U16(), 0);  // one byte left: nothing is read
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Position(), 2u);
    EXPECT_EQ(reader.U8(), 0);  // the byte that is there is not read after a failure
    EXPECT_EQ(reader.Bytes(0), nullptr);
    EXPECT_TRUE(reader.Failed());
}

TEST(ByteReader, SubReadersAreBoundedByTheirLengthAndConsumeIt) {
    const uint8_t bytes[] = {0x02, 0x10, 0x20, 0x30};
    ByteReader reader(bytes, sizeof bytes);
    ByteReader body = reader.Sub(reader.U8());
    EXPECT_EQ(body.U16(), 0x1020);
    EXPECT_EQ(body.U8(), 0);  // the byte after the sub-range belongs to the outer reader
    EXPECT_TRUE(body.Failed());
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.U8(), 0x30);

    ByteReader overlong(bytes, sizeof bytes);
    ByteReader tooBig = overlong.Sub(5);
    EXPECT_TRUE(tooBig.Failed());
    EXPECT_TRUE(overlong.Failed());
    EXPECT_EQ(tooBig.Left(), 0u);
}

TEST(ByteReader, SkipsAndViewsWithinTheRange) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    ByteReader reader(bytes, sizeof bytes);
    EXPECT_TRUE(reader.Skip(2));
    const uint8_t* view = reader.Bytes(2);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 3);
    EXPECT_EQ(view[1], 4);
    EXPECT_TRUE(reader.Skip(0));
    EXPECT_FALSE(reader.Skip(2));
    EXPECT_TRUE(reader.Failed());

    ByteReader empty(nullptr, 10);  // no bytes, whatever size is claimed
    EXPECT_EQ(empty.Left(), 0u);
    EXPECT_EQ(empty.U8(), 0);
    EXPECT_TRUE(empty.Failed());
}

}  // namespace
}  // namespace SarvelonMediaKit
