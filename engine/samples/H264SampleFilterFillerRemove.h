#ifndef ENGINE_SAMPLES_H264SAMPLEFILTERFILLERREMOVE_H
#define ENGINE_SAMPLES_H264SAMPLEFILTERFILLERREMOVE_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "engine/samples/MemoryChunkList.h"
#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Removes filler-data NAL units (type 12) from H.264 pictures, in place, in either packaging:
// behind 4-byte lengths (format 25, the length goes with the unit) or behind start codes
// (format 24, the start code goes with the unit). The format is left as it is.
class H264SampleFilterFillerRemove : public SampleFilter {
public:
    // Works on the stream's current format.
    explicit H264SampleFilterFillerRemove(const boost::shared_ptr<SampleStream>& stream);
    ~H264SampleFilterFillerRemove() override;

    // Drops samples of other formats and length-prefixed samples whose lengths run past the
    // payload.
    void DoReceiveSample(Sample& sample) override;

    // Looks for the next start code (two or more zero bytes, then 01) from the cursor on. On a
    // match the cursor stands on its first byte and the result is its length: 3 for 00 00 01,
    // 4 when three or more zeros precede the 01 (the cursor then stands on the third zero
    // before it). kNoStartCode, with the cursor at the end, when there is none.
    static uint32_t FindStartCode(MemoryChunkList::Cursor& cursor);
    static const uint32_t kNoStartCode = 0;

private:
    void RemoveFromLengthPrefixed(Sample& sample);
    void RemoveFromStartCodes(Sample& sample);
};

}  // namespace SarvelonMediaKit

#endif
