#ifndef ENGINE_SAMPLES_ADTSSYNCHRONIZESAMPLEFILTER_H
#define ENGINE_SAMPLES_ADTSSYNCHRONIZESAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/AdtsParserSampleFilter.h"

namespace SarvelonMediaKit {

// Cuts demultiplexed ADTS audio, whose samples hold arbitrary stretches of the byte stream,
// into one sample per ADTS frame. It finds the frame sync (a syncword whose frame length
// leads to the next syncword), keeps the bytes of a frame split across samples until the rest
// arrives, and times each frame: the first frame that starts in a sample takes the sample's
// times, the others are extrapolated frame by frame (1024 samples per frame).
class AdtsSynchronizeSampleFilter : public AdtsParserSampleFilter {
public:
    AdtsSynchronizeSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                                uint32_t outputFormat);
    ~AdtsSynchronizeSampleFilter() override;

    // Runs ProcessChunk on each chunk of the payload; only the frames made are passed on.
    void DoReceiveSample(Sample& sample) override;
    // The data in flight is being discarded (seek, track change): forgets the carried bytes,
    // the sync and the extrapolated time, so no stale bytes are joined to new ones.
    void Reset() override;

    // Cuts the frames out of one chunk of sample (which gives the times, flag and reference).
    // Only the first frame that starts in the sample takes the sample's times.
    virtual void ProcessChunk(const Sample& sample, MemoryChunk chunk);

private:
    MemoryChunk carry_;  // start of a frame that continues in the next chunk
    bool synchronised_;
    MediaTime nextTime_;       // decode time of the next extrapolated frame
    MediaTime frameDuration_;  // microseconds per frame
    // Whether a frame of the sample being cut already took the sample's own time: a frame
    // that starts in a later chunk of the same sample is extrapolated, so times never go back.
    bool sampleTimeUsed_;
};

}  // namespace SarvelonMediaKit

#endif
