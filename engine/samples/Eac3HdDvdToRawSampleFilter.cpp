#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"

namespace SarvelonMediaKit {

Eac3HdDvdToRawSampleFilter::Eac3HdDvdToRawSampleFilter(
    const boost::shared_ptr<SampleStream>& stream)
    : SampleFilter(stream, SampleFormatEac3HdDvd, SampleFormatEac3) {}

Eac3HdDvdToRawSampleFilter::~Eac3HdDvdToRawSampleFilter() {}

void Eac3HdDvdToRawSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.Size() < 4) {
        DebugPrint("Eac3HdDvdToRawSampleFilter: payload shorter than the private data");
        return;
    }
    uint8_t bytes[4];
    MemoryChunkList::Cursor cursor(payload);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = *cursor;
        cursor.Advance(1);
    }
    const uint32_t word = SV::ReadBigEndian32(bytes);
    if ((word & kPrivateDataMask) != kPrivateData) {
        DebugPrint("Eac3HdDvdToRawSampleFilter: no private data (%08x)", word);
        return;
    }
    cursor.Begin();
    cursor.Erase(4);
    sample.SetFormat(SampleFormatEac3);
    SendSampleDownstream(sample);
}

}  // namespace SarvelonMediaKit
