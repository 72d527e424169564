#include "tools/mktitle/TitleInput.h"

#include <stdexcept>

#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaFormatError.h"
#include "engine/codecs/MediaTiming.h"
#include "tools/common/TsReader.h"

namespace SvTools {

using namespace SarvelonMediaKit;

namespace {

const uint8_t kStreamTypeH264 = 0x1B;
const uint8_t kStreamTypeAdts = 0x0F;
const uint8_t kStreamTypeEac3Atsc = 0x87;
const uint8_t kStreamTypePrivate = 0x06;

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

// Cuts audio PES payloads into frames. A frame that runs past its PES continues with the next
// PES's bytes; each frame takes the time of the PES it starts in, advanced by the frames before
// it in that PES.
class AudioFramer {
public:
    AudioFramer(AudioStream& stream, const std::string& source)
        : stream_(stream), source_(source) {}

    void Add(const TsPes& pes, uint64_t pts) {
        if (pending_.empty() && pes.hasPts) {
            nextPts_ = pts;
        }
        pending_.insert(pending_.end(), pes.payload.begin(), pes.payload.end());
        size_t offset = 0;
        while (pending_.size() - offset >= 7) {
            const uint8_t* p = pending_.data() + offset;
            const size_t left = pending_.size() - offset;
            uint32_t frameSize = 0;
            uint32_t samples = 0;
            uint32_t rate = 0;
            bool startsUnit = true;
            try {
                if (stream_.codec == AudioCodec::Aac) {
                    const AdtsHeader header = ParseAdtsHeader(p, left);
                    frameSize = header.frameLength;
                    samples = header.SamplesPerFrame();
                    rate = header.samplingFrequency;
                    if (stream_.units.empty() && !unitOpen_) {
                        stream_.profile = header.audioObjectType;
                        stream_.channels = header.channelConfiguration;
                        stream_.sampleRate = rate;
                        stream_.audioSpecificConfig = BuildAudioSpecificConfig(
                            header.audioObjectType, header.samplingFrequencyIndex,
                            header.channelConfiguration);
                    }
                } else {
                    const Eac3FrameHeader header = ParseEac3FrameHeader(p, left);
                    frameSize = header.frameSize;
                    samples = header.SamplesPerFrame();
                    rate = header.sampleRate;
                    startsUnit = header.Independent();
                    if (stream_.units.empty() && !unitOpen_ && startsUnit) {
                        stream_.channels = header.Channels();
                        stream_.sampleRate = rate;
                        stream_.eac3Fscod = header.fscod;
                        stream_.eac3Bsid = header.bsid;
                        stream_.eac3Acmod = header.acmod;
                        stream_.eac3Lfe = header.lfeOn;
                    }
                }
            } catch (const MediaFormatError& error) {
                throw std::runtime_error(source_ + ": audio: " + error.what());
            }
            if (frameSize > left) {
                break;  // the rest arrives with the next PES
            }
            if (startsUnit || !unitOpen_) {
                AccessUnit unit;
                unit.dts = unit.pts = nextPts_;
                unit.key = true;
                stream_.units.push_back(std::move(unit));
                unitOpen_ = true;
                const uint64_t duration = rate ? uint64_t{samples} * kTicksPerSecond / rate : 0;
                if (stream_.frameDuration == 0) {
                    stream_.frameDuration = static_cast<uint32_t>(duration);
                }
                nextPts_ += duration;
            }
            AccessUnit& unit = stream_.units.back();
            unit.data.insert(unit.data.end(), p, p + frameSize);
            if (unit.data.size() > stream_.maxFrameSize) {
                stream_.maxFrameSize = unit.data.size();
            }
            offset += frameSize;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
        if (pending_.size() > 65536) {
            throw std::runtime_error(source_ + ": audio: no frame boundary in 64 KiB");
        }
    }

private:
    AudioStream& stream_;
    std::string source_;
    std::vector<uint8_t> pending_;
    uint64_t nextPts_ = 0;
    bool unitOpen_ = false;
};

}  // namespace

Rendition ReadRendition(const std::string& path) {
    Rendition rendition;
    rendition.source = path;
    TsReader reader = TsReader::ReadFile(path);
    if (reader.PacketCount() == 0) {
        throw std::runtime_error(path + ": not an MPEG-TS file (no transport packet found)");
    }
    if (reader.Programs().empty() || !reader.Programs()[0].mapSeen) {
        throw std::runtime_error(path + ": no program map table found");
    }
    const TsProgram& program = reader.Programs()[0];
    uint16_t videoPid = 0x1FFF;
    uint16_t audioPid = 0x1FFF;
    for (const TsStreamInfo& stream : program.streams) {
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
        } else {
            rendition.warnings.push_back("stream of type " + std::to_string(stream.streamType) +
                                         " on PID " + std::to_string(stream.pid) + " ignored");
        }
    }
    if (videoPid == 0x1FFF && audioPid == 0x1FFF) {
        throw std::runtime_error(path + ": no H.264, AAC or E-AC-3 stream in the first program");
    }
    if (!reader.ContinuityErrors().empty()) {
        rendition.warnings.push_back(std::to_string(reader.ContinuityErrors().size()) +
                                     " continuity errors in the input");
    }

    VideoStream& video = rendition.video;
    video.present = videoPid != 0x1FFF;
    AudioFramer framer(rendition.audio, path);
    std::vector<std::vector<uint8_t>> spsUnits, ppsUnits;
    bool haveReference = false;
    uint64_t reference = 0;
    size_t droppedVideo = 0;
    for (TsPes& pes : reader.Pes()) {
        if (pes.pid != videoPid && pes.pid != audioPid) {
            continue;
        }
        if (pes.hasPts && !haveReference) {
            reference = pes.dts;
            haveReference = true;
        }
        const uint64_t dts = UnwrapTimestamp(pes.dts, reference);
        const uint64_t pts = UnwrapTimestamp(pes.pts, dts);
        if (pes.hasPts) {
            reference = dts;
        }
        if (pes.pid == audioPid) {
            if (pes.hasPts || !rendition.audio.units.empty()) {
                framer.Add(pes, pts);
            }
            continue;
        }
        if (!pes.hasPts) {
            if (!video.units.empty()) {  // continuation of the previous access unit
                AccessUnit& unit = video.units.back();
                unit.data.insert(unit.data.end(), pes.payload.begin(), pes.payload.end());
            }
            continue;
        }
        const bool key =
            pes.randomAccess || ContainsIdrSlice(pes.payload.data(), pes.payload.size());
        if (video.units.empty() && !key) {
            ++droppedVideo;
            continue;
        }
        for (const NalUnitRange& nal : SplitAnnexB(pes.payload.data(), pes.payload.size())) {
            const uint8_t type = nal.Type(pes.payload.data());
            const uint8_t* begin = pes.payload.data() + nal.offset;
            if (type == H264NalSps && spsUnits.empty()) {
                spsUnits.emplace_back(begin, begin + nal.size);
            } else if (type == H264NalPps && ppsUnits.empty()) {
                ppsUnits.emplace_back(begin, begin + nal.size);
            }
        }
        AccessUnit unit;
        unit.dts = dts;
        unit.pts = pts;
        unit.key = key;
        unit.data = std::move(pes.payload);
        video.units.push_back(std::move(unit));
    }
    if (droppedVideo > 0) {
        rendition.warnings.push_back(std::to_string(droppedVideo) +
                                     " video frames before the first key frame dropped");
    }
    if (video.present) {
        if (video.units.empty()) {
            throw std::runtime_error(path + ": the H.264 stream has no key frame");
        }
        if (spsUnits.empty() || ppsUnits.empty()) {
            throw std::runtime_error(path + ": the H.264 stream carries no SPS or no PPS");
        }
        try {
            const H264Sps sps = ParseH264Sps(spsUnits[0].data(), spsUnits[0].size());
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
        times.reserve(video.units.size());
        for (const AccessUnit& unit : video.units) {
            times.push_back(unit.pts);
        }
        video.frameDuration = DeriveFrameDuration(times);
        if (video.frameDuration == 0) {
            // A single picture: take the rate from the VUI timing when there is one.
            const H264Sps sps = ParseH264Sps(spsUnits[0].data(), spsUnits[0].size());
            if (sps.timeScale != 0 && sps.numUnitsInTick != 0) {
                video.frameDuration =
                    static_cast<uint32_t>(kTicksPerSecond * 2 * sps.numUnitsInTick / sps.timeScale);
            }
        }
    }
    if (rendition.audio.codec != AudioCodec::None && rendition.audio.units.empty()) {
        if (!video.present) {
            throw std::runtime_error(path + ": the audio stream holds no complete frame");
        }
        rendition.warnings.push_back("the audio stream holds no complete frame; left out");
        rendition.audio = AudioStream();
    }
    return rendition;
}

}  // namespace SvTools
