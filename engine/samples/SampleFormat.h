#ifndef ENGINE_SAMPLES_SAMPLEFORMAT_H
#define ENGINE_SAMPLES_SAMPLEFORMAT_H

#include <cstdint>

namespace SarvelonMediaKit {

// How a sample's payload is packaged. Samples, streams (input and current format) and filters
// (input and output format) use the same codes.
enum SampleFormat : uint32_t {
    SampleFormatNone = 0,         // a filter that leaves the format as it is
    SampleFormatMarker = 1,       // one chunk carrying a MemoryMarker, no bytes
    SampleFormatAacRaw = 7,       // AAC access units without ADTS header
    SampleFormatAacAdts = 8,      // AAC with a 7- or 9-byte ADTS header per frame
    SampleFormatEac3 = 15,        // E-AC-3 frames as they are
    SampleFormatEac3HdDvd = 16,   // E-AC-3 frames behind the 4-byte HD-DVD private data
    SampleFormatPesPrivate = 17,  // audio as PES private data (stream type 0x06 on 0xBD)
    SampleFormatH264AnnexB = 24,  // H.264 NAL units with start codes (ISO/IEC 14496-10 Annex B)
    SampleFormatH264Length = 25,  // H.264 NAL units each behind a 4-byte big-endian length
};

// Media type of a sample and of a stream. Samples that a filter builds carry 0 until their
// stream stamps them.
enum SampleMediaType : uint32_t {
    SampleMediaTypeNone = 0,
    SampleMediaTypeAudio = 1,
    SampleMediaTypeVideo = 2,
};

// What a stream-information query asks for; the answer is bytes that the answering object
// keeps alive.
enum StreamInfoKind : uint32_t {
    StreamInfoKindAvcDecoderConfigurationRecord = 4,  // ISO/IEC 14496-15
    StreamInfoKindAudioSpecificConfig = 5,            // ISO/IEC 14496-3
    StreamInfoKindEsDescriptor = 6,                   // ISO/IEC 14496-1, tag 0x03
};

// The stream reference of a sample that belongs to no stream yet.
constexpr uint32_t kInvalidStreamReference = 0xFFFFFFFF;

}  // namespace SarvelonMediaKit

#endif
