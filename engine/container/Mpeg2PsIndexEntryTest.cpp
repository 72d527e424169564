#include "engine/container/Mpeg2PsIndexEntry.h"

#include <gtest/gtest.h>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntryTestSupport.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

using SV::ReadBigEndian16;
using SV::ReadBigEndian32;
using SV::ReadBigEndian64;

using containertest::MuxedTrackIndexEntry;

// The seek records of the shared entry's points (0, 5000), (3000, 6000) and (6000, 6500).
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
    const Mpeg2PsIndexEntry entry = MuxedTrackIndexEntry();
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
    Mpeg2PsIndexEntry entry = MuxedTrackIndexEntry();
    entry.trackVersion = 2;
    entry.video->pixelWidth = 1;  // square pixels
    entry.video->pixelHeight = 1;
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
        Mpeg2PsIndexEntry entry = MuxedTrackIndexEntry();
        c.change(entry);
        std::vector<uint8_t> bytes = {0xAB};
        std::string error;
        EXPECT_FALSE(entry.Write(c.version, bytes, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_EQ(std::vector<uint8_t>{0xAB}, bytes) << c.name;  // nothing appended
    }
    // The largest deltas are written.
    Mpeg2PsIndexEntry largest = MuxedTrackIndexEntry();
    largest.seekPoints = {{0xFFFFFF, 5000 + 0xFFFFFF}};
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(largest.Write(0, bytes));
    const std::vector<uint8_t> record = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(record, std::vector<uint8_t>(bytes.begin() + 42, bytes.end()));
}

// ---- Round trips: golden entries of every version read into a track, and the entry that
// track describes written to the same bytes. ----

// The fields every golden entry below shares, in the order of the fixed layouts.
const std::vector<uint8_t> kOffsetSizeDuration = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,  // track offset 4096
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,  // track size 65536
    0x00, 0x02, 0xBF, 0x20,                          // duration 180000 ticks (2 s)
};
// Two seek points, (0, 4096) and (90000, 6144), as deltas.
const std::vector<uint8_t> kSeekTable = {
    0x00, 0x00, 0x00, 0x02,              // seek record count 2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // time +0, bytes +0 (from the offset)
    0x01, 0x5F, 0x90, 0x00, 0x08, 0x00,  // time +90000, bytes +2048
};
const std::vector<uint8_t> kVideoGroup = {
    0x01, 0x64, 0x1F,        // format 1, profile 100, level 31
    0x05, 0x00, 0x02, 0xD0,  // width 1280, height 720
    0x00, 0x00, 0x0E, 0x10,  // frame duration 3600 ticks (25 per second)
    0x00, 0x0D, 0xBB, 0xA0,  // bit rate 900000
};
const std::vector<uint8_t> kAudioGroup = {
    0x03, 0x02, 0x02,        // format 3, profile 2, two channels
    0x00, 0x00, 0xBB, 0x80,  // sample frequency 48000
    0x00, 0x01, 0xF4, 0x00,  // bit rate 128000
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<uint8_t> Golden(uint32_t version) {
    const std::vector<uint8_t> magic = {0x49, 0x44, 0x4D, 0x69};  // "IDMi"
    const std::vector<uint8_t> number = {0x00, 0x00, 0x00, static_cast<uint8_t>(version)};
    const std::vector<uint8_t> bitRate = {0x00, 0x0F, 0x42, 0x40};     // 1000000 bits/s
    const std::vector<uint8_t> trickPlayRate = {0xFF, 0xFE};           // -2
    const std::vector<uint8_t> unused = {0x00, 0x00, 0x00, 0x00};      // skipped by readers
    const std::vector<uint8_t> adaptation = {0x00, 0x01, 0x5F, 0x90};  // 90000 ticks
    switch (version) {
        case 0:
            return Concat(
                {magic, number, kOffsetSizeDuration, bitRate, unused, trickPlayRate, kSeekTable});
        case 1: {
            const std::vector<uint8_t> frameDuration = {0x00, 0x00, 0x0E, 0x10};  // 3600
            return Concat({magic, number, kOffsetSizeDuration, frameDuration, bitRate, unused,
                           trickPlayRate, kSeekTable});
        }
        case 2:
            return Concat({magic, number, kOffsetSizeDuration, bitRate, trickPlayRate, adaptation,
                           kVideoGroup, kAudioGroup, kSeekTable});
        case 3: {
            const std::vector<uint8_t> flags = {0x00, 0x00, 0x00, 0x05};
            return Concat({magic, number, kOffsetSizeDuration, bitRate, trickPlayRate, adaptation,
                           kVideoGroup, kAudioGroup, flags, kSeekTable});
        }
        default: break;
    }
    const std::vector<uint8_t> length = {0x00, 0x00, 0x01, 0x19};  // L = 281 after these 12
    const std::vector<uint8_t> tags = {
        0x1E,                                            // 30 tags, in tag order
        0x01, 0x07, 0x00, 0x00, 0x00, 0x08,              // offset, uint64:
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,  //   4096
        0x02, 0x07, 0x00, 0x00, 0x00, 0x08,              // size, uint64:
        0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,  //   65536
        0x03, 0x05, 0x00, 0x00, 0x00, 0x04,              // duration, uint32:
        0x00, 0x02, 0xBF, 0x20,                          //   180000
        0x04, 0x05, 0x00, 0x00, 0x00, 0x04,              // bit rate, uint32:
        0x00, 0x0F, 0x42, 0x40,                          //   1000000
        0x05, 0x04, 0x00, 0x00, 0x00, 0x02, 0xFF, 0xFE,  // trick-play rate, int16: -2
        0x06, 0x05, 0x00, 0x00, 0x00, 0x04,              // adaptation interval, uint32:
        0x00, 0x01, 0x5F, 0x90,                          //   90000
        0x07, 0x05, 0x00, 0x00, 0x00, 0x04,              // flags, uint32:
        0x00, 0x00, 0x00, 0x05,                          //   5
        0x08, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01,        // video format, uint8: 1
        0x09, 0x01, 0x00, 0x00, 0x00, 0x01, 0x64,        // video profile, uint8: 100
        0x0A, 0x01, 0x00, 0x00, 0x00, 0x01, 0x1F,        // video level, uint8: 31
        0x0B, 0x03, 0x00, 0x00, 0x00, 0x02, 0x05, 0x00,  // width, uint16: 1280
        0x0C, 0x03, 0x00, 0x00, 0x00, 0x02, 0x02, 0xD0,  // height, uint16: 720
        0x0D, 0x05, 0x00, 0x00, 0x00, 0x04,              // frame duration, uint32:
        0x00, 0x00, 0x0E, 0x10,                          //   3600
        0x0E, 0x05, 0x00, 0x00, 0x00, 0x04,              // video bit rate, uint32:
        0x00, 0x0D, 0xBB, 0xA0,                          //   900000
        0x0F, 0x01, 0x00, 0x00, 0x00, 0x01, 0x03,        // audio format, uint8: 3
        0x10, 0x01, 0x00, 0x00, 0x00, 0x01, 0x02,        // audio profile, uint8: 2
        0x11, 0x01, 0x00, 0x00, 0x00, 0x01, 0x02,        // channels, uint8: 2
        0x12, 0x05, 0x00, 0x00, 0x00, 0x04,              // sample frequency, uint32:
        0x00, 0x00, 0xBB, 0x80,                          //   48000
        0x13, 0x05, 0x00, 0x00, 0x00, 0x04,              // audio bit rate, uint32:
        0x00, 0x01, 0xF4, 0x00,                          //   128000
        0x14, 0x05, 0x00, 0x00, 0x00, 0x04,              // track version, uint32:
        0x00, 0x00, 0x00, 0x02,                          //   2
        0x1F, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01,  // pixel width, uint16: 1
        0x20, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01,  // pixel height, uint16: 1
        0x25, 0x01, 0x00, 0x00, 0x00, 0x01, 0x10,        // sample size, uint8: 16
        0x26, 0x0A, 0x00, 0x00, 0x00, 0x04,              // ES descriptor, 4 bytes:
        0x03, 0x19, 0x00, 0xC0,                          //   03 19 00 C0
        0x27, 0x0A, 0x00, 0x00, 0x00, 0x04,              // AVC configuration, 4 bytes:
        0x01, 0x64, 0x00, 0x1F,                          //   01 64 00 1F
        0x29, 0x09, 0x00, 0x00, 0x00, 0x03,              // audio identifier, string of 3:
        'e',  'n',  'g',                                 //   "eng"
        0x2A, 0x01, 0x00, 0x00, 0x00, 0x01, 0xE0,        // video stream id, uint8: 0xE0
        0x2B, 0x01, 0x00, 0x00, 0x00, 0x01, 0x1B,        // video stream type, uint8: H.264
        0x2C, 0x01, 0x00, 0x00, 0x00, 0x01, 0xC0,        // audio stream id, uint8: 0xC0
        0x2D, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F,        // audio stream type, uint8: AAC
    };
    return Concat({magic, number, length, tags, kSeekTable});
}

// The entry a track read from an index entry describes: the inverse of the reader's mapping.
Mpeg2PsIndexEntry EntryOf(const MediaTrack& track) {
    const SV::SVDictionary& info = track.GetInfo();
    const MediaTrackIndex& index = track.GetIndex();
    auto u32 = [&info](const char* key) { return info.GetUnsignedIntOrDefault(key, 0); };
    auto has = [&info](const char* key) { return info.GetValue(key) != nullptr; };
    auto bytes = [&info](const char* key) {
        const SV::SVDataBlob* blob = nullptr;
        return info.GetDataBlob(key, blob) && blob ? std::vector<uint8_t>(*blob)
                                                   : std::vector<uint8_t>();
    };

    Mpeg2PsIndexEntry entry;
    entry.offset = index.GetOffset();
    entry.size = index.GetSize();
    entry.duration = index.GetDuration();
    entry.bitRate = u32(TrackInfoKey_BitRate);
    entry.trickPlayRate = static_cast<int16_t>(track.GetTrickPlayRate());
    entry.adaptationInterval = index.GetAdaptationInterval();
    if (has(TrackInfoKey_Flags)) entry.flags = u32(TrackInfoKey_Flags);
    if (has(TrackInfoKey_Version)) entry.trackVersion = u32(TrackInfoKey_Version);
    if (has(TrackInfoKey_VideoFormat)) {
        Mpeg2PsIndexEntry::Video video;
        video.format = static_cast<uint8_t>(u32(TrackInfoKey_VideoFormat));
        video.profile = static_cast<uint8_t>(u32(TrackInfoKey_VideoProfile));
        video.level = static_cast<uint8_t>(u32(TrackInfoKey_VideoLevel));
        video.width = static_cast<uint16_t>(u32(TrackInfoKey_VideoWidth));
        video.height = static_cast<uint16_t>(u32(TrackInfoKey_VideoHeight));
        if (has(TrackInfoKey_VideoPixelWidth))
            video.pixelWidth = static_cast<uint16_t>(u32(TrackInfoKey_VideoPixelWidth));
        if (has(TrackInfoKey_VideoPixelHeight))
            video.pixelHeight = static_cast<uint16_t>(u32(TrackInfoKey_VideoPixelHeight));
        video.frameDuration = index.GetFrameDuration();
        video.bitRate = u32(TrackInfoKey_VideoBitRate);
        if (has(TrackInfoKey_VideoMpegStreamId))
            video.mpegStreamId = static_cast<uint8_t>(u32(TrackInfoKey_VideoMpegStreamId));
        if (has(TrackInfoKey_VideoMpegStreamType))
            video.mpegStreamType = static_cast<uint8_t>(u32(TrackInfoKey_VideoMpegStreamType));
        video.avcDecoderConfigurationRecord = bytes(TrackInfoKey_AVCDecoderConfigurationRecord);
        entry.video = video;
    }
    if (has(TrackInfoKey_AudioFormat)) {
        Mpeg2PsIndexEntry::Audio audio;
        audio.format = static_cast<uint8_t>(u32(TrackInfoKey_AudioFormat));
        audio.profile = static_cast<uint8_t>(u32(TrackInfoKey_AudioProfile));
        audio.numChannels = static_cast<uint8_t>(u32(TrackInfoKey_AudioNumChannels));
        audio.sampleFrequency = u32(TrackInfoKey_AudioSampleFrequency);
        if (has(TrackInfoKey_AudioSampleSize))
            audio.sampleSize = static_cast<uint8_t>(u32(TrackInfoKey_AudioSampleSize));
        audio.bitRate = u32(TrackInfoKey_AudioBitRate);
        if (has(TrackInfoKey_AudioMpegStreamId))
            audio.mpegStreamId = static_cast<uint8_t>(u32(TrackInfoKey_AudioMpegStreamId));
        if (has(TrackInfoKey_AudioMpegStreamType))
            audio.mpegStreamType = static_cast<uint8_t>(u32(TrackInfoKey_AudioMpegStreamType));
        audio.esDescriptor = bytes(TrackInfoKey_AudioEsDescriptor);
        audio.ec3SpecificData = bytes(TrackInfoKey_AudioEC3SpecificData);
        audio.identifier = info.GetStringOrDefault(TrackInfoKey_AudioIdentifier, "");
        entry.audio = audio;
    }
    for (uint32_t i = 0; i < index.GetCount(); ++i) {
        entry.seekPoints.push_back({index.GetEntries()[i].time, index.GetEntries()[i].position});
    }
    return entry;
}

TEST(Mpeg2PsIndexEntryTest, GoldenEntriesOfEveryVersionReadAndWriteBack) {
    for (uint32_t version = 0; version <= 4; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        const std::vector<uint8_t> golden = Golden(version);
        ASSERT_EQ((std::vector<size_t>{54, 58, 80, 84, 293})[version], golden.size());

        std::vector<uint8_t> buffer = golden;
        uint32_t longest = 0;
        boost::shared_ptr<MediaTrack> track;
        ASSERT_EQ(Mpeg2PsResult::Ok,
                  Mpeg2PsIndexEntryReader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
        ASSERT_TRUE(track);
        const SV::SVDictionary& info = track->GetInfo();
        const MediaTrackIndex& index = track->GetIndex();
        auto u32 = [&info](const char* key) { return info.GetUnsignedIntOrDefault(key, 0); };

        EXPECT_EQ(4096u, index.GetOffset());
        EXPECT_EQ(65536u, index.GetSize());
        EXPECT_EQ(180000u, index.GetDuration());
        EXPECT_EQ(1000000u, u32(TrackInfoKey_BitRate));
        EXPECT_EQ(-2, track->GetTrickPlayRate());
        ASSERT_EQ(2u, index.GetCount());
        EXPECT_EQ(0u, index.GetEntries()[0].time);
        EXPECT_EQ(4096u, index.GetEntries()[0].position);
        EXPECT_EQ(90000u, index.GetEntries()[1].time);
        EXPECT_EQ(6144u, index.GetEntries()[1].position);
        EXPECT_EQ((std::vector<uint32_t>{3750, 3600, 3600, 3600, 3600})[version],
                  index.GetFrameDuration());
        EXPECT_EQ(version >= 2 ? 90000u : 0u, index.GetAdaptationInterval());
        if (version >= 2) {
            EXPECT_EQ(1u, u32(TrackInfoKey_VideoFormat));
            EXPECT_EQ(100u, u32(TrackInfoKey_VideoProfile));
            EXPECT_EQ(31u, u32(TrackInfoKey_VideoLevel));
            EXPECT_EQ(1280u, u32(TrackInfoKey_VideoWidth));
            EXPECT_EQ(720u, u32(TrackInfoKey_VideoHeight));
            EXPECT_EQ(900000u, u32(TrackInfoKey_VideoBitRate));
            EXPECT_EQ(3u, u32(TrackInfoKey_AudioFormat));
            EXPECT_EQ(2u, u32(TrackInfoKey_AudioProfile));
            EXPECT_EQ(2u, u32(TrackInfoKey_AudioNumChannels));
            EXPECT_EQ(48000u, u32(TrackInfoKey_AudioSampleFrequency));
            EXPECT_EQ(128000u, u32(TrackInfoKey_AudioBitRate));
        }
        EXPECT_EQ(version >= 3 ? 5u : 0u, u32(TrackInfoKey_Flags));
        if (version == 4) {
            EXPECT_EQ(2u, u32(TrackInfoKey_Version));
            EXPECT_EQ(1u, u32(TrackInfoKey_VideoPixelWidth));
            EXPECT_EQ(1u, u32(TrackInfoKey_VideoPixelHeight));
            EXPECT_EQ(16u, u32(TrackInfoKey_AudioSampleSize));
            EXPECT_EQ(0xE0u, u32(TrackInfoKey_VideoMpegStreamId));
            EXPECT_EQ(0x1Bu, u32(TrackInfoKey_VideoMpegStreamType));
            EXPECT_EQ(0xC0u, u32(TrackInfoKey_AudioMpegStreamId));
            EXPECT_EQ(0x0Fu, u32(TrackInfoKey_AudioMpegStreamType));
            EXPECT_EQ("eng", info.GetStringOrDefault(TrackInfoKey_AudioIdentifier, ""));
            const SV::SVDataBlob* blob = nullptr;
            ASSERT_TRUE(info.GetDataBlob(TrackInfoKey_AVCDecoderConfigurationRecord, blob));
            EXPECT_EQ(std::vector<uint8_t>({0x01, 0x64, 0x00, 0x1F}), *blob);
            ASSERT_TRUE(info.GetDataBlob(TrackInfoKey_AudioEsDescriptor, blob));
            EXPECT_EQ(std::vector<uint8_t>({0x03, 0x19, 0x00, 0xC0}), *blob);
        }

        std::vector<uint8_t> written;
        std::string error;
        ASSERT_TRUE(EntryOf(*track).Write(version, written, &error)) << error;
        EXPECT_EQ(golden, written);
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
