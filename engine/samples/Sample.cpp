#include "engine/samples/Sample.h"

namespace SarvelonMediaKit {

Sample::Sample(uint32_t headroom, uint32_t tailroom, uint32_t size)
    : Sample(SampleMediaTypeNone, SampleFormatNone, StreamReference(kInvalidStreamReference),
             headroom, tailroom, size) {}

Sample::Sample(uint32_t type, uint32_t format, StreamReference streamRef, uint32_t headroom,
               uint32_t tailroom, uint32_t size)
    : type_(type),
      format_(format),
      streamRef_(streamRef),
      dataAlignment_(0),
      decodeTime_(0),
      presentationOffset_(0),
      payload_(headroom, tailroom),
      scramblingControl_(0) {
    if (size > 0) {
        payload_.AddChunk(size);
    }
}

boost::shared_ptr<MemoryMarker> Sample::GetMemoryMarker() const {
    if (format_ != SampleFormatMarker || payload_.GetChunks().empty()) {
        return boost::shared_ptr<MemoryMarker>();
    }
    return payload_.GetChunks().front().GetMarker();
}

}  // namespace SarvelonMediaKit
