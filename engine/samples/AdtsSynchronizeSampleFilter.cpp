#include "engine/samples/AdtsSynchronizeSampleFilter.h"

#include <cstring>
#include <list>

#include "SVLibrary/Output/DebugPrint.h"

namespace SarvelonMediaKit {

namespace {

// Frame duration when the sampling rate is unknown: 1024 samples at 48 kHz.
const uint64_t kDefaultFrameDuration = 21333;

// A chunk of its own holding a copy of the bytes; an empty chunk for none.
MemoryChunk CopyToChunk(const uint8_t* data, uint32_t size) {
    if (size == 0) {
        return MemoryChunk();
    }
    MemoryChunk chunk(size, 0, 0);
    std::memcpy(chunk.Data(0), data, size);
    return chunk;
}

}  // namespace

AdtsSynchronizeSampleFilter::AdtsSynchronizeSampleFilter(
    const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat, uint32_t outputFormat)
    : AdtsParserSampleFilter(stream, inputFormat, outputFormat),
      mSynchronised(false),
      mNextTime(0),
      mFrameDuration(0),
      mSampleTimeUsed(false) {}

AdtsSynchronizeSampleFilter::~AdtsSynchronizeSampleFilter() {}

void AdtsSynchronizeSampleFilter::DoReceiveSample(Sample& sample) {
    // A copy of the handles: the frames passed on must not change the list being walked.
    const std::list<MemoryChunk> chunks = sample.GetPayload().GetChunks();
    mSampleTimeUsed = false;
    for (const MemoryChunk& chunk : chunks) {
        ProcessChunk(sample, chunk);
    }
}

void AdtsSynchronizeSampleFilter::Reset() {
    mCarry = MemoryChunk();
    mSynchronised = false;
    mNextTime = 0;
}

void AdtsSynchronizeSampleFilter::ProcessChunk(const Sample& sample, MemoryChunk chunk) {
    bool useSampleTimes = !mSampleTimeUsed;
    bool joined = false;
    // The bytes are read through data and size; the chunk's own range is left alone, since
    // other copies of the sample share it.
    const uint8_t* data = chunk.Data(0);
    uint32_t size = chunk.Size();
    uint32_t position = 0;
    MemoryChunk combined;

    if (!mSynchronised) {
        mCarry = MemoryChunk();
        bool found = false;
        for (uint32_t i = 0; i + 6 < size; ++i) {
            if (!IsSyncword(data + i)) {
                continue;
            }
            const uint32_t length = FrameLength(data + i);
            if (length < kHeaderSize) {
                continue;  // cannot be a frame: its length does not even cover the header
            }
            if (i == 0 && length == size) {
                found = true;  // the chunk is exactly one frame
                break;
            }
            // Confirmed by the syncword of the frame that follows.
            const uint64_t next = uint64_t(i) + length;
            if (next + 2 < size && IsSyncword(data + next)) {
                position = i;
                found = true;
                break;
            }
        }
        if (!found) {
            DebugPrint("AdtsSynchronizeSampleFilter: no frame start in %u bytes", size);
            return;
        }
        mSynchronised = true;
        const uint32_t rate = SamplingRate(ParseHeader(data + position));
        mFrameDuration = rate != 0 ? 1024000000ULL / rate : kDefaultFrameDuration;
    } else if (mCarry.Size() > 0) {
        // The frame begun in the previous chunk goes on here.
        const uint32_t carried = mCarry.Size();
        combined = MemoryChunk(carried + size, 0, 0);
        std::memcpy(combined.Data(0), mCarry.Data(0), carried);
        if (size > 0) {
            std::memcpy(combined.Data(carried), data, size);
        }
        mCarry = MemoryChunk();
        data = combined.Data(0);
        size = combined.Size();
        joined = true;
        useSampleTimes = false;
    }

    while (mSynchronised && size - position >= kHeaderSize) {
        const uint8_t* frame = data + position;
        if (!IsSyncword(frame)) {
            DebugPrint("AdtsSynchronizeSampleFilter: sync lost");
            mSynchronised = false;
            return;
        }
        const uint32_t length = FrameLength(frame);
        if (length < kHeaderSize) {
            // A length that does not cover its own header would never advance: lost sync.
            DebugPrint("AdtsSynchronizeSampleFilter: frame length %u", length);
            mSynchronised = false;
            return;
        }
        if (length > size - position) {
            mCarry = CopyToChunk(frame, size - position);
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
            mNextTime = sample.GetDecodeTime();
            useSampleTimes = false;
            mSampleTimeUsed = true;
        } else {
            out.SetDecodeTime(mNextTime);
            out.SetPresentationOffset(0);
        }
        if (joined) {
            // The frame completed from carried bytes took the extrapolated time; the first
            // frame that starts in this chunk takes the sample's own.
            joined = false;
            useSampleTimes = !mSampleTimeUsed;
        }
        mNextTime += mFrameDuration;
        out.SetDataAlignment(sample.IsKeyFrame());
        out.SetScramblingControl(sample.GetScramblingControl());
        if (GetOutputFormat() != SampleFormatNone) {
            out.SetFormat(GetOutputFormat());
        }
        SendSampleDownstream(out);
    }
    mCarry = CopyToChunk(data + position, size - position);
}

}  // namespace SarvelonMediaKit
