#include "engine/samples/Eac3RawToHdDvdSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/Eac3.h"

namespace SarvelonMediaKit {

Eac3RawToHdDvdSampleFilter::Eac3RawToHdDvdSampleFilter(
    const boost::shared_ptr<SampleStream>& stream, uint8_t subStream)
    : SampleFilter(stream, SampleFormatEac3, SampleFormatEac3HdDvd), subStream_(subStream) {}

Eac3RawToHdDvdSampleFilter::~Eac3RawToHdDvdSampleFilter() {}

void Eac3RawToHdDvdSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.IsEmpty()) {
        return;
    }
    MemoryChunk& first = payload.GetChunks().front();
    if (!first.Reserve(kEac3HdDvdPrivateDataSize)) {
        DebugPrint("Eac3RawToHdDvdSampleFilter: no headroom for the private data");
        CountDroppedSample();
        return;
    }
    SV::WriteBigEndian32(Eac3HdDvdPrivateData(subStream_), first.Data(0));
    sample.SetFormat(SampleFormatEac3HdDvd);
    SendSampleDownstream(sample);
}

}  // namespace SarvelonMediaKit
