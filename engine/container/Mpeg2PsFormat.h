#ifndef ENGINE_CONTAINER_MPEG2PSFORMAT_H
#define ENGINE_CONTAINER_MPEG2PSFORMAT_H

#include <cstdint>

namespace SarvelonMediaKit {

// The numbers of the engine's program-stream container, shared by what writes it (the records,
// the index-entry and metadata-block writers, the title maker) and what reads it (the parser).
// A file is an MPEG-2 program stream (ISO/IEC 13818-1) whose header section holds a pack, the
// program stream map, one index entry per track in private stream 2 and the tagged metadata
// blocks in stream 0xF1; the tracks' packs follow, then the program end code.
namespace Mpeg2PsFormat {

// ---- Start codes and stream ids (the byte after 00 00 01) ----
constexpr uint8_t kStartCodeProgramEnd = 0xB9;
constexpr uint8_t kStartCodePack = 0xBA;
constexpr uint8_t kStartCodeSystemHeader = 0xBB;
constexpr uint8_t kStreamIdProgramStreamMap = 0xBC;
constexpr uint8_t kStreamIdPrivateStream1 = 0xBD;  // E-AC-3 audio
constexpr uint8_t kStreamIdPadding = 0xBE;
constexpr uint8_t kStreamIdPrivateStream2 = 0xBF;  // index entries
constexpr uint8_t kStreamIdAudioFirst = 0xC0;      // MPEG audio streams 0xC0-0xDF
constexpr uint8_t kStreamIdVideoFirst = 0xE0;      // MPEG video streams 0xE0-0xEF
constexpr uint8_t kStreamIdEcm = 0xF0;
constexpr uint8_t kStreamIdMetadata = 0xF1;  // tagged metadata blocks

// Stream ids whose PES packets have no optional header (no flags, no timestamps): the stream
// map, padding, private stream 2, 0xF0, 0xF2, 0xF8 and 0xFF. Stream 0xF1 has the header.
inline bool HasOptionalPesHeader(uint8_t streamId) {
    switch (streamId) {
        case 0xBC:
        case 0xBE:
        case 0xBF:
        case 0xF0:
        case 0xF2:
        case 0xF8:
        case 0xFF: return false;
        default: return true;
    }
}

// ---- Stream types of the program stream map that the engine plays ----
constexpr uint8_t kStreamTypeAacAdts = 0x0F;      // AAC in ADTS frames (audio stream 0xC0)
constexpr uint8_t kStreamTypeH264 = 0x1B;         // H.264 (video stream 0xE0)
constexpr uint8_t kStreamTypeEac3 = 0x87;         // E-AC-3 behind HD-DVD private data (stream 0xBD)
constexpr uint8_t kStreamTypePrivateData = 0x06;  // on 0xBD: private data (sample format 17)

// ---- Sizes of the program-stream records ----
constexpr uint32_t kPackHeaderSize = 14;         // without stuffing and system header
constexpr uint32_t kPackPaddedSize = 2048;       // a padded pack is raised to this size
constexpr uint32_t kSystemHeaderFixedSize = 12;  // plus 3 per stream bound
constexpr uint32_t kSystemHeaderBoundSize = 3;
constexpr uint32_t kProgramStreamMapFixedSize = 16;  // plus info, plus 4 + descriptors per stream
constexpr uint32_t kPesShortHeaderSize = 6;          // start code, stream id, packet length
constexpr uint32_t kPesOptionalHeaderSize = 9;       // with flags and header data length; then
                                                     // kPesTimestampSize per PTS or DTS
constexpr uint32_t kPesMaxSize = 0x10005;            // 65535 + the 6 bytes before the length's end

// ---- Timing ----
// Every container time counts 90 kHz ticks (kTicksPerSecond) and an SCR counts 27 MHz periods
// (kClockPeriodsPerTick to a tick): engine/codecs/MediaTiming.h.
constexpr uint32_t kVersion0FrameDuration = 3750;  // version-0 entries: 24 frames per second

// ---- Index entries (private stream 2) ----
constexpr uint32_t kIndexMagic = 0x49444D69;  // "IDMi"
constexpr uint32_t kIndexEntryVersionMax = 4;
constexpr uint32_t kIndexEntryVersionTagged = 4;
// Every entry starts with magic and version; a version-4 entry then holds L, the length of
// everything after these 12 bytes. An entry packet run shorter than this is refused, so the
// first packet of an entry carries at least these bytes.
constexpr uint32_t kIndexEntryMinimumSize = 12;
constexpr uint32_t kSeekRecordSize = 6;  // 24-bit time delta, 24-bit byte delta
constexpr uint32_t kSeekRecordDeltaMax = 0xFFFFFF;

// Field offsets of the fixed layouts (versions 0 to 3) from the start of the entry.
// A value of 0 marks a field that the version does not have.
struct FixedIndexLayout {
    uint32_t offset;              // u64 track offset
    uint32_t size;                // u64 track size
    uint32_t duration;            // u32 ticks
    uint32_t frameDuration;       // u32 ticks (version 1 only; 2 and 3 carry it in the video group)
    uint32_t bitRate;             // u32 bits per second
    uint32_t unused;              // 4 bytes that readers skip (versions 0 and 1)
    uint32_t trickPlayRate;       // s16
    uint32_t adaptationInterval;  // u32 ticks (versions 2 and 3)
    uint32_t videoGroup;          // 15 bytes (versions 2 and 3)
    uint32_t audioGroup;          // 11 bytes (versions 2 and 3)
    uint32_t flags;               // u32 (version 3)
    uint32_t seekCount;           // u32 N
    uint32_t seekRecords;         // 6 x N
};
constexpr FixedIndexLayout kFixedIndexLayouts[4] = {
    {8, 16, 24, 0, 28, 32, 36, 0, 0, 0, 0, 38, 42},
    {8, 16, 24, 28, 32, 36, 40, 0, 0, 0, 0, 42, 46},
    {8, 16, 24, 0, 28, 0, 32, 34, 38, 53, 0, 64, 68},
    {8, 16, 24, 0, 28, 0, 32, 34, 38, 53, 64, 68, 72},
};
// Video group: format u8, profile u8, level u8, width u16, height u16, frame duration u32,
// bit rate u32. Audio group: format u8, profile u8, channels u8, sample frequency u32, bit rate
// u32. A format byte of 0 means the group is absent.
constexpr uint32_t kVideoGroupSize = 15;
constexpr uint32_t kAudioGroupSize = 11;

// ---- Tagged metadata (index entries of version 4 and the 0xF1 blocks) ----
// Value types of a tag list entry.
enum ValueType : uint8_t {
    ValueTypeUInt8 = 1,
    ValueTypeInt8 = 2,
    ValueTypeUInt16 = 3,
    ValueTypeInt16 = 4,
    ValueTypeUInt32 = 5,
    ValueTypeInt32 = 6,
    ValueTypeUInt64 = 7,
    ValueTypeInt64 = 8,
    ValueTypeString = 9,
    ValueTypeBytes = 10,
};
constexpr uint32_t kMetadataBlockHeaderSize = 5;  // u32 total length, kind byte
constexpr uint32_t kMetadataEntryHeaderSize = 6;  // tag, type, u32 value length
constexpr uint32_t kMetadataMaxEntries = 255;     // the count is one byte

// Kinds of the headed blocks in stream 0xF1.
constexpr uint8_t kBlockKindTable = 2;  // nested headed blocks laid end to end
constexpr uint8_t kBlockKindChapter = 3;
constexpr uint8_t kBlockKindThumbnail = 4;

// Tag numbers. The type each tag is read with follows the name.
enum Tag : uint8_t {
    // Version-4 index entry; (required) marks the tags an entry must have.
    TagOffset = 0x01,                // uint64 (required) track offset in the file
    TagSize = 0x02,                  // uint64 (required) track size in bytes
    TagDuration = 0x03,              // uint32 (required) duration, ticks
    TagBitRate = 0x04,               // uint32 (required) bits per second
    TagTrickPlayRate = 0x05,         // int16
    TagAdaptationInterval = 0x06,    // uint32 ticks
    TagFlags = 0x07,                 // uint32
    TagVideoFormat = 0x08,           // uint8; present = the track is video
    TagVideoProfile = 0x09,          // uint8
    TagVideoLevel = 0x0A,            // uint8
    TagVideoWidth = 0x0B,            // uint16
    TagVideoHeight = 0x0C,           // uint16
    TagFrameDuration = 0x0D,         // uint32 ticks
    TagVideoBitRate = 0x0E,          // uint32
    TagAudioFormat = 0x0F,           // uint8; present = the track is audio (2: six channels)
    TagAudioProfile = 0x10,          // uint8
    TagAudioNumChannels = 0x11,      // uint8
    TagAudioSampleFrequency = 0x12,  // uint32 Hz
    TagAudioBitRate = 0x13,          // uint32
    TagVersion = 0x14,               // uint32 track version; tracks above 2 are not played
    TagVideoPixelWidth = 0x1F,       // uint16
    TagVideoPixelHeight = 0x20,      // uint16
    TagAudioSampleSize = 0x25,       // uint8
    TagAudioEsDescriptor = 0x26,     // bytes: MPEG-4 ES_Descriptor
    TagAVCDecoderConfigurationRecord = 0x27,  // bytes
    TagAudioEC3SpecificData = 0x28,           // bytes, read when 0x26 is absent
    TagAudioIdentifier = 0x29,                // string: language
    TagVideoMpegStreamId = 0x2A,              // uint8
    TagVideoMpegStreamType = 0x2B,            // uint8
    TagAudioMpegStreamId = 0x2C,              // uint8
    TagAudioMpegStreamType = 0x2D,            // uint8
    TagAudioEC3SpecificDataAlt = 0x2E,        // bytes, read when 0x26 and 0x28 are absent and the
                                              // audio format is not 2
    // Chapter block (kind 3).
    TagChapterTitle = 0x15,              // string
    TagChapterTime = 0x18,               // uint32 ticks (required)
    TagChapterThumbnailPosition = 0x1B,  // uint64 file position of the thumbnail data (required)
    TagChapterThumbnailSize = 0x1C,      // uint32 bytes (required)
    // Thumbnail block (kind 4).
    TagThumbnailImage = 0x19,         // bytes (required)
    TagThumbnailChapterIndex = 0x1A,  // uint32 (required)
    // Table block (kind 2).
    TagTableBlockCount = 0x1D,  // uint32 (required)
    TagTableBlocks = 0x1E,      // bytes: the nested blocks (required)
};

}  // namespace Mpeg2PsFormat
}  // namespace SarvelonMediaKit

#endif
