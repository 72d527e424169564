#ifndef ENGINE_CONTAINER_MPEG2PSINDEXENTRYREADER_H
#define ENGINE_CONTAINER_MPEG2PSINDEXENTRYREADER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "SVLibrary/Util/Sha256.h"
#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

// Reads the index entries of a title's header section (the payload of private stream 2
// packets, gathered by the parser in its index buffer) into MediaTracks with their
// TrackInfoKey_* values and seek tables, and feeds the index digest.
//
// The parser calls ParseIndexEntry each time a private stream 2 packet is complete while the
// index is not, and hands a track it returns to its OnNewTrack. Every result but
// ResultEntryIncomplete is final and leaves the index buffer empty, so a bad entry does not
// spoil the next one.
class Mpeg2PsIndexEntryReader {
public:
    typedef uint32_t Result;
    enum : Result {
        ResultOk = 0,                     // the entry was read into the track
        ResultBadMagic = 4,               // the entry does not start with 0x49444D69
        ResultEntryTooShort = 5,          // fewer than 12 bytes
        ResultUnknownVersion = 6,         // entry version above 4
        ResultEntryIncomplete = 10,       // more payload is needed; the buffer is kept
        ResultSeekTableNotStored = 0x0D,  // the seek table cannot be held (or the entry is
                                          // larger than kMaxEntrySize)
        ResultBadTags = 0x11,             // tag list unreadable, a tag of the wrong type, or a
                                          // required tag missing
        ResultSeekTableTooLong = 0x15,    // version 4: the seek table runs past the entry
        ResultDigestFailed = 0x17,        // the SHA-256 update failed
    };

    // The largest entry that is read. A length or seek-record count that asks for more is
    // refused at once instead of waiting for (and buffering) that many bytes.
    static constexpr uint32_t kMaxEntrySize = 16u << 20;

    // What the reader needs of the program stream map: to name the MPEG stream of an entry
    // that does not name its own.
    struct EsStream {
        uint8_t streamId;
        uint8_t streamType;
    };

    // Reads one entry from the start of indexBuffer.
    //
    // When digest is not null the whole buffer is fed to it first, at every call: an entry
    // that needed more data is fed again, with the new bytes, at the next call (the digest
    // that a title's manifest carries is made the same way).
    //
    // ResultOk: track is a new MediaTrack (index timescale 90000) and longestDuration has been
    // raised to its duration when longer; the buffer is emptied, bytes after the entry with
    // it. ResultEntryIncomplete: nothing changes but the digest. Any other result: the buffer
    // is emptied, track is left empty and longestDuration is unchanged.
    static Result ParseIndexEntry(std::vector<uint8_t>& indexBuffer, SV::Sha256Context* digest,
                                  const std::vector<EsStream>& esMap, uint32_t& longestDuration,
                                  boost::shared_ptr<MediaTrack>& track);

    // The same over any sequence of stream-map entries with elementary_stream_id and
    // stream_type members (the parser's elementary-stream map).
    template <typename EsMap>
    static Result ParseIndexEntry(std::vector<uint8_t>& indexBuffer, SV::Sha256Context* digest,
                                  const EsMap& esMap, uint32_t& longestDuration,
                                  boost::shared_ptr<MediaTrack>& track) {
        std::vector<EsStream> streams;
        for (const auto& entry : esMap) {
            streams.push_back(EsStream{static_cast<uint8_t>(entry.elementary_stream_id),
                                       static_cast<uint8_t>(entry.stream_type)});
        }
        return ParseIndexEntry(indexBuffer, digest, streams, longestDuration, track);
    }
};

}  // namespace SarvelonMediaKit

#endif
