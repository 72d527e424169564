#include "engine/codecs/Eac3.h"

#include "engine/codecs/BitReader.h"
#include "engine/codecs/MediaFormatError.h"

namespace SarvelonMediaKit {

uint32_t Eac3FrameHeader::Channels() const {
    static const uint8_t kFullBandChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    return kFullBandChannels[acmod & 7] + (lfeOn ? 1 : 0);
}

Eac3FrameHeader ParseEac3FrameHeader(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 6) {
        throw MediaFormatError("E-AC-3: header shorter than 6 bytes");
    }
    if (data[0] != 0x0B || data[1] != 0x77) {
        throw MediaFormatError("E-AC-3: no sync word");
    }
    BitReader bits(data + 2, size - 2);
    Eac3FrameHeader header;
    header.streamType = static_cast<uint8_t>(bits.ReadBits(2));
    if (header.streamType == 3) {
        throw MediaFormatError("E-AC-3: reserved stream type");
    }
    header.substreamId = static_cast<uint8_t>(bits.ReadBits(3));
    header.frameSize = (bits.ReadBits(11) + 1) * 2;
    header.fscod = static_cast<uint8_t>(bits.ReadBits(2));
    if (header.fscod == 3) {
        static const uint32_t kReducedRates[3] = {24000, 22050, 16000};
        const uint32_t fscod2 = bits.ReadBits(2);
        if (fscod2 == 3) {
            throw MediaFormatError("E-AC-3: reserved sample rate code");
        }
        header.sampleRate = kReducedRates[fscod2];
        header.blocks = 6;
    } else {
        static const uint32_t kRates[3] = {48000, 44100, 32000};
        static const uint32_t kBlocks[4] = {1, 2, 3, 6};
        header.sampleRate = kRates[header.fscod];
        header.blocks = kBlocks[bits.ReadBits(2)];
    }
    header.acmod = static_cast<uint8_t>(bits.ReadBits(3));
    header.lfeOn = bits.ReadFlag();
    header.bsid = static_cast<uint8_t>(bits.ReadBits(5));
    if (header.bsid < 11 || header.bsid > 16) {
        throw MediaFormatError("E-AC-3: not an E-AC-3 frame (bsid outside 11 to 16)");
    }
    return header;
}

std::vector<uint8_t> BuildEc3SpecificData(const Eac3FrameHeader& header, uint32_t dataRateKbps) {
    const uint32_t rate = dataRateKbps > 0x1FFF ? 0x1FFF : dataRateKbps;
    std::vector<uint8_t> out;
    // data_rate (13 bits), num_ind_sub (3 bits) = 0: one independent substream.
    out.push_back(static_cast<uint8_t>(rate >> 5));
    out.push_back(static_cast<uint8_t>((rate & 0x1F) << 3));
    // fscod (2), bsid (5), reserved (1)
    out.push_back(static_cast<uint8_t>(((header.fscod & 3) << 6) | ((header.bsid & 0x1F) << 1)));
    // asvc (1) = 0, bsmod (3) = 0 (complete main), acmod (3), lfeon (1)
    out.push_back(static_cast<uint8_t>(((header.acmod & 7) << 1) | (header.lfeOn ? 1 : 0)));
    // reserved (3), num_dep_sub (4) = 0, reserved (1)
    out.push_back(0);
    return out;
}

}  // namespace SarvelonMediaKit
