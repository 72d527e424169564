#ifndef ENGINE_SAMPLES_SAMPLECONSUMER_H
#define ENGINE_SAMPLES_SAMPLECONSUMER_H

#include <boost/shared_ptr.hpp>

namespace SarvelonMediaKit {

class SampleSource;
class SampleStream;

// What a demultiplexer hands its sample streams to: the multiplexer linked behind it. The
// demultiplexer finds it on a consumer that answers IsMux; declared here so that neither of
// the two depends on the other.
class SampleConsumer {
public:
    virtual ~SampleConsumer() {}

    virtual void AddSampleStream(const boost::shared_ptr<SampleStream>& stream) = 0;
    virtual void RemoveSampleStream(const boost::shared_ptr<SampleStream>& stream) = 0;
    // The end of the media has reached the demultiplexer: what the streams hold is all there
    // is.
    virtual void SetEndOfStream(bool endOfStream) = 0;
    // The same, naming the demultiplexer whose media ended, for a multiplexer fed by several.
    virtual void SourceEnded(SampleSource* /*source*/) { SetEndOfStream(true); }
};

}  // namespace SarvelonMediaKit

#endif
