#ifndef ENGINE_SAMPLES_SAMPLESOURCE_H
#define ENGINE_SAMPLES_SAMPLESOURCE_H

#include <cstdint>

namespace SarvelonMediaKit {

// What a multiplexer asks of a demultiplexer that feeds it. The demultiplexer base provides
// it beside SampleStreamOwner; it is declared here so that the multiplexers do not depend on
// the demultiplexers. A multiplexer finds it on a linked component that answers IsDemux, and
// as the source a stream it was given carries (SampleStream::GetSource).
class SampleSource {
public:
    virtual ~SampleSource() {}

    // Parses more of the data the demultiplexer can get from its source side; true when that
    // produced something (a multiplexer waiting for a sample asks again).
    virtual bool PullSamples() = 0;
    // The room every new sample payload keeps in front of its bytes (for headers that filters
    // and multiplexers write in place) and behind each chunk; handed on to every stream.
    virtual void SetFirstContext(uint32_t headroom) = 0;
    virtual void SetSecondContext(uint32_t tailroom) = 0;
};

}  // namespace SarvelonMediaKit

#endif
