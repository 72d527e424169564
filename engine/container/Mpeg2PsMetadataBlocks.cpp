#include "engine/container/Mpeg2PsMetadataBlocks.h"

#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"

namespace SarvelonMediaKit {

using namespace Mpeg2PsFormat;

bool Mpeg2PsMetadataBlocks::WriteChapter(uint32_t time, const std::string& title,
                                         uint64_t thumbnailPosition, uint32_t thumbnailSize,
                                         std::vector<uint8_t>& out) {
    Mpeg2PsMetadata block(kBlockKindChapter);
    block.SetUInt32(TagChapterTime, time);
    if (!title.empty()) block.SetString(TagChapterTitle, title);
    block.SetUInt64(TagChapterThumbnailPosition, thumbnailPosition);
    block.SetUInt32(TagChapterThumbnailSize, thumbnailSize);
    return block.Write(out);
}

bool Mpeg2PsMetadataBlocks::WriteThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image,
                                           std::vector<uint8_t>& out) {
    Mpeg2PsMetadata block(kBlockKindThumbnail);
    block.SetUInt32(TagThumbnailChapterIndex, chapterIndex);
    block.SetBytes(TagThumbnailImage, image);
    return block.Write(out);
}

bool Mpeg2PsMetadataBlocks::WriteTable(const std::vector<std::vector<uint8_t>>& blocks,
                                       std::vector<uint8_t>& out) {
    if (blocks.size() > UINT32_MAX) return false;
    std::vector<uint8_t> nested;
    for (const auto& block : blocks) nested.insert(nested.end(), block.begin(), block.end());
    Mpeg2PsMetadata table(kBlockKindTable);
    table.SetUInt32(TagTableBlockCount, static_cast<uint32_t>(blocks.size()));
    table.SetBytes(TagTableBlocks, nested);
    return table.Write(out);
}

}  // namespace SarvelonMediaKit
