// Reads arbitrary bytes as an H.264 sequence parameter set, an ADTS header and an E-AC-3 frame
// header. Each reader either answers or raises MediaFormatError; what an accepted SPS gives
// must be a picture size the reader allows, and the avcC built from it must hold it whole; an
// accepted ADTS header written again must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaFormatError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> sps(data, data + size);
    if (!sps.empty()) {
        sps[0] = 0x67;  // let most inputs past the NAL type check
    }
    try {
        const SarvelonMediaKit::H264Sps parsed =
            SarvelonMediaKit::ParseH264Sps(sps.data(), sps.size());
        if (parsed.width == 0 || parsed.height == 0 || parsed.width > 16384 ||
            parsed.height > 16384) {
            abort();
        }
        const std::vector<uint8_t> record =
            SarvelonMediaKit::BuildAvcDecoderConfigurationRecord({sps}, {{0x68, 0xCE, 0x38, 0x80}});
        if (record.size() < 6 + 2 + sps.size() + 1 + 2 + 4 || record[1] != parsed.profileIdc) {
            abort();
        }
    } catch (const SarvelonMediaKit::MediaFormatError&) {
    }
    try {
        const SarvelonMediaKit::AdtsHeader header = SarvelonMediaKit::ParseAdtsHeader(data, size);
        if (header.frameLength < header.headerSize || header.samplingFrequency == 0) {
            abort();
        }
        // Written again without CRC, the header reads back with the same fields.
        uint8_t again[SarvelonMediaKit::kAdtsHeaderSize];
        SarvelonMediaKit::WriteAdtsHeader(again, header.audioObjectType,
                                          header.samplingFrequencyIndex,
                                          header.channelConfiguration, header.frameLength);
        const SarvelonMediaKit::AdtsHeader back =
            SarvelonMediaKit::ParseAdtsHeader(again, sizeof again);
        if (back.audioObjectType != header.audioObjectType ||
            back.samplingFrequencyIndex != header.samplingFrequencyIndex ||
            back.channelConfiguration != header.channelConfiguration ||
            back.frameLength != header.frameLength || !back.protectionAbsent ||
            back.rawDataBlocks != 1) {
            abort();
        }
    } catch (const SarvelonMediaKit::MediaFormatError&) {
    }
    try {
        const SarvelonMediaKit::Eac3FrameHeader header =
            SarvelonMediaKit::ParseEac3FrameHeader(data, size);
        if (header.frameSize < 2 || header.SamplesPerFrame() == 0 || header.Channels() > 6) {
            abort();
        }
    } catch (const SarvelonMediaKit::MediaFormatError&) {
    }
    return 0;
}
