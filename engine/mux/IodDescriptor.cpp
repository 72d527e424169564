#include "engine/mux/IodDescriptor.h"

namespace SarvelonMediaKit {
namespace {

// The bytes after the descriptor's length byte and before the AudioSpecificConfig.
constexpr uint32_t kIodFixedLength = 33;
constexpr uint32_t kMaxDescriptorLength = 0xFF;  // one length byte
constexpr uint32_t kMinAudioSpecificConfigSize = 2;

}  // namespace

std::vector<uint8_t> MakeAacIodDescriptor(const uint8_t* config, uint32_t n, uint16_t esId) {
    if (config == nullptr || n < kMinAudioSpecificConfigSize ||
        n > kMaxDescriptorLength - kIodFixedLength) {
        return std::vector<uint8_t>();
    }
    // clang-format off
    const uint8_t head[] = {
        0x1D, static_cast<uint8_t>(n + kIodFixedLength),  // IOD_descriptor: tag, length
        0x10,                                   // Scope_of_IOD_label
        0x01,                                   // IOD_label
        0x02, static_cast<uint8_t>(n + 29),     // InitialObjectDescriptor: tag, length
        0x00, 0x4F,                             // ObjectDescriptorID 1, no URL, no inline PL
        0xFF,                                   // ODProfileLevelIndication
        0xFF,                                   // sceneProfileLevelIndication
        0xFE,                                   // audioProfileLevelIndication
        0xFE,                                   // visualProfileLevelIndication
        0xFF,                                   // graphicsProfileLevelIndication
        0x03, static_cast<uint8_t>(n + 20),     // ES_Descriptor: tag, length
        static_cast<uint8_t>(esId >> 8), static_cast<uint8_t>(esId),  // ES_ID
        0x10,                                   // no flags, streamPriority 16
        0x04, static_cast<uint8_t>(n + 15),     // DecoderConfigDescriptor: tag, length
        0x40,                                   // objectTypeIndication: ISO/IEC 14496-3 audio
        0x15,                                   // streamType audio, upStream 0, reserved 1
        0xFF, 0xFF, 0xFF,                       // bufferSizeDB
        0xFF, 0xFF, 0xFF, 0xFF,                 // maxBitrate
        0xFF, 0xFF, 0xFF, 0xFF,                 // avgBitrate
        0x05, static_cast<uint8_t>(n),          // DecoderSpecificInfo: tag, length
    };
    // clang-format on
    static_assert(sizeof head == 2 + kIodFixedLength, "IOD length byte covers the rest");
    std::vector<uint8_t> descriptor(head, head + sizeof head);
    descriptor.insert(descriptor.end(), config, config + n);
    return descriptor;
}

}  // namespace SarvelonMediaKit
