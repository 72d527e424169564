#ifndef ENGINE_DEMUX_MPEG2PSOUTOFBANDPARSER_H
#define ENGINE_DEMUX_MPEG2PSOUTOFBANDPARSER_H

#include <cstdint>
#include <vector>

#include "engine/core/ChapterInfoSource.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/MemoryChunk.h"
#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsParserListener.h"

namespace SarvelonMediaKit {

// Reads the thumbnail blocks of an out-of-band range and publishes each thumbnail. Its events
// go out through the demultiplexer's own sources, so they reach the monitors attached to the
// demultiplexer when they happen.
class Mpeg2PsOutOfBandParser : public Mpeg2PsParserListener {
public:
    Mpeg2PsOutOfBandParser(ErrorInfoSource& errors, ChapterInfoSource& chapters);
    // A new transfer: the data start at a packet, not necessarily at a pack.
    void Restart() { parser_.Reset(true); }
    // False after a parse error ("Error parsing thumbnails", 1003).
    bool ParseData(const MemoryChunk& chunk);

protected:
    void OnThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image) override;

private:
    ErrorInfoSource& errors_;
    ChapterInfoSource& chapters_;
    Mpeg2PsParser parser_;
};

}  // namespace SarvelonMediaKit

#endif
