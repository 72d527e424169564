#include "engine/container/Mpeg2PsMetadataBlocks.h"

#include <gtest/gtest.h>

#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;

TEST(Mpeg2PsMetadataBlocksTest, ChapterBlockBytes) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(450000, "Two", 0x10000, 2048, bytes));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x00, 0x31,                                // total length 49
        0x03,                                                  // kind: chapter
        0x04,                                                  // four entries, in tag order
        0x15, 0x09, 0x00, 0x00, 0x00, 0x03,                    // title: string of 3
        'T',  'w',  'o',  0x18, 0x05, 0x00, 0x00, 0x00, 0x04,  // time: uint32
        0x00, 0x06, 0xDD, 0xD0,                                //   450000 ticks (5 s)
        0x1B, 0x07, 0x00, 0x00, 0x00, 0x08,                    // thumbnail position: uint64
        0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x1C,
        0x05, 0x00, 0x00, 0x00, 0x04,  // thumbnail size: uint32
        0x00, 0x00, 0x08, 0x00,
    };
    EXPECT_EQ(expected, bytes);

    std::vector<uint8_t> untitled;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(0, "", 0, 0, untitled));
    Mpeg2PsMetadata read(1);
    size_t consumed = 0;
    ASSERT_TRUE(read.Read(untitled.data(), untitled.size(), consumed));
    EXPECT_FALSE(read.Has(TagChapterTitle));  // an empty title is left out
    EXPECT_EQ(3u, read.Count());
}

TEST(Mpeg2PsMetadataBlocksTest, TableOfChaptersAndThumbnailReadBack) {
    std::vector<std::vector<uint8_t>> chapters(2);
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(0, "Start", 9000, 300, chapters[0]));
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(450000, "Two", 9300, 400, chapters[1]));
    std::vector<uint8_t> table;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteTable(chapters, table));

    Mpeg2PsMetadata read(1);
    size_t consumed = 0;
    ASSERT_TRUE(read.Read(table.data(), table.size(), consumed));
    EXPECT_EQ(table.size(), consumed);
    EXPECT_EQ(kBlockKindTable, read.GetVersion());
    uint32_t count = 0;
    std::vector<uint8_t> nested;
    ASSERT_TRUE(read.GetUInt32(TagTableBlockCount, count));
    ASSERT_TRUE(read.GetBytes(TagTableBlocks, nested));
    EXPECT_EQ(2u, count);
    // The nested blocks lie end to end and read one after the other.
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Mpeg2PsMetadata chapter(1);
        ASSERT_TRUE(chapter.Read(nested.data() + at, nested.size() - at, consumed));
        EXPECT_EQ(kBlockKindChapter, chapter.GetVersion());
        uint64_t position = 0;
        ASSERT_TRUE(chapter.GetUInt64(TagChapterThumbnailPosition, position));
        EXPECT_EQ(i == 0 ? 9000u : 9300u, position);
        at += consumed;
    }
    EXPECT_EQ(nested.size(), at);

    std::vector<uint8_t> thumbnail;
    const std::vector<uint8_t> image = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0xD9};
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteThumbnail(1, image, thumbnail));
    Mpeg2PsMetadata thumb(1);
    ASSERT_TRUE(thumb.Read(thumbnail.data(), thumbnail.size(), consumed));
    EXPECT_EQ(kBlockKindThumbnail, thumb.GetVersion());
    uint32_t index = 0;
    std::vector<uint8_t> readImage;
    ASSERT_TRUE(thumb.GetUInt32(TagThumbnailChapterIndex, index));
    ASSERT_TRUE(thumb.GetBytes(TagThumbnailImage, readImage));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(image, readImage);
}

}  // namespace
}  // namespace SarvelonMediaKit
