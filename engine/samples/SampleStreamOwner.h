#ifndef ENGINE_SAMPLES_SAMPLESTREAMOWNER_H
#define ENGINE_SAMPLES_SAMPLESTREAMOWNER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace SarvelonMediaKit {

class MemoryTracker;

// What a SampleStream asks of the demultiplexer that made it. The demultiplexer base (Demux)
// provides it; it is declared here so that the sample stage does not depend on the
// demultiplexers.
class SampleStreamOwner {
public:
    virtual ~SampleStreamOwner() {}

    // The budget the owner's streams count their bytes against (its session's tracker); may
    // be empty.
    virtual boost::shared_ptr<MemoryTracker> GetMemoryTracker() const = 0;
    // Codec set-up of the stream when none of its filters knows it (StreamInfoKind). True
    // with the owner's bytes in *data and *size; false (both untouched) when it has none.
    virtual bool GetStreamInfo(uint32_t /*kind*/, const uint8_t** /*data*/, uint32_t* /*size*/) {
        return false;
    }
    // A numeric stream value; no demultiplexer has one.
    virtual bool GetStreamValue(uint32_t /*kind*/, uint64_t* /*value*/) { return false; }
};

}  // namespace SarvelonMediaKit

#endif
