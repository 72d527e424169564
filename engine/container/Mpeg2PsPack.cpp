#include "engine/container/Mpeg2PsPack.h"

#include <cstring>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

Mpeg2PsPack::Mpeg2PsPack(uint32_t paddingMode) : paddingMode_(paddingMode), scr_(0), muxRate_(0) {}

uint32_t Mpeg2PsPack::GetHeaderSize() const {
    return Mpeg2PsFormat::kPackHeaderSize + (systemHeader_ ? systemHeader_->GetSize() : 0);
}

uint32_t Mpeg2PsPack::GetSize(bool padded) const {
    uint64_t size = GetHeaderSize();
    if (psm_) size += psm_->GetSize();
    for (const auto& pes : pes_)
        if (pes) size += pes->GetSize();
    if (padded && paddingMode_ == 1 && size < Mpeg2PsFormat::kPackPaddedSize)
        size = Mpeg2PsFormat::kPackPaddedSize;
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

uint32_t Mpeg2PsPack::Write(uint8_t* out, uint32_t capacity) const {
    const uint32_t size = GetSize(false);
    const uint32_t pad = (paddingMode_ == 1 && size < Mpeg2PsFormat::kPackPaddedSize)
                             ? Mpeg2PsFormat::kPackPaddedSize - size
                             : 0;
    // The padding needs room as well as the content.
    if (size == 0xFFFFFFFFu || size + pad > capacity) return 0;
    const uint32_t stuffing = (pad > 0 && pad < 8) ? pad : 0;

    const uint64_t base = scr_ / Mpeg2PsFormat::kScrPerTick;
    const uint32_t extension = static_cast<uint32_t>(scr_ % Mpeg2PsFormat::kScrPerTick);
    out[0] = 0x00;  // pack_start_code 00 00 01 BA
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = Mpeg2PsFormat::kStartCodePack;
    // '01', SCR base 32-30, marker, SCR base 29-28
    out[4] = static_cast<uint8_t>(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03));
    out[5] = static_cast<uint8_t>(base >> 20);  // SCR base 27-20
    // SCR base 19-15, marker, SCR base 14-13
    out[6] = static_cast<uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03));
    out[7] = static_cast<uint8_t>(base >> 5);  // SCR base 12-5
    // SCR base 4-0, marker, SCR extension 8-7
    out[8] = static_cast<uint8_t>(((base << 3) & 0xF8) | 0x04 | ((extension >> 7) & 0x03));
    out[9] = static_cast<uint8_t>(((extension << 1) & 0xFE) | 0x01);  // extension 6-0, marker
    const uint32_t rate = ((muxRate_ & 0x3FFFFF) << 2) | 3;  // program_mux_rate, two markers
    out[10] = static_cast<uint8_t>(rate >> 16);
    out[11] = static_cast<uint8_t>(rate >> 8);
    out[12] = static_cast<uint8_t>(rate);
    out[13] = static_cast<uint8_t>(0xF8 | stuffing);  // reserved, pack_stuffing_length
    uint32_t p = Mpeg2PsFormat::kPackHeaderSize;
    std::memset(out + p, 0xFF, stuffing);  // stuffing bytes
    p += stuffing;

    const uint32_t end = size + stuffing;
    if (systemHeader_) {
        const uint32_t n = systemHeader_->Write(out + p, end - p);
        if (n == 0) return 0;
        p += n;
    }
    if (psm_) {
        const uint32_t n = psm_->Write(out + p, end - p);
        if (n == 0) return 0;
        p += n;
    }
    for (const auto& pes : pes_) {
        if (!pes) continue;
        const uint32_t n = pes->Write(out + p, end - p);
        if (n == 0) return 0;
        p += n;
    }
    if (pad >= 8) {
        out[p] = 0x00;  // padding packet 00 00 01 BE
        out[p + 1] = 0x00;
        out[p + 2] = 0x01;
        out[p + 3] = Mpeg2PsFormat::kStreamIdPadding;
        SV::WriteBigEndian16(pad - 6, out + p + 4);  // PES_packet_length
        std::memset(out + p + 6, 0xFF, pad - 6);     // padding bytes
        p += pad;
    }
    return p;
}

bool Mpeg2PsPack::AppendTo(std::vector<uint8_t>& out) const {
    const size_t start = out.size();
    const uint32_t size = GetSize(true);
    if (size == 0xFFFFFFFFu) return false;
    out.resize(start + size);
    if (Write(out.data() + start, size) != size) {
        out.resize(start);
        return false;
    }
    return true;
}

}  // namespace SarvelonMediaKit
