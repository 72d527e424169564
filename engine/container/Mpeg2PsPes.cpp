#include "engine/container/Mpeg2PsPes.h"

#include <cstring>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/ByteReader.h"
#include "engine/codecs/PesTimestamp.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {
namespace {

constexpr uint8_t kPtsFlag = 0x80;
constexpr uint8_t kDtsFlag = 0x40;
constexpr uint8_t kDataAlignmentBit = 0x04;

}  // namespace

Mpeg2PsPes::Mpeg2PsPes(uint32_t sizeLimit)
    : sizeLimit_(sizeLimit), streamId_(0), flags1_(0x80), flags2_(0), pts_(0), dts_(0) {}

Mpeg2PsPes& Mpeg2PsPes::operator=(Mpeg2PsPes&& other) {
    if (this != &other) {
        buffers_ = std::move(other.buffers_);
        other.buffers_.clear();
        sizeLimit_ = other.sizeLimit_;
        streamId_ = other.streamId_;
        flags1_ = other.flags1_;
        flags2_ = other.flags2_;
        pts_ = other.pts_;
        dts_ = other.dts_;
    }
    return *this;
}

void Mpeg2PsPes::SetPts(uint64_t pts) {
    pts_ = pts;
    flags2_ |= kPtsFlag;
}

void Mpeg2PsPes::SetDts(uint64_t dts) {
    dts_ = dts;
    flags2_ |= kDtsFlag;
}

void Mpeg2PsPes::SetDataAlignment(bool aligned) {
    flags1_ = aligned ? (flags1_ | kDataAlignmentBit) : (flags1_ & ~kDataAlignmentBit);
}

void Mpeg2PsPes::SetScramblingControl(uint8_t value) {
    flags1_ = static_cast<uint8_t>((flags1_ & ~0x70) | ((value & 3) << 4));
}

bool Mpeg2PsPes::HasPts() const { return (flags2_ & kPtsFlag) != 0; }

bool Mpeg2PsPes::HasDts() const { return (flags2_ & kDtsFlag) != 0; }

bool Mpeg2PsPes::GetDataAlignment() const { return (flags1_ & kDataAlignmentBit) != 0; }

std::vector<uint8_t> Mpeg2PsPes::GetPayload() const {
    std::vector<uint8_t> payload;
    for (const Buffer& buffer : buffers_)
        payload.insert(payload.end(), buffer.Bytes(), buffer.Bytes() + buffer.length);
    return payload;
}

bool Mpeg2PsPes::HasOptionalHeader() const {
    return Mpeg2PsFormat::HasOptionalPesHeader(streamId_);
}

uint32_t Mpeg2PsPes::GetHeaderSize() const {
    if (!HasOptionalHeader()) return Mpeg2PsFormat::kPesShortHeaderSize;
    uint32_t size = Mpeg2PsFormat::kPesOptionalHeaderSize;
    if (flags2_ & kPtsFlag) size += kPesTimestampSize;
    if (flags2_ & kDtsFlag) size += kPesTimestampSize;
    return size;
}

uint32_t Mpeg2PsPes::GetSize() const {
    // AddData keeps the payload under the limit, so the sum stays far below 32 bits.
    uint32_t size = GetHeaderSize();
    for (const Buffer& buffer : buffers_) size += buffer.length;
    return size;
}

uint32_t Mpeg2PsPes::EffectiveLimit() const {
    // A larger limit would let the packet outgrow its 16-bit length field.
    if (sizeLimit_ == 0 || sizeLimit_ > Mpeg2PsFormat::kPesMaxSize)
        return Mpeg2PsFormat::kPesMaxSize;
    return sizeLimit_;
}

int32_t Mpeg2PsPes::GetFreeSpace() const {
    return static_cast<int32_t>(EffectiveLimit()) - static_cast<int32_t>(GetSize());
}

bool Mpeg2PsPes::AddData(const uint8_t* bytes, uint32_t length, bool copy) {
    if (length == 0) return true;
    if (static_cast<int64_t>(length) > static_cast<int64_t>(GetFreeSpace())) return false;
    Buffer buffer;
    buffer.length = length;
    if (copy)
        buffer.owned.assign(bytes, bytes + length);
    else
        buffer.data = bytes;
    buffers_.push_back(std::move(buffer));
    return true;
}

uint32_t Mpeg2PsPes::WriteHeader(uint8_t* out, uint32_t capacity) const {
    const uint32_t headerSize = GetHeaderSize();
    const uint32_t totalSize = GetSize();
    if (headerSize > capacity) return 0;
    // A timestamp set after the payload was added can push the packet past what the length
    // field can hold; such a packet is not written rather than written with a wrong length.
    if (totalSize - Mpeg2PsFormat::kPesShortHeaderSize > 0xFFFF) return 0;

    out[0] = 0x00;  // packet_start_code_prefix
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = streamId_;                            // stream_id
    SV::WriteBigEndian16(totalSize - 6, out + 4);  // PES_packet_length
    if (!HasOptionalHeader()) return headerSize;

    out[6] = flags1_;  // '10', scrambling, ..., alignment, ...
    out[7] = flags2_;  // PTS_DTS_flags and the others
    out[8] = static_cast<uint8_t>(headerSize - Mpeg2PsFormat::kPesOptionalHeaderSize);
    uint8_t* p = out + 9;
    if (flags2_ & kPtsFlag) {
        WritePesTimestamp((flags2_ & kDtsFlag) ? kPesPtsBeforeDtsPrefix : kPesPtsAlonePrefix, pts_,
                          p);
        p += kPesTimestampSize;
    }
    if (flags2_ & kDtsFlag) WritePesTimestamp(kPesDtsPrefix, dts_, p);
    return headerSize;
}

uint32_t Mpeg2PsPes::Write(uint8_t* out, uint32_t capacity) const {
    const uint32_t totalSize = GetSize();
    if (totalSize > capacity) return 0;
    uint32_t written = WriteHeader(out, capacity);
    if (written == 0) return 0;
    for (const Buffer& buffer : buffers_) {
        std::memcpy(out + written, buffer.Bytes(), buffer.length);
        written += buffer.length;
    }
    return written;
}

bool Mpeg2PsPes::AppendTo(std::vector<uint8_t>& out) const {
    const size_t start = out.size();
    const uint32_t size = GetSize();
    out.resize(start + size);
    if (Write(out.data() + start, size) != size) {
        out.resize(start);
        return false;
    }
    return true;
}

bool Mpeg2PsPes::Read(ByteReader& in) {
    ByteReader at = in;
    const uint32_t prefix = at.U24();      // packet_start_code_prefix
    const uint8_t streamId = at.U8();      // stream_id
    ByteReader packet = at.Sub(at.U16());  // PES_packet_length bytes follow
    if (at.Failed() || prefix != 1 || streamId < Mpeg2PsFormat::kStreamIdProgramStreamMap)
        return false;

    Mpeg2PsPes read;
    read.streamId_ = streamId;
    if (Mpeg2PsFormat::HasOptionalPesHeader(streamId)) {
        const uint8_t flags1 = packet.U8();           // '10', scrambling, ..., alignment, ...
        const uint8_t flags2 = packet.U8();           // PTS_DTS_flags and the others
        ByteReader header = packet.Sub(packet.U8());  // PES_header_data_length bytes
        const uint8_t timestamps = flags2 & (kPtsFlag | kDtsFlag);
        if (packet.Failed() || (flags1 & 0xC0) != 0x80 || timestamps == kDtsFlag) return false;
        read.flags1_ = flags1;
        read.flags2_ = timestamps;
        if (timestamps & kPtsFlag) read.pts_ = ReadPesTimestamp(header);
        if (timestamps & kDtsFlag) read.dts_ = ReadPesTimestamp(header);
        if (header.Failed()) return false;
    }
    // Whatever follows the header is the payload; at most 65535 bytes, so it fits the limit.
    if (!read.AddData(packet.Current(), static_cast<uint32_t>(packet.Left()), true)) return false;
    *this = std::move(read);
    in = at;
    return true;
}

}  // namespace SarvelonMediaKit
