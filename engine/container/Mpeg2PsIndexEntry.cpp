#include "engine/container/Mpeg2PsIndexEntry.h"

#include <algorithm>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// The tag list of a version-4 entry.
Mpeg2PsMetadata MakeTags(const Mpeg2PsIndexEntry& entry) {
    Mpeg2PsMetadata tags(0);
    tags.SetUInt64(TagOffset, entry.offset);
    tags.SetUInt64(TagSize, entry.size);
    tags.SetUInt32(TagDuration, entry.duration);
    tags.SetUInt32(TagBitRate, entry.bitRate);
    if (entry.trackVersion) tags.SetUInt32(TagVersion, *entry.trackVersion);
    if (entry.adaptationInterval) tags.SetUInt32(TagAdaptationInterval, entry.adaptationInterval);
    if (entry.trickPlayRate) tags.SetInt16(TagTrickPlayRate, entry.trickPlayRate);
    if (entry.flags) tags.SetUInt32(TagFlags, *entry.flags);
    if (entry.video) {
        const Mpeg2PsIndexEntry::Video& v = *entry.video;
        tags.SetUInt8(TagVideoFormat, v.format);
        tags.SetUInt8(TagVideoProfile, v.profile);
        tags.SetUInt8(TagVideoLevel, v.level);
        tags.SetUInt16(TagVideoWidth, v.width);
        tags.SetUInt16(TagVideoHeight, v.height);
        if (v.pixelWidth) tags.SetUInt16(TagVideoPixelWidth, *v.pixelWidth);
        if (v.pixelHeight) tags.SetUInt16(TagVideoPixelHeight, *v.pixelHeight);
        if (v.frameDuration) tags.SetUInt32(TagFrameDuration, v.frameDuration);
        tags.SetUInt32(TagVideoBitRate, v.bitRate);
        if (v.mpegStreamId) tags.SetUInt8(TagVideoMpegStreamId, *v.mpegStreamId);
        if (v.mpegStreamType) tags.SetUInt8(TagVideoMpegStreamType, *v.mpegStreamType);
        if (!v.avcDecoderConfigurationRecord.empty())
            tags.SetBytes(TagAVCDecoderConfigurationRecord, v.avcDecoderConfigurationRecord);
    }
    if (entry.audio) {
        const Mpeg2PsIndexEntry::Audio& a = *entry.audio;
        tags.SetUInt8(TagAudioFormat, a.format);
        tags.SetUInt8(TagAudioProfile, a.profile);
        tags.SetUInt8(TagAudioNumChannels, a.numChannels);
        tags.SetUInt32(TagAudioSampleFrequency, a.sampleFrequency);
        if (a.sampleSize) tags.SetUInt8(TagAudioSampleSize, *a.sampleSize);
        tags.SetUInt32(TagAudioBitRate, a.bitRate);
        if (a.mpegStreamId) tags.SetUInt8(TagAudioMpegStreamId, *a.mpegStreamId);
        if (a.mpegStreamType) tags.SetUInt8(TagAudioMpegStreamType, *a.mpegStreamType);
        if (!a.esDescriptor.empty()) tags.SetBytes(TagAudioEsDescriptor, a.esDescriptor);
        if (!a.ec3SpecificData.empty()) tags.SetBytes(TagAudioEC3SpecificData, a.ec3SpecificData);
        if (!a.identifier.empty()) tags.SetString(TagAudioIdentifier, a.identifier);
    }
    return tags;
}

// Writes the seek records: each point as the difference to the previous one (the first from
// time 0 and the track offset), 24 bits of ticks, then 24 bits of bytes.
bool WriteSeekRecords(const Mpeg2PsIndexEntry& entry, uint8_t* p, std::string* error) {
    uint64_t time = 0;
    uint64_t position = entry.offset;
    const uint64_t end = entry.offset + entry.size;
    for (size_t i = 0; i < entry.seekPoints.size(); ++i) {
        const Mpeg2PsIndexEntry::SeekPoint& point = entry.seekPoints[i];
        const std::string which = "seek point " + std::to_string(i);
        if (point.position < entry.offset || point.position >= end)
            return Fail(error, which + " lies outside the track");
        if (point.time < time || point.position < position)
            return Fail(error, which + " goes back in time or position");
        if (point.time - time > kSeekRecordDeltaMax)
            return Fail(error, which + " is more than 0xFFFFFF ticks after the previous one");
        if (point.position - position > kSeekRecordDeltaMax)
            return Fail(error, which + " is more than 0xFFFFFF bytes after the previous one");
        const uint32_t timeDelta = static_cast<uint32_t>(point.time - time);
        const uint32_t byteDelta = static_cast<uint32_t>(point.position - position);
        p[0] = static_cast<uint8_t>(timeDelta >> 16);  // time delta, 24 bits
        p[1] = static_cast<uint8_t>(timeDelta >> 8);
        p[2] = static_cast<uint8_t>(timeDelta);
        p[3] = static_cast<uint8_t>(byteDelta >> 16);  // byte delta, 24 bits
        p[4] = static_cast<uint8_t>(byteDelta >> 8);
        p[5] = static_cast<uint8_t>(byteDelta);
        p += kSeekRecordSize;
        time = point.time;
        position = point.position;
    }
    return true;
}

}  // namespace

uint64_t Mpeg2PsIndexEntry::GetSize(uint32_t version) const {
    const uint64_t records = static_cast<uint64_t>(kSeekRecordSize) * seekPoints.size();
    if (version == kIndexEntryVersionTagged)
        return kIndexEntryMinimumSize + MakeTags(*this).GetSize() + 4 + records;
    if (version < kIndexEntryVersionTagged)
        return kFixedIndexLayouts[version].seekRecords + records;
    return 0;
}

bool Mpeg2PsIndexEntry::Write(uint32_t version, std::vector<uint8_t>& out,
                              std::string* error) const {
    if (version > kIndexEntryVersionMax)
        return Fail(error, "index entry version " + std::to_string(version) + " does not exist");
    if (video && video->format == 0) return Fail(error, "the video format must not be 0");
    if (audio && audio->format == 0) return Fail(error, "the audio format must not be 0");
    if (seekPoints.size() > UINT32_MAX) return Fail(error, "too many seek points");
    const uint64_t entrySize = GetSize(version);
    if (entrySize > UINT32_MAX) return Fail(error, "the index entry is larger than 4 GB");

    std::vector<uint8_t> entry(static_cast<size_t>(entrySize), 0);
    uint8_t* p = entry.data();
    SV::WriteBigEndian32(kIndexMagic, p);  // magic "IDMi"
    SV::WriteBigEndian32(version, p + 4);  // entry version
    const uint32_t count = static_cast<uint32_t>(seekPoints.size());
    uint8_t* records;

    if (version == kIndexEntryVersionTagged) {
        SV::WriteBigEndian32(static_cast<uint32_t>(entrySize - kIndexEntryMinimumSize),
                             p + 8);  // L: everything after these 12 bytes
        std::vector<uint8_t> tags;
        MakeTags(*this).Write(tags);  // bare tag list
        std::copy(tags.begin(), tags.end(), p + kIndexEntryMinimumSize);
        uint8_t* countField = p + kIndexEntryMinimumSize + tags.size();
        SV::WriteBigEndian32(count, countField);  // seek record count
        records = countField + 4;
    } else {
        const FixedIndexLayout& layout = kFixedIndexLayouts[version];
        SV::WriteBigEndian64(offset, p + layout.offset);
        SV::WriteBigEndian64(size, p + layout.size);
        SV::WriteBigEndian32(duration, p + layout.duration);
        if (layout.frameDuration)
            SV::WriteBigEndian32(video ? video->frameDuration : 0, p + layout.frameDuration);
        SV::WriteBigEndian32(bitRate, p + layout.bitRate);
        // The unused bytes of versions 0 and 1 stay 0.
        SV::WriteBigEndian16(static_cast<uint16_t>(trickPlayRate), p + layout.trickPlayRate);
        if (layout.adaptationInterval)
            SV::WriteBigEndian32(adaptationInterval, p + layout.adaptationInterval);
        if (layout.videoGroup && video) {  // absent group: format byte 0
            uint8_t* g = p + layout.videoGroup;
            g[0] = video->format;
            g[1] = video->profile;
            g[2] = video->level;
            SV::WriteBigEndian16(video->width, g + 3);
            SV::WriteBigEndian16(video->height, g + 5);
            SV::WriteBigEndian32(video->frameDuration, g + 7);
            SV::WriteBigEndian32(video->bitRate, g + 11);
        }
        if (layout.audioGroup && audio) {
            uint8_t* g = p + layout.audioGroup;
            g[0] = audio->format;
            g[1] = audio->profile;
            g[2] = audio->numChannels;
            SV::WriteBigEndian32(audio->sampleFrequency, g + 3);
            SV::WriteBigEndian32(audio->bitRate, g + 7);
        }
        if (layout.flags) SV::WriteBigEndian32(flags.value_or(0), p + layout.flags);
        SV::WriteBigEndian32(count, p + layout.seekCount);  // seek record count
        records = p + layout.seekRecords;
    }
    if (!WriteSeekRecords(*this, records, error)) return false;
    out.insert(out.end(), entry.begin(), entry.end());
    return true;
}

}  // namespace SarvelonMediaKit
