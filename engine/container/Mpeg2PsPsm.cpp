#include "engine/container/Mpeg2PsPsm.h"

#include <cstring>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

Mpeg2PsPsm::Mpeg2PsPsm() : currentNextIndicator_(1), version_(0) {}

void Mpeg2PsPsm::AddProgramStreamInfo(const uint8_t* bytes, uint16_t length) {
    programStreamInfo_.insert(programStreamInfo_.end(), bytes, bytes + length);
}

void Mpeg2PsPsm::AddEsInfo(uint8_t elementaryStreamId, uint8_t streamType) {
    EsInfo info;
    info.elementary_stream_id = elementaryStreamId;
    info.stream_type = streamType;
    elementaryStreams_.push_back(info);
}

void Mpeg2PsPsm::AddEsDescriptor(uint8_t elementaryStreamId, const uint8_t* bytes,
                                 uint16_t length) {
    for (EsInfo& info : elementaryStreams_) {
        if (info.elementary_stream_id == elementaryStreamId) {
            info.descriptors.insert(info.descriptors.end(), bytes, bytes + length);
            return;
        }
    }
}

uint32_t Mpeg2PsPsm::GetSize() const {
    uint64_t size = Mpeg2PsFormat::kProgramStreamMapFixedSize + programStreamInfo_.size();
    for (const EsInfo& info : elementaryStreams_) size += 4 + info.descriptors.size();
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

uint32_t Mpeg2PsPsm::Write(uint8_t* out, uint32_t capacity) const {
    const uint32_t size = GetSize();
    if (size > capacity) return 0;
    // Descriptors are appended in pieces, so a length can outgrow its 16-bit field; such a map
    // is refused rather than written with lengths that do not match its bytes.
    if (size - 6 > 0xFFFF) return 0;
    const uint32_t infoLength = static_cast<uint32_t>(programStreamInfo_.size());

    out[0] = 0x00;  // packet_start_code_prefix
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = Mpeg2PsFormat::kStreamIdProgramStreamMap;  // map_stream_id 0xBC
    SV::WriteBigEndian16(size - 6, out + 4);            // program_stream_map_length
    out[6] = static_cast<uint8_t>((currentNextIndicator_ ? 0x80 : 0) | 0x60 |
                                  (version_ & 0x1F));  // current_next, reserved, version
    out[7] = 0xFF;                                     // reserved, marker_bit
    SV::WriteBigEndian16(infoLength, out + 8);         // program_stream_info_length
    uint32_t p = 10;
    if (infoLength) std::memcpy(out + p, programStreamInfo_.data(), infoLength);
    p += infoLength;
    SV::WriteBigEndian16(size - 16 - infoLength, out + p);  // elementary_stream_map_length
    p += 2;
    for (const EsInfo& info : elementaryStreams_) {
        const uint32_t length = static_cast<uint32_t>(info.descriptors.size());
        out[p] = info.stream_type;
        out[p + 1] = info.elementary_stream_id;
        SV::WriteBigEndian16(length, out + p + 2);  // elementary_stream_info_length
        if (length) std::memcpy(out + p + 4, info.descriptors.data(), length);
        p += 4 + length;
    }
    SV::WriteBigEndian32(Crc32(out, p), out + p);  // CRC_32 over everything before it
    return p + 4;
}

}  // namespace SarvelonMediaKit
