#include "engine/samples/H264SampleFilterFillerRemove.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/H264.h"
#include "engine/samples/LengthPrefixedNalWalker.h"
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
            CountDroppedSample();
            break;
    }
}

void H264SampleFilterFillerRemove::RemoveFromLengthPrefixed(Sample& sample) {
    // A filler unit is known by its header byte: a length field with nothing behind it stays.
    LengthPrefixedNalWalker walker(sample.GetPayload(), 1);
    LengthPrefixedNalWalker::Result result;
    while ((result = walker.Next()) == LengthPrefixedNalWalker::ResultUnit) {
        if (walker.Length() > 0 && walker.UnitType() == H264NalFiller) {
            walker.EraseUnit();
        }
    }
    if (result == LengthPrefixedNalWalker::ResultLengthPastPayload) {
        DebugPrint("H264SampleFilterFillerRemove: NAL length %u past the payload", walker.Length());
        CountDroppedSample();
        return;
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
            if (H264NalUnitType(*header) == H264NalFiller) {
                // Start code and unit go; what was found now stands where the unit began.
                previous.Erase(static_cast<uint64_t>(found - previous));
                found = previous;
            }
        }
        if (length == kNoStartCode) {
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
    return kNoStartCode;
}

}  // namespace SarvelonMediaKit
