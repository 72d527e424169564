#ifndef ENGINE_CONTAINER_MPEG2PSMETADATABLOCKREADER_H
#define ENGINE_CONTAINER_MPEG2PSMETADATABLOCKREADER_H

#include <boost/function.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsResult.h"

namespace SarvelonMediaKit {

// Acts on the metadata blocks of a title's header section (stream 0xF1), once the parser has
// read one with a headed Mpeg2PsMetadata: chapters go into the chapter list, thumbnails to a
// handler, and the blocks of a table one by one back to the parser's block handler.
//
// One reader belongs to one parser (it counts how deep tables are nested inside tables, so
// that a block cannot recurse without bound). Single-threaded, like its parser.
class Mpeg2PsMetadataBlockReader {
public:
    // The largest block that is gathered and read; a block length above it is refused.
    static constexpr uint32_t kMaxBlockSize = 16u << 20;
    // Tables inside tables beyond this depth are refused.
    static constexpr uint32_t kMaxTableDepth = 8;

    // One chapter of the title, from a chapter block (kind 3).
    struct Chapter {
        uint32_t time = 0;               // 90 kHz ticks
        std::string title;               // empty when the block has none
        uint64_t thumbnailPosition = 0;  // file position of the chapter's thumbnail data
        uint32_t thumbnailSize = 0;      // bytes
    };

    // Receives the image of a thumbnail block with its chapter index.
    typedef boost::function<void(uint32_t chapterIndex, const std::vector<uint8_t>& image)>
        ThumbnailHandler;
    // Receives each block of a table; its result ends the table when not 0.
    typedef boost::function<Mpeg2PsResult(const Mpeg2PsMetadata& block)> BlockHandler;

    Mpeg2PsMetadataBlockReader();

    // Acts on one block by its kind (Mpeg2PsMetadata::GetVersion):
    //   4 thumbnail: onThumbnail (tags 0x1A, 0x19);
    //   3 chapter:   appended to chapters (tags 0x18, 0x1B, 0x1C, optional 0x15);
    //   2 table:     ignored while chapters is not empty; else each of its 0x1D nested blocks
    //                (in the bytes of tag 0x1E) goes to onNestedBlock, or, when that is empty,
    //                to this function again; chapters read before a failure stay;
    //   others:      ignored.
    // Mpeg2PsResult::Ok, Mpeg2PsResult::BadTags, or the first result other than Ok of
    // onNestedBlock.
    Mpeg2PsResult ParseMetadataBlock(const Mpeg2PsMetadata& block, std::vector<Chapter>& chapters,
                                     const ThumbnailHandler& onThumbnail,
                                     const BlockHandler& onNestedBlock);

private:
    Mpeg2PsResult ParseTable(const Mpeg2PsMetadata& block, std::vector<Chapter>& chapters,
                             const ThumbnailHandler& onThumbnail,
                             const BlockHandler& onNestedBlock);

    uint32_t tableDepth_;  // tables being read right now, outermost included
};

}  // namespace SarvelonMediaKit

#endif
