#include "engine/demux/Mpeg2PsSampleAssembler.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <utility>

#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

namespace {

const uint8_t kPtsPresent = 0x80;
const uint8_t kDtsPresent = 0x40;
const uint8_t kDataAlignment = 0x04;

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

Mpeg2PsSampleAssembler::Mpeg2PsSampleAssembler(Mpeg2PsParserListener& listener,
                                               const FinishedHandler& finished)
    : listener_(listener), finished_(finished) {}

Mpeg2PsResult Mpeg2PsSampleAssembler::PacketStarts(const Packet& packet) {
    if (left_ != 0) {
        // The previous packet ended before its sample was filled: it is replaced.
        Start(packet);
        return Mpeg2PsResult::Ok;
    }
    if (packet.flags2 & kPtsPresent) {
        const Mpeg2PsResult result = Finish();
        if (result != Mpeg2PsResult::Ok) {
            return result;
        }
        Start(packet);
        return Mpeg2PsResult::Ok;
    }
    // A continuation of the open sample.
    if (copyInProgress_ && packet.payloadLength != 0 && !sample_.GetPayload().GetChunks().empty()) {
        write_ = nullptr;
        slicing_ = false;
        left_ = packet.payloadLength;
    } else {
        copyInProgress_ = false;
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsSampleAssembler::Finish() {
    if (left_ != 0 || sample_.GetPayload().IsEmpty()) {
        return Mpeg2PsResult::Ok;
    }
    // Taken out first, so a stop in the handler cannot hand the same sample on twice.
    Sample finished = std::move(sample_);
    Drop();
    copyInProgress_ = false;
    return finished_(finished);
}

void Mpeg2PsSampleAssembler::Start(const Packet& packet) {
    if (packet.payloadLength == 0) {
        Drop();
        return;
    }
    // No payload chunk is asked for: the packet's payload becomes one when it comes (Add).
    sample_ = listener_.CreateSample(packet.streamId, 0, packet.type);
    startScr_ = packet.scr;
    startPts_ = packet.pts;
    const uint64_t pts = packet.pts;
    const uint64_t dts = packet.dts;
    if (packet.flags2 & kDtsPresent) {
        sample_.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(dts) + packet.timingOffset));
        // A DTS after its PTS is malformed; the sample then gets no presentation offset.
        sample_.SetPresentationOffset(
            MediaTime(pts >= dts ? TicksToMicrosecondsTruncated(pts - dts) : 0));
    } else {
        sample_.SetDecodeTime(MediaTime(TicksToMicrosecondsTruncated(pts) + packet.timingOffset));
        sample_.SetPresentationOffset(MediaTime(0));
    }
    // In this container an aligned PES packet starts a random-access unit.
    sample_.SetDataAlignment((packet.flags1 & kDataAlignment) != 0);
    sample_.SetScramblingControl((packet.flags1 >> 4) & 3);

    MemoryChunkList& payload = sample_.GetPayload();
    write_ = nullptr;
    if (payload.GetChunks().size() == 1 && payload.Back().Size() == packet.payloadLength) {
        write_ = payload.Back().Data(0);  // a listener sized it anyway: filled by copying
    } else {
        payload.GetChunks().clear();
    }
    slicing_ = false;
    left_ = packet.payloadLength;
    copyInProgress_ = true;
}

void Mpeg2PsSampleAssembler::Add(const MemoryChunk* source, const uint8_t* bytes, uint32_t n) {
    if (!copyInProgress_ || left_ == 0) {
        return;
    }
    const uint32_t m = std::min(n, left_);
    MemoryChunkList& payload = sample_.GetPayload();
    if (write_ == nullptr && source != nullptr) {
        const uint32_t offset = static_cast<uint32_t>(bytes - source->Data(0));
        if (slicing_ && payload.Back().ExtendSlice(*source, offset, m)) {
            // The rest of the packet follows its first bytes in the same buffer (the input
            // chunks are cut from one read): the packet stays one slice.
        } else if (!slicing_) {
            // The sample shows the input's bytes instead of copying them (a stage that puts a
            // header in front then copies, see Slice), if need be across input chunks.
            payload.GetChunks().push_back(source->Slice(offset, m));
            slicing_ = true;
        } else {
            // The packet's bytes go on in another buffer: what the slice showed is copied into
            // a chunk of the packet's size, and the rest after it.
            const MemoryChunk part = payload.Back();
            MemoryChunk& whole = payload.Back();
            whole = MemoryChunk::Unset(part.Size() + left_,
                                       payload.GetChunks().size() == 1 ? payload.GetHeadroom() : 0,
                                       payload.GetTailroom());
            std::memcpy(whole.Data(0), part.Data(0), part.Size());
            write_ = whole.Data(part.Size());
            slicing_ = false;
        }
        if (write_ == nullptr) {
            left_ -= m;
            slicing_ = left_ != 0;
            return;
        }
    } else if (write_ == nullptr) {
        write_ = AddUnsetChunk(payload, left_).Data(0);
    }
    std::memcpy(write_, bytes, m);
    write_ += m;
    left_ -= m;
    if (left_ == 0) {
        write_ = nullptr;
    }
}

void Mpeg2PsSampleAssembler::Reset() {
    Drop();
    copyInProgress_ = false;
}

void Mpeg2PsSampleAssembler::Drop() {
    sample_ = Sample();
    write_ = nullptr;
    slicing_ = false;
    left_ = 0;
}

}  // namespace SarvelonMediaKit
