#ifndef TOOLS_MKTITLE_TITLEWRITER_H
#define TOOLS_MKTITLE_TITLEWRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mktitle/TitleInput.h"

namespace SvTools {

struct ChapterSpec {
    double seconds = 0;
    std::string title;
    std::vector<uint8_t> image;  // empty: the chapter has no thumbnail
};

struct TitleOptions {
    std::vector<ChapterSpec> chapters;
    uint32_t indexVersion = 4;  // 0 to 4
    // Largest total size of each private-stream-2 packet of an index entry; 0 puts each entry
    // in as few packets as the 16-bit PES length allows.
    uint32_t indexPacketSize = 0;
    // Faults on purpose, for the readers' error tests.
    bool noStreamMap = false;  // header without the program stream map
    bool badMagic = false;     // the first index entry starts "IDMx"
    bool truncate = false;     // keep only the first truncateSize bytes
    uint64_t truncateSize = 0;
};

// Where the parts of a written title lie, for the caller's report.
struct TrackLayout {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t duration = 0;  // ticks
    uint32_t bitRate = 0;
    std::vector<std::pair<uint32_t, uint64_t>> seekPoints;  // (ticks, absolute position)
};

struct TitleLayout {
    uint64_t headerSize = 0;
    std::vector<TrackLayout> tracks;
    uint64_t endCodePosition = 0;
    uint64_t thumbnailRegion = 0;
    uint64_t size = 0;  // before truncation
};

// Video and audio format codes of the index entries.
const uint8_t kVideoFormatH264 = 1;
const uint8_t kAudioFormatAac = 1;
const uint8_t kAudioFormatEac3 = 2;

// Lays the renditions out as a title of the engine's program-stream container, one track per
// rendition:
//   header pack (SCR 0): system header, program stream map, one index entry per track
//     (private stream 2), the chapter table (stream 0xF1);
//   per track: a pack at every video key frame (every second for audio-only tracks), each
//     access unit or audio frame as a run of PES packets of its own, the first with its
//     timestamps and, for key frames and audio frames, data alignment; the seek points are
//     those packs;
//   the program end code;
//   the thumbnail region: per chapter with an image, a pack holding its thumbnail block.
// Times are counted from the earliest decode time of all renditions. Raises
// std::runtime_error when the renditions cannot be written (no media, a GOP too long for a
// seek record, a chapter beyond the end, an image too large).
std::vector<uint8_t> BuildTitle(const std::vector<Rendition>& renditions,
                                const TitleOptions& options, TitleLayout* layout = nullptr);

}  // namespace SvTools

#endif
