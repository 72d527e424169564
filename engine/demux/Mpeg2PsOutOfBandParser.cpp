#include "engine/demux/Mpeg2PsOutOfBandParser.h"

namespace SarvelonMediaKit {

Mpeg2PsOutOfBandParser::Mpeg2PsOutOfBandParser(ErrorInfoSource& errors, ChapterInfoSource& chapters)
    : errors_(errors), chapters_(chapters), parser_(*this, false) {}

bool Mpeg2PsOutOfBandParser::ParseData(const MemoryChunk& chunk) {
    if (parser_.Parse(chunk, false) == Mpeg2PsResult::Ok) {
        return true;
    }
    errors_.PublishError(SVStatusParserError, "Error parsing thumbnails");
    return false;
}

void Mpeg2PsOutOfBandParser::OnThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image) {
    chapters_.PublishThumbnail(chapterIndex, image);
}

}  // namespace SarvelonMediaKit
