// Readers and builders of the elementary-stream formats: bit reader, H.264 parameter sets and
// avcC, ADTS / AudioSpecificConfig / ES_Descriptor, E-AC-3 headers and dec3, timing helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/codecs/Aac.h"
#include "engine/codecs/BitReader.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaFormatError.h"
#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {
namespace {

using Bytes = std::vector<uint8_t>;

// SPS written by libx264 for a 640x360 High-profile clip (coded 640x368, cropped by 8 lines),
// with the emulation-prevention bytes of its Annex B form.
const Bytes kSps640x360 = {0x67, 0x64, 0x00, 0x1e, 0xac, 0xd9, 0x40, 0xa0, 0x2f,
                           0xf9, 0x70, 0x11, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00,
                           0x00, 0x03, 0x00, 0x32, 0x0f, 0x16, 0x2d, 0x96};
// SPS of a 1920x1080 Baseline clip whose VUI gives the sample aspect ratio 4:3.
const Bytes kSps1080Sar43 = {0x67, 0x42, 0xc0, 0x28, 0xda, 0x01, 0xe0, 0x08, 0x9f,
                             0x97, 0x0e, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00,
                             0x00, 0x03, 0x03, 0x20, 0xf1, 0x83, 0x2a};
const Bytes kPps = {0x68, 0xef, 0xbc, 0xb0};

TEST(BitReader, ReadsFieldsAndExpGolombCodes) {
    // 1 | 010 | 011 | 00100 | 00101 | 0001000 -> flag, ue 1, ue 2, ue 3, se -2, ue 7
    const Bytes data = {0xA6, 0x42, 0x88, 0x00};
    BitReader bits(data.data(), data.size());
    EXPECT_TRUE(bits.ReadFlag());
    EXPECT_EQ(1u, bits.ReadUe());
    EXPECT_EQ(2u, bits.ReadUe());
    EXPECT_EQ(3u, bits.ReadUe());
    EXPECT_EQ(-2, bits.ReadSe());
    EXPECT_EQ(7u, bits.ReadUe());
    EXPECT_EQ(32u - 24u, bits.BitsLeft());
}

TEST(BitReader, RefusesToReadPastTheEnd) {
    const Bytes data = {0xFF};
    BitReader bits(data.data(), data.size());
    EXPECT_EQ(0x7Fu, bits.ReadBits(7));
    EXPECT_THROW(bits.ReadBits(2), MediaFormatError);
    const Bytes fortyZeros(5, 0);  // an exp-Golomb code that never ends
    BitReader zeros(fortyZeros.data(), fortyZeros.size());
    EXPECT_THROW(zeros.ReadUe(), MediaFormatError);
    BitReader empty(nullptr, 10);
    EXPECT_THROW(empty.ReadFlag(), MediaFormatError);
}

TEST(H264, ReadsSizeProfileLevelAndAspect) {
    struct Case {
        const Bytes* sps;
        unsigned profile, level, width, height, sarW, sarH;
    };
    const Case cases[] = {
        {&kSps640x360, 100, 30, 640, 360, 1, 1},
        {&kSps1080Sar43, 66, 40, 1920, 1080, 4, 3},
    };
    for (const Case& c : cases) {
        const H264Sps sps = ParseH264Sps(c.sps->data(), c.sps->size());
        EXPECT_EQ(c.profile, sps.profileIdc);
        EXPECT_EQ(c.level, sps.levelIdc);
        EXPECT_EQ(c.width, sps.width);
        EXPECT_EQ(c.height, sps.height);
        EXPECT_EQ(c.sarW, sps.sarWidth);
        EXPECT_EQ(c.sarH, sps.sarHeight);
    }
}

TEST(H264, TruncatedOrForeignUnitsAreRefused) {
    for (size_t cut = 1; cut < 12; ++cut) {
        EXPECT_THROW(ParseH264Sps(kSps640x360.data(), cut), MediaFormatError) << cut;
    }
    EXPECT_THROW(ParseH264Sps(kPps.data(), kPps.size()), MediaFormatError);
    // A complete SPS whose pic_width_in_mbs_minus1 is 65535: a million pixels wide.
    const Bytes huge = {0x67, 0x42, 0x00, 0x1e, 0xf8, 0x00, 0x02, 0x00, 0x01, 0xc8};
    try {
        ParseH264Sps(huge.data(), huge.size());
        ADD_FAILURE() << "a picture of 1048576 pixels a side was accepted";
    } catch (const MediaFormatError& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("larger than")) << e.what();
    }
}

TEST(H264, SplitsAnnexBAndFindsIdr) {
    const Bytes stream = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0,        // AUD, 4-byte start code
                          0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00,  // SPS with trailing zeros
                          0x00, 0x00, 0x01, 0x65, 0x88, 0x84};       // IDR slice
    const std::vector<NalUnitRange> units = SplitAnnexB(stream.data(), stream.size());
    ASSERT_EQ(3u, units.size());
    EXPECT_EQ(4u, units[0].offset);
    EXPECT_EQ(2u, units[0].size);
    EXPECT_EQ(H264NalSps, units[1].Type(stream.data()));
    EXPECT_EQ(2u, units[1].size);
    EXPECT_EQ(H264NalIdrSlice, units[2].Type(stream.data()));
    EXPECT_TRUE(ContainsIdrSlice(stream.data(), stream.size()));
    EXPECT_FALSE(ContainsIdrSlice(stream.data(), 13));
    EXPECT_EQ(
        Bytes({0x00, 0x00, 0x00, 0x00, 0x01}),
        RemoveEmulationPrevention(Bytes({0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01}).data(), 7));
}

TEST(H264, BuildsTheDecoderConfigurationRecord) {
    const Bytes record = BuildAvcDecoderConfigurationRecord({kSps640x360}, {kPps});
    Bytes expected = {0x01,              // configurationVersion
                      0x64, 0x00, 0x1e,  // profile, compatibility, level from the SPS
                      0xFF,              // reserved, lengthSizeMinusOne 3
                      0xE1,              // reserved, one SPS
                      0x00, 0x1a};       // SPS length 26
    expected.insert(expected.end(), kSps640x360.begin(), kSps640x360.end());
    expected.insert(expected.end(), {0x01, 0x00, 0x04});  // one PPS of 4 bytes
    expected.insert(expected.end(), kPps.begin(), kPps.end());
    expected.insert(expected.end(), {0xFD,    // reserved, chroma_format_idc 1 (High profile)
                                     0xF8,    // bit_depth_luma_minus8 0
                                     0xF8,    // bit_depth_chroma_minus8 0
                                     0x00});  // no SPS extensions
    EXPECT_EQ(expected, record);
    // Baseline has no extension.
    EXPECT_EQ(6u + 2 + kSps1080Sar43.size() + 1 + 2 + kPps.size(),
              BuildAvcDecoderConfigurationRecord({kSps1080Sar43}, {kPps}).size());
    EXPECT_THROW(BuildAvcDecoderConfigurationRecord({kSps640x360}, {}), MediaFormatError);
}

TEST(H264, BuildsTheRecordFromProfileBytesAsGiven) {
    // High profile bytes, but no extension and no parsing: the sets need not even be SPS.
    const Bytes sps = {0x67, 0x64};
    const Bytes record = BuildAvcDecoderConfigurationRecord(0x64, 0x00, 0x1f, {sps}, {kPps});
    const Bytes expected = {0x01,                    // configurationVersion
                            0x64, 0x00, 0x1f,        // profile, compatibility, level as given
                            0xFF,                    // reserved, lengthSizeMinusOne 3
                            0xE1,                    // reserved, one SPS
                            0x00, 0x02, 0x67, 0x64,  // SPS of 2 bytes
                            0x01,                    // one PPS
                            0x00, 0x04, 0x68, 0xef, 0xbc, 0xb0};  // PPS of 4 bytes
    EXPECT_EQ(expected, record);
    EXPECT_THROW(BuildAvcDecoderConfigurationRecord(0x42, 0, 0x1e, {sps}, {Bytes()}),
                 MediaFormatError);
    EXPECT_THROW(BuildAvcDecoderConfigurationRecord(0x42, 0, 0x1e, {sps},
                                                    {Bytes(kAvcMaxParameterSetSize + 1)}),
                 MediaFormatError);
    EXPECT_NO_THROW(BuildAvcDecoderConfigurationRecord(0x42, 0, 0x1e, {sps},
                                                       {Bytes(kAvcMaxParameterSetSize, 1)}));
}

TEST(H264, NalUnitTypeIsTheLowFiveBits) {
    EXPECT_EQ(H264NalIdrSlice, H264NalUnitType(0x65));  // nal_ref_idc 3, type 5
    EXPECT_EQ(H264NalFiller, H264NalUnitType(0x0C));
    EXPECT_EQ(H264NalAccessUnitDelimiter, H264NalUnitType(0x09));
    EXPECT_EQ(31, H264NalUnitType(0xFF));
}

TEST(Aac, ReadsAdtsHeaders) {
    // AAC LC, 48 kHz, stereo, 235-byte frame, no CRC (from an ffmpeg-made stream).
    const Bytes header = {0xff, 0xf1, 0x4c, 0x80, 0x1d, 0x7f, 0xfc};
    const AdtsHeader adts = ParseAdtsHeader(header.data(), header.size());
    EXPECT_EQ(2, adts.audioObjectType);
    EXPECT_EQ(3, adts.samplingFrequencyIndex);
    EXPECT_EQ(48000u, adts.samplingFrequency);
    EXPECT_EQ(2, adts.channelConfiguration);
    EXPECT_EQ(235u, adts.frameLength);
    EXPECT_EQ(7u, adts.headerSize);
    EXPECT_EQ(1024u, adts.SamplesPerFrame());

    struct Bad {
        Bytes bytes;
        const char* why;
    };
    const Bad bad[] = {
        {{0xff, 0xf1, 0x4c, 0x80, 0x1d, 0x7f}, "six bytes"},
        {{0xff, 0xe1, 0x4c, 0x80, 0x1d, 0x7f, 0xfc}, "no sync"},
        {{0xff, 0xf3, 0x4c, 0x80, 0x1d, 0x7f, 0xfc}, "layer 1"},
        {{0xff, 0xf1, 0x7c, 0x80, 0x1d, 0x7f, 0xfc}, "frequency index 15"},
        {{0xff, 0xf1, 0x4c, 0x80, 0x00, 0x3f, 0xfc}, "frame length 1"},
        {{0xff, 0xf0, 0x4c, 0x80, 0x1d, 0x7f, 0xfc}, "CRC announced, 7 bytes given"},
    };
    for (const Bad& b : bad) {
        EXPECT_THROW(ParseAdtsHeader(b.bytes.data(), b.bytes.size()), MediaFormatError) << b.why;
    }
}

TEST(Aac, SamplingFrequencyTableEndsAt7350Hz) {
    // ISO/IEC 14496-3, table 1.18.
    const uint32_t expected[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                   16000, 12000, 11025, 8000,  7350,  0,     0,     0};
    for (uint8_t index = 0; index < 16; ++index) {
        EXPECT_EQ(expected[index], AacSamplingFrequency(index)) << int(index);
    }
    EXPECT_EQ(0u, AacSamplingFrequency(255));

    // An ADTS header with index 12 is read; 13 is refused.
    const Bytes index12 = {0xff, 0xf1, 0x70, 0x80, 0x1d, 0x7f, 0xfc};  // LC, index 12, stereo
    EXPECT_EQ(7350u, ParseAdtsHeader(index12.data(), index12.size()).samplingFrequency);
    const Bytes index13 = {0xff, 0xf1, 0x74, 0x80, 0x1d, 0x7f, 0xfc};
    EXPECT_THROW(ParseAdtsHeader(index13.data(), index13.size()), MediaFormatError);
}

TEST(Aac, ReadsHeaderFieldsUnchecked) {
    // Layer 1 and index 14: ParseAdtsHeader refuses both, the field reader just reports them.
    // FF F7: syncword, ID 0, layer 11, protection_absent 1; B9: profile 2 (object type 3),
    // index 14, private 0, channel bit 2 = 1; 40: channel bits 1-0 = 01 (configuration 5),
    // length bits 12-11 = 0; 10 / 3F: length 0x80 + 1 = 129; FD: two raw data blocks.
    const Bytes header = {0xff, 0xf7, 0xb9, 0x40, 0x10, 0x3f, 0xfd};
    const AdtsHeader fields = ReadAdtsHeaderFields(header.data());
    EXPECT_EQ(3, fields.audioObjectType);
    EXPECT_EQ(14, fields.samplingFrequencyIndex);
    EXPECT_EQ(0u, fields.samplingFrequency);
    EXPECT_EQ(5, fields.channelConfiguration);
    EXPECT_EQ(129u, fields.frameLength);
    EXPECT_EQ(129u, AdtsFrameLength(header.data()));
    EXPECT_EQ(2u, fields.rawDataBlocks);
    EXPECT_EQ(7u, fields.headerSize);
    EXPECT_TRUE(IsAdtsSyncword(header.data()));
    EXPECT_FALSE(IsAdtsSyncword(Bytes({0xff, 0xe1}).data()));
    EXPECT_THROW(ParseAdtsHeader(header.data(), header.size()), MediaFormatError);
}

TEST(Aac, WritesAdtsHeaders) {
    uint8_t header[kAdtsHeaderSize] = {};
    // AAC Main, 48 kHz, 5.1 (configuration 6), a frame of 4660 bytes (0x1234).
    WriteAdtsHeader(header, 1, 3, 6, 0x1234);
    // FF F1: syncword, ID 0, layer 0, no CRC. 0D: profile 0, index 3, private 0, high channel
    // bit 1. B2: channel bits 10, original_copy 1, home 1, two zero bits, length bits 12-11 10.
    // 46: length bits 10-3. 9F: length bits 2-0 100, fullness 0x7FF from bit 10. FC: the rest
    // of the fullness, one raw data block.
    EXPECT_EQ(Bytes({0xFF, 0xF1, 0x0D, 0xB2, 0x46, 0x9F, 0xFC}),
              Bytes(header, header + kAdtsHeaderSize));

    // Round trip through the checking reader, the longest frame and a 3-bit configuration.
    WriteAdtsHeader(header, 1, 11, 7, kAdtsMaxFrameLength);
    const AdtsHeader back = ParseAdtsHeader(header, kAdtsHeaderSize);
    EXPECT_EQ(1, back.audioObjectType);
    EXPECT_EQ(11, back.samplingFrequencyIndex);
    EXPECT_EQ(7, back.channelConfiguration);
    EXPECT_EQ(8191u, back.frameLength);
    EXPECT_EQ(1u, back.rawDataBlocks);
    EXPECT_TRUE(back.protectionAbsent);
}

TEST(Aac, BuildsConfigAndEsDescriptor) {
    EXPECT_EQ(Bytes({0x11, 0x90}), BuildAudioSpecificConfig(2, 3, 2));  // LC 48 kHz stereo
    EXPECT_EQ(Bytes({0x12, 0x08}), BuildAudioSpecificConfig(2, 4, 1));  // LC 44.1 kHz mono
    const Bytes descriptor = BuildAudioEsDescriptor(0xC0, {0x11, 0x90}, 0x001800, 128000, 96000);
    const Bytes expected = {0x03, 0x19,              // ES_Descriptor, 25 bytes
                            0x00, 0xC0,              // ES_ID
                            0x00,                    // flags
                            0x04, 0x11,              // DecoderConfigDescriptor, 17 bytes
                            0x40,                    // objectTypeIndication: MPEG-4 audio
                            0x15,                    // streamType 5 (audio) << 2 | reserved 1
                            0x00, 0x18, 0x00,        // bufferSizeDB
                            0x00, 0x01, 0xF4, 0x00,  // maxBitrate 128000
                            0x00, 0x01, 0x77, 0x00,  // avgBitrate 96000
                            0x05, 0x02, 0x11, 0x90,  // DecoderSpecificInfo: the AudioSpecificConfig
                            0x06, 0x01, 0x02};       // SLConfigDescriptor, predefined 2
    EXPECT_EQ(expected, descriptor);
    Bytes length;
    AppendDescriptorLength(length, 200);
    EXPECT_EQ(Bytes({0x81, 0x48}), length);
}

TEST(Eac3, ReadsFrameHeaderAndBuildsDec3) {
    // Independent substream 0, 768-byte frame, 48 kHz, 6 blocks, 2/0, no LFE, bsid 16.
    const Bytes frame = {0x0b, 0x77, 0x01, 0x7f, 0x34, 0x87, 0xc0, 0x00};
    const Eac3FrameHeader header = ParseEac3FrameHeader(frame.data(), frame.size());
    EXPECT_EQ(0, header.streamType);
    EXPECT_EQ(768u, header.frameSize);
    EXPECT_EQ(48000u, header.sampleRate);
    EXPECT_EQ(1536u, header.SamplesPerFrame());
    EXPECT_EQ(2u, header.Channels());
    EXPECT_EQ(16, header.bsid);
    EXPECT_TRUE(header.Independent());
    // data_rate 192 (13 bits) + num_ind_sub 0; fscod 0, bsid 16; acmod 2, lfeon 0; no deps.
    EXPECT_EQ(Bytes({0x06, 0x00, 0x20, 0x04, 0x00}), BuildEc3SpecificData(header, 192));

    const Bytes ac3 = {0x0b, 0x77, 0x01, 0x7f, 0x34, 0x40};  // bsid 8: plain AC-3
    EXPECT_THROW(ParseEac3FrameHeader(ac3.data(), ac3.size()), MediaFormatError);
    const Bytes noSync = {0x0b, 0x78, 0x01, 0x7f, 0x34, 0x87};
    EXPECT_THROW(ParseEac3FrameHeader(noSync.data(), noSync.size()), MediaFormatError);
    EXPECT_THROW(ParseEac3FrameHeader(frame.data(), 5), MediaFormatError);
}

TEST(Eac3, HdDvdPrivateData) {
    // Sub-stream id 0xC0 + n, one frame header, first access unit pointer 00 01.
    EXPECT_EQ(0xC0010001u, Eac3HdDvdPrivateData(0));
    EXPECT_EQ(0xC3010001u, Eac3HdDvdPrivateData(3));
    EXPECT_EQ(0xCF010001u, Eac3HdDvdPrivateData(0x1F));  // low four bits only
    EXPECT_TRUE(IsEac3HdDvdPrivateData(0xC7010001));
    EXPECT_FALSE(IsEac3HdDvdPrivateData(0xB0010001));  // not a sub-stream id
    EXPECT_FALSE(IsEac3HdDvdPrivateData(0xC0020001));  // two frame headers
    EXPECT_FALSE(IsEac3HdDvdPrivateData(0xC0010002));  // other pointer
}

TEST(MediaTiming, FrameDurationBitRateAndUnwrap) {
    // Presentation order of a stream with B-frames at 25 fps, one frame missing.
    EXPECT_EQ(3600u, DeriveFrameDuration({7200, 18000, 10800, 14400, 3600, 28800, 25200}));
    EXPECT_EQ(0u, DeriveFrameDuration({5, 5}));
    EXPECT_EQ(1920u, DeriveFrameDuration({0, 1920, 3840, 5760}));  // 1024 samples at 48 kHz

    EXPECT_EQ(1000000u, DeriveBitRate(125000, 90000));
    EXPECT_EQ(0u, DeriveBitRate(125000, 0));
    EXPECT_EQ(0xFFFFFFFFu, DeriveBitRate(uint64_t{1} << 40, 1));

    const uint64_t wrap = uint64_t{1} << 33;
    EXPECT_EQ(wrap + 100, UnwrapTimestamp(100, wrap - 3000));
    EXPECT_EQ(wrap - 10, UnwrapTimestamp(wrap - 10, wrap + 5));
    EXPECT_EQ(5000u, UnwrapTimestamp(5000, 4000));
}

}  // namespace
}  // namespace SarvelonMediaKit
