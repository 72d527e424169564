#include "engine/container/Mpeg2PsIndexEntryReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsIndexEntryTestSupport.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;
typedef Mpeg2PsIndexEntryReader Reader;

// The shared entry with every field the tagged layout carries: a 4:3 pixel aspect ratio, track
// version 2 (playable), 16-bit audio samples and the audio stream named.
Mpeg2PsIndexEntry FullEntry() {
    Mpeg2PsIndexEntry entry = containertest::MuxedTrackIndexEntry();
    entry.trackVersion = 2;
    entry.video->pixelWidth = 4;
    entry.video->pixelHeight = 3;
    entry.audio->sampleSize = 16;
    entry.audio->mpegStreamId = 0xC0;
    entry.audio->mpegStreamType = 0x0F;
    return entry;
}

std::vector<uint8_t> Written(const Mpeg2PsIndexEntry& entry, uint32_t version) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(entry.Write(version, bytes, &error)) << error;
    return bytes;
}

// A version-4 entry made by hand from a tag list, a seek record count and the record bytes
// that follow it (fewer than the count says, to build broken entries).
std::vector<uint8_t> TaggedEntry(const Mpeg2PsMetadata& tags, uint32_t count,
                                 const std::vector<uint8_t>& records = {}) {
    std::vector<uint8_t> list;
    EXPECT_TRUE(tags.Write(list));
    std::vector<uint8_t> bytes(12 + list.size() + 4 + records.size());
    SV::WriteBigEndian32(kIndexMagic, bytes.data());                                   // magic
    SV::WriteBigEndian32(4, bytes.data() + 4);                                         // version
    SV::WriteBigEndian32(static_cast<uint32_t>(bytes.size() - 12), bytes.data() + 8);  // L
    std::copy(list.begin(), list.end(), bytes.begin() + 12);                           // tag list
    SV::WriteBigEndian32(count, bytes.data() + 12 + list.size());                      // N
    std::copy(records.begin(), records.end(), bytes.begin() + 12 + list.size() + 4);
    return bytes;
}

// The tags every version-4 entry needs.
Mpeg2PsMetadata RequiredTags() {
    Mpeg2PsMetadata tags(0);
    tags.SetUInt64(TagOffset, 100);
    tags.SetUInt64(TagSize, 1000);
    tags.SetUInt32(TagDuration, 90000);
    tags.SetUInt32(TagBitRate, 8000);
    return tags;
}

struct ReadResult {
    Mpeg2PsResult result;
    boost::shared_ptr<MediaTrack> track;
    std::vector<uint8_t> left;  // the index buffer afterwards
    uint32_t longest;
};

ReadResult Read(std::vector<uint8_t> buffer,
                const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap = {}) {
    ReadResult r;
    r.longest = 0;
    r.result = Reader::ParseIndexEntry(buffer, nullptr, esMap, r.longest, r.track);
    r.left = buffer;
    return r;
}

uint32_t U32(const MediaTrack& track, const char* key) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(track.GetInfo().GetUnsignedInt(key, value)) << key;
    return value;
}

uint64_t U64(const MediaTrack& track, const char* key) {
    uint64_t value = 0;
    EXPECT_TRUE(track.GetInfo().GetUnsignedLong(key, value)) << key;
    return value;
}

float Float(const MediaTrack& track, const char* key) {
    float value = 0;
    EXPECT_TRUE(track.GetInfo().GetFloat(key, value)) << key;
    return value;
}

std::vector<uint8_t> Data(const MediaTrack& track, const char* key) {
    const SV::SVDataBlob* blob = nullptr;
    EXPECT_TRUE(track.GetInfo().GetDataBlob(key, blob)) << key;
    return blob ? *blob : std::vector<uint8_t>();
}

bool Has(const MediaTrack& track, const char* key) {
    return track.GetInfo().GetValue(key) != nullptr;
}

std::vector<uint8_t> Digest(const std::vector<uint8_t>& bytes) {
    SV::Sha256Context context;
    std::vector<uint8_t> digest(SV::kSha256DigestLength);
    EXPECT_EQ(1, SV::Sha256Init(&context));
    EXPECT_EQ(1, SV::Sha256Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size())));
    EXPECT_EQ(1, SV::Sha256Final(digest.data(), &context));
    return digest;
}

TEST(Mpeg2PsIndexEntryReader, EveryWrittenVersionReadsBack) {
    const Mpeg2PsIndexEntry entry = FullEntry();
    for (uint32_t version = 0; version <= 4; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        // Bytes after the entry go with it.
        std::vector<uint8_t> bytes = Written(entry, version);
        bytes.push_back(0xEE);
        const ReadResult r = Read(bytes);
        ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
        ASSERT_TRUE(r.track);
        EXPECT_TRUE(r.left.empty());
        const MediaTrack& track = *r.track;
        const MediaTrackIndex& index = track.GetIndex();

        EXPECT_EQ(90000u, index.GetTimescale());
        EXPECT_EQ(5000u, index.GetOffset());
        EXPECT_EQ(5000u, U64(track, TrackInfoKey_Offset));
        EXPECT_EQ(entry.size, index.GetSize());
        EXPECT_EQ(entry.size, U64(track, TrackInfoKey_Size));
        EXPECT_EQ(1800000u, index.GetDuration());
        EXPECT_EQ(20000000u, U64(track, TrackInfoKey_Duration));  // microseconds
        EXPECT_EQ(1800000u, r.longest);
        EXPECT_EQ(1500000u, U32(track, TrackInfoKey_BitRate));
        EXPECT_EQ(-4, track.GetTrickPlayRate());

        // The seek points, accumulated from the deltas.
        ASSERT_EQ(3u, index.GetCount());
        EXPECT_EQ(0u, index.GetEntries()[0].time);
        EXPECT_EQ(5000u, index.GetEntries()[0].position);
        EXPECT_EQ(3000u, index.GetEntries()[1].time);
        EXPECT_EQ(6000u, index.GetEntries()[1].position);
        EXPECT_EQ(6000u, index.GetEntries()[2].time);
        EXPECT_EQ(6500u, index.GetEntries()[2].position);

        if (version < 2) {
            // No groups: both formats 1, frame duration 3750 (version 0) or the stored one.
            EXPECT_EQ(1u, U32(track, TrackInfoKey_VideoFormat));
            EXPECT_EQ(1u, U32(track, TrackInfoKey_AudioFormat));
            EXPECT_FALSE(Has(track, TrackInfoKey_VideoWidth));
            EXPECT_EQ(version == 0 ? 3750u : 3600u, index.GetFrameDuration());
            EXPECT_EQ(version == 0 ? 24.0f : 25.0f, Float(track, TrackInfoKey_VideoFrameRate));
            EXPECT_FALSE(Has(track, TrackInfoKey_AdaptationInterval));
        } else {
            EXPECT_EQ(1u, U32(track, TrackInfoKey_VideoFormat));
            EXPECT_EQ(100u, U32(track, TrackInfoKey_VideoProfile));
            EXPECT_EQ(30u, U32(track, TrackInfoKey_VideoLevel));
            EXPECT_EQ(640u, U32(track, TrackInfoKey_VideoWidth));
            EXPECT_EQ(360u, U32(track, TrackInfoKey_VideoHeight));
            EXPECT_EQ(1400000u, U32(track, TrackInfoKey_VideoBitRate));
            EXPECT_EQ(3600u, index.GetFrameDuration());
            EXPECT_EQ(25.0f, Float(track, TrackInfoKey_VideoFrameRate));
            EXPECT_EQ(3u, U32(track, TrackInfoKey_AudioFormat));
            EXPECT_EQ(2u, U32(track, TrackInfoKey_AudioProfile));
            EXPECT_EQ(2u, U32(track, TrackInfoKey_AudioNumChannels));
            EXPECT_EQ(48000u, U32(track, TrackInfoKey_AudioSampleFrequency));
            EXPECT_EQ(96000u, U32(track, TrackInfoKey_AudioBitRate));
            EXPECT_EQ(180000u, index.GetAdaptationInterval());
            EXPECT_EQ(2.0f, Float(track, TrackInfoKey_AdaptationInterval));
        }
        if (version >= 3) {
            EXPECT_EQ(0xA5A5A5A5u, U32(track, TrackInfoKey_Flags));
        } else {
            EXPECT_FALSE(Has(track, TrackInfoKey_Flags));
        }
        if (version == 4) {
            // Only the tagged layout carries these.
            EXPECT_EQ(2u, U32(track, TrackInfoKey_Version));
            EXPECT_EQ(4u, U32(track, TrackInfoKey_VideoPixelWidth));
            EXPECT_EQ(3u, U32(track, TrackInfoKey_VideoPixelHeight));
            EXPECT_EQ(0xE0u, U32(track, TrackInfoKey_VideoMpegStreamId));
            EXPECT_EQ(0x1Bu, U32(track, TrackInfoKey_VideoMpegStreamType));
            EXPECT_EQ(entry.video->avcDecoderConfigurationRecord,
                      Data(track, TrackInfoKey_AVCDecoderConfigurationRecord));
            EXPECT_EQ(16u, U32(track, TrackInfoKey_AudioSampleSize));
            EXPECT_EQ(0xC0u, U32(track, TrackInfoKey_AudioMpegStreamId));
            EXPECT_EQ(entry.audio->esDescriptor, Data(track, TrackInfoKey_AudioEsDescriptor));
            EXPECT_FALSE(Has(track, TrackInfoKey_AudioEC3SpecificData));
            EXPECT_EQ("eng", track.GetInfo().GetStringOrDefault(TrackInfoKey_AudioIdentifier, ""));
            EXPECT_TRUE(track.HasAudio() && track.HasVideo());
        } else {
            // The fixed layouts may serve either kind of stream.
            EXPECT_TRUE(track.HasAudio());
            EXPECT_TRUE(track.HasVideo());
            EXPECT_FALSE(Has(track, TrackInfoKey_Version));
        }
    }
}

TEST(Mpeg2PsIndexEntryReader, TaggedEntriesMarkOnlyTheKindsTheyDescribe) {
    Mpeg2PsIndexEntry video;
    video.offset = 10;
    video.size = 100;
    video.duration = 9000;
    video.video = Mpeg2PsIndexEntry::Video();
    video.video->format = 1;
    Mpeg2PsIndexEntry audio = video;
    audio.video.reset();
    audio.audio = Mpeg2PsIndexEntry::Audio();
    audio.audio->format = 3;

    ReadResult r = Read(Written(video, 4));
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_TRUE(r.track->HasVideo());
    EXPECT_FALSE(r.track->HasAudio());
    EXPECT_EQ(0u, r.track->GetIndex().GetFrameDuration());  // 0x0D absent
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_VideoFrameRate));
    EXPECT_EQ(0u, U32(*r.track, TrackInfoKey_Version));  // always set, 0 when absent
    EXPECT_EQ(0u, r.track->GetIndex().GetCount());

    r = Read(Written(audio, 4));
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_TRUE(r.track->HasAudio());
    EXPECT_FALSE(r.track->HasVideo());
}

TEST(Mpeg2PsIndexEntryReader, AudioFormatTwoMeansSixChannelsAndNoEc3Data) {
    Mpeg2PsMetadata tags = RequiredTags();
    tags.SetUInt8(TagAudioFormat, 2);
    tags.SetUInt8(TagAudioNumChannels, 2);
    tags.SetBytes(TagAudioEC3SpecificDataAlt, {1, 2, 3});
    ReadResult r = Read(TaggedEntry(tags, 0));
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_EQ(6u, U32(*r.track, TrackInfoKey_AudioNumChannels));
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_AudioEC3SpecificData));

    // Another format takes the second E-AC-3 tag; the first one wins over it.
    tags.SetUInt8(TagAudioFormat, 5);
    r = Read(TaggedEntry(tags, 0));
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_EQ(2u, U32(*r.track, TrackInfoKey_AudioNumChannels));
    EXPECT_EQ(std::vector<uint8_t>({1, 2, 3}), Data(*r.track, TrackInfoKey_AudioEC3SpecificData));
    tags.SetBytes(TagAudioEC3SpecificData, {9});
    r = Read(TaggedEntry(tags, 0));
    EXPECT_EQ(std::vector<uint8_t>({9}), Data(*r.track, TrackInfoKey_AudioEC3SpecificData));
}

TEST(Mpeg2PsIndexEntryReader, AVideoGroupOfFormatZeroIsSkipped) {
    Mpeg2PsIndexEntry entry = FullEntry();
    entry.video.reset();  // written as a group with format byte 0
    const ReadResult r = Read(Written(entry, 2));
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_VideoFormat));
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_VideoWidth));
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_VideoFrameRate));
    EXPECT_TRUE(r.track->HasVideo());
    EXPECT_EQ(48000u, U32(*r.track, TrackInfoKey_AudioSampleFrequency));  // read at byte 53
}

TEST(Mpeg2PsIndexEntryReader, StreamsNotNamedByTheEntryComeFromTheStreamMap) {
    Mpeg2PsIndexEntry entry = FullEntry();
    const std::vector<Mpeg2PsPsm::EsMapEntry> esMap = {
        {0xBD, kStreamTypeEac3, {}}, {0xE1, kStreamTypeH264, {}}, {0xC0, kStreamTypeAacAdts, {}}};
    ReadResult r = Read(Written(entry, 2), esMap);
    ASSERT_EQ(Mpeg2PsResult::Ok, r.result);
    EXPECT_EQ(0xBDu, U32(*r.track, TrackInfoKey_AudioMpegStreamId));  // first audio-like
    EXPECT_EQ(0x87u, U32(*r.track, TrackInfoKey_AudioMpegStreamType));
    EXPECT_EQ(0xE1u, U32(*r.track, TrackInfoKey_VideoMpegStreamId));
    EXPECT_EQ(0x1Bu, U32(*r.track, TrackInfoKey_VideoMpegStreamType));

    // An entry that names its streams keeps them; without a matching stream nothing is set.
    r = Read(Written(entry, 4), esMap);
    EXPECT_EQ(0xC0u, U32(*r.track, TrackInfoKey_AudioMpegStreamId));
    r = Read(Written(entry, 2), {{0xBF, 0x00, {}}});
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_AudioMpegStreamId));
    EXPECT_FALSE(Has(*r.track, TrackInfoKey_VideoMpegStreamId));
}

TEST(Mpeg2PsIndexEntryReader, BrokenEntriesGiveTheirCodeAndLeaveNothingBehind) {
    const std::vector<uint8_t> good = Written(FullEntry(), 4);
    std::vector<uint8_t> badMagic = good;
    badMagic[0] = 'X';
    std::vector<uint8_t> version5 = good;
    version5[7] = 5;
    Mpeg2PsMetadata noBitRate = RequiredTags();
    noBitRate.Remove(TagBitRate);
    Mpeg2PsMetadata wrongType = RequiredTags();
    wrongType.SetUInt16(TagBitRate, 8);  // the format gives uint32
    Mpeg2PsMetadata wrongOptional = RequiredTags();
    wrongOptional.SetUInt32(TagVideoFormat, 1);  // the format gives uint8
    std::vector<uint8_t> badList = TaggedEntry(RequiredTags(), 0);
    badList[12] = 200;  // more entries than the list holds
    // Fixed layout: the count field at 38 for version 0.
    std::vector<uint8_t> hugeCount = Written(FullEntry(), 0);
    SV::WriteBigEndian32(0x2AAAAAAB, hugeCount.data() + 38);  // 6 x N wraps 32 bits to 2
    std::vector<uint8_t> hugeLength = good;
    SV::WriteBigEndian32(0xFFFFFFF0, hugeLength.data() + 8);
    std::vector<uint8_t> tagsFillEntry = TaggedEntry(RequiredTags(), 0);
    tagsFillEntry.resize(tagsFillEntry.size() - 4);  // no room left for the count
    SV::WriteBigEndian32(static_cast<uint32_t>(tagsFillEntry.size() - 12),
                         tagsFillEntry.data() + 8);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Mpeg2PsResult expected;
    };
    const Case cases[] = {
        {"eleven bytes are not waited for", std::vector<uint8_t>(good.begin(), good.begin() + 11),
         Mpeg2PsResult::EntryTooShort},
        {"wrong magic", badMagic, Mpeg2PsResult::BadMagic},
        {"version 5", version5, Mpeg2PsResult::UnknownVersion},
        {"required tag missing", TaggedEntry(noBitRate, 0), Mpeg2PsResult::BadTags},
        {"required tag of another type", TaggedEntry(wrongType, 0), Mpeg2PsResult::BadTags},
        {"optional tag of another type", TaggedEntry(wrongOptional, 0), Mpeg2PsResult::BadTags},
        {"unreadable tag list", badList, Mpeg2PsResult::BadTags},
        {"seek table longer than the entry", TaggedEntry(RequiredTags(), 2, {0, 0, 1, 0, 0, 1}),
         Mpeg2PsResult::SeekTableTooLong},
        {"seek count whose bytes wrap 32 bits (tagged)", TaggedEntry(RequiredTags(), 0x2AAAAAAB),
         Mpeg2PsResult::SeekTableTooLong},
        {"no room for the seek count", tagsFillEntry, Mpeg2PsResult::SeekTableTooLong},
        {"seek count whose bytes wrap 32 bits (fixed)", hugeCount,
         Mpeg2PsResult::SeekTableNotStored},
        {"length beyond the size limit", hugeLength, Mpeg2PsResult::SeekTableNotStored},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult r = Read(c.bytes);
        EXPECT_EQ(c.expected, r.result);
        EXPECT_FALSE(r.track);
        EXPECT_TRUE(r.left.empty());
        EXPECT_EQ(0u, r.longest);
    }
}

TEST(Mpeg2PsIndexEntryReader, AFailedEntryDoesNotSpoilTheNextOne) {
    // As the parser uses it: one buffer, appended to packet by packet.
    std::vector<uint8_t> buffer = TaggedEntry(RequiredTags(), 1);  // record missing
    uint32_t longest = 0;
    boost::shared_ptr<MediaTrack> track;
    EXPECT_EQ(Mpeg2PsResult::SeekTableTooLong,
              Reader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
    const std::vector<uint8_t> good = Written(FullEntry(), 3);
    buffer.insert(buffer.end(), good.begin(), good.end());
    EXPECT_EQ(Mpeg2PsResult::Ok, Reader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
    ASSERT_TRUE(track);
    EXPECT_EQ(3u, track->GetIndex().GetCount());
}

TEST(Mpeg2PsIndexEntryReader, AnEntrySplitAcrossPacketsWaitsThenReads) {
    for (uint32_t version : {0u, 2u, 4u}) {
        SCOPED_TRACE("version " + std::to_string(version));
        const std::vector<uint8_t> whole = Written(FullEntry(), version);
        std::vector<uint8_t> buffer(whole.begin(), whole.begin() + 20);
        uint32_t longest = 0;
        boost::shared_ptr<MediaTrack> track;
        EXPECT_EQ(Mpeg2PsResult::EntryIncomplete,
                  Reader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
        EXPECT_EQ(20u, buffer.size());  // kept for the next packet
        EXPECT_FALSE(track);
        // One short of the whole entry still waits: the last seek record is missing.
        buffer.assign(whole.begin(), whole.end() - 1);
        EXPECT_EQ(Mpeg2PsResult::EntryIncomplete,
                  Reader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
        buffer.push_back(whole.back());
        EXPECT_EQ(Mpeg2PsResult::Ok, Reader::ParseIndexEntry(buffer, nullptr, {}, longest, track));
        ASSERT_TRUE(track);
        EXPECT_EQ(3u, track->GetIndex().GetCount());
    }
}

TEST(Mpeg2PsIndexEntryReader, TheDigestCoversEveryBufferFedToIt) {
    const std::vector<uint8_t> first = Written(FullEntry(), 4);
    Mpeg2PsIndexEntry other = FullEntry();
    other.offset = 6000;
    other.seekPoints = {{0, 6000}};
    const std::vector<uint8_t> second = Written(other, 2);

    // Entries each in one packet: the digest is that of the entry bytes.
    SV::Sha256Context context;
    ASSERT_EQ(1, SV::Sha256Init(&context));
    uint32_t longest = 0;
    boost::shared_ptr<MediaTrack> track;
    std::vector<uint8_t> buffer = first;
    ASSERT_EQ(Mpeg2PsResult::Ok, Reader::ParseIndexEntry(buffer, &context, {}, longest, track));
    buffer = second;
    ASSERT_EQ(Mpeg2PsResult::Ok, Reader::ParseIndexEntry(buffer, &context, {}, longest, track));
    std::vector<uint8_t> digest(32);
    ASSERT_EQ(1, SV::Sha256Final(digest.data(), &context));
    std::vector<uint8_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(Digest(both), digest);

    // An entry over two packets is fed at each attempt: the first part, then the whole.
    ASSERT_EQ(1, SV::Sha256Init(&context));
    const size_t cut = first.size() / 2;
    buffer.assign(first.begin(), first.begin() + cut);
    ASSERT_EQ(Mpeg2PsResult::EntryIncomplete,
              Reader::ParseIndexEntry(buffer, &context, {}, longest, track));
    buffer.insert(buffer.end(), first.begin() + cut, first.end());
    ASSERT_EQ(Mpeg2PsResult::Ok, Reader::ParseIndexEntry(buffer, &context, {}, longest, track));
    ASSERT_EQ(1, SV::Sha256Final(digest.data(), &context));
    std::vector<uint8_t> fed(first.begin(), first.begin() + cut);
    fed.insert(fed.end(), first.begin(), first.end());
    EXPECT_EQ(Digest(fed), digest);
    EXPECT_NE(Digest(first), digest);
}

TEST(Mpeg2PsIndexEntryReader, TakesTheParsersStreamMapAsItIs) {
    // The map as the parser holds it, descriptors included.
    Mpeg2PsPsm psm;
    psm.AddEsInfo(0xE0, 0x1B);
    psm.AddEsInfo(0xC0, 0x0F);
    const uint8_t descriptor[] = {1, 2};
    psm.AddEsDescriptor(0xC0, descriptor, sizeof descriptor);
    std::vector<uint8_t> buffer = Written(FullEntry(), 1);
    uint32_t longest = 0;
    boost::shared_ptr<MediaTrack> track;
    ASSERT_EQ(Mpeg2PsResult::Ok,
              Reader::ParseIndexEntry(buffer, nullptr, psm.GetEsMap(), longest, track));
    EXPECT_EQ(0xC0u, U32(*track, TrackInfoKey_AudioMpegStreamId));
    EXPECT_EQ(0xE0u, U32(*track, TrackInfoKey_VideoMpegStreamId));
}

}  // namespace
}  // namespace SarvelonMediaKit
