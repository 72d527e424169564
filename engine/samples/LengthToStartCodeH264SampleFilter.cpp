#include "engine/samples/LengthToStartCodeH264SampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/ByteReader.h"
#include "engine/codecs/H264.h"
#include "engine/samples/LengthPrefixedNalWalker.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

namespace {

const uint8_t kStartCode[LengthPrefixedNalWalker::kLengthFieldSize] = {0x00, 0x00, 0x00, 0x01};
// Start code, NAL header of an access unit delimiter (nal_ref_idc 0, type 9), then
// primary_pic_type 7 ("any slice type") with the stop bit.
const uint8_t kAccessUnitDelimiter[6] = {0x00, 0x00, 0x00, 0x01, H264NalAccessUnitDelimiter, 0xE0};

// Copies n bytes from the cursor on into out.
void CopyBytes(MemoryChunkList::Cursor cursor, uint32_t n, std::vector<uint8_t>& out) {
    out.resize(n);
    out.resize(cursor.Read(out.data(), n));
}

}  // namespace

LengthToStartCodeH264SampleFilter::LengthToStartCodeH264SampleFilter(
    const boost::shared_ptr<SampleStream>& stream)
    : H264SampleFilter(stream, SampleFormatH264Length, SampleFormatH264AnnexB),
      parameterSetsSent_(false) {}

LengthToStartCodeH264SampleFilter::~LengthToStartCodeH264SampleFilter() {}

void LengthToStartCodeH264SampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.Size() == 0) {
        return;
    }

    LengthPrefixedNalWalker walker(payload, 0);
    MemoryChunkList::Cursor spsAt;
    MemoryChunkList::Cursor ppsAt;
    uint32_t spsLength = 0;
    uint32_t ppsLength = 0;
    bool haveSps = false;
    bool havePps = false;
    bool haveDelimiter = false;
    LengthPrefixedNalWalker::Result result;
    // Each length field becomes the start code in place.
    while ((result = walker.Next(kStartCode)) == LengthPrefixedNalWalker::ResultUnit) {
        if (walker.Length() == 0) {
            continue;
        }
        switch (walker.UnitType()) {
            case H264NalSps:
                spsAt = walker.Unit();
                spsLength = walker.Length();
                haveSps = true;
                break;
            case H264NalPps:
                ppsAt = walker.Unit();
                ppsLength = walker.Length();
                havePps = true;
                break;
            case H264NalIdrSlice: sample.SetDataAlignment(true); break;
            case H264NalAccessUnitDelimiter: haveDelimiter = true; break;
            default: break;
        }
    }
    if (result == LengthPrefixedNalWalker::ResultLengthPastPayload) {
        DebugPrint("LengthToStartCodeH264SampleFilter: NAL length %u past the payload",
                   walker.Length());
        CountDroppedSample();
        return;
    }
    // Learned before the record is asked for, so a first picture that carries its own
    // parameter sets is enough to build it.
    if (haveSps) {
        CopyBytes(spsAt, spsLength, sps_);
    }
    if (havePps) {
        CopyBytes(ppsAt, ppsLength, pps_);
    }

    std::vector<uint8_t> prefix;
    if (!haveDelimiter) {
        prefix.assign(kAccessUnitDelimiter, kAccessUnitDelimiter + sizeof(kAccessUnitDelimiter));
    }
    if (!parameterSetsSent_ || sample.IsKeyFrame()) {
        const uint8_t* record = nullptr;
        uint32_t recordSize = 0;
        bool known = H264SampleFilter::GetStreamInfo(StreamInfoKindAvcDecoderConfigurationRecord,
                                                     &record, &recordSize);
        if (!known) {
            const boost::shared_ptr<SampleStream> stream = GetStream();
            known = stream && stream->GetStreamInfo(StreamInfoKindAvcDecoderConfigurationRecord,
                                                    &record, &recordSize);
        }
        if (!known) {
            DebugPrint("LengthToStartCodeH264SampleFilter: no decoder configuration");
            CountDroppedSample();
            return;
        }
        if (record && recordSize > 0) {
            if (AppendParameterSets(record, recordSize, prefix)) {
                parameterSetsSent_ = true;
            } else {
                DebugPrint("LengthToStartCodeH264SampleFilter: malformed decoder configuration");
            }
        }
    }
    if (!prefix.empty()) {
        payload.Prepend(prefix.data(), static_cast<uint32_t>(prefix.size()));
    }
    sample.SetFormat(GetOutputFormat());
    SendSampleDownstream(sample);
}

void LengthToStartCodeH264SampleFilter::Reset() { parameterSetsSent_ = false; }

bool LengthToStartCodeH264SampleFilter::AppendParameterSets(const uint8_t* record, uint32_t size,
                                                            std::vector<uint8_t>& prefix) {
    ByteReader reader(record, size);
    // configurationVersion, profile, compatibility, level, lengthSizeMinusOne.
    reader.Skip(5);
    std::vector<uint8_t> sets;
    // numOfSequenceParameterSets (low 5 bits), then numOfPictureParameterSets (8 bits), each
    // followed by its sets behind 16-bit lengths.
    for (int list = 0; list < 2; ++list) {
        const uint32_t count = list == 0 ? (reader.U8() & 0x1F) : reader.U8();
        for (uint32_t i = 0; i < count && !reader.Failed(); ++i) {
            const uint16_t length = reader.U16();
            const uint8_t* set = reader.Bytes(length);
            if (set && length > 0) {
                sets.insert(sets.end(), kStartCode, kStartCode + sizeof(kStartCode));
                sets.insert(sets.end(), set, set + length);
            }
        }
    }
    if (reader.Failed()) {
        return false;
    }
    prefix.insert(prefix.end(), sets.begin(), sets.end());
    return true;
}

}  // namespace SarvelonMediaKit
