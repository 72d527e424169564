#include "engine/samples/Sample.h"

namespace SarvelonMediaKit {

Sample::Sample(uint32_t headroom, uint32_t tailroom, uint32_t size)
    : Sample(SampleMediaTypeNone, SampleFormatNone, StreamReference(kInvalidStreamReference),
             headroom, tailroom, size) {}

Sample::Sample(uint32_t type, uint32_t format, StreamReference streamRef, uint32_t headroom,
               uint32_t tailroom, uint32_t size)
    : mType(type),
      mFormat(format),
      mStreamRef(streamRef),
      mDataAlignment(0),
      mDecodeTime(0),
      mPresentationOffset(0),
      mPayload(headroom, tailroom),
      mScramblingControl(0) {
    if (size > 0) {
        mPayload.AddChunk(size);
    }
}

boost::shared_ptr<MemoryMarker> Sample::GetMemoryMarker() const {
    if (mFormat != SampleFormatMarker || mPayload.GetChunks().empty()) {
        return boost::shared_ptr<MemoryMarker>();
    }
    return mPayload.GetChunks().front().GetMarker();
}

}  // namespace SarvelonMediaKit
