#ifndef ENGINE_CODECS_EAC3_H
#define ENGINE_CODECS_EAC3_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// The leading fields of an E-AC-3 sync frame (ETSI TS 102 366, annex E, bsi()).
struct Eac3FrameHeader {
    uint8_t streamType = 0;  // strmtyp: 0 independent, 1 dependent, 2 independent (AC-3 coded)
    uint8_t substreamId = 0;
    uint32_t frameSize = 0;  // bytes, header included
    uint8_t fscod = 0;
    uint32_t sampleRate = 0;
    uint32_t blocks = 0;  // audio blocks of 256 samples: 1, 2, 3 or 6
    uint8_t acmod = 0;
    bool lfeOn = false;
    uint8_t bsid = 0;
    uint32_t SamplesPerFrame() const { return blocks * 256; }
    uint32_t Channels() const;
    bool Independent() const { return streamType != 1; }
};

// Reads the header of the sync frame at the start of data. Raises MediaFormatError when fewer
// than 6 bytes are given, the sync word 0x0B77 is missing, the frame is not E-AC-3 (bsid 11 to
// 16), the stream type or the sample rate code is reserved.
Eac3FrameHeader ParseEac3FrameHeader(const uint8_t* data, size_t size);

// HD-DVD packaging puts 4 bytes of private data in front of each E-AC-3 frame: sub-stream id
// 0xC0 + n, one frame header, first access unit pointer 1. As a big-endian word without n, the
// mask that ignores n, and the size.
constexpr uint32_t kEac3HdDvdPrivateData = 0xC0010001;
constexpr uint32_t kEac3HdDvdPrivateDataMask = 0xF0FFFFFF;
constexpr uint32_t kEac3HdDvdPrivateDataSize = 4;

// The private data word of sub-stream n (its low four bits used).
constexpr uint32_t Eac3HdDvdPrivateData(uint8_t subStream) {
    return kEac3HdDvdPrivateData | (static_cast<uint32_t>(subStream & 0x0F) << 24);
}

// Whether a big-endian word is HD-DVD private data of any sub-stream.
constexpr bool IsEac3HdDvdPrivateData(uint32_t word) {
    return (word & kEac3HdDvdPrivateDataMask) == kEac3HdDvdPrivateData;
}

// EC3SpecificBox payload (ETSI TS 102 366, annex F) for a stream of one independent substream
// without dependent substreams: data_rate in kbit/s, then fscod, bsid, bsmod 0, acmod, lfeon.
std::vector<uint8_t> BuildEc3SpecificData(const Eac3FrameHeader& header, uint32_t dataRateKbps);

}  // namespace SarvelonMediaKit

#endif
