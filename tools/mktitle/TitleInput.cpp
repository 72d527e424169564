#include "tools/mktitle/TitleInput.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaFormatError.h"
#include "engine/codecs/MediaTiming.h"
#include "common/TsReader.h"
#include "tools/mktitle/InputFile.h"
#include "tools/mktitle/SampleAssembler.h"

namespace SvTools {

using namespace SarvelonMediaKit;

namespace {

const uint8_t kStreamTypeH264 = 0x1B;
const uint8_t kStreamTypeAdts = 0x0F;
const uint8_t kStreamTypeEac3Atsc = 0x87;
const uint8_t kStreamTypePrivate = 0x06;
// Input is read in pieces of this size.
const size_t kReadSize = 1024 * 1024;

// A private-data stream is E-AC-3 when its descriptors say so: the enhanced AC-3 descriptor
// (tag 0x7A) or the registration descriptor "EAC3".
bool DescribesEac3(const std::vector<uint8_t>& descriptors) {
    size_t p = 0;
    while (p + 2 <= descriptors.size()) {
        const uint8_t tag = descriptors[p];
        const size_t length = descriptors[p + 1];
        if (p + 2 + length > descriptors.size()) {
            break;
        }
        if (tag == 0x7A) {
            return true;
        }
        if (tag == 0x05 && length >= 4 && descriptors[p + 2] == 'E' && descriptors[p + 3] == 'A' &&
            descriptors[p + 4] == 'C' && descriptors[p + 5] == '3') {
            return true;
        }
        p += 2 + length;
    }
    return false;
}

// A stream of the program map in words, for the reasons of what cannot be carried.
std::string StreamName(const TsStreamInfo& stream) {
    static const struct {
        uint8_t type;
        const char* name;
    } kNames[] = {
        {0x01, "MPEG-1 video"},     {0x02, "MPEG-2 video"}, {0x03, "MPEG-1 audio"},
        {0x04, "MPEG-2 audio"},     {0x0F, "AAC audio"},    {0x10, "MPEG-4 video"},
        {0x11, "AAC (LATM) audio"}, {0x1B, "H.264 video"},  {0x24, "HEVC video"},
        {0x81, "AC-3 audio"},       {0x87, "E-AC-3 audio"}, {0x06, "private data"},
        {0x15, "metadata"},         {0x86, "SCTE-35 cues"},
    };
    char type[8];
    std::snprintf(type, sizeof type, "0x%02X", stream.streamType);
    std::string name = std::string("stream type ") + type;
    for (const auto& known : kNames) {
        if (known.type == stream.streamType) {
            name = std::string(known.name) + " (" + name + ")";
        }
    }
    return name + " on PID " + std::to_string(stream.pid);
}

bool IsVideoType(uint8_t type) {
    return type == 0x01 || type == 0x02 || type == 0x10 || type == 0x1B || type == 0x24;
}

bool IsAudioType(uint8_t type) {
    return type == 0x03 || type == 0x04 || type == 0x0F || type == 0x11 || type == 0x81 ||
           type == 0x87;
}

// Reads from the start until the first program's map has been seen, so that the streams can be
// picked before the samples are gathered.
const TsProgram* FirstProgramMap(InputFile& file, TsReader& reader, std::vector<uint8_t>& buffer) {
    for (;;) {
        if (!reader.Programs().empty() && reader.Programs()[0].mapSeen) {
            return &reader.Programs()[0];
        }
        const size_t n = file.Read(buffer.data(), buffer.size());
        if (n == 0) {
            return nullptr;
        }
        reader.Feed(buffer.data(), n);
    }
}

}  // namespace

Rendition ReadRendition(const std::string& path, const ReadProgress& progress) {
    Rendition rendition;
    rendition.source = path;
    std::vector<uint8_t> buffer(kReadSize);
    uint16_t videoPid = 0x1FFF;
    uint16_t audioPid = 0x1FFF;
    {
        InputFile file(path);
        TsReader reader([](TsPes&) {});
        const TsProgram* program = FirstProgramMap(file, reader, buffer);
        if (reader.PacketCount() == 0) {
            throw std::runtime_error(path + ": not an MPEG-TS file (no transport packet found)");
        }
        if (!program) {
            throw std::runtime_error(path + ": no program map table found");
        }
        for (const TsStreamInfo& stream : program->streams) {
            if (stream.streamType == kStreamTypeH264 && videoPid == 0x1FFF) {
                videoPid = stream.pid;
            } else if (audioPid == 0x1FFF && stream.streamType == kStreamTypeAdts) {
                audioPid = stream.pid;
                rendition.audio.codec = AudioCodec::Aac;
            } else if (audioPid == 0x1FFF && (stream.streamType == kStreamTypeEac3Atsc ||
                                              (stream.streamType == kStreamTypePrivate &&
                                               DescribesEac3(stream.descriptors)))) {
                audioPid = stream.pid;
                rendition.audio.codec = AudioCodec::Eac3;
            } else if (IsVideoType(stream.streamType) && videoPid != 0x1FFF) {
                rendition.unsupported.push_back(StreamName(stream) +
                                                ": a second video stream; a title holds one per "
                                                "input (give each rendition its own input)");
            } else if (IsVideoType(stream.streamType)) {
                rendition.unsupported.push_back(StreamName(stream) +
                                                ": the title carries H.264 video only");
            } else if (IsAudioType(stream.streamType) && audioPid != 0x1FFF) {
                rendition.unsupported.push_back(
                    StreamName(stream) +
                    ": a second audio stream; a title holds one per input (give each language "
                    "its own input with --lang)");
            } else if (IsAudioType(stream.streamType)) {
                rendition.unsupported.push_back(StreamName(stream) +
                                                ": the title carries AAC or E-AC-3 audio only");
            } else {
                rendition.unsupported.push_back(StreamName(stream) +
                                                ": the title carries no such stream");
            }
        }
    }
    if (videoPid == 0x1FFF && audioPid == 0x1FFF) {
        throw std::runtime_error(path + ": no H.264, AAC or E-AC-3 stream in the first program");
    }
    VideoStream& video = rendition.video;
    AudioStream& audio = rendition.audio;
    video.present = videoPid != 0x1FFF;
    video.pid = videoPid;
    audio.pid = audioPid;

    // The sample table: times, sizes and key flags; the bytes are dropped once counted.
    SampleAssembler assembler(
        path, videoPid, audioPid, audio,
        [&video, &audio](bool isVideo, const Sample& sample, std::vector<uint8_t>&) {
            (isVideo ? video.samples : audio.samples).push_back(sample);
        });
    InputFile file(path);
    TsReader reader([&assembler](TsPes& pes) { assembler.Add(pes); });
    uint64_t read = 0;
    for (;;) {
        const size_t n = file.Read(buffer.data(), buffer.size());
        if (n == 0) {
            break;
        }
        reader.Feed(buffer.data(), n);
        read += n;
        if (progress) {
            progress(read);
        }
    }
    reader.Finish();
    assembler.Finish();
    if (!reader.ContinuityErrors().empty()) {
        rendition.warnings.push_back(std::to_string(reader.ContinuityErrors().size()) +
                                     " continuity errors in the input");
    }
    if (assembler.DroppedVideo() > 0) {
        rendition.warnings.push_back(std::to_string(assembler.DroppedVideo()) +
                                     " video frames before the first key frame dropped");
    }
    if (video.present) {
        if (video.samples.empty()) {
            throw std::runtime_error(path + ": the H.264 stream has no key frame");
        }
        if (assembler.Sps().empty() || assembler.Pps().empty()) {
            throw std::runtime_error(path + ": the H.264 stream carries no SPS or no PPS");
        }
        const std::vector<std::vector<uint8_t>> spsUnits{assembler.Sps()};
        const std::vector<std::vector<uint8_t>> ppsUnits{assembler.Pps()};
        H264Sps sps;
        try {
            sps = ParseH264Sps(spsUnits[0].data(), spsUnits[0].size());
            video.profile = sps.profileIdc;
            video.level = sps.levelIdc;
            video.width = sps.width;
            video.height = sps.height;
            video.sarWidth = sps.sarWidth;
            video.sarHeight = sps.sarHeight;
            video.avcConfiguration = BuildAvcDecoderConfigurationRecord(spsUnits, ppsUnits);
        } catch (const MediaFormatError& error) {
            throw std::runtime_error(path + ": video: " + error.what());
        }
        std::vector<uint64_t> times;
        times.reserve(video.samples.size());
        for (const Sample& sample : video.samples) {
            times.push_back(sample.pts);
        }
        video.frameDuration = DeriveFrameDuration(std::move(times));
        if (video.frameDuration == 0) {
            // A single picture: take the rate from the VUI timing when there is one.
            if (sps.timeScale != 0 && sps.numUnitsInTick != 0) {
                video.frameDuration =
                    static_cast<uint32_t>(kTicksPerSecond * 2 * sps.numUnitsInTick / sps.timeScale);
            }
        }
    }
    if (audio.codec != AudioCodec::None && audio.samples.empty()) {
        if (!video.present) {
            throw std::runtime_error(path + ": the audio stream holds no complete frame");
        }
        rendition.warnings.push_back("the audio stream holds no complete frame; left out");
        audio = AudioStream();
    }
    return rendition;
}

void MakeTrickPlay(Rendition& rendition, int16_t rate) {
    if (rate == 0) {
        throw std::runtime_error("internal error: a trick-play rate of 0");
    }
    const std::string what =
        rendition.source + ": trick-play rendition (rate " + std::to_string(rate) + ")";
    if (!rendition.video.present || rendition.video.samples.empty()) {
        throw std::runtime_error(what + " has no video");
    }
    if (rendition.audio.codec != AudioCodec::None) {
        throw std::runtime_error(what + " carries audio: make it without (ffmpeg -an)");
    }
    std::vector<Sample>& samples = rendition.video.samples;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!samples[i].key) {
            throw std::runtime_error(what + ": picture " + std::to_string(i) +
                                     " is not a key frame; every picture must be one");
        }
    }
    const int64_t magnitude = rate < 0 ? -int64_t{rate} : int64_t{rate};
    const int64_t first = static_cast<int64_t>(samples.front().dts);
    for (Sample& sample : samples) {
        // Both times stretch about the first decode time. A presentation time before it cannot
        // come from a stream without reordering, as key-frame-only streams are; it is taken as
        // that time rather than wrapped.
        const int64_t dts = static_cast<int64_t>(sample.dts) - first;
        const int64_t pts = static_cast<int64_t>(sample.pts) - first;
        sample.dts = static_cast<uint64_t>(first + dts * magnitude);
        sample.pts = static_cast<uint64_t>(first + std::max<int64_t>(pts, 0) * magnitude);
    }
    rendition.trickRate = rate;
}

void CheckKeyFramesLineUp(const std::vector<Rendition>& renditions) {
    const Rendition* first = nullptr;
    std::vector<uint64_t> firstTimes;
    for (const Rendition& rendition : renditions) {
        if (!rendition.video.present || rendition.trickRate != 0) {
            continue;
        }
        std::vector<uint64_t> times;
        for (const Sample& sample : rendition.video.samples) {
            if (sample.key) {
                times.push_back(sample.dts);
            }
        }
        if (first == nullptr) {
            first = &rendition;
            firstTimes = std::move(times);
            continue;
        }
        if (times == firstTimes) {
            continue;
        }
        // The first key frame that differs, on the inputs' own clock in seconds.
        size_t i = 0;
        while (i < times.size() && i < firstTimes.size() && times[i] == firstTimes[i]) {
            ++i;
        }
        auto at = [](const std::vector<uint64_t>& keys, size_t index) {
            if (index >= keys.size()) {
                return std::string("none");
            }
            char text[32];
            std::snprintf(text, sizeof text, "%.3f s", double(keys[index]) / kTicksPerSecond);
            return std::string(text);
        };
        throw std::runtime_error(
            first->source + " and " + rendition.source +
            ": the key frames do not line up (key frame " + std::to_string(i + 1) + " at " +
            at(firstTimes, i) + " and " + at(times, i) +
            "); a player moving between renditions needs key frames at the same times: make "
            "them with the same frame rate and fixed key-frame times (ffmpeg -g N "
            "-keyint_min N -sc_threshold 0)");
    }
}

}  // namespace SvTools
