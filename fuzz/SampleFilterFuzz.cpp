// Feeds arbitrary bytes as samples through the sample-filter chains the multiplexers install
// (H.264 length-prefixed and Annex B, ADTS synchronise and add, E-AC-3, merge), with the
// decoder configuration the stream answers taken from the input as well. Whatever comes out
// must be well framed: H.264 pictures start with a start code, ADTS frames with a syncword and
// their own length, HD-DVD E-AC-3 with its private data.
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/core/MemoryTracker.h"
#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/Eac3RawToHdDvdSampleFilter.h"
#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/samples/MergeSampleFilter.h"
#include "engine/samples/SampleStream.h"
#include "engine/samples/SampleStreamOwner.h"

using namespace SarvelonMediaKit;

namespace {

class FuzzOwner : public SampleStreamOwner {
public:
    boost::shared_ptr<MemoryTracker> GetMemoryTracker() const override {
        return boost::shared_ptr<MemoryTracker>();
    }
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override {
        if (kind != answerKind) {
            return false;
        }
        *data = info.data();
        *size = static_cast<uint32_t>(info.size());
        return true;
    }
    uint32_t answerKind = 0;
    std::vector<uint8_t> info;
};

std::vector<uint8_t> Payload(const Sample& sample) {
    std::vector<uint8_t> bytes;
    for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
        if (chunk.Size() > 0) {
            bytes.insert(bytes.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
        }
    }
    return bytes;
}

void Check(uint32_t mode, const Sample& sample, uint32_t mergeCount) {
    const std::vector<uint8_t> bytes = Payload(sample);
    switch (mode) {
        case 0:
            // Every converted picture starts with a start code (delimiter or its first unit).
            if (bytes.size() < 4 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 ||
                bytes[3] != 1 || sample.GetFormat() != SampleFormatH264AnnexB) {
                abort();
            }
            break;
        case 2:
            // One ADTS frame per sample unless merged.
            if (mergeCount <= 1 &&
                (bytes.size() < kAdtsHeaderSize || !IsAdtsSyncword(bytes.data()) ||
                 AdtsFrameLength(bytes.data()) != bytes.size())) {
                abort();
            }
            break;
        case 3:
            if (bytes.size() < kAdtsHeaderSize || bytes[0] != 0xFF || bytes[1] != 0xF1) {
                abort();
            }
            break;
        case 4:
            if (bytes.size() < kEac3HdDvdPrivateDataSize ||
                !IsEac3HdDvdPrivateData((uint32_t(bytes[0]) << 24) | (bytes[1] << 16) |
                                        (bytes[2] << 8) | bytes[3])) {
                abort();
            }
            break;
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint32_t mode = data[0] % 5;
    const uint32_t mergeCount = (data[1] >> 4) % 5;
    const uint32_t infoSize = data[2] % 48;
    data += 3;
    size -= 3;
    FuzzOwner owner;
    const uint32_t infoTaken = static_cast<uint32_t>(size < infoSize ? size : infoSize);
    owner.info.assign(data, data + infoTaken);
    data += infoTaken;
    size -= infoTaken;

    static const uint32_t kFormats[5] = {SampleFormatH264Length, SampleFormatH264AnnexB,
                                         SampleFormatAacAdts, SampleFormatAacRaw,
                                         SampleFormatEac3HdDvd};
    boost::shared_ptr<SampleStream> stream = boost::make_shared<SampleStream>(
        &owner, StreamReference(1), mode < 2 ? SampleMediaTypeVideo : SampleMediaTypeAudio,
        kFormats[mode]);
    stream->SetHeadroom(16);
    stream->SetConnected(true);
    switch (mode) {
        case 0:
            owner.answerKind = StreamInfoKindAvcDecoderConfigurationRecord;
            stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream));
            stream->AddFilter(boost::make_shared<LengthToStartCodeH264SampleFilter>(stream));
            break;
        case 1: stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream)); break;
        case 2:
            stream->AddFilter(boost::make_shared<AdtsSynchronizeSampleFilter>(
                stream, SampleFormatAacAdts, SampleFormatAacAdts));
            break;
        case 3:
            owner.answerKind = StreamInfoKindAudioSpecificConfig;
            stream->AddFilter(boost::make_shared<AdtsAddSampleFilter>(stream, SampleFormatAacRaw,
                                                                      SampleFormatAacAdts));
            break;
        default:
            stream->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(stream));
            stream->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(stream, mergeCount));
            break;
    }
    if (mergeCount > 0) {
        stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, mergeCount, 0));
    }

    // Samples: two length bytes (12 bits), a control byte (key frame, cut in two chunks,
    // flush first), then the bytes.
    uint64_t time = 0;
    while (size >= 3) {
        const uint32_t length = ((uint32_t(data[0]) << 8) | data[1]) & 0x0FFF;
        const uint8_t control = data[2];
        data += 3;
        size -= 3;
        const uint32_t taken = static_cast<uint32_t>(size < length ? size : length);
        if (control & 0x04) {
            stream->Flush();
        }
        Sample sample = stream->MakeSample(0);
        const uint32_t firstPart = (control & 0x02) ? taken / 2 : taken;
        if (firstPart > 0) {
            std::memcpy(sample.GetPayload().AddChunk(firstPart).Data(0), data, firstPart);
        }
        if (taken > firstPart) {
            std::memcpy(sample.GetPayload().AddChunk(taken - firstPart).Data(0), data + firstPart,
                        taken - firstPart);
        }
        sample.SetDataAlignment((control & 0x01) != 0);
        time += control >> 3;
        sample.SetDecodeTime(time);
        data += taken;
        size -= taken;
        stream->PushSample(sample);
        while (!stream->IsEmpty()) {
            Check(mode, stream->Front(), mergeCount);
            stream->PopFront();
        }
    }
    return 0;
}
