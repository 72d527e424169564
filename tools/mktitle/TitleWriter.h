#ifndef TOOLS_MKTITLE_TITLEWRITER_H
#define TOOLS_MKTITLE_TITLEWRITER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/mktitle/ByteSink.h"
#include "tools/mktitle/SampleSource.h"
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
    // Counts the times from origin (on the inputs' 90 kHz time line) instead of from the
    // earliest decode time of the renditions: the files of one multi-file title share one time
    // line this way. origin must not lie after any rendition's first decode time.
    bool fixedOrigin = false;
    uint64_t origin = 0;
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
// Times are counted from the earliest decode time of all renditions. The whole layout is worked
// out from the sample tables first, so the header can be written before the media, and the
// media then go out sample by sample: memory stays bounded by the largest sample, whatever the
// length of the title.
class TitleWriter {
public:
    // Plans the title. The renditions must outlive the writer. Raises std::runtime_error when
    // they cannot be written (no media, a GOP too long for a seek record, a chapter beyond the
    // end, an image too large, a truncation beyond the end).
    TitleWriter(const std::vector<Rendition>& renditions, const TitleOptions& options);
    ~TitleWriter();
    TitleWriter(const TitleWriter&) = delete;
    TitleWriter& operator=(const TitleWriter&) = delete;

    const TitleLayout& Layout() const { return layout_; }
    // The number of bytes Write hands to the sink (the truncated size when one is asked for).
    uint64_t OutputSize() const { return outputSize_; }
    // SHA-256 over the index entries as a reader of the title digests them: for each entry,
    // the bytes it has gathered after each of the entry's private-stream-2 packets (32 bytes).
    const std::vector<uint8_t>& IndexDigest() const { return indexDigest_; }

    // Writes the title to sink; sources[i] gives the bytes of the samples of renditions[i].
    // progress, when given, hears the bytes written so far. Raises std::runtime_error when a
    // source or the sink fails, or a sample's bytes are not the size its table gave.
    void Write(const std::vector<SampleSource*>& sources, ByteSink& sink,
               const std::function<void(uint64_t)>& progress = {}) const;

private:
    struct Track;

    const std::vector<Rendition>& renditions_;
    TitleOptions options_;
    uint64_t origin_ = 0;
    std::vector<uint8_t> header_;
    std::vector<uint8_t> thumbnails_;
    std::vector<Track> tracks_;
    TitleLayout layout_;
    uint64_t outputSize_ = 0;
    std::vector<uint8_t> indexDigest_;
};

}  // namespace SvTools

#endif
