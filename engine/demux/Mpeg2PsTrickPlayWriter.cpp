#include "engine/demux/Mpeg2PsTrickPlayWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/codecs/Aac.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/codecs/PesTimestamp.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsSystemHeader.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

namespace F = Mpeg2PsFormat;

namespace {

const uint64_t kNoScr = ~uint64_t(0);
const uint64_t kSystemClock = kTicksPerSecond * kClockPeriodsPerTick;  // 27 MHz
// The longest stretch that trick play fills with copies of one key frame (or with silent
// audio): the largest distance between two seek points of the container, about 186 s. A jump
// of the input clock beyond it (a damaged or discontinuous stream) is crossed with one copy,
// as in write-once mode, instead of writing the whole gap.
const uint64_t kMaxFillGap = TicksToClock(F::kSeekRecordDeltaMax);

// Silent raw data blocks by channel configuration.
const uint8_t kSilentMono[] = {0x00, 0xD0, 0x00, 0x07};
const uint8_t kSilentStereo[] = {0x21, 0x0B, 0xD0, 0x00, 0x7E, 0x00, 0x00, 0x3F, 0x01, 0xC0};
const uint8_t kSilent51[] = {0x01, 0x18, 0x20, 0x01, 0x08, 0x80, 0x23, 0x04, 0x60, 0x23,
                             0x10, 0x04, 0x60, 0x8C, 0x0C, 0x23, 0x04, 0x00, 0xE0};

// The map of a trick-play output: program_stream_info and the video stream of the input's map,
// and the silent audio stream when there is one.
void BuildStreamMap(const Mpeg2PsTrickPlayWriter::Input& input, bool withSilentAudio,
                    Mpeg2PsPsm& psm) {
    psm.SetCurrentNextIndicator(true);
    psm.SetVersion(1);
    const std::vector<uint8_t>& info = input.streamMap.GetProgramStreamInfo();
    if (!info.empty()) {
        psm.AddProgramStreamInfo(info.data(), static_cast<uint16_t>(info.size()));
    }
    for (const Mpeg2PsPsm::EsMapEntry& entry : input.streamMap.GetEsMap()) {
        if (entry.elementary_stream_id != input.videoStreamId) {
            continue;
        }
        psm.AddEsInfo(entry.elementary_stream_id, entry.stream_type);
        if (!entry.descriptors.empty()) {
            psm.AddEsDescriptor(entry.elementary_stream_id, entry.descriptors.data(),
                                static_cast<uint16_t>(entry.descriptors.size()));
        }
        break;
    }
    if (withSilentAudio) {
        psm.AddEsInfo(input.audioStreamId, input.audioStreamType);
    }
}

}  // namespace

Mpeg2PsTrickPlayWriter::Mpeg2PsTrickPlayWriter(Mpeg2PsParserListener& listener,
                                               SampleReceiver& downstream, bool demultiplexing)
    : listener_(listener),
      downstream_(downstream),
      demultiplexing_(demultiplexing),
      magnitude_(0),
      started_(false),
      flags_(0),
      origin_(0),
      outputClock_(0),
      lastInputScr_(kNoScr),
      accumulatedOffset_(0),
      audioFrameLength_(1024),
      audioFrequency_(0),
      audioClock_(0) {}

int16_t Mpeg2PsTrickPlayWriter::SetRate(int16_t rate, bool restart) {
    const uint16_t magnitude = static_cast<uint16_t>(rate < 0 ? -static_cast<int32_t>(rate) : rate);
    if (magnitude == magnitude_ && !restart) {
        return 0;
    }
    if (restart) {
        started_ = false;
        lastInputScr_ = kNoScr;
        accumulatedOffset_ = 0;
    } else if (lastInputScr_ != kNoScr) {
        accumulatedOffset_ += outputClock_ - lastInputScr_;
        origin_ = outputClock_ = lastInputScr_;
        lastInputScr_ = kNoScr;
    }
    magnitude_ = magnitude;
    return rate;
}

uint32_t Mpeg2PsTrickPlayWriter::FrameStepTicks(const boost::shared_ptr<MediaTrack>& track) {
    const uint32_t step = track ? track->GetIndex().GetFrameDuration() : 0;
    // A track without a frame duration would never move the output clock on.
    return step != 0 ? step : F::kVersion0FrameDuration;
}

Mpeg2PsResult Mpeg2PsTrickPlayWriter::Start(const Input& input,
                                            const std::vector<uint8_t>& audioConfig) {
    if (!input.track) {
        return Mpeg2PsResult::NoSelectedTrack;
    }
    origin_ = outputClock_ = input.scr;
    if (flags_ & SilentAudio) {
        const Mpeg2PsResult result = PrepareSilentAudio(input, audioConfig);
        if (result != Mpeg2PsResult::Ok) {
            return result;
        }
    }
    started_ = true;
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsTrickPlayWriter::PrepareSilentAudio(const Input& input,
                                                         const std::vector<uint8_t>& config) {
    if (input.audioStreamType != F::kStreamTypeAacAdts || config.size() < 2) {
        return Mpeg2PsResult::UnsupportedAudio;
    }
    // AudioSpecificConfig (ISO/IEC 14496-3): object type, frequency index, channels.
    const uint32_t objectType = config[0] >> 3;
    const uint32_t channels = (config[1] >> 3) & 15;
    const uint8_t frequencyIndex = ((config[0] << 1) | (config[1] >> 7)) & 15;
    const uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    if (channels == 1) {
        block = kSilentMono;
        blockSize = sizeof(kSilentMono);
    } else if (channels == 2) {
        block = kSilentStereo;
        blockSize = sizeof(kSilentStereo);
    } else if (channels == 6) {
        block = kSilent51;
        blockSize = sizeof(kSilent51);
    }
    const uint32_t frequency = AacSamplingFrequency(frequencyIndex);
    if (objectType != 2 || block == nullptr || frequency == 0) {
        return Mpeg2PsResult::UnsupportedAudio;
    }
    audioFrequency_ = frequency;
    audioClock_ = outputClock_ * audioFrequency_ / kSystemClock;
    audioFrameLength_ = 1024;

    silentFrame_.assign(kAdtsHeaderSize, 0);
    WriteAdtsHeader(silentFrame_.data(), static_cast<uint8_t>(objectType), frequencyIndex,
                    static_cast<uint8_t>(channels), kAdtsHeaderSize + blockSize);
    silentFrame_.insert(silentFrame_.end(), block, block + blockSize);
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsTrickPlayWriter::Write(const Sample& sample, const Input& input,
                                            bool& insertStreamMap) {
    if (!sample.IsKeyFrame()) {
        return Mpeg2PsResult::Ok;
    }
    if (!input.track) {
        return Mpeg2PsResult::NoSelectedTrack;
    }
    const uint64_t step = TicksToClock(FrameStepTicks(input.track));
    const uint64_t packScr = input.scr;
    // At rate 0 (trick play ended with a sample still pending) the target stays at the origin.
    const uint64_t target =
        magnitude_ != 0 && packScr > origin_ ? origin_ + (packScr - origin_) / magnitude_ : origin_;
    const int64_t ptsBase =
        static_cast<int64_t>(input.pts) - static_cast<int64_t>(ClockToTicks(packScr));

    std::vector<MemoryChunk> packets;  // built once per sample
    uint64_t muxRate = 0;
    const bool once =
        (flags_ & WriteOnce) != 0 || (outputClock_ < target && target - outputClock_ > kMaxFillGap);
    while (outputClock_ < target) {
        const uint64_t pts =
            static_cast<uint64_t>(
                static_cast<int64_t>(ClockToTicks(outputClock_ + accumulatedOffset_)) + ptsBase) &
            kTimestampMask;
        Mpeg2PsResult result = Mpeg2PsResult::Ok;
        if (!demultiplexing_) {
            result = WritePack(sample, input, pts, step, packets, muxRate, insertStreamMap);
            if (result != Mpeg2PsResult::Ok) {
                return result;
            }
        } else {
            Sample copy = sample;
            copy.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(pts)));
            downstream_.SendSampleDownstream(copy);
        }

        // Where in the title the output stands, for the position display.
        uint64_t position = ClockToTicks(origin_ + (outputClock_ - origin_) * magnitude_);
        // The index keeps the duration in its own timescale; positions are 90 kHz ticks.
        const MediaTrackIndex& index = input.track->GetIndex();
        uint64_t limit = index.GetDuration();
        if (index.GetTimescale() != 0) {
            const unsigned __int128 ticks =
                static_cast<unsigned __int128>(limit) * kTicksPerSecond / index.GetTimescale();
            limit = ticks > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(ticks);
        }
        position = std::min(position, limit);
        if (input.track->GetTrickPlayRate() < 0) {
            position = limit - position;  // a track recorded backwards
        }
        listener_.OnTimestamp(SampleMediaTypeVideo, static_cast<uint32_t>(pts),
                              static_cast<uint32_t>(position));

        if (once) {
            outputClock_ += (target - outputClock_ + step - 1) / step * step;
        } else {
            outputClock_ += step;
        }
        if (flags_ & SilentAudio) {
            result = WriteSilentAudio(input, ptsBase);
            if (result != Mpeg2PsResult::Ok) {
                return result;
            }
        }
        lastInputScr_ = packScr;
    }
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsTrickPlayWriter::TimeLastPicture(Input& input, uint64_t scr, uint64_t pts) const {
    // One output step is rate-many input steps; the PTS moves with the SCR, so the copies keep
    // the picture's own PTS-to-SCR distance.
    const uint64_t hold = uint64_t(FrameStepTicks(input.track)) * std::max<uint64_t>(magnitude_, 1);
    input.scr = scr + TicksToClock(hold);
    input.pts = (pts + hold) & kTimestampMask;
}

Mpeg2PsResult Mpeg2PsTrickPlayWriter::WritePack(const Sample& sample, const Input& input,
                                                uint64_t pts, uint64_t step,
                                                std::vector<MemoryChunk>& packets,
                                                uint64_t& muxRate, bool& insertStreamMap) {
    const uint8_t streamId = input.videoStreamId != 0 ? input.videoStreamId : input.streamId;
    if (packets.empty()) {
        // One PES packet per payload chunk (a chunk too large for one packet is cut).
        bool first = true;
        for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
            uint32_t offset = 0;
            const uint32_t total = chunk.Size();
            while (offset < total || (first && total == 0)) {
                Mpeg2PsPes pes;
                pes.SetStreamId(streamId);
                if (first) {
                    pes.SetPts(pts);
                    pes.SetDataAlignment(true);
                }
                const uint32_t n = std::min<uint32_t>(
                    total - offset, static_cast<uint32_t>(std::max(pes.GetFreeSpace(), 0)));
                pes.AddData(chunk.Data(offset), n, false);
                std::vector<uint8_t> bytes;
                if (!pes.AppendTo(bytes)) {
                    return Mpeg2PsResult::Ok;
                }
                packets.push_back(MemoryChunk::CopyOf(bytes));
                offset += n;
                first = false;
            }
        }
        if (packets.empty()) {
            return Mpeg2PsResult::Ok;
        }
        const uint64_t payloadBytes = sample.GetPayload().Size();
        muxRate = (payloadBytes * kSystemClock / step) / 50;
    } else {
        // A later copy: the first packet gets the new PTS in a buffer of its own, so the
        // packets handed on before keep theirs.
        const MemoryChunk& previous = packets.front();
        MemoryChunk fresh = MemoryChunk::CopyOf(previous.Data(0), previous.Size());
        // After start code, id, length, flags and header length.
        WritePesTimestamp(kPesPtsAlonePrefix, pts, fresh.Data(0) + 9);
        packets.front() = fresh;
    }

    Mpeg2PsPack pack;
    pack.SetScr(outputClock_ + accumulatedOffset_);
    pack.SetMuxRate(static_cast<uint32_t>(muxRate));
    if (insertStreamMap) {
        // The first pack after a reset tells the consumer what the stream holds.
        const bool silent = (flags_ & SilentAudio) != 0;
        boost::shared_ptr<Mpeg2PsSystemHeader> header(new Mpeg2PsSystemHeader);
        header->SetRateBound(static_cast<uint32_t>(2 * muxRate));
        header->SetAudioBound(silent ? 1 : 0);
        header->SetVideoBound(1);
        header->SetFixedFlag(false);
        header->SetCspsFlag(false);
        header->SetSystemAudioLockFlag(true);
        header->SetSystemVideoLockFlag(true);
        header->SetPacketRateRestrictionFlag(false);
        header->AddStreamBound(F::kStreamIdProgramStreamMap, false, 0);
        header->AddStreamBound(streamId, true,
                               static_cast<uint16_t>(((muxRate * 250) % (1u << 26)) / 1024));
        if (silent) {
            header->AddStreamBound(input.audioStreamId, false, 0);
        }
        boost::shared_ptr<Mpeg2PsPsm> psm(new Mpeg2PsPsm);
        BuildStreamMap(input, silent, *psm);
        pack.SetSystemHeader(header);
        pack.SetPsm(psm);
        insertStreamMap = false;
    }
    std::vector<uint8_t> packBytes;
    if (!pack.AppendTo(packBytes)) {
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult result = listener_.OnOutputChunk(MemoryChunk::CopyOf(packBytes));
    for (size_t i = 0; result == Mpeg2PsResult::Ok && i < packets.size(); ++i) {
        result = listener_.OnOutputChunk(packets[i]);
    }
    return result;
}

Mpeg2PsResult Mpeg2PsTrickPlayWriter::WriteSilentAudio(const Input& input, int64_t ptsBase) {
    if (audioFrequency_ == 0 || silentFrame_.empty()) {
        return Mpeg2PsResult::Ok;
    }
    const uint64_t audioTarget =
        (outputClock_ + accumulatedOffset_) * audioFrequency_ / kSystemClock;
    if (audioClock_ < audioTarget &&
        audioTarget - audioClock_ > kMaxFillGap * audioFrequency_ / kSystemClock) {
        audioClock_ = audioTarget - std::min<uint64_t>(audioTarget, audioFrameLength_);
    }
    const uint32_t n = static_cast<uint32_t>(silentFrame_.size());
    while (audioClock_ < audioTarget && audioClock_ < (uint64_t(1) << 32)) {
        const uint64_t pts =
            static_cast<uint64_t>(
                static_cast<int64_t>(ClockToTicks(audioClock_ * kSystemClock / audioFrequency_)) +
                ptsBase) &
            kTimestampMask;
        Mpeg2PsResult result = Mpeg2PsResult::Ok;
        if (!demultiplexing_) {
            Mpeg2PsPes pes;
            pes.SetStreamId(input.audioStreamId);
            pes.SetDataAlignment(true);
            pes.SetPts(pts);
            pes.AddData(silentFrame_.data(), n, false);
            std::vector<uint8_t> bytes;
            pes.AppendTo(bytes);
            result = listener_.OnOutputChunk(MemoryChunk::CopyOf(bytes));
        } else {
            // Made like any sample of the audio stream, so it fits the stream's own.
            Sample sample = listener_.CreateSample(input.audioStreamId, n, SampleMediaTypeAudio);
            MemoryChunkList& payload = sample.GetPayload();
            if (payload.GetChunks().size() == 1 && payload.Back().Size() == n) {
                std::memcpy(payload.Back().Data(0), silentFrame_.data(), n);
            } else {
                payload.Append(silentFrame_.data(), n);
            }
            sample.SetDataAlignment(true);
            sample.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(pts)));
            result = listener_.OnSample(sample);
        }
        if (result != Mpeg2PsResult::Ok) {
            return result;
        }
        audioClock_ += audioFrameLength_;
    }
    return Mpeg2PsResult::Ok;
}

}  // namespace SarvelonMediaKit
