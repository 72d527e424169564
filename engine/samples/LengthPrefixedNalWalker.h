#ifndef ENGINE_SAMPLES_LENGTHPREFIXEDNALWALKER_H
#define ENGINE_SAMPLES_LENGTHPREFIXEDNALWALKER_H

#include <cstdint>

#include "engine/samples/MemoryChunkList.h"

namespace SarvelonMediaKit {

// Walks the NAL units of an H.264 payload in which each unit stands behind a 4-byte big-endian
// length (ISO/IEC 14496-15 with lengthSizeMinusOne 3), across the payload's chunks. Every
// length is checked against the bytes left behind its field before anything of the unit is
// looked at, so a caller never reads past the payload.
//
//     LengthPrefixedNalWalker walker(payload, 0);
//     while (walker.Next() == LengthPrefixedNalWalker::ResultUnit) { ... walker.Unit() ... }
class LengthPrefixedNalWalker {
public:
    enum Result : uint8_t {
        // A unit: Unit() stands on its first byte and Length() is its size (maybe 0).
        ResultUnit,
        // Fewer bytes left than a length field and the smallest unit the caller looks at;
        // they are left as they are.
        ResultEnd,
        // Length() runs past the bytes left behind its field: the payload is malformed.
        ResultLengthPastPayload,
    };

    static const uint32_t kLengthFieldSize = 4;

    // The walk ends once fewer than kLengthFieldSize + minimumUnitSize bytes are left: with 0
    // every complete length field is read, with 1 a length field that has no byte behind it
    // is left alone. The payload must outlive the walker and change only through it.
    LengthPrefixedNalWalker(MemoryChunkList& payload, uint32_t minimumUnitSize);

    // Steps over the current unit (unless EraseUnit took it), then reads the next length
    // field; with a replacement, its kLengthFieldSize bytes are written over the field (also
    // when the length then turns out to run past the payload). After ResultEnd or
    // ResultLengthPastPayload the walk is over: every later call gives the same result.
    Result Next(const uint8_t* replacement = nullptr);

    // Size of the current unit, or the length that ran past the payload.
    uint32_t Length() const { return length_; }
    // On the first byte of the current unit (on whatever follows when it is empty).
    const MemoryChunkList::Cursor& Unit() const { return cursor_; }
    // nal_unit_type of the current unit; only for a unit of at least one byte.
    uint8_t UnitType() const;
    // Removes the current unit together with its length field; the walk goes on behind it.
    void EraseUnit();

private:
    MemoryChunkList::Cursor cursor_;
    uint64_t remaining_;  // bytes from the cursor to the end of the payload
    uint32_t minimumUnitSize_;
    uint32_t length_;
    bool inUnit_;  // the cursor stands on a unit not yet stepped over
    bool over_;
    Result last_;
};

}  // namespace SarvelonMediaKit

#endif
