#include "engine/container/Mpeg2PsMetadataBlocks.h"

#include <gtest/gtest.h>

#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"
#include "engine/container/Mpeg2PsMetadataTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;
typedef Mpeg2PsMetadataBlockReader BlocksReader;
typedef containertest::BlockReaderHarness Harness;
using containertest::HeadedBlock;
using containertest::ReadsWhole;

// The chapter "Two" at 5 s with its thumbnail at 65536 (2048 bytes), as written and as read.
const std::vector<uint8_t> kChapterTwo = {
    0x00, 0x00, 0x00, 0x31,                          // total length 49
    0x03,                                            // kind: chapter
    0x04,                                            // four entries, in tag order
    0x15, 0x09, 0x00, 0x00, 0x00, 0x03,              // title: string of 3
    'T',  'w',  'o',                                 //   "Two"
    0x18, 0x05, 0x00, 0x00, 0x00, 0x04,              // time: uint32
    0x00, 0x06, 0xDD, 0xD0,                          //   450000 ticks (5 s)
    0x1B, 0x07, 0x00, 0x00, 0x00, 0x08,              // thumbnail position: uint64
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,  //   65536
    0x1C, 0x05, 0x00, 0x00, 0x00, 0x04,              // thumbnail size: uint32
    0x00, 0x00, 0x08, 0x00,                          //   2048
};

TEST(Mpeg2PsMetadataBlocksTest, ChapterBlockBytes) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(450000, "Two", 0x10000, 2048, bytes));
    EXPECT_EQ(kChapterTwo, bytes);

    std::vector<uint8_t> untitled;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(0, "", 0, 0, untitled));
    Mpeg2PsMetadata read(1);
    ASSERT_TRUE(ReadsWhole(read, untitled));
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
    ASSERT_TRUE(ReadsWhole(read, table));
    EXPECT_EQ(kBlockKindTable, read.GetVersion());
    uint32_t count = 0;
    std::vector<uint8_t> nested;
    ASSERT_TRUE(read.GetUInt32(TagTableBlockCount, count));
    ASSERT_TRUE(read.GetBytes(TagTableBlocks, nested));
    EXPECT_EQ(2u, count);
    // The nested blocks lie end to end and read one after the other.
    size_t at = 0;
    size_t consumed = 0;
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
    ASSERT_TRUE(ReadsWhole(thumb, thumbnail));
    EXPECT_EQ(kBlockKindThumbnail, thumb.GetVersion());
    uint32_t index = 0;
    std::vector<uint8_t> readImage;
    ASSERT_TRUE(thumb.GetUInt32(TagThumbnailChapterIndex, index));
    ASSERT_TRUE(thumb.GetBytes(TagThumbnailImage, readImage));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(image, readImage);
}

// ---- Round trips: golden blocks read by the block reader, and its findings written back. ----

std::vector<uint8_t> ChapterBytes(const BlocksReader::Chapter& chapter) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(
        chapter.time, chapter.title, chapter.thumbnailPosition, chapter.thumbnailSize, out));
    return out;
}

TEST(Mpeg2PsMetadataBlocksTest, GoldenChapterReadsAndWritesBack) {
    Harness back;
    ASSERT_EQ(Mpeg2PsResult::Ok, back.Parse(HeadedBlock(kChapterTwo)));
    ASSERT_EQ(1u, back.chapters.size());
    EXPECT_EQ("Two", back.chapters[0].title);
    EXPECT_EQ(450000u, back.chapters[0].time);
    EXPECT_EQ(65536u, back.chapters[0].thumbnailPosition);
    EXPECT_EQ(2048u, back.chapters[0].thumbnailSize);
    EXPECT_EQ(kChapterTwo, ChapterBytes(back.chapters[0]));
}

TEST(Mpeg2PsMetadataBlocksTest, GoldenThumbnailReadsAndWritesBack) {
    const std::vector<uint8_t> golden = {
        0x00, 0x00, 0x00, 0x1B,              // total length 27
        0x04,                                // kind: thumbnail
        0x02,                                // two entries, in tag order
        0x19, 0x0A, 0x00, 0x00, 0x00, 0x05,  // image: 5 bytes
        0xFF, 0xD8, 0x00, 0xFF, 0xD9,        //   the image
        0x1A, 0x05, 0x00, 0x00, 0x00, 0x04,  // chapter index: uint32
        0x00, 0x00, 0x00, 0x07,              //   7
    };
    Harness back;
    ASSERT_EQ(Mpeg2PsResult::Ok, back.Parse(HeadedBlock(golden)));
    EXPECT_TRUE(back.chapters.empty());
    ASSERT_EQ(1u, back.thumbnails.size());
    EXPECT_EQ(7u, back.thumbnails[0].first);
    EXPECT_EQ(std::vector<uint8_t>({0xFF, 0xD8, 0x00, 0xFF, 0xD9}), back.thumbnails[0].second);
    std::vector<uint8_t> written;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteThumbnail(back.thumbnails[0].first,
                                                      back.thumbnails[0].second, written));
    EXPECT_EQ(golden, written);
}

TEST(Mpeg2PsMetadataBlocksTest, GoldenTableReadsAndWritesBack) {
    const std::vector<uint8_t> golden = {
        0x00, 0x00, 0x00, 0x66,                          // total length 102
        0x02,                                            // kind: table
        0x02,                                            // two entries, in tag order
        0x1D, 0x05, 0x00, 0x00, 0x00, 0x04,              // block count: uint32
        0x00, 0x00, 0x00, 0x02,                          //   2
        0x1E, 0x0A, 0x00, 0x00, 0x00, 0x50,              // the blocks: 80 bytes
        0x00, 0x00, 0x00, 0x28,                          //   total length 40
        0x03,                                            //   kind: chapter
        0x03,                                            //   three entries, no title
        0x18, 0x05, 0x00, 0x00, 0x00, 0x04,              //   time: uint32
        0x00, 0x00, 0x00, 0x00,                          //     0
        0x1B, 0x07, 0x00, 0x00, 0x00, 0x08,              //   thumbnail position: uint64
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00,  //     8192
        0x1C, 0x05, 0x00, 0x00, 0x00, 0x04,              //   thumbnail size: uint32
        0x00, 0x00, 0x01, 0x00,                          //     256
        0x00, 0x00, 0x00, 0x28,                          //   total length 40
        0x03,                                            //   kind: chapter
        0x03,                                            //   three entries, no title
        0x18, 0x05, 0x00, 0x00, 0x00, 0x04,              //   time: uint32
        0x00, 0x06, 0xDD, 0xD0,                          //     450000
        0x1B, 0x07, 0x00, 0x00, 0x00, 0x08,              //   thumbnail position: uint64
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00,  //     8448
        0x1C, 0x05, 0x00, 0x00, 0x00, 0x04,              //   thumbnail size: uint32
        0x00, 0x00, 0x00, 0x80,                          //     128
    };
    Harness back;
    ASSERT_EQ(Mpeg2PsResult::Ok, back.Parse(HeadedBlock(golden)));
    ASSERT_EQ(2u, back.chapters.size());
    EXPECT_EQ(0u, back.chapters[0].time);
    EXPECT_EQ("", back.chapters[0].title);
    EXPECT_EQ(8192u, back.chapters[0].thumbnailPosition);
    EXPECT_EQ(256u, back.chapters[0].thumbnailSize);
    EXPECT_EQ(450000u, back.chapters[1].time);
    EXPECT_EQ(8448u, back.chapters[1].thumbnailPosition);
    EXPECT_EQ(128u, back.chapters[1].thumbnailSize);

    std::vector<std::vector<uint8_t>> blocks;
    for (const BlocksReader::Chapter& chapter : back.chapters)
        blocks.push_back(ChapterBytes(chapter));
    std::vector<uint8_t> written;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteTable(blocks, written));
    EXPECT_EQ(golden, written);
}

}  // namespace
}  // namespace SarvelonMediaKit
