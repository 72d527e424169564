#include "engine/seek/FirstRenditionCut.h"

#include <boost/make_shared.hpp>

#include <algorithm>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

FirstRenditionCut::FirstRenditionCut(Session* session) : Component(session) {}

FirstRenditionCut::~FirstRenditionCut() { DetachFromSources(); }

std::string FirstRenditionCut::GetTypeName() const { return "SarvelonMediaKit::FirstRenditionCut"; }

void FirstRenditionCut::SetEnd(uint64_t end) {
    end_ = end;
    endKnown_ = true;
    if (Limited() && position_ >= end_) Finish();
}

void FirstRenditionCut::TracksAvailable(const TrackMap& tracks, bool) {
    uint64_t end = kUnknown;
    if (!tracks.empty()) {
        // The track list is ordered by id, and the first rendition has the lowest.
        const SV::SVDictionary& info = tracks.begin()->second->GetInfo();
        uint64_t offset = 0;
        uint64_t size = 0;
        if (info.GetUnsignedLong(TrackInfoKey_Offset, offset) &&
            info.GetUnsignedLong(TrackInfoKey_Size, size) && offset + size >= offset) {
            end = offset + size;
        }
    }
    SetEnd(end);
}

uint64_t FirstRenditionCut::Left() const {
    const uint64_t position = position_;
    const uint64_t end = end_;
    return position < end ? end - position : 0;
}

void FirstRenditionCut::PrePullData(ByteAmount& amount) {
    if (ended_) {
        amount = ByteAmount(0);
    } else if (!endKnown_) {
        amount = std::min<uint32_t>(amount, kProbeBytes);
    } else if (Limited()) {
        amount = ByteAmount(uint32_t(std::min<uint64_t>(amount, Left())));
    }
}

ByteAmount FirstRenditionCut::DoGetBufferedBytes() {
    if (ended_) return ByteAmount(0);
    const ByteAmount buffered = Component::DoGetBufferedBytes();
    if (!Limited()) return buffered;
    return ByteAmount(uint32_t(std::min<uint64_t>(buffered, Left())));
}

void FirstRenditionCut::DoAdd(const MemoryChunk& chunk) {
    if (ended_) return;
    if (Limited() && chunk.Size() > Left()) {
        // The chunk runs into the next rendition: only its front goes on, as a chunk of its own
        // (copies of a chunk share its payload range with whoever else holds it).
        const uint32_t front = uint32_t(Left());
        if (front != 0) Pass(MemoryChunk::CopyOf(chunk.Data(0), front));
        Finish();
        return;
    }
    Pass(chunk);
    if (Limited() && position_ >= end_) Finish();
}

bool FirstRenditionCut::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (ended_) return false;
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
        Finish();
        return false;
    }
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) ended_ = true;
    return true;
}

void FirstRenditionCut::Pass(const MemoryChunk& chunk) {
    position_ += chunk.Size();
    DoSend(chunk);
}

void FirstRenditionCut::Finish() {
    if (ended_.exchange(true)) return;
    DoSend(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
}

}  // namespace SarvelonMediaKit
