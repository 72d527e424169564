// The program-stream parser's sample assembly: media payloads gathered into samples, handed to
// the listener, or in trick play to the trick-play writer. The start-code machine is in
// Mpeg2PsParser.cpp.

#include "engine/demux/Mpeg2PsParser.h"

#include <list>

#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

namespace {

// Appends a chunk of size bytes for a packet's payload, made as the list makes its chunks but
// not cleared: the payload is copied over it, and a sample whose packet ends before it is full
// is replaced, never handed on.
MemoryChunk& AddUnsetChunk(MemoryChunkList& payload, uint32_t size) {
    std::list<MemoryChunk>& chunks = payload.GetChunks();
    chunks.push_back(MemoryChunk::Unset(size, chunks.empty() ? payload.GetHeadroom() : 0,
                                        payload.GetTailroom()));
    return chunks.back();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Samples

Mpeg2PsResult Mpeg2PsParser::AddPesPayloadToSample() {
    if (IsTrickPlay()) {
        if ((streamId_ & 0xF0) != 0xE0) {
            copyInProgress_ = false;
            return Mpeg2PsResult::Ok;
        }
        if (!trickPlay_.IsStarted()) {
            return StartTrickPlay();
        }
    }
    if (write_ != end_) {
        // The previous packet ended before its sample was filled: it is replaced.
        return StartSample();
    }
    if (flags2_ & 0x80) {
        const Mpeg2PsResult result = ClosePendingSample();
        if (result != Mpeg2PsResult::Ok) {
            return result;
        }
        return StartSample();
    }
    // A continuation of the open sample.
    if (copyInProgress_ && packetLeft_ != 0 && !sample_.GetPayload().GetChunks().empty()) {
        MemoryChunk& chunk = AddUnsetChunk(sample_.GetPayload(), packetLeft_);
        write_ = chunk.Data(0);
        end_ = write_ + packetLeft_;
    } else {
        copyInProgress_ = false;
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsParser::FlushPendingSample() {
    if (!IsTrickPlay()) {
        return AddPesPayloadToSample();
    }
    closingLastPicture_ = true;
    const Mpeg2PsResult result = ClosePendingSample();
    closingLastPicture_ = false;
    return result;
}

Mpeg2PsResult Mpeg2PsParser::ClosePendingSample() {
    if (write_ != end_ || sample_.GetPayload().IsEmpty()) {
        return Mpeg2PsResult::Ok;
    }
    // Taken out first, so a stop in the handler cannot hand the same sample on twice.
    Sample finished = sample_;
    sample_ = Sample();
    write_ = nullptr;
    end_ = nullptr;
    copyInProgress_ = false;
    if (demultiplexing_) {
        return listener_.OnSample(finished);
    }
    return trickPlay_.Write(finished, TrickPlayInput(), insertStreamMap_);
}

Mpeg2PsResult Mpeg2PsParser::StartSample() {
    if (packetLeft_ == 0) {
        sample_ = Sample();
        write_ = nullptr;
        end_ = nullptr;
        return Mpeg2PsResult::Ok;
    }
    uint64_t offset = 0;
    if (selectedTrack_) {
        const double seconds = selectedTrack_->GetTimingOffset();
        if (seconds > 0 && seconds < 1.0e12) {
            offset = static_cast<uint64_t>(seconds * static_cast<double>(kMicrosecondsPerSecond));
        }
    }
    SampleMediaType type = SampleMediaTypeNone;
    if (streamId_ == audioStreamId_) {
        type = SampleMediaTypeAudio;
    } else if (streamId_ == videoStreamId_) {
        type = SampleMediaTypeVideo;
    }
    sample_ = listener_.CreateSample(streamId_, packetLeft_, type);
    sampleScr_ = scr_;
    samplePts_ = pts_;
    if (flags2_ & 0x40) {
        sample_.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(dts_) + offset));
        // A DTS after its PTS is malformed; the sample then gets no presentation offset.
        sample_.SetPresentationOffset(
            MediaTime(pts_ >= dts_ ? TicksToMicrosecondsTruncated(pts_ - dts_) : 0));
    } else {
        sample_.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(pts_) + offset));
        sample_.SetPresentationOffset(MediaTime(0));
    }
    // In this container an aligned PES packet starts a random-access unit.
    sample_.SetDataAlignment((flags1_ & 0x04) != 0);
    sample_.SetScramblingControl((flags1_ >> 4) & 3);

    MemoryChunkList& payload = sample_.GetPayload();
    MemoryChunk* chunk = nullptr;
    if (payload.GetChunks().size() == 1 && payload.Back().Size() == packetLeft_) {
        chunk = &payload.Back();  // the listener already sized it
    } else {
        chunk = &AddUnsetChunk(payload, packetLeft_);
    }
    write_ = chunk->Data(0);
    end_ = write_ + packetLeft_;
    copyInProgress_ = true;
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParser::DoReceiveSample(Sample& sample) {
    if (IsTrickPlay()) {
        trickPlay_.Write(sample, TrickPlayInput(), insertStreamMap_);
        return;
    }
    SendSampleDownstream(sample);
}

// ---------------------------------------------------------------------------------------------
// Trick play

Mpeg2PsTrickPlayWriter::Input Mpeg2PsParser::TrickPlayInput() const {
    Mpeg2PsTrickPlayWriter::Input input{
        streamMap_,       selectedTrack_, videoStreamId_, audioStreamId_,
        audioStreamType_, streamId_,      scr_,           pts_};
    if (closingLastPicture_) {
        trickPlay_.TimeLastPicture(input, sampleScr_, samplePts_);
    }
    return input;
}

Mpeg2PsResult Mpeg2PsParser::StartTrickPlay() {
    std::vector<uint8_t> audioConfig;
    GetAudioDecoderConfig(audioStreamId_, audioConfig);
    const Mpeg2PsResult result = trickPlay_.Start(TrickPlayInput(), audioConfig);
    return result != Mpeg2PsResult::Ok ? result : StartSample();
}

}  // namespace SarvelonMediaKit
