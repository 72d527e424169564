#include "engine/container/Mpeg2PsPack.h"

#include <cstring>

#include <boost/make_shared.hpp>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/ByteReader.h"
#include "engine/codecs/MediaTiming.h"
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

    const uint64_t base = ClockToTicks(scr_);
    const uint32_t extension = ClockExtension(scr_);
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

bool Mpeg2PsPack::Read(ByteReader& in) {
    using namespace Mpeg2PsFormat;
    ByteReader at = in;
    const size_t start = at.Position();
    const uint32_t startCode = at.U32();  // 00 00 01 BA
    // '01', SCR base 32-30, marker, base 29-15, marker, base 14-0, marker, extension, marker
    const uint64_t scrHigh = at.U16();
    const uint64_t scrField = (scrHigh << 32) | at.U32();
    const uint32_t rateField = at.U24();       // program_mux_rate, two markers
    const uint32_t stuffing = at.U8() & 0x07;  // reserved, pack_stuffing_length
    at.Skip(stuffing);
    const uint64_t base = (((scrField >> 43) & 0x07) << 30) | (((scrField >> 27) & 0x7FFF) << 15) |
                          ((scrField >> 11) & 0x7FFF);
    const uint32_t extension = static_cast<uint32_t>((scrField >> 1) & 0x1FF);
    const uint64_t fixedBits = (uint64_t(1) << 42) | (uint64_t(1) << 26) | (uint64_t(1) << 10) | 1;
    if (at.Failed() || startCode != (0x100u | kStartCodePack) || (scrField >> 46) != 1 ||
        (scrField & fixedBits) != fixedBits || extension >= kClockPeriodsPerTick ||
        (rateField & 3) != 3) {
        return false;
    }

    Mpeg2PsPack read;
    read.scr_ = TicksToClock(base) + extension;
    read.muxRate_ = rateField >> 2;
    for (;;) {
        ByteReader peek = at;
        const uint32_t code = peek.U32();
        if (peek.Failed() || (code >> 8) != 1) break;  // no start code: the pack ends
        const uint8_t id = static_cast<uint8_t>(code);
        if (id == kStartCodeSystemHeader && !read.systemHeader_ && read.pes_.empty()) {
            auto header = boost::make_shared<Mpeg2PsSystemHeader>();
            if (!header->Read(at)) return false;
            read.systemHeader_ = header;
        } else if (id >= kStreamIdProgramStreamMap) {
            auto pes = boost::make_shared<Mpeg2PsPes>();
            if (!pes->Read(at)) return false;
            read.pes_.push_back(pes);
        } else {
            break;  // the next pack or the program end
        }
    }

    if (at.Position() - start == kPackPaddedSize) {
        const Mpeg2PsPes* last = read.pes_.empty() ? nullptr : read.pes_.back().get();
        const bool trailingPadding =
            last && last->GetStreamId() == kStreamIdPadding && last->GetSize() >= 8;
        if (stuffing == 0 && trailingPadding) {
            read.pes_.pop_back();
            read.paddingMode_ = 1;
        } else if (stuffing > 0 && !trailingPadding) {
            read.paddingMode_ = 1;
        }
    }
    *this = read;
    in = at;
    return true;
}

}  // namespace SarvelonMediaKit
