#include "common/TsReader.h"

#include "SVLibrary/File/InputFileStream.h"
#include "SVLibrary/Util/ByteOrder.h"

#include <algorithm>
#include <stdexcept>

namespace SvTools {

namespace {

const size_t kPacketSize = 188;
const uint8_t kSyncByte = 0x47;
const uint16_t kNullPid = 0x1FFF;
const size_t kMaxPesBytes = 16 * 1024 * 1024;
const size_t kMaxSectionBytes = 4096;

// PTS or DTS: '00xx', bits 32-30, marker, bits 29-15, marker, bits 14-0, marker.
uint64_t ReadTimestamp(const uint8_t* p) {
    return (uint64_t{p[0] & 0x0Eu} << 29) | (uint64_t{p[1]} << 22) |
           (uint64_t{p[2] & 0xFEu} << 14) | (uint64_t{p[3]} << 7) | (p[4] >> 1);
}

bool TimestampMarkersSet(const uint8_t* p) { return (p[0] & 1) && (p[2] & 1) && (p[4] & 1); }

// Stream ids whose PES packets carry no optional header (ISO/IEC 13818-1, table 2-21).
bool HasOptionalHeader(uint8_t streamId) {
    switch (streamId) {
        case 0xBC:
        case 0xBE:
        case 0xBF:
        case 0xF0:
        case 0xF1:
        case 0xF2:
        case 0xF8:
        case 0xFF: return false;
        default: return true;
    }
}

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t{data[i]} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

TsReader::TsReader(PesHandler handler) : handler_(std::move(handler)) {}

TsReader TsReader::ReadFile(const std::string& path) {
    SV::InputFileStream in(path);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    TsReader reader;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got > 0) {
            reader.Feed(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got));
        }
    }
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path);
    }
    reader.Finish();
    return reader;
}

const TsStreamInfo* TsReader::FindStream(uint16_t pid) const {
    for (const TsProgram& program : programs_) {
        for (const TsStreamInfo& stream : program.streams) {
            if (stream.pid == pid) {
                return &stream;
            }
        }
    }
    return nullptr;
}

void TsReader::Feed(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size) {
        if (partial_.empty()) {
            // Whole packets straight from the input.
            if (data[i] != kSyncByte) {
                ++skippedBytes_;
                ++i;
                continue;
            }
            if (size - i >= kPacketSize) {
                Packet(data + i);
                i += kPacketSize;
                continue;
            }
        }
        const size_t take = std::min(kPacketSize - partial_.size(), size - i);
        partial_.insert(partial_.end(), data + i, data + i + take);
        i += take;
        if (partial_.size() == kPacketSize) {
            Packet(partial_.data());
            partial_.clear();
        }
    }
}

void TsReader::Finish() {
    if (!partial_.empty()) {
        skippedBytes_ += partial_.size();
        partial_.clear();
    }
    for (auto& entry : pids_) {
        if (entry.second.gathering) {
            EmitPes(entry.second, entry.first);
        }
    }
}

bool TsReader::IsPsiPid(uint16_t pid) const {
    // PIDs below 0x20 carry tables (PAT, CAT, NIT, SDT, EIT ...), never PES.
    if (pid < 0x20) {
        return true;
    }
    for (const TsProgram& program : programs_) {
        if (program.pmtPid == pid) {
            return true;
        }
    }
    return false;
}

void TsReader::Packet(const uint8_t* packet) {
    ++packets_;
    const bool transportError = (packet[1] & 0x80) != 0;
    const bool unitStart = (packet[1] & 0x40) != 0;
    const uint16_t pid = SV::ReadBigEndian16(packet + 1) & 0x1FFF;
    const uint8_t scrambling = packet[3] >> 6;
    const uint8_t adaptationControl = (packet[3] >> 4) & 3;
    const uint8_t cc = packet[3] & 0x0F;
    ++pidPackets_[pid];
    if (transportError) {
        ++transportErrors_;
        return;
    }
    if (pid == kNullPid) {
        return;
    }
    if (adaptationControl == 0) {
        ++adaptationErrors_;  // reserved value: the packet carries nothing
        return;
    }
    size_t offset = 4;
    bool randomAccess = false;
    bool discontinuity = false;
    if (adaptationControl & 2) {
        const size_t length = packet[4];
        const size_t limit = (adaptationControl == 2) ? 183 : 182;
        if (length > limit) {
            ++adaptationErrors_;
            return;
        }
        if (length > 0) {
            const uint8_t flags = packet[5];
            discontinuity = (flags & 0x80) != 0;
            randomAccess = (flags & 0x40) != 0;
            if (flags & 0x10) {
                if (length < 7) {
                    ++adaptationErrors_;
                } else {
                    const uint8_t* p = packet + 6;
                    const uint64_t base = (uint64_t{p[0]} << 25) | (uint64_t{p[1]} << 17) |
                                          (uint64_t{p[2]} << 9) | (uint64_t{p[3]} << 1) |
                                          (p[4] >> 7);
                    const uint64_t extension = (uint64_t{p[4] & 1u} << 8) | p[5];
                    pcrs_.push_back({pid, packets_ - 1, base * 300 + extension});
                }
            }
        }
        offset = 5 + length;
    }
    PidState& state = pids_[pid];
    CheckContinuity(state, pid, cc, (adaptationControl & 1) != 0, discontinuity);
    if (!(adaptationControl & 1) || offset >= kPacketSize) {
        return;
    }
    if (scrambling != 0) {
        ++scrambledPackets_;
        return;
    }
    const uint8_t* payload = packet + offset;
    const size_t payloadSize = kPacketSize - offset;
    if (IsPsiPid(pid)) {
        SectionPayload(state, pid, payload, payloadSize, unitStart);
    } else {
        PesPayload(state, pid, payload, payloadSize, unitStart, randomAccess, discontinuity);
    }
}

void TsReader::CheckContinuity(PidState& state, uint16_t pid, uint8_t cc, bool payload,
                               bool discontinuity) {
    if (!state.ccKnown || discontinuity) {
        state.ccKnown = true;
        state.lastCc = cc;
        state.duplicateSeen = false;
        return;
    }
    if (!payload) {
        // The counter does not move on packets without payload.
        if (cc != state.lastCc) {
            continuityErrors_.push_back({pid, packets_ - 1, state.lastCc, cc});
            state.lastCc = cc;
        }
        return;
    }
    const uint8_t expected = static_cast<uint8_t>((state.lastCc + 1) & 0x0F);
    if (cc == expected) {
        state.duplicateSeen = false;
    } else if (cc == state.lastCc && !state.duplicateSeen) {
        state.duplicateSeen = true;  // one duplicate packet is allowed
    } else {
        continuityErrors_.push_back({pid, packets_ - 1, expected, cc});
        state.duplicateSeen = false;
    }
    state.lastCc = cc;
}

void TsReader::SectionPayload(PidState& state, uint16_t pid, const uint8_t* data, size_t size,
                              bool unitStart) {
    if (!unitStart) {
        if (state.sectionActive) {
            SectionBytes(state, pid, data, size);
        }
        return;
    }
    const size_t pointer = data[0];
    if (pointer + 1 > size) {
        ++sectionErrors_;
        state.sectionActive = false;
        state.section.clear();
        return;
    }
    if (state.sectionActive) {
        SectionBytes(state, pid, data + 1, pointer);
    }
    state.section.clear();
    state.sectionActive = true;
    SectionBytes(state, pid, data + 1 + pointer, size - 1 - pointer);
}

void TsReader::SectionBytes(PidState& state, uint16_t pid, const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size && state.sectionActive) {
        if (state.section.empty() && data[i] == 0xFF) {
            state.sectionActive = false;  // stuffing: no further section in this packet
            return;
        }
        // Take the three bytes up to section_length first, then the rest of the section.
        size_t want = 3;
        if (state.section.size() >= 3) {
            want = size_t{3} + (SV::ReadBigEndian16(state.section.data() + 1) & 0x0FFFu);
        }
        const size_t take = std::min(want - state.section.size(), size - i);
        state.section.insert(state.section.end(), data + i, data + i + take);
        i += take;
        if (state.section.size() == 3) {
            const size_t length = SV::ReadBigEndian16(state.section.data() + 1) & 0x0FFF;
            if (3 + length > kMaxSectionBytes || length < 9) {
                ++sectionErrors_;
                state.section.clear();
                state.sectionActive = false;
                return;
            }
            continue;
        }
        if (state.section.size() >= 3 &&
            state.section.size() ==
                size_t{3} + (SV::ReadBigEndian16(state.section.data() + 1) & 0x0FFFu)) {
            Section(pid, state.section.data(), state.section.size());
            state.section.clear();  // a further section may follow in the same packet
        }
    }
}

void TsReader::Section(uint16_t pid, const uint8_t* data, size_t size) {
    if (Crc32Mpeg2(data, size) != 0) {
        ++sectionErrors_;
        return;
    }
    const uint8_t tableId = data[0];
    if (pid == 0 && tableId == 0x00) {
        ProgramAssociation(data, size);
    } else if (pid != 0 && tableId == 0x02) {
        ProgramMap(pid, data, size);
    }
}

void TsReader::ProgramAssociation(const uint8_t* data, size_t size) {
    // 8 header bytes, 4 per program, 4 CRC bytes.
    if (size < 12 || (size - 12) % 4 != 0) {
        ++sectionErrors_;
        return;
    }
    for (size_t p = 8; p + 4 <= size - 4; p += 4) {
        const uint16_t number = SV::ReadBigEndian16(data + p);
        const uint16_t pmtPid = SV::ReadBigEndian16(data + p + 2) & 0x1FFF;
        if (number == 0) {
            continue;  // network PID
        }
        bool known = false;
        for (TsProgram& program : programs_) {
            if (program.programNumber == number) {
                known = true;
                if (program.pmtPid != pmtPid) {
                    program = TsProgram();
                    program.programNumber = number;
                    program.pmtPid = pmtPid;
                }
            }
        }
        if (!known) {
            TsProgram program;
            program.programNumber = number;
            program.pmtPid = pmtPid;
            programs_.push_back(program);
        }
    }
}

void TsReader::ProgramMap(uint16_t pid, const uint8_t* data, size_t size) {
    if (size < 16) {
        ++sectionErrors_;
        return;
    }
    const uint16_t number = SV::ReadBigEndian16(data + 3);
    TsProgram* program = nullptr;
    for (TsProgram& candidate : programs_) {
        if (candidate.pmtPid == pid && candidate.programNumber == number) {
            program = &candidate;
        }
    }
    if (program == nullptr) {
        return;
    }
    const size_t end = size - 4;  // CRC
    const size_t infoLength = SV::ReadBigEndian16(data + 10) & 0x0FFF;
    if (12 + infoLength > end) {
        ++sectionErrors_;
        return;
    }
    TsProgram updated = *program;
    updated.mapSeen = true;
    updated.mapVersion = (data[5] >> 1) & 0x1F;
    updated.pcrPid = SV::ReadBigEndian16(data + 8) & 0x1FFF;
    updated.programInfo.assign(data + 12, data + 12 + infoLength);
    updated.streams.clear();
    size_t p = 12 + infoLength;
    while (p < end) {
        if (p + 5 > end) {
            ++sectionErrors_;
            return;
        }
        TsStreamInfo stream;
        stream.streamType = data[p];
        stream.pid = SV::ReadBigEndian16(data + p + 1) & 0x1FFF;
        const size_t esInfoLength = SV::ReadBigEndian16(data + p + 3) & 0x0FFF;
        if (p + 5 + esInfoLength > end) {
            ++sectionErrors_;
            return;
        }
        stream.descriptors.assign(data + p + 5, data + p + 5 + esInfoLength);
        updated.streams.push_back(stream);
        p += 5 + esInfoLength;
    }
    *program = updated;
}

void TsReader::PesPayload(PidState& state, uint16_t pid, const uint8_t* data, size_t size,
                          bool unitStart, bool randomAccess, bool discontinuity) {
    if (unitStart) {
        if (state.gathering) {
            EmitPes(state, pid);
        }
        state.gathering = true;
        state.overflow = false;
        state.bytes.clear();
        state.pes = TsPes();
        state.pes.pid = pid;
        state.pes.randomAccess = randomAccess;
        state.pes.discontinuity = discontinuity;
        state.pes.firstPacket = packets_ - 1;
    } else if (!state.gathering) {
        return;  // continuation of a PES whose start was not seen
    }
    if (state.bytes.size() + size > kMaxPesBytes) {
        state.overflow = true;
        return;
    }
    state.bytes.insert(state.bytes.end(), data, data + size);
    // A PES with a length is complete as soon as its bytes are in.
    if (state.bytes.size() >= 6) {
        const size_t declared = SV::ReadBigEndian16(state.bytes.data() + 4);
        if (declared != 0 && state.bytes.size() >= declared + 6) {
            EmitPes(state, pid);
        }
    }
}

void TsReader::EmitPes(PidState& state, uint16_t pid) {
    state.gathering = false;
    std::vector<uint8_t> bytes;
    bytes.swap(state.bytes);
    TsPes pes = std::move(state.pes);
    state.pes = TsPes();
    if (state.overflow || bytes.size() < 6 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1) {
        ++pesErrors_;
        return;
    }
    pes.streamId = bytes[3];
    pes.declaredLength = SV::ReadBigEndian16(bytes.data() + 4);
    size_t end = bytes.size();
    if (pes.declaredLength != 0) {
        if (6 + size_t{pes.declaredLength} > end) {
            pes.truncated = true;
        } else {
            end = 6 + pes.declaredLength;
        }
    }
    size_t payloadStart = 6;
    if (HasOptionalHeader(pes.streamId)) {
        if (end < 9 || (bytes[6] & 0xC0) != 0x80) {
            ++pesErrors_;
            return;
        }
        pes.scramblingControl = (bytes[6] >> 4) & 3;
        pes.dataAlignment = (bytes[6] & 0x04) != 0;
        const uint8_t ptsDtsFlags = bytes[7] >> 6;
        const size_t headerLength = bytes[8];
        payloadStart = 9 + headerLength;
        if (payloadStart > end) {
            ++pesErrors_;
            return;
        }
        if (ptsDtsFlags == 1) {
            ++pesErrors_;  // forbidden value: DTS without PTS
            return;
        }
        if (ptsDtsFlags & 2) {
            if (headerLength < 5 || !TimestampMarkersSet(&bytes[9])) {
                ++pesErrors_;
                return;
            }
            pes.hasPts = true;
            pes.pts = ReadTimestamp(&bytes[9]);
            pes.dts = pes.pts;
        }
        if (ptsDtsFlags == 3) {
            if (headerLength < 10 || !TimestampMarkersSet(&bytes[14])) {
                ++pesErrors_;
                return;
            }
            pes.hasDts = true;
            pes.dts = ReadTimestamp(&bytes[14]);
        }
    }
    const TsStreamInfo* stream = FindStream(pid);
    pes.streamType = stream ? stream->streamType : 0;
    pes.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(payloadStart),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
    if (handler_) {
        handler_(pes);
    } else {
        pes_.push_back(std::move(pes));
    }
}

}  // namespace SvTools
