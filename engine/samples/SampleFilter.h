#ifndef ENGINE_SAMPLES_SAMPLEFILTER_H
#define ENGINE_SAMPLES_SAMPLEFILTER_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>

#include "engine/samples/Sample.h"
#include "engine/samples/SampleReceiver.h"

namespace SarvelonMediaKit {

class SampleStream;

// Base of the filters in a stream's ring of receivers: each rewrites, drops, splits or joins
// the samples on their way to the multiplexer and passes the result on with
// SendSampleDownstream. The stream owns its filters; a filter keeps only a weak link back, so
// the two do not keep each other alive.
class SampleFilter : public SampleReceiver {
public:
    // outputFormat 0 leaves the stream's format as it is.
    SampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                 uint32_t outputFormat);
    ~SampleFilter() override;

    // Codec set-up that this filter derived (StreamInfoKind); false (arguments untouched) by
    // default.
    virtual bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size);
    // No filter has a numeric stream value.
    virtual bool GetStreamValue(uint32_t kind, uint64_t* value);
    // Drops what the filter holds between samples (the stream is being flushed).
    virtual void Reset();
    // Passes on what the filter holds between samples: the stream has ended, and nothing
    // more will come to complete it. Nothing by default.
    virtual void Drain();

    uint32_t GetInputFormat() const { return inputFormat_; }
    uint32_t GetOutputFormat() const { return outputFormat_; }
    uint32_t GetHeadroom() const { return headroom_; }
    void SetHeadroom(uint32_t headroom) { headroom_ = headroom; }
    uint32_t GetTailroom() const { return tailroom_; }
    void SetTailroom(uint32_t tailroom) { tailroom_ = tailroom; }
    // The stream, or empty once it is gone.
    boost::shared_ptr<SampleStream> GetStream() const { return stream_.lock(); }

    // A sample of type 0, the filter's output format and the invalid stream reference, with a
    // payload of size bytes made with the filter's headroom and tailroom.
    Sample MakeSample(uint32_t size) const;

    // Samples (or, for a filter that parses a stream of frames, stretches of bytes it could not
    // make a frame of) that the filter threw away as unusable. Safe on any thread: statistics
    // read it while the filter runs on the session's task thread.
    uint64_t GetDroppedSamples() const { return dropped_.load(std::memory_order_relaxed); }

protected:
    // Counts one sample thrown away instead of passed on. A drop is never silent: the
    // demultiplexer's statistics show the count.
    void CountDroppedSample() { dropped_.fetch_add(1, std::memory_order_relaxed); }

private:
    boost::weak_ptr<SampleStream> stream_;
    uint32_t inputFormat_;
    uint32_t outputFormat_;
    uint32_t headroom_;
    uint32_t tailroom_;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace SarvelonMediaKit

#endif
