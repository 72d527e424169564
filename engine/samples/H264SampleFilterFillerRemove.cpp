#include "engine/samples/H264SampleFilterFillerRemove.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/samples/H264SampleFilter.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

namespace {

uint32_t CurrentFormatOf(const boost::shared_ptr<SampleStream>& stream) {
    return stream ? stream->GetCurrentFormat() : SampleFormatNone;
}

}  // namespace

H264SampleFilterFillerRemove::H264SampleFilterFillerRemove(
    const boost::shared_ptr<SampleStream>& stream)
    : SampleFilter(stream, CurrentFormatOf(stream), CurrentFormatOf(stream)) {}

H264SampleFilterFillerRemove::~H264SampleFilterFillerRemove() {}

void H264SampleFilterFillerRemove::DoReceiveSample(Sample& sample) {
    switch (sample.GetFormat()) {
        case SampleFormatH264Length: RemoveFromLengthPrefixed(sample); break;
        case SampleFormatH264AnnexB: RemoveFromStartCodes(sample); break;
        default:
            DebugPrint("H264SampleFilterFillerRemove: format %u is not H.264", sample.GetFormat());
            break;
    }
}

void H264SampleFilterFillerRemove::RemoveFromLengthPrefixed(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    uint64_t remaining = payload.Size();
    MemoryChunkList::Cursor cursor(payload);
    while (remaining > 4) {
        uint8_t field[4];
        for (int i = 0; i < 4; ++i) {
            field[i] = *cursor;
            cursor.Advance(1);
        }
        remaining -= 4;
        const uint32_t length = SV::ReadBigEndian32(field);
        if (length > remaining) {
            DebugPrint("H264SampleFilterFillerRemove: NAL length %u past the payload", length);
            return;
        }
        if (length > 0 && (*cursor & 0x1F) == H264SampleFilter::NalUnitTypeFillerData) {
            // The unit goes with its length field; the cursor then stands on the next length.
            cursor.StepBack(4);
            cursor.Erase(4 + static_cast<uint64_t>(length));
        } else {
            cursor.Advance(length);
        }
        remaining -= length;
    }
    SendSampleDownstream(sample);
}

void H264SampleFilterFillerRemove::RemoveFromStartCodes(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.IsEmpty()) {
        SendSampleDownstream(sample);
        return;
    }
    // The unit being looked at runs from previous (its start code, of previousLength bytes) to
    // the next start code or the end of the payload.
    MemoryChunkList::Cursor previous(payload);
    uint32_t previousLength = 0;
    MemoryChunkList::Cursor scan = previous;
    for (;;) {
        MemoryChunkList::Cursor found = scan;
        const uint32_t length = FindStartCode(found);
        if (found - previous > static_cast<int64_t>(previousLength)) {
            MemoryChunkList::Cursor header = previous;
            header.Advance(previousLength);
            if ((*header & 0x1F) == H264SampleFilter::NalUnitTypeFillerData) {
                // Start code and unit go; what was found now stands where the unit began.
                previous.Erase(static_cast<uint64_t>(found - previous));
                found = previous;
            }
        }
        if (length == 0) {
            break;
        }
        previous = found;
        previousLength = length;
        scan = found;
        scan.Advance(length);
    }
    SendSampleDownstream(sample);
}

uint32_t H264SampleFilterFillerRemove::FindStartCode(MemoryChunkList::Cursor& cursor) {
    uint32_t zeros = 0;
    while (!cursor.IsAtEnd()) {
        const uint8_t byte = *cursor;
        if (byte == 0) {
            ++zeros;
        } else if (byte == 1 && zeros >= 2) {
            const uint32_t back = zeros >= 3 ? 3 : 2;
            cursor.StepBack(back);
            return back + 1;
        } else {
            zeros = 0;
        }
        cursor.Advance(1);
    }
    return 0;
}

}  // namespace SarvelonMediaKit
