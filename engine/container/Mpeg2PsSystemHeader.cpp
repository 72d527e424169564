#include "engine/container/Mpeg2PsSystemHeader.h"

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/ByteReader.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {
namespace {

uint8_t SetBit(uint8_t byte, uint8_t bit, bool on) {
    return static_cast<uint8_t>(on ? (byte | bit) : (byte & ~bit));
}

uint16_t BoundWord(bool smallUnits, uint16_t bound) {
    return static_cast<uint16_t>(smallUnits ? bound : (bound | 0x8000));
}

}  // namespace

Mpeg2PsSystemHeader::Mpeg2PsSystemHeader()
    : rateBound_(0),
      audioBound_(0),
      videoBound_(0),
      flags_(0),
      lockByte_(0x20),
      restriction_(0x7F) {}

void Mpeg2PsSystemHeader::SetFixedFlag(bool on) { flags_ = SetBit(flags_, 0x02, on); }
void Mpeg2PsSystemHeader::SetCspsFlag(bool on) { flags_ = SetBit(flags_, 0x01, on); }
void Mpeg2PsSystemHeader::SetSystemAudioLockFlag(bool on) {
    lockByte_ = SetBit(lockByte_, 0x80, on);
}
void Mpeg2PsSystemHeader::SetSystemVideoLockFlag(bool on) {
    lockByte_ = SetBit(lockByte_, 0x40, on);
}
void Mpeg2PsSystemHeader::SetPacketRateRestrictionFlag(bool on) {
    restriction_ = SetBit(restriction_, 0x80, on);
}

void Mpeg2PsSystemHeader::AddStreamBound(uint8_t streamId, bool smallUnits, uint16_t bound) {
    streamBounds_.emplace_back(streamId, BoundWord(smallUnits, bound));
}

void Mpeg2PsSystemHeader::SetStreamBound(uint8_t streamId, bool smallUnits, uint16_t bound) {
    for (auto& pair : streamBounds_) {
        if (pair.first == streamId) {
            pair.second = BoundWord(smallUnits, bound);
            return;
        }
    }
}

uint32_t Mpeg2PsSystemHeader::GetSize() const {
    return Mpeg2PsFormat::kSystemHeaderFixedSize +
           Mpeg2PsFormat::kSystemHeaderBoundSize * static_cast<uint32_t>(streamBounds_.size());
}

uint32_t Mpeg2PsSystemHeader::Write(uint8_t* out, uint32_t capacity) const {
    const uint32_t size = GetSize();
    if (size > capacity || size - 6 > 0xFFFF) return 0;

    out[0] = 0x00;  // start code 00 00 01 BB
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = Mpeg2PsFormat::kStartCodeSystemHeader;
    SV::WriteBigEndian16(size - 6, out + 4);  // header_length
    // marker, rate_bound (22 bits), marker: the top three bytes of this word. The bound is
    // masked so that a larger value cannot overwrite the marker bits.
    const uint32_t rateWord = 0x80000100u | ((rateBound_ & 0x3FFFFF) << 9);
    out[6] = static_cast<uint8_t>(rateWord >> 24);
    out[7] = static_cast<uint8_t>(rateWord >> 16);
    out[8] = static_cast<uint8_t>(rateWord >> 8);
    out[9] = static_cast<uint8_t>(((audioBound_ & 0x3F) << 2) |
                                  (flags_ & 0x03));                    // audio_bound,
                                                                       // fixed_flag, CSPS_flag
    out[10] = static_cast<uint8_t>(lockByte_ | (videoBound_ & 0x1F));  // locks, marker,
                                                                       // video_bound
    out[11] = restriction_;  // packet_rate_restriction_flag, reserved
    uint32_t p = 12;
    for (const auto& pair : streamBounds_) {
        out[p] = pair.first;  // stream_id
        // '11', P-STD_buffer_bound_scale, P-STD_buffer_size_bound
        const uint32_t word =
            0xC000u | (pair.second & 0x1FFFu) | ((pair.second & 0x8000u) ? 0x2000u : 0u);
        SV::WriteBigEndian16(word, out + p + 1);
        p += 3;
    }
    return p;
}

bool Mpeg2PsSystemHeader::Read(ByteReader& in) {
    ByteReader at = in;
    const uint32_t startCode = at.U32();    // 00 00 01 BB
    ByteReader body = at.Sub(at.U16());     // header_length bytes follow
    const uint32_t rateWord = body.U24();   // marker, rate_bound, marker
    const uint8_t audio = body.U8();        // audio_bound, fixed_flag, CSPS_flag
    const uint8_t video = body.U8();        // locks, marker, video_bound
    const uint8_t restriction = body.U8();  // packet_rate_restriction_flag, reserved
    if (at.Failed() || body.Failed() ||
        startCode != (0x100u | Mpeg2PsFormat::kStartCodeSystemHeader) ||
        (rateWord & 0x800001) != 0x800001 || (video & 0x20) == 0) {
        return false;
    }
    Mpeg2PsSystemHeader read;
    read.rateBound_ = (rateWord >> 1) & 0x3FFFFF;
    read.audioBound_ = audio >> 2;
    read.flags_ = audio & 0x03;
    read.lockByte_ = video & 0xE0;
    read.videoBound_ = video & 0x1F;
    read.restriction_ = restriction;
    while (body.Left() > 0) {
        const uint8_t streamId = body.U8();
        const uint16_t word = body.U16();  // '11', P-STD_buffer_bound_scale, size bound
        if (body.Failed() || (word & 0xC000) != 0xC000) return false;
        read.streamBounds_.emplace_back(streamId, BoundWord((word & 0x2000) == 0, word & 0x1FFF));
    }
    *this = read;
    in = at;
    return true;
}

}  // namespace SarvelonMediaKit
