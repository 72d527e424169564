#include "engine/container/Mpeg2PsIndexEntryReader.h"

#include <boost/any.hpp>
#include <boost/make_shared.hpp>

#include <string>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;
typedef Mpeg2PsIndexEntryReader Reader;

void SetU32(MediaTrack& track, const char* key, uint32_t value) {
    track.GetInfo().SetValue(key, SV::SVTypedValue(value));
}

void SetU64(MediaTrack& track, const char* key, uint64_t value) {
    track.GetInfo().SetValue(key, SV::SVTypedValue(value));
}

void SetFloat(MediaTrack& track, const char* key, float value) {
    track.GetInfo().SetValue(key, SV::SVTypedValue(value));
}

bool Has(const MediaTrack& track, const char* key) {
    return track.GetInfo().GetValue(key) != nullptr;
}

// The duration of the track as the info dictionary holds it: microseconds.
void SetDuration(MediaTrack& track, uint32_t ticks) {
    track.GetIndex().SetDuration(ticks);
    SetU64(track, TrackInfoKey_Duration, static_cast<uint64_t>(ticks) * 1000000 / kTimescale);
}

// Optional tags that go into the dictionary as they are (widened to 32 bits). Each getter
// throws boost::bad_any_cast when the tag came with another type.
void CopyUInt8(const Mpeg2PsMetadata& tags, Mpeg2PsMetadata::Tag tag, MediaTrack& track,
               const char* key) {
    uint8_t value;
    if (tags.GetUInt8(tag, value)) SetU32(track, key, value);
}

void CopyUInt16(const Mpeg2PsMetadata& tags, Mpeg2PsMetadata::Tag tag, MediaTrack& track,
                const char* key) {
    uint16_t value;
    if (tags.GetUInt16(tag, value)) SetU32(track, key, value);
}

void CopyUInt32(const Mpeg2PsMetadata& tags, Mpeg2PsMetadata::Tag tag, MediaTrack& track,
                const char* key) {
    uint32_t value;
    if (tags.GetUInt32(tag, value)) SetU32(track, key, value);
}

bool CopyBytes(const Mpeg2PsMetadata& tags, Mpeg2PsMetadata::Tag tag, MediaTrack& track,
               const char* key) {
    std::vector<uint8_t> value;
    if (!tags.GetBytes(tag, value)) return false;
    track.GetInfo().SetValue(key, SV::SVTypedValue(SV::SVDataBlob(value)));
    return true;
}

// The tags of a version-4 entry, in the order of the format's tag table. False when a
// required tag is missing. Throws boost::bad_any_cast for a tag of an unexpected type.
bool ApplyTags(const Mpeg2PsMetadata& tags, MediaTrack& track) {
    MediaTrackIndex& index = track.GetIndex();

    uint64_t offset;
    if (!tags.GetUInt64(TagOffset, offset)) return false;
    index.SetOffset(offset);
    SetU64(track, TrackInfoKey_Offset, offset);

    uint32_t version = 0;
    tags.GetUInt32(TagVersion, version);
    SetU32(track, TrackInfoKey_Version, version);

    uint64_t size;
    if (!tags.GetUInt64(TagSize, size)) return false;
    index.SetSize(size);
    SetU64(track, TrackInfoKey_Size, size);

    uint32_t duration;
    if (!tags.GetUInt32(TagDuration, duration)) return false;
    SetDuration(track, duration);

    uint32_t bitRate;
    if (!tags.GetUInt32(TagBitRate, bitRate)) return false;
    track.SetBitRate(bitRate);

    uint32_t adaptationInterval = 0;
    tags.GetUInt32(TagAdaptationInterval, adaptationInterval);
    index.SetAdaptationInterval(adaptationInterval);

    int16_t trickPlayRate;
    if (tags.GetInt16(TagTrickPlayRate, trickPlayRate)) track.SetTrickPlayRate(trickPlayRate);

    CopyUInt32(tags, TagFlags, track, TrackInfoKey_Flags);

    if (tags.Has(TagVideoFormat)) {
        CopyUInt8(tags, TagVideoFormat, track, TrackInfoKey_VideoFormat);
        CopyUInt8(tags, TagVideoProfile, track, TrackInfoKey_VideoProfile);
        CopyUInt8(tags, TagVideoLevel, track, TrackInfoKey_VideoLevel);
        CopyUInt16(tags, TagVideoWidth, track, TrackInfoKey_VideoWidth);
        CopyUInt16(tags, TagVideoHeight, track, TrackInfoKey_VideoHeight);
        CopyUInt16(tags, TagVideoPixelWidth, track, TrackInfoKey_VideoPixelWidth);
        CopyUInt16(tags, TagVideoPixelHeight, track, TrackInfoKey_VideoPixelHeight);
        uint32_t frameDuration = 0;
        tags.GetUInt32(TagFrameDuration, frameDuration);
        index.SetFrameDuration(frameDuration);
        CopyUInt32(tags, TagVideoBitRate, track, TrackInfoKey_VideoBitRate);
        CopyUInt8(tags, TagVideoMpegStreamId, track, TrackInfoKey_VideoMpegStreamId);
        CopyUInt8(tags, TagVideoMpegStreamType, track, TrackInfoKey_VideoMpegStreamType);
        CopyBytes(tags, TagAVCDecoderConfigurationRecord, track,
                  TrackInfoKey_AVCDecoderConfigurationRecord);
        track.SetVideo(true);
    }

    if (tags.Has(TagAudioFormat)) {
        CopyUInt8(tags, TagAudioFormat, track, TrackInfoKey_AudioFormat);
        CopyUInt8(tags, TagAudioProfile, track, TrackInfoKey_AudioProfile);
        CopyUInt8(tags, TagAudioNumChannels, track, TrackInfoKey_AudioNumChannels);
        CopyUInt32(tags, TagAudioSampleFrequency, track, TrackInfoKey_AudioSampleFrequency);
        CopyUInt8(tags, TagAudioSampleSize, track, TrackInfoKey_AudioSampleSize);
        CopyUInt32(tags, TagAudioBitRate, track, TrackInfoKey_AudioBitRate);
        CopyUInt8(tags, TagAudioMpegStreamId, track, TrackInfoKey_AudioMpegStreamId);
        CopyUInt8(tags, TagAudioMpegStreamType, track, TrackInfoKey_AudioMpegStreamType);
        // The codec set-up: an ES descriptor, else E-AC-3 data; format 2 means six channels.
        if (!CopyBytes(tags, TagAudioEsDescriptor, track, TrackInfoKey_AudioEsDescriptor) &&
            !CopyBytes(tags, TagAudioEC3SpecificData, track, TrackInfoKey_AudioEC3SpecificData)) {
            if (track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_AudioFormat, 0) == 2) {
                SetU32(track, TrackInfoKey_AudioNumChannels, 6);
            } else {
                CopyBytes(tags, TagAudioEC3SpecificDataAlt, track,
                          TrackInfoKey_AudioEC3SpecificData);
            }
        }
        std::string identifier;
        if (tags.GetString(TagAudioIdentifier, identifier)) {
            track.GetInfo().SetValue(TrackInfoKey_AudioIdentifier, SV::SVTypedValue(identifier));
        }
        track.SetAudio(true);
    }
    return true;
}

// The fields of a fixed-layout entry (versions 0 to 3); the buffer holds the whole entry.
void ApplyFixedFields(uint32_t version, const uint8_t* p, MediaTrack& track) {
    const FixedIndexLayout& layout = kFixedIndexLayouts[version];
    MediaTrackIndex& index = track.GetIndex();

    const uint64_t offset = SV::ReadBigEndian64(p + layout.offset);
    index.SetOffset(offset);
    SetU64(track, TrackInfoKey_Offset, offset);
    const uint64_t size = SV::ReadBigEndian64(p + layout.size);
    index.SetSize(size);
    SetU64(track, TrackInfoKey_Size, size);
    SetDuration(track, SV::ReadBigEndian32(p + layout.duration));
    if (version == 0) {
        index.SetFrameDuration(kVersion0FrameDuration);
    } else if (layout.frameDuration) {
        index.SetFrameDuration(SV::ReadBigEndian32(p + layout.frameDuration));
    }
    track.SetBitRate(SV::ReadBigEndian32(p + layout.bitRate));
    track.SetTrickPlayRate(static_cast<int16_t>(SV::ReadBigEndian16(p + layout.trickPlayRate)));
    if (layout.adaptationInterval) {
        index.SetAdaptationInterval(SV::ReadBigEndian32(p + layout.adaptationInterval));
    }

    if (layout.videoGroup) {
        const uint8_t* g = p + layout.videoGroup;
        if (g[0] != 0) {  // format 0: no video group
            SetU32(track, TrackInfoKey_VideoFormat, g[0]);
            SetU32(track, TrackInfoKey_VideoProfile, g[1]);
            SetU32(track, TrackInfoKey_VideoLevel, g[2]);
            SetU32(track, TrackInfoKey_VideoWidth, SV::ReadBigEndian16(g + 3));
            SetU32(track, TrackInfoKey_VideoHeight, SV::ReadBigEndian16(g + 5));
            index.SetFrameDuration(SV::ReadBigEndian32(g + 7));
            SetU32(track, TrackInfoKey_VideoBitRate, SV::ReadBigEndian32(g + 11));
        }
    }
    if (layout.audioGroup) {
        const uint8_t* g = p + layout.audioGroup;
        if (g[0] != 0) {  // format 0: no audio group
            SetU32(track, TrackInfoKey_AudioFormat, g[0]);
            SetU32(track, TrackInfoKey_AudioProfile, g[1]);
            SetU32(track, TrackInfoKey_AudioNumChannels, g[2]);
            SetU32(track, TrackInfoKey_AudioSampleFrequency, SV::ReadBigEndian32(g + 3));
            SetU32(track, TrackInfoKey_AudioBitRate, SV::ReadBigEndian32(g + 7));
        }
    }
    if (version < 2) {
        // The oldest layouts describe no codecs.
        SetU32(track, TrackInfoKey_VideoFormat, 1);
        SetU32(track, TrackInfoKey_AudioFormat, 1);
    }
    if (layout.flags) {
        SetU32(track, TrackInfoKey_Flags, SV::ReadBigEndian32(p + layout.flags));
    }
    // A fixed-layout entry may serve either kind of stream.
    track.SetAudio(true);
    track.SetVideo(true);
}

// Names the MPEG streams of an entry that does not: the first audio stream (0xC0-0xDF, or
// E-AC-3 by its stream type) and the first video stream (0xE0-0xEF) of the stream map.
void FillStreamIds(const std::vector<Reader::EsStream>& esMap, MediaTrack& track) {
    if (Has(track, TrackInfoKey_AudioFormat) && !Has(track, TrackInfoKey_AudioMpegStreamId)) {
        for (const Reader::EsStream& stream : esMap) {
            if ((stream.streamId & 0xE0) == 0xC0 || stream.streamType == kStreamTypeEac3) {
                SetU32(track, TrackInfoKey_AudioMpegStreamId, stream.streamId);
                SetU32(track, TrackInfoKey_AudioMpegStreamType, stream.streamType);
                break;
            }
        }
    }
    if (Has(track, TrackInfoKey_VideoFormat) && !Has(track, TrackInfoKey_VideoMpegStreamId)) {
        for (const Reader::EsStream& stream : esMap) {
            if ((stream.streamId & 0xF0) == 0xE0) {
                SetU32(track, TrackInfoKey_VideoMpegStreamId, stream.streamId);
                SetU32(track, TrackInfoKey_VideoMpegStreamType, stream.streamType);
                break;
            }
        }
    }
}

}  // namespace

Mpeg2PsIndexEntryReader::Result Mpeg2PsIndexEntryReader::ParseIndexEntry(
    std::vector<uint8_t>& indexBuffer, SV::Sha256Context* digest,
    const std::vector<EsStream>& esMap, uint32_t& longestDuration,
    boost::shared_ptr<MediaTrack>& track) {
    track.reset();
    // Every result but "incomplete" ends the entry: its bytes must not stay in front of the
    // next one.
    auto fail = [&indexBuffer](Result result) {
        indexBuffer.clear();
        return result;
    };

    const uint64_t buffered = indexBuffer.size();
    if (buffered < kIndexEntryMinimumSize) return fail(ResultEntryTooShort);
    if (digest) {
        if (buffered > UINT32_MAX ||
            SV::Sha256Update(digest, indexBuffer.data(), static_cast<uint32_t>(buffered)) != 1) {
            return fail(ResultDigestFailed);
        }
    }
    const uint8_t* p = indexBuffer.data();
    if (SV::ReadBigEndian32(p) != kIndexMagic) {
        DebugPrint("ParseIndexEntry: Invalid magic\n");
        return fail(ResultBadMagic);
    }
    const uint32_t version = SV::ReadBigEndian32(p + 4);
    if (version > kIndexEntryVersionMax) return fail(ResultUnknownVersion);

    boost::shared_ptr<MediaTrack> made = boost::make_shared<MediaTrack>();
    made->GetIndex().SetTimescale(kTimescale);

    uint64_t countPosition;  // of the seek record count
    uint64_t entryEnd;       // the seek records must end by here
    if (version == kIndexEntryVersionTagged) {
        const uint64_t length = SV::ReadBigEndian32(p + 8);
        entryEnd = kIndexEntryMinimumSize + length;
        if (entryEnd > kMaxEntrySize) return fail(ResultSeekTableNotStored);
        if (buffered < entryEnd) return ResultEntryIncomplete;

        Mpeg2PsMetadata tags(0);
        size_t consumed = 0;
        if (!tags.Read(p + kIndexEntryMinimumSize, static_cast<size_t>(length), consumed)) {
            return fail(ResultBadTags);
        }
        try {
            if (!ApplyTags(tags, *made)) return fail(ResultBadTags);
        } catch (const boost::bad_any_cast&) {
            // A tag sent with another type than the format gives it: as if it were missing.
            return fail(ResultBadTags);
        }
        countPosition = kIndexEntryMinimumSize + consumed;
    } else {
        const FixedIndexLayout& layout = kFixedIndexLayouts[version];
        countPosition = layout.seekCount;
        if (buffered < countPosition + 4) return ResultEntryIncomplete;
        // 6 x N is counted in 64 bits: a 32-bit product wraps for large N.
        const uint64_t count = SV::ReadBigEndian32(p + countPosition);
        entryEnd = countPosition + 4 + kSeekRecordSize * count;
        if (entryEnd > kMaxEntrySize) return fail(ResultSeekTableNotStored);
        if (buffered < entryEnd) return ResultEntryIncomplete;
        ApplyFixedFields(version, p, *made);
    }

    MediaTrackIndex& index = made->GetIndex();
    if (index.GetFrameDuration() != 0) {
        SetFloat(*made, TrackInfoKey_VideoFrameRate,
                 static_cast<float>(double(kTimescale) / index.GetFrameDuration()));
    }
    if (index.GetAdaptationInterval() != 0) {
        SetFloat(*made, TrackInfoKey_AdaptationInterval,
                 static_cast<float>(index.GetAdaptationInterval() / double(kTimescale)));
    }
    FillStreamIds(esMap, *made);

    // The seek table, inside the entry.
    if (countPosition + 4 > entryEnd) return fail(ResultSeekTableTooLong);
    const uint32_t count = SV::ReadBigEndian32(p + countPosition);
    const uint64_t recordsStart = countPosition + 4;
    if (kSeekRecordSize * static_cast<uint64_t>(count) > entryEnd - recordsStart) {
        return fail(ResultSeekTableTooLong);
    }
    if (!index.Reserve(count)) return fail(ResultSeekTableNotStored);
    uint32_t time = 0;
    uint64_t position = index.GetOffset();
    const uint8_t* record = p + recordsStart;
    for (uint32_t i = 0; i < count; ++i, record += kSeekRecordSize) {
        time += (uint32_t(record[0]) << 16) | (uint32_t(record[1]) << 8) | record[2];
        position += (uint32_t(record[3]) << 16) | (uint32_t(record[4]) << 8) | record[5];
        if (!index.AddEntry(time, position)) return fail(ResultSeekTableNotStored);
    }

    // Only an entry that was read whole counts toward the title's duration.
    if (index.GetDuration() > longestDuration) longestDuration = index.GetDuration();
    indexBuffer.clear();  // one entry per run of private stream 2 packets
    track = made;
    return ResultOk;
}

}  // namespace SarvelonMediaKit
