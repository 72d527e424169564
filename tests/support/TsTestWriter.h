#ifndef TESTS_SUPPORT_TSTESTWRITER_H
#define TESTS_SUPPORT_TSTESTWRITER_H

// A minimal MPEG-2 transport stream writer (ISO/IEC 13818-1) for test input: one program with
// an H.264 stream on PID 0x100 and an ADTS AAC stream on PID 0x101. It shares no code with the
// engine's multiplexer, so what the tools make of its output can be checked against the bytes
// the test put in.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "common/TsReader.h"
#include "tests/support/HandMadeStreams.h"

namespace SvGolden {

class TsTestWriter {
public:
    static const uint16_t kPmtPid = 0x1000;
    static const uint16_t kVideoPid = 0x100;
    static const uint16_t kAudioPid = 0x101;

    // The program association and program map tables.
    void Tables() {
        // PAT: table_id 0, section_syntax_indicator 1, '0', reserved '11', section_length 13,
        // transport_stream_id 1, version 0 current_next 1, section 0 of 0, program 1 -> PMT PID.
        Section(0x0000, {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01,
                         static_cast<uint8_t>(0xE0 | (kPmtPid >> 8)),
                         static_cast<uint8_t>(kPmtPid & 0xFF)});
        // PMT: table_id 2, section_length 23, program 1, version 0, PCR PID 0x100, no program
        // info; stream type 0x1B (H.264) on 0x100 and 0x0F (ADTS AAC) on 0x101, no descriptors.
        Section(kPmtPid, {0x02,
                          0xB0,
                          0x17,
                          0x00,
                          0x01,
                          0xC1,
                          0x00,
                          0x00,
                          static_cast<uint8_t>(0xE0 | (kVideoPid >> 8)),
                          static_cast<uint8_t>(kVideoPid & 0xFF),
                          0xF0,
                          0x00,  // PCR PID, info 0
                          0x1B,
                          static_cast<uint8_t>(0xE0 | (kVideoPid >> 8)),
                          static_cast<uint8_t>(kVideoPid & 0xFF),
                          0xF0,
                          0x00,
                          0x0F,
                          static_cast<uint8_t>(0xE0 | (kAudioPid >> 8)),
                          static_cast<uint8_t>(kAudioPid & 0xFF),
                          0xF0,
                          0x00});
    }

    // One PES packet on pid with its stream id and 90 kHz times (dts written when it differs
    // from pts). key marks the first transport packet random access and gives it a PCR 0.1 s
    // before the decode time.
    void Pes(uint16_t pid, uint8_t streamId, uint64_t pts, uint64_t dts, bool key,
             const Bytes& payload) {
        const bool withDts = dts != pts;
        const size_t headerData = withDts ? 10 : 5;
        const size_t length = 3 + headerData + payload.size();
        Bytes pes = {0x00, 0x00, 0x01, streamId,
                     // PES_packet_length; 0 (unbounded) for video too long for 16 bits
                     static_cast<uint8_t>(length > 0xFFFF ? 0 : length >> 8),
                     static_cast<uint8_t>(length > 0xFFFF ? 0 : length & 0xFF),
                     0x84,  // '10', not scrambled, priority 0, data_alignment_indicator 1
                     static_cast<uint8_t>(withDts ? 0xC0 : 0x80),  // PTS_DTS_flags
                     static_cast<uint8_t>(headerData)};            // PES_header_data_length
        Timestamp(pes, withDts ? 0x3 : 0x2, pts);
        if (withDts) {
            Timestamp(pes, 0x1, dts);
        }
        pes.insert(pes.end(), payload.begin(), payload.end());
        Packetize(pid, pes, key, dts >= 9000 ? (dts - 9000) * 300 : 0);
    }

    const Bytes& Stream() const { return out_; }
    // Hands out the packets written so far and starts afresh, so a long stream can go to a file
    // in pieces.
    Bytes Take() {
        Bytes taken;
        taken.swap(out_);
        return taken;
    }

private:
    // '0010'/'0011'/'0001', PTS 32-30, marker, 29-15, marker, 14-0, marker.
    static void Timestamp(Bytes& out, uint8_t prefix, uint64_t t) {
        out.push_back(static_cast<uint8_t>((prefix << 4) | (((t >> 30) & 0x07) << 1) | 1));
        out.push_back(static_cast<uint8_t>(t >> 22));
        out.push_back(static_cast<uint8_t>(((t >> 15) & 0x7F) << 1 | 1));
        out.push_back(static_cast<uint8_t>(t >> 7));
        out.push_back(static_cast<uint8_t>((t & 0x7F) << 1 | 1));
    }

    void Section(uint16_t pid, Bytes section) {
        const uint32_t crc = SvTools::Crc32Mpeg2(section.data(), section.size());
        for (int shift = 24; shift >= 0; shift -= 8) {
            section.push_back(static_cast<uint8_t>(crc >> shift));
        }
        section.insert(section.begin(), 0x00);  // pointer_field
        Packetize(pid, section, false, 0);
    }

    // Cuts bytes into 188-byte packets: the first with payload_unit_start_indicator, the last
    // filled up by adaptation-field stuffing.
    void Packetize(uint16_t pid, const Bytes& bytes, bool key, uint64_t pcr) {
        size_t offset = 0;
        bool first = true;
        while (offset < bytes.size()) {
            Bytes adaptation;  // adaptation_field without its length byte
            if (first && key) {
                adaptation.push_back(0x50);  // random_access_indicator, PCR_flag
                const uint64_t base = pcr / 300, extension = pcr % 300;
                adaptation.push_back(static_cast<uint8_t>(base >> 25));
                adaptation.push_back(static_cast<uint8_t>(base >> 17));
                adaptation.push_back(static_cast<uint8_t>(base >> 9));
                adaptation.push_back(static_cast<uint8_t>(base >> 1));
                // base bit 0, six reserved ones, extension bit 8
                adaptation.push_back(
                    static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1)));
                adaptation.push_back(static_cast<uint8_t>(extension));
            }
            size_t room = 184 - (adaptation.empty() ? 0 : 1 + adaptation.size());
            const size_t left = bytes.size() - offset;
            if (left < room) {
                // Stuffing: an adaptation field grown to fill the packet.
                const size_t missing = room - left;
                if (adaptation.empty()) {
                    if (missing == 1) {
                        room -= 1;  // a lone length byte of 0
                    } else {
                        adaptation.push_back(0x00);  // no flags
                        adaptation.insert(adaptation.end(), missing - 2, 0xFF);
                        room -= missing;
                    }
                } else {
                    adaptation.insert(adaptation.end(), missing, 0xFF);
                    room -= missing;
                }
            }
            const bool hasAdaptation = !adaptation.empty() || room == 183;
            out_.push_back(0x47);  // sync byte
            out_.push_back(static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8)));
            out_.push_back(static_cast<uint8_t>(pid & 0xFF));
            uint8_t& cc = continuity_[pid];
            // not scrambled; adaptation field and payload, or payload only; continuity counter
            out_.push_back(static_cast<uint8_t>((hasAdaptation ? 0x30 : 0x10) | (cc & 0x0F)));
            cc = static_cast<uint8_t>((cc + 1) & 0x0F);
            if (hasAdaptation) {
                out_.push_back(static_cast<uint8_t>(adaptation.size()));  // adaptation_field_length
                out_.insert(out_.end(), adaptation.begin(), adaptation.end());
            }
            out_.insert(out_.end(), bytes.begin() + offset, bytes.begin() + offset + room);
            offset += room;
            first = false;
        }
    }

    Bytes out_;
    std::map<uint16_t, uint8_t> continuity_;
};

}  // namespace SvGolden

#endif
