#include "tools/mktitle/SampleAssembler.h"

#include <stdexcept>

#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaFormatError.h"
#include "engine/codecs/MediaTiming.h"

namespace SvTools {

using namespace SarvelonMediaKit;

namespace {

// An audio frame header that announces more than this is not looked for any further.
const size_t kMaxPendingAudio = 65536;

}  // namespace

SampleAssembler::SampleAssembler(const std::string& source, uint16_t videoPid, uint16_t audioPid,
                                 AudioStream& audio, Handler handler)
    : source_(source),
      videoPid_(videoPid),
      audioPid_(audioPid),
      audio_(audio),
      handler_(std::move(handler)) {}

void SampleAssembler::Add(TsPes& pes) {
    if (pes.pid != videoPid_ && pes.pid != audioPid_) {
        return;
    }
    // Both streams share one unwrapped time line, carried on from PES to PES.
    if (pes.hasPts && !haveReference_) {
        reference_ = pes.dts;
        haveReference_ = true;
    }
    const uint64_t dts = UnwrapTimestamp(pes.dts, reference_);
    const uint64_t pts = UnwrapTimestamp(pes.pts, dts);
    if (pes.hasPts) {
        reference_ = dts;
    }
    if (pes.pid == audioPid_) {
        if (pes.hasPts || audioStarted_) {
            AddAudio(pes, pts);
        }
    } else {
        AddVideo(pes, dts, pts);
    }
}

void SampleAssembler::AddVideo(TsPes& pes, uint64_t dts, uint64_t pts) {
    if (!pes.hasPts) {
        if (videoOpen_) {  // continuation of the open access unit
            if (pes.payload.size() > kMaxAccessUnitSize - videoBytes_.size()) {
                throw std::runtime_error(source_ + ": a video access unit above 64 MiB");
            }
            videoBytes_.insert(videoBytes_.end(), pes.payload.begin(), pes.payload.end());
        }
        return;
    }
    const bool key = pes.randomAccess || ContainsIdrSlice(pes.payload.data(), pes.payload.size());
    if (!videoOpen_ && !key) {
        ++droppedVideo_;
        return;
    }
    if (sps_.empty() || pps_.empty()) {
        for (const NalUnitRange& nal : SplitAnnexB(pes.payload.data(), pes.payload.size())) {
            const uint8_t type = nal.Type(pes.payload.data());
            const uint8_t* begin = pes.payload.data() + nal.offset;
            if (type == H264NalSps && sps_.empty()) {
                sps_.assign(begin, begin + nal.size);
            } else if (type == H264NalPps && pps_.empty()) {
                pps_.assign(begin, begin + nal.size);
            }
        }
    }
    FinishVideo();
    video_ = Sample();
    video_.dts = dts;
    video_.pts = pts;
    video_.key = key;
    videoBytes_ = std::move(pes.payload);
    videoOpen_ = true;
}

void SampleAssembler::FinishVideo() {
    if (videoOpen_) {
        video_.size = static_cast<uint32_t>(videoBytes_.size());
        handler_(true, video_, videoBytes_);
        videoBytes_.clear();
    }
}

// Audio PES payloads are cut into frames. A frame that runs past its PES continues with the
// next PES's bytes; each frame takes the time of the PES it starts in, advanced by the frames
// before it in that PES.
void SampleAssembler::AddAudio(const TsPes& pes, uint64_t pts) {
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
            if (audio_.codec == AudioCodec::Aac) {
                const AdtsHeader header = ParseAdtsHeader(p, left);
                frameSize = header.frameLength;
                samples = header.SamplesPerFrame();
                rate = header.samplingFrequency;
                if (!audioStarted_) {
                    audio_.profile = header.audioObjectType;
                    audio_.channels = header.channelConfiguration;
                    audio_.sampleRate = rate;
                    audio_.audioSpecificConfig = BuildAudioSpecificConfig(
                        header.audioObjectType, header.samplingFrequencyIndex,
                        header.channelConfiguration);
                }
            } else {
                const Eac3FrameHeader header = ParseEac3FrameHeader(p, left);
                frameSize = header.frameSize;
                samples = header.SamplesPerFrame();
                rate = header.sampleRate;
                startsUnit = header.Independent();
                if (!audioStarted_ && startsUnit) {
                    audio_.channels = header.Channels();
                    audio_.sampleRate = rate;
                    audio_.eac3Fscod = header.fscod;
                    audio_.eac3Bsid = header.bsid;
                    audio_.eac3Acmod = header.acmod;
                    audio_.eac3Lfe = header.lfeOn;
                }
            }
        } catch (const MediaFormatError& error) {
            throw std::runtime_error(source_ + ": audio: " + error.what());
        }
        if (frameSize > left) {
            break;  // the rest arrives with the next PES
        }
        if (startsUnit || !audioOpen_) {
            FinishAudio();
            audioSample_ = Sample();
            audioSample_.dts = audioSample_.pts = nextPts_;
            audioSample_.key = true;
            audioOpen_ = true;
            audioStarted_ = true;

            const uint64_t duration = rate ? uint64_t{samples} * kTicksPerSecond / rate : 0;
            if (audio_.frameDuration == 0) {
                audio_.frameDuration = static_cast<uint32_t>(duration);
            }
            nextPts_ += duration;
        }
        audioBytes_.insert(audioBytes_.end(), p, p + frameSize);
        if (audioBytes_.size() > kMaxAccessUnitSize) {
            throw std::runtime_error(source_ + ": an audio unit above 64 MiB");
        }
        offset += frameSize;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    if (pending_.size() > kMaxPendingAudio) {
        throw std::runtime_error(source_ + ": audio: no frame boundary in 64 KiB");
    }
}

void SampleAssembler::FinishAudio() {
    if (audioOpen_) {
        audioSample_.size = static_cast<uint32_t>(audioBytes_.size());
        if (audioSample_.size > audio_.maxFrameSize) {
            audio_.maxFrameSize = audioSample_.size;
        }
        handler_(false, audioSample_, audioBytes_);
        audioBytes_.clear();
    }
}

void SampleAssembler::Finish() {
    FinishVideo();
    FinishAudio();
    videoOpen_ = false;
    audioOpen_ = false;
}

}  // namespace SvTools
