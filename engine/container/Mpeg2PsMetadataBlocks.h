#ifndef ENGINE_CONTAINER_MPEG2PSMETADATABLOCKS_H
#define ENGINE_CONTAINER_MPEG2PSMETADATABLOCKS_H

#include <cstdint>
#include <string>
#include <vector>

namespace SarvelonMediaKit {

// Writers of the headed metadata blocks that stream 0xF1 carries (packetise each block with
// MakeRecordPackets). Each appends one block to out and answers false (nothing appended) only
// when the block would not fit the format's 32-bit lengths.
//
// Chapters go into the header section, as chapter blocks or inside one table block; readers
// take only the first table and ignore a table once they know a chapter. A chapter's
// thumbnail data is the byte range [position, position + size) of the file that holds its
// thumbnail block (as packs or 0xF1 packets); a reader fetches the ranges of consecutive
// chapters in one piece, so the thumbnails lie in chapter order, each right after the
// previous one.
class Mpeg2PsMetadataBlocks {
public:
    // Kind 3: time in 90 kHz ticks, title (left out when empty), thumbnail data range.
    static bool WriteChapter(uint32_t time, const std::string& title, uint64_t thumbnailPosition,
                             uint32_t thumbnailSize, std::vector<uint8_t>& out);
    // Kind 4: the image of the chapter with that index (its position in the chapter list).
    static bool WriteThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image,
                               std::vector<uint8_t>& out);
    // Kind 2: a table of headed blocks laid end to end (the count is the number of blocks).
    static bool WriteTable(const std::vector<std::vector<uint8_t>>& blocks,
                           std::vector<uint8_t>& out);
};

}  // namespace SarvelonMediaKit

#endif
