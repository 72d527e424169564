#include "engine/container/Mpeg2PsMetadataBlockReader.h"

#include <boost/any.hpp>

#include "engine/codecs/ByteReader.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;

// Counts one more table for as long as it is being read.
class DepthGuard {
public:
    explicit DepthGuard(uint32_t& depth) : depth_(depth) { ++depth_; }
    ~DepthGuard() { --depth_; }

private:
    uint32_t& depth_;
};

}  // namespace

Mpeg2PsMetadataBlockReader::Mpeg2PsMetadataBlockReader() : tableDepth_(0) {}

Mpeg2PsResult Mpeg2PsMetadataBlockReader::ParseMetadataBlock(const Mpeg2PsMetadata& block,
                                                             std::vector<Chapter>& chapters,
                                                             const ThumbnailHandler& onThumbnail,
                                                             const BlockHandler& onNestedBlock) {
    try {
        switch (block.GetVersion()) {
            case kBlockKindThumbnail: {
                uint32_t chapterIndex;
                std::vector<uint8_t> image;
                if (!block.GetUInt32(TagThumbnailChapterIndex, chapterIndex) ||
                    !block.GetBytes(TagThumbnailImage, image)) {
                    return Mpeg2PsResult::BadTags;
                }
                if (onThumbnail) onThumbnail(chapterIndex, image);
                return Mpeg2PsResult::Ok;
            }
            case kBlockKindChapter: {
                Chapter chapter;
                if (!block.GetUInt32(TagChapterTime, chapter.time) ||
                    !block.GetUInt64(TagChapterThumbnailPosition, chapter.thumbnailPosition) ||
                    !block.GetUInt32(TagChapterThumbnailSize, chapter.thumbnailSize)) {
                    return Mpeg2PsResult::BadTags;
                }
                block.GetString(TagChapterTitle, chapter.title);
                chapters.push_back(chapter);
                return Mpeg2PsResult::Ok;
            }
            case kBlockKindTable: return ParseTable(block, chapters, onThumbnail, onNestedBlock);
            default: return Mpeg2PsResult::Ok;
        }
    } catch (const boost::bad_any_cast&) {
        // A tag of another type than the format gives it counts as missing.
        return Mpeg2PsResult::BadTags;
    }
}

Mpeg2PsResult Mpeg2PsMetadataBlockReader::ParseTable(const Mpeg2PsMetadata& block,
                                                     std::vector<Chapter>& chapters,
                                                     const ThumbnailHandler& onThumbnail,
                                                     const BlockHandler& onNestedBlock) {
    // Only the first table counts; one that comes after a chapter is ignored.
    if (!chapters.empty()) return Mpeg2PsResult::Ok;
    uint32_t count;
    std::vector<uint8_t> nested;
    if (!block.GetUInt32(TagTableBlockCount, count) || !block.GetBytes(TagTableBlocks, nested)) {
        return Mpeg2PsResult::BadTags;
    }
    if (nested.empty()) return Mpeg2PsResult::Ok;
    // Each nested table is smaller than its parent, yet a chain of them could still run the
    // stack dry.
    if (tableDepth_ >= kMaxTableDepth) return Mpeg2PsResult::BadTags;
    DepthGuard guard(tableDepth_);

    ByteReader rest(nested.data(), nested.size());
    for (uint32_t i = 0; i < count; ++i) {
        Mpeg2PsMetadata inner(1);
        size_t consumed = 0;
        // Every read takes at least a block header, so the loop ends with the bytes.
        if (!inner.Read(rest.Current(), rest.Left(), consumed)) return Mpeg2PsResult::BadTags;
        rest.Skip(consumed);
        const Mpeg2PsResult result =
            onNestedBlock ? onNestedBlock(inner)
                          : ParseMetadataBlock(inner, chapters, onThumbnail, onNestedBlock);
        if (result != Mpeg2PsResult::Ok) return result;
    }
    return Mpeg2PsResult::Ok;
}

}  // namespace SarvelonMediaKit
