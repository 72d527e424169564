#include "engine/container/Mpeg2PsMetadataBlockReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"
#include "engine/container/Mpeg2PsMetadataTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;
typedef Mpeg2PsMetadataBlockReader BlockReader;

std::vector<uint8_t> Chapter(uint32_t time, const std::string& title) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(time, title, 1000 + time, 50, out));
    return out;
}

std::vector<uint8_t> Table(const std::vector<std::vector<uint8_t>>& blocks) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(Mpeg2PsMetadataBlocks::WriteTable(blocks, out));
    return out;
}

typedef containertest::BlockReaderHarness Harness;
using containertest::HeadedBlock;

TEST(Mpeg2PsMetadataBlockReader, ChaptersAndThumbnailsAreTakenFromTheirBlocks) {
    Harness h;
    EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(Chapter(90000, "Opening"))));
    EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(Chapter(180000, ""))));
    ASSERT_EQ(2u, h.chapters.size());
    EXPECT_EQ(90000u, h.chapters[0].time);
    EXPECT_EQ("Opening", h.chapters[0].title);
    EXPECT_EQ(91000u, h.chapters[0].thumbnailPosition);
    EXPECT_EQ(50u, h.chapters[0].thumbnailSize);
    EXPECT_EQ("", h.chapters[1].title);

    std::vector<uint8_t> thumbnail;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteThumbnail(1, {0xFF, 0xD8, 0xFF}, thumbnail));
    EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(thumbnail)));
    ASSERT_EQ(1u, h.thumbnails.size());
    EXPECT_EQ(1u, h.thumbnails[0].first);
    EXPECT_EQ(std::vector<uint8_t>({0xFF, 0xD8, 0xFF}), h.thumbnails[0].second);

    // Other kinds are ignored.
    Mpeg2PsMetadata other(9);
    other.SetUInt32(TagChapterTime, 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(other.Write(bytes));
    EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(bytes)));
    EXPECT_EQ(2u, h.chapters.size());
}

TEST(Mpeg2PsMetadataBlockReader, MissingOrMistypedTagsAreRefused) {
    struct Case {
        const char* name;
        uint8_t kind;
        void (*fill)(Mpeg2PsMetadata&);
    };
    const Case cases[] = {
        {"chapter without time", kBlockKindChapter,
         [](Mpeg2PsMetadata& b) {
             b.SetUInt64(TagChapterThumbnailPosition, 1);
             b.SetUInt32(TagChapterThumbnailSize, 1);
         }},
        {"chapter with a 64-bit time", kBlockKindChapter,
         [](Mpeg2PsMetadata& b) {
             b.SetUInt64(TagChapterTime, 1);
             b.SetUInt64(TagChapterThumbnailPosition, 1);
             b.SetUInt32(TagChapterThumbnailSize, 1);
         }},
        {"chapter with a numeric title", kBlockKindChapter,
         [](Mpeg2PsMetadata& b) {
             b.SetUInt32(TagChapterTime, 1);
             b.SetUInt64(TagChapterThumbnailPosition, 1);
             b.SetUInt32(TagChapterThumbnailSize, 1);
             b.SetUInt32(TagChapterTitle, 7);
         }},
        {"thumbnail without image", kBlockKindThumbnail,
         [](Mpeg2PsMetadata& b) { b.SetUInt32(TagThumbnailChapterIndex, 0); }},
        {"thumbnail image as text", kBlockKindThumbnail,
         [](Mpeg2PsMetadata& b) {
             b.SetUInt32(TagThumbnailChapterIndex, 0);
             b.SetString(TagThumbnailImage, "jpeg");
         }},
        {"table without count", kBlockKindTable,
         [](Mpeg2PsMetadata& b) { b.SetBytes(TagTableBlocks, {1}); }},
        {"table without blocks", kBlockKindTable,
         [](Mpeg2PsMetadata& b) { b.SetUInt32(TagTableBlockCount, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mpeg2PsMetadata block(c.kind);
        c.fill(block);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(block.Write(bytes));
        Harness h;
        EXPECT_EQ(Mpeg2PsResult::BadTags, h.Parse(HeadedBlock(bytes)));
        EXPECT_TRUE(h.chapters.empty());
        EXPECT_TRUE(h.thumbnails.empty());
    }
}

TEST(Mpeg2PsMetadataBlockReader, ATableHandsEachBlockOnInOrder) {
    std::vector<uint8_t> thumbnail;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteThumbnail(0, {1}, thumbnail));
    const std::vector<uint8_t> table = Table({Chapter(0, "A"), thumbnail, Chapter(9000, "B")});
    for (bool viaHandler : {false, true}) {
        SCOPED_TRACE(viaHandler ? "through the handler" : "on its own");
        Harness h;
        EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(table), viaHandler));
        ASSERT_EQ(2u, h.chapters.size());
        EXPECT_EQ("A", h.chapters[0].title);
        EXPECT_EQ("B", h.chapters[1].title);
        EXPECT_EQ(1u, h.thumbnails.size());
        if (viaHandler) {
            EXPECT_EQ(std::vector<uint32_t>({3, 4, 3}), h.nestedKinds);
        }
        // A second table, once chapters are known, is ignored.
        EXPECT_EQ(Mpeg2PsResult::Ok, h.Parse(HeadedBlock(Table({Chapter(5, "C")})), viaHandler));
        EXPECT_EQ(2u, h.chapters.size());
    }
}

TEST(Mpeg2PsMetadataBlockReader, ATruncatedTableKeepsTheChaptersBeforeTheGap) {
    // A count above the blocks present: the first missing block fails the table.
    Mpeg2PsMetadata block(kBlockKindTable);
    std::vector<uint8_t> nested = Chapter(1, "one");
    const std::vector<uint8_t> two = Chapter(2, "two");
    nested.insert(nested.end(), two.begin(), two.end());
    block.SetUInt32(TagTableBlockCount, 3);
    block.SetBytes(TagTableBlocks, nested);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(block.Write(bytes));
    Harness h;
    EXPECT_EQ(Mpeg2PsResult::BadTags, h.Parse(HeadedBlock(bytes)));
    EXPECT_EQ(2u, h.chapters.size());

    // A nested block cut short.
    nested.resize(nested.size() - 3);
    block.SetUInt32(TagTableBlockCount, 2);
    block.SetBytes(TagTableBlocks, nested);
    bytes.clear();
    ASSERT_TRUE(block.Write(bytes));
    Harness cut;
    EXPECT_EQ(Mpeg2PsResult::BadTags, cut.Parse(HeadedBlock(bytes)));
    EXPECT_EQ(1u, cut.chapters.size());

    // An empty table is fine.
    block.SetBytes(TagTableBlocks, {});
    bytes.clear();
    ASSERT_TRUE(block.Write(bytes));
    Harness empty;
    EXPECT_EQ(Mpeg2PsResult::Ok, empty.Parse(HeadedBlock(bytes)));
}

TEST(Mpeg2PsMetadataBlockReader, TheHandlersResultEndsTheTable) {
    const std::vector<uint8_t> table = Table({Chapter(0, "A"), Chapter(1, "B")});
    BlockReader reader;
    std::vector<BlockReader::Chapter> chapters;
    int calls = 0;
    const Mpeg2PsResult result = reader.ParseMetadataBlock(
        HeadedBlock(table), chapters, BlockReader::ThumbnailHandler(),
        [&calls](const Mpeg2PsMetadata&) -> Mpeg2PsResult {
            ++calls;
            return static_cast<Mpeg2PsResult>(0x2A);  // the handler's own code
        });
    EXPECT_EQ(0x2Au, Mpeg2PsResultNumber(result));
    EXPECT_EQ(1, calls);
}

TEST(Mpeg2PsMetadataBlockReader, TablesNestedTooDeepAreRefused) {
    // Tables inside tables, with one chapter at the bottom.
    auto nestedTables = [](int depth) {
        std::vector<uint8_t> block = Chapter(7, "deep");
        for (int i = 0; i < depth; ++i) block = Table({block});
        return block;
    };
    for (bool viaHandler : {false, true}) {
        Harness shallow;
        EXPECT_EQ(
            Mpeg2PsResult::Ok,
            shallow.Parse(HeadedBlock(nestedTables(BlockReader::kMaxTableDepth)), viaHandler));
        EXPECT_EQ(1u, shallow.chapters.size());

        Harness deep;
        EXPECT_EQ(Mpeg2PsResult::BadTags, deep.Parse(HeadedBlock(nestedTables(200)), viaHandler));
        EXPECT_TRUE(deep.chapters.empty());
        // The depth count is back to zero afterwards.
        EXPECT_EQ(Mpeg2PsResult::Ok, deep.Parse(HeadedBlock(nestedTables(2)), viaHandler));
        EXPECT_EQ(1u, deep.chapters.size());
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
