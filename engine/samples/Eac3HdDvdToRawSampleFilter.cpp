#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/Eac3.h"

namespace SarvelonMediaKit {

Eac3HdDvdToRawSampleFilter::Eac3HdDvdToRawSampleFilter(
    const boost::shared_ptr<SampleStream>& stream)
    : SampleFilter(stream, SampleFormatEac3HdDvd, SampleFormatEac3) {}

Eac3HdDvdToRawSampleFilter::~Eac3HdDvdToRawSampleFilter() {}

void Eac3HdDvdToRawSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.Size() < kEac3HdDvdPrivateDataSize) {
        DebugPrint("Eac3HdDvdToRawSampleFilter: payload shorter than the private data");
        CountDroppedSample();
        return;
    }
    uint8_t bytes[kEac3HdDvdPrivateDataSize];
    MemoryChunkList::Cursor cursor(payload);
    cursor.Read(bytes, kEac3HdDvdPrivateDataSize);
    const uint32_t word = SV::ReadBigEndian32(bytes);
    if (!IsEac3HdDvdPrivateData(word)) {
        DebugPrint("Eac3HdDvdToRawSampleFilter: no private data (%08x)", word);
        CountDroppedSample();
        return;
    }
    cursor.Begin();
    cursor.Erase(kEac3HdDvdPrivateDataSize);
    sample.SetFormat(SampleFormatEac3);
    SendSampleDownstream(sample);
}

}  // namespace SarvelonMediaKit
