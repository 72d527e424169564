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

// A map as a title carries it: program_stream_info with an IOD_descriptor whose initial object
// descriptor holds the ES_Descriptor of the AAC stream, then H.264 on 0xE0 and AAC on 0xC0 with
// a language descriptor. The CRC was computed apart from the engine (CRC-32/MPEG-2).
const std::vector<uint8_t> kTitleMap = {
    0x00, 0x00, 0x01, 0xBC,        // packet_start_code_prefix, map_stream_id
    0x00, 0x40,                    // program_stream_map_length 64
    0xE5,                          // current_next_indicator 1, reserved '11', version 5
    0xFF,                          // reserved, marker_bit
    0x00, 0x28,                    // program_stream_info_length 40
    0x1D, 0x26,                    // IOD_descriptor, 38 bytes
    0x10, 0x01,                    // Scope_of_IOD_label, IOD_label
    0x02, 0x22,                    // InitialObjectDescriptor, 34 bytes
    0x00, 0x5F,                    // ObjectDescriptorID 1, no URL, inline profiles, reserved
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // OD, scene, audio, visual, graphics profile levels
    0x03, 0x19,                    // ES_Descriptor, 25 bytes
    0x00, 0xC0,                    // ES_ID 0xC0
    0x00,                          // no dependence, URL or OCR stream; priority 0
    0x04, 0x11,                    // DecoderConfigDescriptor, 17 bytes
    0x40, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 13 fixed
    0x05, 0x02, 0x11, 0x90,              // DecoderSpecificInfo: AAC LC, 48 kHz, two channels
    0x06, 0x01, 0x02,                    // SLConfigDescriptor, predefined 2
    0x00, 0x0E,                          // elementary_stream_map_length 14
    0x1B, 0xE0, 0x00, 0x00,              // H.264 on 0xE0, no descriptors
    0x0F, 0xC0, 0x00, 0x06,              // AAC on 0xC0, 6 descriptor bytes
    0x0A, 0x04, 'e',  'n',  'g',  0x00,  // ISO 639 language descriptor
    0x7B, 0x57, 0xD1, 0x1D,              // CRC_32
};

// The bytes after PES_packet_length, which Read takes.
std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& packet) {
    return std::vector<uint8_t>(packet.begin() + 6, packet.end());
}

TEST(Mpeg2PsPsmTest, ReadThenWriteGivesTheSameBytes) {
    const std::vector<uint8_t> payload = PayloadOf(kTitleMap);
    Mpeg2PsPsm psm;
    ASSERT_EQ(Mpeg2PsResult::Ok, psm.Read(payload.data(), static_cast<uint32_t>(payload.size())));
    EXPECT_TRUE(psm.GetCurrentNextIndicator());
    EXPECT_EQ(5, psm.GetVersion());
    EXPECT_EQ(std::vector<uint8_t>(kTitleMap.begin() + 10, kTitleMap.begin() + 50),
              psm.GetProgramStreamInfo());
    ASSERT_EQ(2u, psm.GetEsMap().size());
    EXPECT_EQ(0xE0, psm.GetEsMap()[0].elementary_stream_id);
    EXPECT_EQ(0x1B, psm.GetEsMap()[0].stream_type);
    EXPECT_TRUE(psm.GetEsMap()[0].descriptors.empty());
    EXPECT_EQ(0xC0, psm.GetEsMap()[1].elementary_stream_id);
    EXPECT_EQ(0x0F, psm.GetEsMap()[1].stream_type);
    EXPECT_EQ((std::vector<uint8_t>{0x0A, 0x04, 'e', 'n', 'g', 0x00}),
              psm.GetEsMap()[1].descriptors);
    EXPECT_EQ(kTitleMap, Written(psm));

    // The version-0 map with current_next_indicator 0 and no streams also comes back as read.
    Mpeg2PsPsm empty;
    empty.SetCurrentNextIndicator(false);
    const std::vector<uint8_t> bare = Written(empty);
    Mpeg2PsPsm again;
    again.AddEsInfo(0xE0, 0x1B);  // replaced by what is read
    ASSERT_EQ(Mpeg2PsResult::Ok,
              again.Read(bare.data() + 6, static_cast<uint32_t>(bare.size() - 6)));
    EXPECT_FALSE(again.GetCurrentNextIndicator());
    EXPECT_TRUE(again.GetEsMap().empty());
    EXPECT_EQ(bare, Written(again));
}

TEST(Mpeg2PsPsmTest, ReadRefusesEveryCutAndLeavesTheMapAsItWas) {
    const std::vector<uint8_t> payload = PayloadOf(kTitleMap);
    Mpeg2PsPsm before;
    before.AddEsInfo(0xE1, 0x1B);
    const std::vector<uint8_t> beforeBytes = Written(before);
    // Every payload shorter than the whole (the CRC included) does not fit.
    for (uint32_t n = 0; n < payload.size(); ++n) {
        Mpeg2PsPsm psm;
        psm.AddEsInfo(0xE1, 0x1B);
        EXPECT_EQ(Mpeg2PsResult::BadStreamMap, psm.Read(payload.data(), n)) << n;
        EXPECT_EQ(beforeBytes, Written(psm)) << n;
    }
    // Bytes after the CRC are not the map's.
    std::vector<uint8_t> longer = payload;
    longer.push_back(0x47);
    Mpeg2PsPsm psm;
    EXPECT_EQ(Mpeg2PsResult::Ok, psm.Read(longer.data(), static_cast<uint32_t>(longer.size())));
    EXPECT_EQ(kTitleMap, Written(psm));

    // An entry whose descriptors run past the elementary-stream map is refused, although the
    // bytes are there: elementary_stream_info_length 6 -> 7.
    std::vector<uint8_t> overlong = payload;
    overlong[50 - 6 + 2 + 4 + 3] = 0x07;
    EXPECT_EQ(Mpeg2PsResult::BadStreamMap,
              psm.Read(overlong.data(), static_cast<uint32_t>(overlong.size())));
    // An elementary-stream map length that ends inside an entry: 14 -> 12.
    std::vector<uint8_t> cut = payload;
    cut[50 - 6 + 1] = 0x0C;
    EXPECT_EQ(Mpeg2PsResult::BadStreamMap, psm.Read(cut.data(), static_cast<uint32_t>(cut.size())));
    EXPECT_EQ(kTitleMap, Written(psm));
}

TEST(Mpeg2PsPsmTest, FindsTheEsDescriptorAndItsDecoderSpecificInfo) {
    const std::vector<uint8_t> payload = PayloadOf(kTitleMap);
    Mpeg2PsPsm psm;
    ASSERT_EQ(Mpeg2PsResult::Ok, psm.Read(payload.data(), static_cast<uint32_t>(payload.size())));
    const uint8_t* es = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(psm.FindEsDescriptor(0xC0, es, size));
    const std::vector<uint8_t> expected(kTitleMap.begin() + 23, kTitleMap.begin() + 50);
    EXPECT_EQ(expected, std::vector<uint8_t>(es, es + size));  // tag 0x03 to the SL descriptor
    EXPECT_FALSE(psm.FindEsDescriptor(0xE0, es, size));        // no ES_Descriptor for video

    std::vector<uint8_t> info;
    ASSERT_TRUE(Mpeg2PsPsm::ReadDecoderSpecificInfo(
        expected.data(), static_cast<uint32_t>(expected.size()), 0xC0, info));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x90}), info);
    EXPECT_FALSE(Mpeg2PsPsm::ReadDecoderSpecificInfo(
        expected.data(), static_cast<uint32_t>(expected.size()), 0xC1, info));
    // Cut anywhere, the descriptor gives nothing.
    for (uint32_t n = 0; n < expected.size(); ++n) {
        EXPECT_FALSE(Mpeg2PsPsm::ReadDecoderSpecificInfo(expected.data(), n, 0xC0, info)) << n;
    }

    // With the URL flag set, the URL is stepped over: a 3-byte URL before the profile bytes.
    std::vector<uint8_t> withUrl(kTitleMap.begin(), kTitleMap.begin() + 18);
    withUrl[17] = 0x7F;  // URL_Flag
    const uint8_t url[] = {0x03, 'a', 'b', 'c'};
    withUrl.insert(withUrl.end(), url, url + sizeof url);
    withUrl.insert(withUrl.end(), kTitleMap.begin() + 18, kTitleMap.end());
    withUrl[15] += 4;  // InitialObjectDescriptor length
    withUrl[11] += 4;  // IOD_descriptor length
    withUrl[9] += 4;   // program_stream_info_length
    withUrl[5] += 4;   // program_stream_map_length
    Mpeg2PsPsm urlMap;
    ASSERT_EQ(Mpeg2PsResult::Ok,
              urlMap.Read(withUrl.data() + 6, static_cast<uint32_t>(withUrl.size() - 6)));
    ASSERT_TRUE(urlMap.FindEsDescriptor(0xC0, es, size));
    EXPECT_EQ(expected, std::vector<uint8_t>(es, es + size));
}

TEST(Mpeg2PsPsmTest, PlayedStreamsAreTheLastOfEachKind) {
    Mpeg2PsPsm psm;
    psm.AddEsInfo(0xC0, 0x0F);
    psm.AddEsInfo(0xE0, 0x1B);
    psm.AddEsInfo(0xC1, 0x0F);  // the later audio entry wins
    psm.AddEsInfo(0xBD, 0x81);  // not a type played on 0xBD
    uint8_t audio = 0, type = 0, video = 0;
    psm.FindPlayedStreams(audio, type, video);
    EXPECT_EQ(0xC1, audio);
    EXPECT_EQ(0x0F, type);
    EXPECT_EQ(0xE0, video);

    Mpeg2PsPsm eac3;
    eac3.AddEsInfo(0xBD, 0x87);
    eac3.FindPlayedStreams(audio, type, video);
    EXPECT_EQ(0xBD, audio);
    EXPECT_EQ(0x87, type);
    EXPECT_EQ(0xE0, video);  // left as it was
}

}  // namespace
}  // namespace SarvelonMediaKit
