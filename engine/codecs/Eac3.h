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

// EC3SpecificBox payload (ETSI TS 102 366, annex F) for a stream of one independent substream
// without dependent substreams: data_rate in kbit/s, then fscod, bsid, bsmod 0, acmod, lfeon.
std::vector<uint8_t> BuildEc3SpecificData(const Eac3FrameHeader& header, uint32_t dataRateKbps);

}  // namespace SarvelonMediaKit

#endif
