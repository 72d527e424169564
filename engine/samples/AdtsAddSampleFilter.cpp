#include "engine/samples/AdtsAddSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

namespace {

const uint32_t kHeaderSize = 7;
// aac_frame_length is 13 bits, header included.
const uint32_t kMaxFrameLength = 0x1FFF;
// adts_buffer_fullness 0x7FF: variable bit rate.
const uint32_t kBufferFullness = 0x7FF;

}  // namespace

AdtsAddSampleFilter::AdtsAddSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                         uint32_t inputFormat, uint32_t outputFormat)
    : SampleFilter(stream, inputFormat, outputFormat),
      haveConfig_(false),
      profile_(0),
      channelConfiguration_(0),
      samplingFrequencyIndex_(0) {}

AdtsAddSampleFilter::~AdtsAddSampleFilter() {}

bool AdtsAddSampleFilter::ReadConfig() {
    if (haveConfig_) {
        return true;
    }
    const boost::shared_ptr<SampleStream> stream = GetStream();
    const uint8_t* config = nullptr;
    uint32_t size = 0;
    if (!stream || !stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &size) ||
        !config || size < 2) {
        DebugPrint("AdtsAddSampleFilter: no AudioSpecificConfig");
        return false;
    }
    const uint32_t objectType = config[0] >> 3;
    const uint32_t index = ((config[0] & 7) << 1) | (config[1] >> 7);
    // The header's 2-bit profile holds object types 1-4 only, and index 15 (an explicit rate)
    // has no place in it: such a stream cannot be given correct headers.
    if (objectType < 1 || objectType > 4 || index == 15) {
        DebugPrint("AdtsAddSampleFilter: object type %u, index %u not expressible in ADTS",
                   objectType, index);
        return false;
    }
    profile_ = static_cast<uint8_t>(objectType - 1);
    channelConfiguration_ = static_cast<uint8_t>((config[1] >> 3) & 0x0F);
    samplingFrequencyIndex_ = static_cast<uint8_t>(index);
    haveConfig_ = true;
    return true;
}

void AdtsAddSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.IsEmpty() || !ReadConfig()) {
        return;
    }
    // The length covers the whole access unit, also when it spans several chunks.
    const uint64_t frameLength = payload.Size() + kHeaderSize;
    if (frameLength > kMaxFrameLength) {
        DebugPrint("AdtsAddSampleFilter: frame of %llu bytes too long",
                   static_cast<unsigned long long>(frameLength));
        return;
    }
    MemoryChunk& first = payload.GetChunks().front();
    if (!first.Reserve(kHeaderSize)) {
        DebugPrint("AdtsAddSampleFilter: no headroom for the header");
        return;
    }
    uint8_t* header = first.Data(0);
    header[0] = 0xFF;  // syncword, high 8 bits
    // syncword low 4 bits, ID 0 (MPEG-4), layer 00, protection_absent 1 (no CRC)
    header[1] = 0xF1;
    // profile (2 bits), sampling_frequency_index (4 bits), then the 4-bit channel
    // configuration across private_bit and the high bit of channel_configuration
    header[2] = static_cast<uint8_t>((profile_ << 6) | (samplingFrequencyIndex_ << 2) |
                                     ((channelConfiguration_ >> 2) & 0x03));
    // channel_configuration low 2 bits, original_copy 1, home 1, copyright_identification_bit
    // 0, copyright_identification_start 0, aac_frame_length bits 12-11
    header[3] = static_cast<uint8_t>(((channelConfiguration_ & 0x03) << 6) | 0x20 | 0x10 |
                                     ((frameLength >> 11) & 0x03));
    // aac_frame_length bits 10-3
    header[4] = static_cast<uint8_t>(frameLength >> 3);
    // aac_frame_length bits 2-0, adts_buffer_fullness bits 10-6
    header[5] = static_cast<uint8_t>(((frameLength & 0x07) << 5) | (kBufferFullness >> 6));
    // adts_buffer_fullness bits 5-0, number_of_raw_data_blocks_in_frame 0
    header[6] = static_cast<uint8_t>((kBufferFullness & 0x3F) << 2);
    if (GetOutputFormat() != SampleFormatNone) {
        sample.SetFormat(GetOutputFormat());
    }
    SendSampleDownstream(sample);
}

}  // namespace SarvelonMediaKit
