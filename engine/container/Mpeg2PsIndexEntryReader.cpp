#include "engine/container/Mpeg2PsIndexEntryReader.h"

#include <boost/any.hpp>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <string>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/ByteReader.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;

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
    SetU64(track, TrackInfoKey_Duration, UnitsToMicroseconds(ticks, kTicksPerSecond));
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

// Reads the fields of a fixed-layout entry (versions 0 to 3), from the track offset up to the
// seek record count, in the order the layout table lists them (a field at offset 0 is absent
// from the version). False, and the track untouched, when the bytes end first.
bool ReadFixedFields(uint32_t version, ByteReader& in, MediaTrack& track) {
    const FixedIndexLayout& layout = kFixedIndexLayouts[version];
    const uint64_t offset = in.U64();
    const uint64_t size = in.U64();
    const uint32_t duration = in.U32();
    const uint32_t frameDuration = layout.frameDuration ? in.U32() : 0;
    const uint32_t bitRate = in.U32();
    if (layout.unused) in.Skip(4);
    const int16_t trickPlayRate = static_cast<int16_t>(in.U16());
    const uint32_t adaptationInterval = layout.adaptationInterval ? in.U32() : 0;
    ByteReader video = layout.videoGroup ? in.Sub(kVideoGroupSize) : ByteReader(nullptr, 0);
    ByteReader audio = layout.audioGroup ? in.Sub(kAudioGroupSize) : ByteReader(nullptr, 0);
    const uint32_t flags = layout.flags ? in.U32() : 0;
    if (in.Failed()) return false;

    MediaTrackIndex& index = track.GetIndex();
    index.SetOffset(offset);
    SetU64(track, TrackInfoKey_Offset, offset);
    index.SetSize(size);
    SetU64(track, TrackInfoKey_Size, size);
    SetDuration(track, duration);
    if (version == 0) {
        index.SetFrameDuration(kVersion0FrameDuration);
    } else if (layout.frameDuration) {
        index.SetFrameDuration(frameDuration);
    }
    track.SetBitRate(bitRate);
    track.SetTrickPlayRate(trickPlayRate);
    if (layout.adaptationInterval) index.SetAdaptationInterval(adaptationInterval);

    // A group whose format byte is 0 is absent (and an empty reader reads format 0).
    const uint8_t videoFormat = video.U8();
    if (videoFormat != 0) {
        SetU32(track, TrackInfoKey_VideoFormat, videoFormat);
        SetU32(track, TrackInfoKey_VideoProfile, video.U8());
        SetU32(track, TrackInfoKey_VideoLevel, video.U8());
        SetU32(track, TrackInfoKey_VideoWidth, video.U16());
        SetU32(track, TrackInfoKey_VideoHeight, video.U16());
        index.SetFrameDuration(video.U32());
        SetU32(track, TrackInfoKey_VideoBitRate, video.U32());
    }
    const uint8_t audioFormat = audio.U8();
    if (audioFormat != 0) {
        SetU32(track, TrackInfoKey_AudioFormat, audioFormat);
        SetU32(track, TrackInfoKey_AudioProfile, audio.U8());
        SetU32(track, TrackInfoKey_AudioNumChannels, audio.U8());
        SetU32(track, TrackInfoKey_AudioSampleFrequency, audio.U32());
        SetU32(track, TrackInfoKey_AudioBitRate, audio.U32());
    }
    if (version < 2) {
        // The oldest layouts describe no codecs.
        SetU32(track, TrackInfoKey_VideoFormat, 1);
        SetU32(track, TrackInfoKey_AudioFormat, 1);
    }
    if (layout.flags) SetU32(track, TrackInfoKey_Flags, flags);
    // A fixed-layout entry may serve either kind of stream.
    track.SetAudio(true);
    track.SetVideo(true);
    return true;
}

// Names the MPEG streams of an entry that does not: the first audio stream (0xC0-0xDF, or
// E-AC-3 by its stream type) and the first video stream (0xE0-0xEF) of the stream map.
void FillStreamIds(const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap, MediaTrack& track) {
    if (Has(track, TrackInfoKey_AudioFormat) && !Has(track, TrackInfoKey_AudioMpegStreamId)) {
        for (const Mpeg2PsPsm::EsMapEntry& stream : esMap) {
            if ((stream.elementary_stream_id & 0xE0) == 0xC0 ||
                stream.stream_type == kStreamTypeEac3) {
                SetU32(track, TrackInfoKey_AudioMpegStreamId, stream.elementary_stream_id);
                SetU32(track, TrackInfoKey_AudioMpegStreamType, stream.stream_type);
                break;
            }
        }
    }
    if (Has(track, TrackInfoKey_VideoFormat) && !Has(track, TrackInfoKey_VideoMpegStreamId)) {
        for (const Mpeg2PsPsm::EsMapEntry& stream : esMap) {
            if ((stream.elementary_stream_id & 0xF0) == 0xE0) {
                SetU32(track, TrackInfoKey_VideoMpegStreamId, stream.elementary_stream_id);
                SetU32(track, TrackInfoKey_VideoMpegStreamType, stream.stream_type);
                break;
            }
        }
    }
}

}  // namespace

Mpeg2PsResult Mpeg2PsIndexEntryReader::ParseIndexEntry(
    std::vector<uint8_t>& indexBuffer, SV::Sha256Context* digest,
    const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap, uint32_t& longestDuration,
    boost::shared_ptr<MediaTrack>& track) {
    track.reset();
    // Every result but "incomplete" ends the entry: its bytes must not stay in front of the
    // next one.
    auto fail = [&indexBuffer](Mpeg2PsResult result) {
        indexBuffer.clear();
        return result;
    };

    // The first packet of an entry must hold its magic, version and (version 4) length.
    if (indexBuffer.size() < kIndexEntryMinimumSize) return fail(Mpeg2PsResult::EntryTooShort);
    if (digest) {
        if (indexBuffer.size() > UINT32_MAX ||
            SV::Sha256Update(digest, indexBuffer.data(),
                             static_cast<uint32_t>(indexBuffer.size())) != 1) {
            return fail(Mpeg2PsResult::DigestFailed);
        }
    }
    ByteReader in(indexBuffer.data(), indexBuffer.size());
    if (in.U32() != kIndexMagic) {
        DebugPrint("ParseIndexEntry: Invalid magic\n");
        return fail(Mpeg2PsResult::BadMagic);
    }
    const uint32_t version = in.U32();
    if (version > kIndexEntryVersionMax) return fail(Mpeg2PsResult::UnknownVersion);

    boost::shared_ptr<MediaTrack> made = boost::make_shared<MediaTrack>();
    made->GetIndex().SetTimescale(kTicksPerSecond);

    // The rest of the entry from its seek record count on: the count, then the records, which
    // must not run past the entry.
    ByteReader seekTable(nullptr, 0);
    if (version == kIndexEntryVersionTagged) {
        const uint32_t length = in.U32();  // of everything after the first 12 bytes
        if (uint64_t(kIndexEntryMinimumSize) + length > kMaxEntrySize) {
            return fail(Mpeg2PsResult::SeekTableNotStored);
        }
        ByteReader body = in.Sub(length);
        if (in.Failed()) return Mpeg2PsResult::EntryIncomplete;

        Mpeg2PsMetadata tags(0);
        size_t consumed = 0;
        if (!tags.Read(body.Current(), body.Left(), consumed)) return fail(Mpeg2PsResult::BadTags);
        try {
            if (!ApplyTags(tags, *made)) return fail(Mpeg2PsResult::BadTags);
        } catch (const boost::bad_any_cast&) {
            // A tag sent with another type than the format gives it: as if it were missing.
            return fail(Mpeg2PsResult::BadTags);
        }
        body.Skip(consumed);
        seekTable = body;
    } else {
        if (!ReadFixedFields(version, in, *made)) return Mpeg2PsResult::EntryIncomplete;
        ByteReader atCount = in;
        // 6 x N is counted in 64 bits: a 32-bit product wraps for large N.
        const uint64_t count = in.U32();
        if (in.Failed()) return Mpeg2PsResult::EntryIncomplete;
        const uint64_t tableSize = 4 + kSeekRecordSize * count;
        if (atCount.Position() + tableSize > kMaxEntrySize)
            return fail(Mpeg2PsResult::SeekTableNotStored);
        seekTable = atCount.Sub(static_cast<size_t>(tableSize));
        if (atCount.Failed()) return Mpeg2PsResult::EntryIncomplete;
    }

    MediaTrackIndex& index = made->GetIndex();
    if (index.GetFrameDuration() != 0) {
        SetFloat(*made, TrackInfoKey_VideoFrameRate,
                 static_cast<float>(double(kTicksPerSecond) / index.GetFrameDuration()));
    }
    if (index.GetAdaptationInterval() != 0) {
        SetFloat(*made, TrackInfoKey_AdaptationInterval,
                 static_cast<float>(index.GetAdaptationInterval() / double(kTicksPerSecond)));
    }
    FillStreamIds(esMap, *made);

    // The seek table, inside the entry.
    const uint32_t count = seekTable.U32();
    const uint64_t recordBytes = uint64_t(kSeekRecordSize) * count;  // no 32-bit wrap
    ByteReader records =
        seekTable.Sub(static_cast<size_t>(std::min<uint64_t>(recordBytes, SIZE_MAX)));
    if (seekTable.Failed()) return fail(Mpeg2PsResult::SeekTableTooLong);
    if (!index.Reserve(count)) return fail(Mpeg2PsResult::SeekTableNotStored);
    uint32_t time = 0;
    uint64_t position = index.GetOffset();
    for (uint32_t i = 0; i < count; ++i) {
        time += records.U24();      // 24-bit time delta
        position += records.U24();  // 24-bit byte delta
        if (!index.AddEntry(time, position)) return fail(Mpeg2PsResult::SeekTableNotStored);
    }

    // Only an entry that was read whole counts toward the title's duration.
    if (index.GetDuration() > longestDuration) longestDuration = index.GetDuration();
    indexBuffer.clear();  // one entry per run of private stream 2 packets
    track = made;
    return Mpeg2PsResult::Ok;
}

}  // namespace SarvelonMediaKit
