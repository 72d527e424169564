#include "engine/samples/AdtsSynchronizeSampleFilter.h"

#include <cstring>
#include <list>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/Aac.h"
#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

namespace {

// Sampling-frequency indexes 0-11 time the frames by their own rate; indexes 12 and above
// (7350 Hz, the reserved ones and the explicit frequency) keep kDefaultFrameDuration, the
// duration of 1024 samples at 48 kHz.
const uint32_t kTimedIndexes = 12;
const uint64_t kDefaultFrameDuration = UnitsToMicroseconds(kAacSamplesPerRawDataBlock, 48000);

}  // namespace

AdtsSynchronizeSampleFilter::AdtsSynchronizeSampleFilter(
    const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat, uint32_t outputFormat)
    : AdtsParserSampleFilter(stream, inputFormat, outputFormat),
      synchronised_(false),
      nextTime_(0),
      frameDuration_(0),
      sampleTimeUsed_(false) {}

AdtsSynchronizeSampleFilter::~AdtsSynchronizeSampleFilter() {}

void AdtsSynchronizeSampleFilter::DoReceiveSample(Sample& sample) {
    // A copy of the handles: the frames passed on must not change the list being walked.
    const std::list<MemoryChunk> chunks = sample.GetPayload().GetChunks();
    sampleTimeUsed_ = false;
    for (const MemoryChunk& chunk : chunks) {
        ProcessChunk(sample, chunk);
    }
}

void AdtsSynchronizeSampleFilter::Reset() {
    carry_ = MemoryChunk();
    synchronised_ = false;
    nextTime_ = 0;
}

void AdtsSynchronizeSampleFilter::ProcessChunk(const Sample& sample, MemoryChunk chunk) {
    bool useSampleTimes = !sampleTimeUsed_;
    bool joined = false;
    // The bytes are read through data and size; the chunk's own range is left alone, since
    // other copies of the sample share it.
    const uint8_t* data = chunk.Data(0);
    uint32_t size = chunk.Size();
    uint32_t position = 0;
    MemoryChunk combined;

    if (!synchronised_) {
        carry_ = MemoryChunk();
        bool found = false;
        for (uint32_t i = 0; i + kAdtsHeaderSize <= size; ++i) {
            if (!IsAdtsSyncword(data + i)) {
                continue;
            }
            const uint32_t length = AdtsFrameLength(data + i);
            if (length < kAdtsHeaderSize) {
                continue;  // cannot be a frame: its length does not even cover the header
            }
            if (i == 0 && length == size) {
                found = true;  // the chunk is exactly one frame
                break;
            }
            // Confirmed by the syncword of the frame that follows.
            const uint64_t next = uint64_t(i) + length;
            if (next + 2 < size && IsAdtsSyncword(data + next)) {
                position = i;
                found = true;
                break;
            }
        }
        if (!found) {
            DebugPrint("AdtsSynchronizeSampleFilter: no frame start in %u bytes", size);
            CountDroppedSample();
            return;
        }
        synchronised_ = true;
        // Indexes 0-11 give the frame duration from their rate; 12 and above keep the 48 kHz
        // duration, as the multiplexers downstream expect of this filter.
        const uint32_t index = ParseHeader(data + position);
        frameDuration_ =
            index < kTimedIndexes
                ? UnitsToMicroseconds(kAacSamplesPerRawDataBlock,
                                      AacSamplingFrequency(static_cast<uint8_t>(index)))
                : kDefaultFrameDuration;
    } else if (carry_.Size() > 0) {
        // The frame begun in the previous chunk goes on here.
        const uint32_t carried = carry_.Size();
        combined = MemoryChunk::Unset(carried + size, 0, 0);  // both parts are copied in
        std::memcpy(combined.Data(0), carry_.Data(0), carried);
        if (size > 0) {
            std::memcpy(combined.Data(carried), data, size);
        }
        carry_ = MemoryChunk();
        data = combined.Data(0);
        size = combined.Size();
        joined = true;
        useSampleTimes = false;
    }

    while (synchronised_ && size - position >= kAdtsHeaderSize) {
        const uint8_t* frame = data + position;
        if (!IsAdtsSyncword(frame)) {
            DebugPrint("AdtsSynchronizeSampleFilter: sync lost");
            CountDroppedSample();
            synchronised_ = false;
            return;
        }
        const uint32_t length = AdtsFrameLength(frame);
        if (length < kAdtsHeaderSize) {
            // A length that does not cover its own header would never advance: lost sync.
            DebugPrint("AdtsSynchronizeSampleFilter: frame length %u", length);
            CountDroppedSample();
            synchronised_ = false;
            return;
        }
        if (length > size - position) {
            carry_ = MemoryChunk::CopyOf(frame, size - position);
            return;
        }
        Sample out = MakeSample(0);
        out.GetPayload().Append(frame, length);
        position += length;
        out.SetType(sample.GetType());
        out.SetFormat(sample.GetFormat());
        out.SetStreamRef(sample.GetStreamRef());
        if (useSampleTimes) {
            out.SetDecodeTime(sample.GetDecodeTime());
            out.SetPresentationOffset(sample.GetPresentationOffset());
            nextTime_ = sample.GetDecodeTime();
            useSampleTimes = false;
            sampleTimeUsed_ = true;
        } else {
            out.SetDecodeTime(nextTime_);
            out.SetPresentationOffset(0);
        }
        if (joined) {
            // The frame completed from carried bytes took the extrapolated time; the first
            // frame that starts in this chunk takes the sample's own.
            joined = false;
            useSampleTimes = !sampleTimeUsed_;
        }
        nextTime_ += frameDuration_;
        out.SetDataAlignment(sample.IsKeyFrame());
        out.SetScramblingControl(sample.GetScramblingControl());
        if (GetOutputFormat() != SampleFormatNone) {
            out.SetFormat(GetOutputFormat());
        }
        SendSampleDownstream(out);
    }
    carry_ = MemoryChunk::CopyOf(data + position, size - position);
}

}  // namespace SarvelonMediaKit
