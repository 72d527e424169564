#include "engine/demux/Mpeg2PsSampleAssembler.h"

#include <algorithm>
#include <cstring>
#include <list>

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
    if (write_ != end_) {
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
        MemoryChunk& chunk = AddUnsetChunk(sample_.GetPayload(), packet.payloadLength);
        write_ = chunk.Data(0);
        end_ = write_ + packet.payloadLength;
    } else {
        copyInProgress_ = false;
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsSampleAssembler::Finish() {
    if (write_ != end_ || sample_.GetPayload().IsEmpty()) {
        return Mpeg2PsResult::Ok;
    }
    // Taken out first, so a stop in the handler cannot hand the same sample on twice.
    Sample finished = sample_;
    Drop();
    copyInProgress_ = false;
    return finished_(finished);
}

void Mpeg2PsSampleAssembler::Start(const Packet& packet) {
    if (packet.payloadLength == 0) {
        Drop();
        return;
    }
    sample_ = listener_.CreateSample(packet.streamId, packet.payloadLength, packet.type);
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
    MemoryChunk* chunk = nullptr;
    if (payload.GetChunks().size() == 1 && payload.Back().Size() == packet.payloadLength) {
        chunk = &payload.Back();  // the listener already sized it
    } else {
        chunk = &AddUnsetChunk(payload, packet.payloadLength);
    }
    write_ = chunk->Data(0);
    end_ = write_ + packet.payloadLength;
    copyInProgress_ = true;
}

void Mpeg2PsSampleAssembler::Add(const uint8_t* bytes, uint32_t n) {
    if (copyInProgress_ && write_ != nullptr) {
        const uint32_t m = std::min<uint32_t>(n, static_cast<uint32_t>(end_ - write_));
        std::memcpy(write_, bytes, m);
        write_ += m;
    }
}

void Mpeg2PsSampleAssembler::Reset() {
    Drop();
    copyInProgress_ = false;
}

void Mpeg2PsSampleAssembler::Drop() {
    sample_ = Sample();
    write_ = nullptr;
    end_ = nullptr;
}

}  // namespace SarvelonMediaKit
