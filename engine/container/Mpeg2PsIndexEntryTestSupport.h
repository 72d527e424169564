#ifndef ENGINE_CONTAINER_MPEG2PSINDEXENTRYTESTSUPPORT_H
#define ENGINE_CONTAINER_MPEG2PSINDEXENTRYTESTSUPPORT_H

// The index entry that the writer's and the reader's tests and the index-entry fuzzer start
// from (included by them only).

#include "engine/container/Mpeg2PsIndexEntry.h"

namespace SarvelonMediaKit {
namespace containertest {

// A muxed audio and video track at offset 5000 with the seek points (0, 5000), (3000, 6000),
// (6000, 6500): on disk the deltas (0, 0), (3000, 1000), (3000, 500). Every field of the fixed
// layouts is set; of the fields only the tagged layout carries, the video stream, its decoder
// configuration and the audio descriptor and language are. The track version, the pixel
// aspect ratio, the audio sample size and the audio stream are left to each test, so that
// what a test pins stands where it sets it.
inline Mpeg2PsIndexEntry MuxedTrackIndexEntry() {
    Mpeg2PsIndexEntry entry;
    entry.offset = 5000;
    entry.size = 0x0102030405ull;
    entry.duration = 1800000;  // 20 s
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

}  // namespace containertest
}  // namespace SarvelonMediaKit

#endif
