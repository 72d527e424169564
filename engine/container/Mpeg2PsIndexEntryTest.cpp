#include "engine/container/Mpeg2PsIndexEntry.h"

#include <gtest/gtest.h>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"

namespace SarvelonMediaKit {
namespace {

using SV::ReadBigEndian16;
using SV::ReadBigEndian32;
using SV::ReadBigEndian64;

// A muxed audio and video track at offset 5000 with the seek points (0, 5000), (3000, 6000)
// and (6000, 6500): written as the deltas (0, 0), (3000, 1000), (3000, 500).
Mpeg2PsIndexEntry Sample() {
    Mpeg2PsIndexEntry entry;
    entry.offset = 5000;
    entry.size = 0x0102030405ull;
    entry.duration = 1800000;
    entry.bitRate = 1500000;
    entry.trickPlayRate = -4;
    entry.adaptationInterval = 180000;
    entry.flags = 0xA5A5A5A5;
    Mpeg2PsIndexEntry::Video video;
    video.format = 1;
    video.profile = 100;
    video.level = 30;
    video.width = 640;
    video.height = 360;
    video.pixelWidth = 1;
    video.pixelHeight = 1;
    video.frameDuration = 3600;
    video.bitRate = 1400000;
    video.mpegStreamId = 0xE0;
    video.mpegStreamType = 0x1B;
    video.avcDecoderConfigurationRecord = {0x01, 0x64, 0x00, 0x1E};
    entry.video = video;
    Mpeg2PsIndexEntry::Audio audio;
    audio.format = 3;
    audio.profile = 2;
    audio.numChannels = 2;
    audio.sampleFrequency = 48000;
    audio.bitRate = 96000;
    audio.esDescriptor = {0x03, 0x19, 0x00, 0xC0};
    audio.identifier = "eng";
    entry.audio = audio;
    entry.seekPoints = {{0, 5000}, {3000, 6000}, {6000, 6500}};
    return entry;
}

void ExpectSeekRecords(const std::vector<uint8_t>& bytes, size_t at) {
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // time +0, bytes +0 (from the offset)
        0x00, 0x0B, 0xB8, 0x00, 0x03, 0xE8,  // time +3000, bytes +1000
        0x00, 0x0B, 0xB8, 0x00, 0x01, 0xF4,  // time +3000, bytes +500
    };
    ASSERT_EQ(at + expected.size(), bytes.size());
    EXPECT_EQ(expected, std::vector<uint8_t>(bytes.begin() + at, bytes.end()));
}

TEST(Mpeg2PsIndexEntryTest, FixedLayoutsPutEachFieldAtItsOffset) {
    const Mpeg2PsIndexEntry entry = Sample();
    // Offsets of: bit rate, trick-play rate, seek count, first seek record.
    const struct {
        uint32_t version;
        size_t bitRate, trickPlayRate, count, records;
    } layouts[] = {
        {0, 28, 36, 38, 42}, {1, 32, 40, 42, 46}, {2, 28, 32, 64, 68}, {3, 28, 32, 68, 72}};
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.version);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(entry.Write(l.version, bytes));
        ASSERT_EQ(entry.GetSize(l.version), bytes.size());
        const uint8_t* p = bytes.data();
        EXPECT_EQ(0x49444D69u, ReadBigEndian32(p));               // "IDMi"
        EXPECT_EQ(l.version, ReadBigEndian32(p + 4));             // entry version
        EXPECT_EQ(5000u, ReadBigEndian64(p + 8));                 // track offset
        EXPECT_EQ(0x0102030405ull, ReadBigEndian64(p + 16));      // track size
        EXPECT_EQ(1800000u, ReadBigEndian32(p + 24));             // duration
        EXPECT_EQ(1500000u, ReadBigEndian32(p + l.bitRate));      // bit rate
        EXPECT_EQ(0xFFFC, ReadBigEndian16(p + l.trickPlayRate));  // -4
        EXPECT_EQ(3u, ReadBigEndian32(p + l.count));              // seek record count
        ExpectSeekRecords(bytes, l.records);
        if (l.version == 1) {
            EXPECT_EQ(3600u, ReadBigEndian32(p + 28));  // frame duration
        }
        if (l.version < 2) {
            EXPECT_EQ(0u, ReadBigEndian32(p + l.trickPlayRate - 4));  // the unused bytes
        }
        if (l.version >= 2) {
            EXPECT_EQ(180000u, ReadBigEndian32(p + 34));   // adaptation interval
            EXPECT_EQ(1, p[38]);                           // video group: format
            EXPECT_EQ(100, p[39]);                         //   profile
            EXPECT_EQ(30, p[40]);                          //   level
            EXPECT_EQ(640, ReadBigEndian16(p + 41));       //   width
            EXPECT_EQ(360, ReadBigEndian16(p + 43));       //   height
            EXPECT_EQ(3600u, ReadBigEndian32(p + 45));     //   frame duration
            EXPECT_EQ(1400000u, ReadBigEndian32(p + 49));  //   bit rate
            EXPECT_EQ(3, p[53]);                           // audio group: format
            EXPECT_EQ(2, p[54]);                           //   profile
            EXPECT_EQ(2, p[55]);                           //   channels
            EXPECT_EQ(48000u, ReadBigEndian32(p + 56));    //   sample frequency
            EXPECT_EQ(96000u, ReadBigEndian32(p + 60));    //   bit rate
        }
        if (l.version == 3) {
            EXPECT_EQ(0xA5A5A5A5u, ReadBigEndian32(p + 64));  // flags
        }
    }
}

TEST(Mpeg2PsIndexEntryTest, AbsentGroupsHaveFormatZero) {
    Mpeg2PsIndexEntry entry;
    entry.offset = 100;
    entry.size = 1000;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(entry.Write(3, bytes));
    ASSERT_EQ(72u, bytes.size());
    EXPECT_EQ(0, bytes[38]);                     // no video group
    EXPECT_EQ(0, bytes[53]);                     // no audio group
    EXPECT_EQ(0u, ReadBigEndian32(&bytes[64]));  // no flags
    EXPECT_EQ(0u, ReadBigEndian32(&bytes[68]));  // no seek records
}

TEST(Mpeg2PsIndexEntryTest, TaggedEntryCarriesEveryField) {
    Mpeg2PsIndexEntry entry = Sample();
    entry.trackVersion = 2;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(entry.Write(4, bytes));
    ASSERT_EQ(entry.GetSize(4), bytes.size());
    EXPECT_EQ(0x49444D69u, ReadBigEndian32(&bytes[0]));  // magic
    EXPECT_EQ(4u, ReadBigEndian32(&bytes[4]));           // version 4
    const uint32_t length = ReadBigEndian32(&bytes[8]);  // L
    EXPECT_EQ(bytes.size() - 12, length);

    Mpeg2PsMetadata tags(0);
    size_t consumed = 0;
    ASSERT_TRUE(tags.Read(&bytes[12], length, consumed)) << tags.GetError();
    using namespace Mpeg2PsFormat;
    uint64_t u64 = 0;
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    int16_t s16 = 0;
    uint8_t u8 = 0;
    std::string text;
    std::vector<uint8_t> blob;
    EXPECT_TRUE(tags.GetUInt64(TagOffset, u64) && u64 == 5000u);
    EXPECT_TRUE(tags.GetUInt64(TagSize, u64) && u64 == 0x0102030405ull);
    EXPECT_TRUE(tags.GetUInt32(TagDuration, u32) && u32 == 1800000u);
    EXPECT_TRUE(tags.GetUInt32(TagBitRate, u32) && u32 == 1500000u);
    EXPECT_TRUE(tags.GetUInt32(TagVersion, u32) && u32 == 2u);
    EXPECT_TRUE(tags.GetInt16(TagTrickPlayRate, s16) && s16 == -4);
    EXPECT_TRUE(tags.GetUInt32(TagFlags, u32) && u32 == 0xA5A5A5A5u);
    EXPECT_TRUE(tags.GetUInt8(TagVideoFormat, u8) && u8 == 1);
    EXPECT_TRUE(tags.GetUInt16(TagVideoPixelHeight, u16) && u16 == 1);
    EXPECT_TRUE(tags.GetUInt32(TagFrameDuration, u32) && u32 == 3600u);
    EXPECT_TRUE(tags.GetUInt8(TagVideoMpegStreamId, u8) && u8 == 0xE0);
    EXPECT_TRUE(tags.GetBytes(TagAVCDecoderConfigurationRecord, blob));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x64, 0x00, 0x1E}), blob);
    EXPECT_TRUE(tags.GetUInt32(TagAudioSampleFrequency, u32) && u32 == 48000u);
    EXPECT_TRUE(tags.GetString(TagAudioIdentifier, text) && text == "eng");
    EXPECT_FALSE(tags.Has(TagAudioEC3SpecificData));  // empty: not written
    EXPECT_FALSE(tags.Has(TagAudioMpegStreamId));     // not given: left to the stream map

    const size_t countAt = 12 + consumed;
    EXPECT_EQ(3u, ReadBigEndian32(&bytes[countAt]));  // seek record count after the list
    ExpectSeekRecords(bytes, countAt + 4);
}

TEST(Mpeg2PsIndexEntryTest, RefusesWhatTheFormatCannotHold) {
    const struct {
        const char* name;
        void (*change)(Mpeg2PsIndexEntry&);
        uint32_t version;
    } cases[] = {
        {"version 5", [](Mpeg2PsIndexEntry&) {}, 5},
        {"video format 0", [](Mpeg2PsIndexEntry& e) { e.video->format = 0; }, 4},
        {"audio format 0", [](Mpeg2PsIndexEntry& e) { e.audio->format = 0; }, 2},
        {"point before the offset", [](Mpeg2PsIndexEntry& e) { e.seekPoints[0].position = 4999; },
         4},
        {"point at the end", [](Mpeg2PsIndexEntry& e) { e.size = 6500 - 5000; }, 0},
        {"time goes back", [](Mpeg2PsIndexEntry& e) { e.seekPoints[2].time = 2999; }, 1},
        {"position goes back", [](Mpeg2PsIndexEntry& e) { e.seekPoints[2].position = 5999; }, 3},
        {"time delta of 2^24",
         [](Mpeg2PsIndexEntry& e) { e.seekPoints[2].time = 3000 + 0x1000000; }, 4},
        {"byte delta of 2^24",
         [](Mpeg2PsIndexEntry& e) { e.seekPoints[2].position = 6000 + 0x1000000; }, 4},
        {"first time of 2^24",
         [](Mpeg2PsIndexEntry& e) {
             e.seekPoints = {{0x1000000, 5000}};
         },
         4},
    };
    for (const auto& c : cases) {
        Mpeg2PsIndexEntry entry = Sample();
        c.change(entry);
        std::vector<uint8_t> bytes = {0xAB};
        std::string error;
        EXPECT_FALSE(entry.Write(c.version, bytes, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_EQ(std::vector<uint8_t>{0xAB}, bytes) << c.name;  // nothing appended
    }
    // The largest deltas are written.
    Mpeg2PsIndexEntry largest = Sample();
    largest.seekPoints = {{0xFFFFFF, 5000 + 0xFFFFFF}};
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(largest.Write(0, bytes));
    const std::vector<uint8_t> record = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(record, std::vector<uint8_t>(bytes.begin() + 42, bytes.end()));
}

}  // namespace
}  // namespace SarvelonMediaKit
