#ifndef TOOLS_MKTITLE_TITLEINPUT_H
#define TOOLS_MKTITLE_TITLEINPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace SvTools {

// One video access unit or one audio frame as the sample table keeps it: times on the input's
// unwrapped 90 kHz time line and the size of its bytes, which stay in the input file until the
// title is written.
struct Sample {
    uint64_t dts = 0;
    uint64_t pts = 0;
    uint32_t size = 0;
    bool key = false;  // video: an IDR picture or a random-access point; audio: always
};

enum class AudioCodec { None, Aac, Eac3 };

struct VideoStream {
    bool present = false;
    uint16_t pid = 0x1FFF;
    std::vector<Sample> samples;  // decode order
    uint8_t profile = 0;
    uint8_t level = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sarWidth = 0;  // 0:0 when the stream does not say
    uint32_t sarHeight = 0;
    uint32_t frameDuration = 0;  // ticks
    std::vector<uint8_t> avcConfiguration;
};

struct AudioStream {
    AudioCodec codec = AudioCodec::None;
    uint16_t pid = 0x1FFF;
    std::vector<Sample> samples;
    uint8_t profile = 0;  // AAC audio object type; 0 for E-AC-3
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t frameDuration = 0;  // ticks of the first frame
    uint64_t maxFrameSize = 0;
    // AAC: AudioSpecificConfig; E-AC-3: the header fields for the EC3SpecificBox.
    std::vector<uint8_t> audioSpecificConfig;
    uint8_t eac3Fscod = 0;
    uint8_t eac3Bsid = 0;
    uint8_t eac3Acmod = 0;
    bool eac3Lfe = false;
};

// What one input file holds: at most one H.264 stream and one AAC or E-AC-3 stream.
struct Rendition {
    std::string source;
    std::string language;  // given on the command line; empty when none
    // Playback rate of a trick-play rendition (negative: reverse); 0 for a normal one.
    int16_t trickRate = 0;
    VideoStream video;
    AudioStream audio;
    std::vector<std::string> warnings;
    // The input's streams the title cannot carry, one reason each (a video codec other than
    // H.264, a second audio stream, ...): the title would be made without them.
    std::vector<std::string> unsupported;
};

// Called with the bytes read so far while a file is read.
using ReadProgress = std::function<void(uint64_t bytesRead)>;

// Reads an MPEG-TS file made by ffmpeg: the first program's first H.264 stream and first AAC
// (ADTS) or E-AC-3 stream; every other stream of the program is named in `unsupported` (the
// caller decides whether the title may go without it). Video access units are taken one per PES (a
// PES without a PTS continues the previous unit); audio PES payloads are cut into single frames,
// each timed from its PES's PTS. Video units before the first key frame are dropped (with a
// warning). Only the sample table and the stream parameters are kept; the file is read in pieces,
// so memory does not grow with its size. Raises std::runtime_error with the reason when the file
// cannot be read or holds nothing usable.
Rendition ReadRendition(const std::string& path, const ReadProgress& progress = ReadProgress());

// Makes a rendition read by ReadRendition a trick-play rendition of the given rate (not 0). Its
// input holds the pictures for that speed at the normal frame rate (for +4 every fourth
// picture of the source, for -4 the same in reverse order), so its times are stretched by the
// rate's magnitude from its first decode time on: the track then spans the title's time line,
// and a player at that rate shows it at the normal frame rate. A reverse track's time runs
// backwards against the title's (its time t shows the title at its duration minus t). Raises
// std::runtime_error when the rendition has no video, carries audio, or has a picture that is
// not a key frame: every picture of a trick-play track must be a place to start from.
void MakeTrickPlay(Rendition& rendition, int16_t rate);

// Raises std::runtime_error naming the first two normal (not trick-play) video renditions
// whose key frames do not fall at the same decode times: a player moved from one to the other
// at a key frame would find no key frame at that time in the other one. Audio-only and
// trick-play renditions are not compared.
void CheckKeyFramesLineUp(const std::vector<Rendition>& renditions);

}  // namespace SvTools

#endif
