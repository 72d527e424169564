#include "engine/samples/LengthToStartCodeH264SampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

namespace {

const uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};
// Start code, NAL header of an access unit delimiter (nal_ref_idc 0, type 9), then
// primary_pic_type 7 ("any slice type") with the stop bit.
const uint8_t kAccessUnitDelimiter[6] = {0x00, 0x00, 0x00, 0x01, 0x09, 0xE0};

// Copies n bytes from the cursor on into out.
void CopyBytes(MemoryChunkList::Cursor cursor, uint32_t n, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(n);
    while (n > 0 && !cursor.IsAtEnd()) {
        const uint32_t step = n < cursor.BytesLeftInChunk() ? n : cursor.BytesLeftInChunk();
        out.insert(out.end(), cursor.Data(), cursor.Data() + step);
        cursor.Advance(step);
        n -= step;
    }
}

}  // namespace

LengthToStartCodeH264SampleFilter::LengthToStartCodeH264SampleFilter(
    const boost::shared_ptr<SampleStream>& stream)
    : H264SampleFilter(stream, SampleFormatH264Length, SampleFormatH264AnnexB),
      parameterSetsSent_(false) {}

LengthToStartCodeH264SampleFilter::~LengthToStartCodeH264SampleFilter() {}

void LengthToStartCodeH264SampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    uint64_t remaining = payload.Size();
    if (remaining == 0) {
        return;
    }

    MemoryChunkList::Cursor cursor(payload);
    MemoryChunkList::Cursor spsAt;
    MemoryChunkList::Cursor ppsAt;
    uint32_t spsLength = 0;
    uint32_t ppsLength = 0;
    bool haveSps = false;
    bool havePps = false;
    bool haveDelimiter = false;
    while (remaining > 3) {
        // The length field becomes the start code in place.
        uint8_t field[4];
        for (int i = 0; i < 4; ++i) {
            field[i] = *cursor;
            *cursor = kStartCode[i];
            cursor.Advance(1);
        }
        remaining -= 4;
        const uint32_t length = SV::ReadBigEndian32(field);
        if (length > remaining) {
            DebugPrint("LengthToStartCodeH264SampleFilter: NAL length %u past the payload", length);
            return;
        }
        if (length > 0) {
            switch (*cursor & 0x1F) {
                case NalUnitTypeSps:
                    spsAt = cursor;
                    spsLength = length;
                    haveSps = true;
                    break;
                case NalUnitTypePps:
                    ppsAt = cursor;
                    ppsLength = length;
                    havePps = true;
                    break;
                case NalUnitTypeIdrSlice: sample.SetDataAlignment(true); break;
                case NalUnitTypeAccessUnitDelimiter: haveDelimiter = true; break;
                default: break;
            }
        }
        cursor.Advance(length);
        remaining -= length;
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
    // configurationVersion, profile, compatibility, level, lengthSizeMinusOne, then the
    // sequence parameter set count in the low five bits of byte 5.
    if (size < 6) {
        return false;
    }
    std::vector<uint8_t> sets;
    uint32_t position = 5;
    for (int list = 0; list < 2; ++list) {
        if (position >= size) {
            return false;
        }
        // numOfSequenceParameterSets (5 bits), then numOfPictureParameterSets (8 bits).
        const uint32_t count = list == 0 ? (record[position] & 0x1F) : record[position];
        ++position;
        for (uint32_t i = 0; i < count; ++i) {
            if (size - position < 2) {
                return false;
            }
            const uint32_t length = SV::ReadBigEndian16(record + position);
            position += 2;
            if (size - position < length) {
                return false;
            }
            if (length > 0) {
                sets.insert(sets.end(), kStartCode, kStartCode + sizeof(kStartCode));
                sets.insert(sets.end(), record + position, record + position + length);
            }
            position += length;
        }
    }
    prefix.insert(prefix.end(), sets.begin(), sets.end());
    return true;
}

}  // namespace SarvelonMediaKit
