#ifndef ENGINE_CONTAINER_MPEG2PSINDEXENTRY_H
#define ENGINE_CONTAINER_MPEG2PSINDEXENTRY_H

#include <boost/optional.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace SarvelonMediaKit {

// What an index entry says about one track, and its writer. The header section of a file
// carries one entry per track in private stream 2 (packetise it with MakeRecordPackets). Every
// time is in 90 kHz ticks, every position an absolute byte position in the file.
//
// Entry versions: 4 is a tagged list (every field below can be carried); 0 to 3 are fixed
// layouts that carry a subset (0: offset, size, duration, bit rate, trick-play rate; frame
// duration fixed at 3750. 1: adds the frame duration. 2: adds the adaptation interval and the
// basic video and audio fields. 3: adds the flags). Readers play only tracks whose version
// (tag 0x14, 0 when absent) is at most 2.
struct Mpeg2PsIndexEntry {
    struct SeekPoint {
        uint32_t time;      // ticks from the track start
        uint64_t position;  // where a pack starts that begins a random-access point
    };

    struct Video {
        uint8_t format = 0;  // not 0
        uint8_t profile = 0;
        uint8_t level = 0;
        uint16_t width = 0;
        uint16_t height = 0;
        boost::optional<uint16_t> pixelWidth;  // pixel aspect ratio (version 4)
        boost::optional<uint16_t> pixelHeight;
        uint32_t frameDuration = 0;  // ticks; 0 = unknown (not written in version 4)
        uint32_t bitRate = 0;
        boost::optional<uint8_t> mpegStreamId;  // version 4; else taken from the stream map
        boost::optional<uint8_t> mpegStreamType;
        std::vector<uint8_t> avcDecoderConfigurationRecord;  // version 4, when not empty
    };

    struct Audio {
        uint8_t format = 0;  // not 0; 2 makes readers assume six channels
        uint8_t profile = 0;
        uint8_t numChannels = 0;
        uint32_t sampleFrequency = 0;         // Hz
        boost::optional<uint8_t> sampleSize;  // version 4
        uint32_t bitRate = 0;
        boost::optional<uint8_t> mpegStreamId;  // version 4; else taken from the stream map
        boost::optional<uint8_t> mpegStreamType;
        std::vector<uint8_t> esDescriptor;     // version 4, when not empty
        std::vector<uint8_t> ec3SpecificData;  // version 4, when not empty
        std::string identifier;                // language; version 4, when not empty
    };

    uint64_t offset = 0;  // first byte of the track's data
    uint64_t size = 0;    // bytes of the track's data
    uint32_t duration = 0;
    uint32_t bitRate = 0;                    // bits per second of the whole track
    int16_t trickPlayRate = 0;               // 0 = a normal-speed track
    uint32_t adaptationInterval = 0;         // versions 2 to 4
    boost::optional<uint32_t> flags;         // versions 3 and 4
    boost::optional<uint32_t> trackVersion;  // version 4 (tag 0x14)
    boost::optional<Video> video;
    boost::optional<Audio> audio;
    // Increasing in time and position, each inside [offset, offset + size). They are written
    // as deltas of 24 bits each, so consecutive points (and the first from time 0 and from the
    // offset) may lie at most 0xFFFFFF ticks (186 s) and 0xFFFFFF bytes apart.
    std::vector<SeekPoint> seekPoints;

    // Bytes of the written entry of that version (0 for a version above 4). The size does not
    // depend on offset, size or the seek points' values, so a title maker can lay out the
    // header section before it knows where the tracks will lie.
    uint64_t GetSize(uint32_t version) const;
    // Appends the entry of that version. False, with the reason in *error when given, and
    // nothing appended when the version is above 4, a group's format is 0 or the seek points
    // cannot be written as deltas.
    bool Write(uint32_t version, std::vector<uint8_t>& out, std::string* error = nullptr) const;
};

}  // namespace SarvelonMediaKit

#endif
