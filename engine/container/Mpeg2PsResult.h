#ifndef ENGINE_CONTAINER_MPEG2PSRESULT_H
#define ENGINE_CONTAINER_MPEG2PSRESULT_H

#include <cstdint>

namespace SarvelonMediaKit {

// What reading a program-stream title gives back, from the stream map and the index entry and
// metadata block readers up through the header section reader, the trick-play writer and the
// parser: one vocabulary, since each reader hands a failure of the one below it up unchanged
// and the demultiplexer reports the parser's stop by its number ("Mpeg2PsParser error 17").
// The numbers are part of what the system reports: keep them.
enum class Mpeg2PsResult : uint32_t {
    Ok = 0,
    NoPackFirst = 1,     // data before the first pack header
    BadStreamMap = 2,    // a program stream map does not fit its bytes
    BadMagic = 4,        // an index entry does not start with its magic
    EntryTooShort = 5,   // an index entry of fewer than 12 bytes
    UnknownVersion = 6,  // an index entry version above 4
    // The index entry reader needs more payload and keeps its buffer; the header section
    // reader waits for the next packet on it, so a parse never ends with it.
    EntryIncomplete = 10,
    ProgramEnd = 12,          // the parser stopped at the program end code
    SeekTableNotStored = 13,  // an index entry or its seek table larger than can be held
    UnsupportedAudio = 16,    // trick play has no silence for the audio configuration
    BadTags = 17,           // a tag list or metadata block unreadable, a required tag missing or of
                            // another type, or tables nested too deep
    NoMetadataItem = 19,    // a header packet ended with no metadata item of pack 0 open
    SeekTableTooLong = 21,  // a version 4 seek table runs past its entry
    NoSelectedTrack = 22,   // trick play without a selected track
    DigestFailed = 23,      // the index digest could not be updated or finished
};

// The words for a result ("bad program stream map"); "error" for a number outside the list
// (a listener may stop a parse with a code of its own).
const char* Mpeg2PsResultText(Mpeg2PsResult result);

// The result's number as it is reported.
constexpr uint32_t Mpeg2PsResultNumber(Mpeg2PsResult result) {
    return static_cast<uint32_t>(result);
}

}  // namespace SarvelonMediaKit

#endif
