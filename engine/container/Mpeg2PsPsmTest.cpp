#include "engine/container/Mpeg2PsPsm.h"

#include <gtest/gtest.h>

#include <vector>

namespace SarvelonMediaKit {
namespace {

std::vector<uint8_t> Written(const Mpeg2PsPsm& psm) {
    std::vector<uint8_t> out(psm.GetSize());
    EXPECT_EQ(out.size(), psm.Write(out.data(), static_cast<uint32_t>(out.size())));
    return out;
}

TEST(Mpeg2PsPsmTest, OneStreamWithoutDescriptorsIs20BytesWithItsCrc) {
    Mpeg2PsPsm psm;
    psm.AddEsInfo(0xE0, 0x1B);
    ASSERT_EQ(20u, psm.GetSize());
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01, 0xBC,  // packet_start_code_prefix, map_stream_id
        0x00, 0x0E,              // program_stream_map_length 14
        0xE0,                    // current_next_indicator 1, reserved '11', version 0
        0xFF,                    // reserved, marker_bit
        0x00, 0x00,              // program_stream_info_length
        0x00, 0x04,              // elementary_stream_map_length
        0x1B, 0xE0, 0x00, 0x00,  // stream_type H.264, stream id 0xE0, no descriptors
        0xF4, 0xDC, 0xBD, 0x45,  // CRC_32
    };
    EXPECT_EQ(expected, Written(psm));
}

TEST(Mpeg2PsPsmTest, DescriptorsGoToTheFirstStreamWithTheirId) {
    Mpeg2PsPsm psm;
    psm.SetVersion(0x21);  // five bits are written
    psm.AddEsInfo(0xE0, 0x1B);
    psm.AddEsInfo(0xC0, 0x0F);
    const uint8_t language[] = {0x0A, 0x04, 'e', 'n'};
    const uint8_t rest[] = {'g', 0x00};
    psm.AddEsDescriptor(0xC0, language, sizeof language);
    psm.AddEsDescriptor(0xC0, rest, sizeof rest);  // appended to the same stream
    psm.AddEsDescriptor(0xC1, rest, sizeof rest);  // no such stream: nothing
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01, 0xBC,             // start code
        0x00, 0x18,                         // program_stream_map_length 24
        0xE1,                               // current_next 1, reserved, version 1
        0xFF,                               // reserved, marker
        0x00, 0x00,                         // program_stream_info_length
        0x00, 0x0E,                         // elementary_stream_map_length 14
        0x1B, 0xE0, 0x00, 0x00,             // video, no descriptors
        0x0F, 0xC0, 0x00, 0x06,             // AAC audio, 6 descriptor bytes
        0x0A, 0x04, 'e',  'n',  'g', 0x00,  // ISO 639 language descriptor
        0x9C, 0xF8, 0x64, 0xCE,             // CRC_32
    };
    EXPECT_EQ(expected, Written(psm));
}

TEST(Mpeg2PsPsmTest, ProgramStreamInfoAndCurrentNextIndicator) {
    Mpeg2PsPsm psm;
    psm.SetCurrentNextIndicator(false);
    const uint8_t info[] = {0x1D, 0x01, 0x42};
    psm.AddProgramStreamInfo(info, sizeof info);
    std::vector<uint8_t> out = Written(psm);
    ASSERT_EQ(19u, out.size());  // 16 + 3
    EXPECT_EQ(0x60, out[6]);     // current_next_indicator 0
    EXPECT_EQ(0x00, out[8]);     // program_stream_info_length 3
    EXPECT_EQ(0x03, out[9]);
    EXPECT_EQ(0x42, out[12]);
    EXPECT_EQ(0x00, out[13]);  // elementary_stream_map_length 0
    EXPECT_EQ(0x00, out[14]);
}

TEST(Mpeg2PsPsmTest, RefusesTooSmallACapacityAndLengthsBeyond16Bits) {
    Mpeg2PsPsm psm;
    psm.AddEsInfo(0xE0, 0x1B);
    std::vector<uint8_t> out(19, 0x5A);
    EXPECT_EQ(0u, psm.Write(out.data(), 19));
    EXPECT_EQ(std::vector<uint8_t>(19, 0x5A), out);

    const std::vector<uint8_t> descriptor(0xFFFF, 0);
    psm.AddEsDescriptor(0xE0, descriptor.data(), 0xFFFF);
    psm.AddEsDescriptor(0xE0, descriptor.data(), 0xFFFF);
    std::vector<uint8_t> big(psm.GetSize());
    EXPECT_EQ(0u, psm.Write(big.data(), static_cast<uint32_t>(big.size())));
}

}  // namespace
}  // namespace SarvelonMediaKit
