#ifndef ENGINE_CONTAINER_MPEG2PSINDEXENTRYREADER_H
#define ENGINE_CONTAINER_MPEG2PSINDEXENTRYREADER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "SVLibrary/Util/Sha256.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPsm.h"

namespace SarvelonMediaKit {

// Reads the index entries of a title's header section (the payload of private stream 2
// packets, gathered by the parser in its index buffer) into MediaTracks with their
// TrackInfoKey_* values and seek tables, and feeds the index digest.
//
// The parser calls ParseIndexEntry each time a private stream 2 packet is complete while the
// index is not, and hands a track it returns to its OnNewTrack. Every result but
// Mpeg2PsResult::EntryIncomplete is final and leaves the index buffer empty, so a bad entry does
// not spoil the next one.
class Mpeg2PsIndexEntryReader {
public:
    // The largest entry that is read. A length or seek-record count that asks for more is
    // refused at once instead of waiting for (and buffering) that many bytes.
    static constexpr uint32_t kMaxEntrySize = 16u << 20;

    // Reads one entry from the start of indexBuffer. Of esMap, the elementary streams of the
    // program stream map, the reader takes the stream id and type of the first audio or video
    // stream for an entry that does not name its own MPEG stream.
    //
    // When digest is not null the whole buffer is fed to it first, at every call: an entry
    // that needed more data is fed again, with the new bytes, at the next call (the digest
    // that a title's manifest carries is made the same way).
    //
    // Mpeg2PsResult::Ok: track is a new MediaTrack (index timescale 90000) and longestDuration has
    // been raised to its duration when longer; the buffer is emptied, bytes after the entry with
    // it. Mpeg2PsResult::EntryIncomplete: nothing changes but the digest. Any other result: the
    // buffer is emptied, track is left empty and longestDuration is unchanged.
    static Mpeg2PsResult ParseIndexEntry(std::vector<uint8_t>& indexBuffer,
                                         SV::Sha256Context* digest,
                                         const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap,
                                         uint32_t& longestDuration,
                                         boost::shared_ptr<MediaTrack>& track);
};

}  // namespace SarvelonMediaKit

#endif
