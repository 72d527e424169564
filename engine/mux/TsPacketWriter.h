#ifndef ENGINE_MUX_TSPACKETWRITER_H
#define ENGINE_MUX_TSPACKETWRITER_H

#include <boost/function.hpp>

#include <cstdint>
#include <map>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/mux/TsContinuityCounter.h"
#include "engine/samples/MemoryChunkList.h"

namespace SarvelonMediaKit {

// Cuts PSI sections and PES packets into 188-byte transport packets (ISO/IEC 13818-1, 2.4.3)
// and keeps the continuity counter of every PID it writes. Each section or PES packet starts a
// packet of its own (payload_unit_start_indicator set) and leaves in chunks of whole packets,
// at most kMaxPacketsPerChunk of them; the first chunk of a unit never holds anything of the
// unit before it. A packet the payload does not fill gets adaptation-field stuffing, so every
// packet is full.
//
// What the program carries (PIDs, tables, timestamps) is the caller's business; this class
// only lays bytes out. Not thread-safe: one owner calls it.
class TsPacketWriter {
public:
    // Transport packet layout.
    static constexpr uint32_t kPacketSize = 188;  // every transport packet
    // sync_byte, flags with the PID, adaptation_field_control with the continuity_counter.
    static constexpr uint32_t kHeaderSize = 4;
    // What follows the header: adaptation field and payload together.
    static constexpr uint32_t kPayloadSize = kPacketSize - kHeaderSize;
    // Packets in one output chunk at most (65424 bytes, under 64 KiB).
    static constexpr uint32_t kMaxPacketsPerChunk = 348;
    // The PCR value that stands for "no PCR".
    static constexpr uint64_t kNoPcr = ~uint64_t(0);

    // Makes an output chunk of size bytes. The writer overwrites every byte of it, so the
    // maker need not clear it (MemoryChunk::Unset).
    typedef boost::function<MemoryChunk(uint32_t size)> ChunkMaker;
    // Hands a filled output chunk on.
    typedef boost::function<void(const MemoryChunk& chunk)> ChunkSender;

    TsPacketWriter(const ChunkMaker& makeChunk, const ChunkSender& sendChunk);

    // One PSI section, its pointer_field included, on pid (13 bits), without a PCR.
    void WriteSection(uint16_t pid, const std::vector<uint8_t>& section);
    // One PES packet of stream streamId around the payload on pid (13 bits). The header
    // carries the PTS, and the DTS too when it differs from the PTS (33 bits of each). A pcr
    // other than kNoPcr (27 MHz) goes into the adaptation field of the first packet.
    void WritePes(uint16_t pid, uint8_t streamId, uint64_t pts, uint64_t dts, uint64_t pcr,
                  MemoryChunkList& payload);

    // The continuity_counter that the next packet on pid will carry.
    uint8_t PeekCounter(uint16_t pid) const;
    // What comes next does not continue what was written so far (the output restarts
    // elsewhere): every PID written before starts its counter again at 0, and its next first
    // packet carries the discontinuity_indicator, which tells a reader that the counter's jump
    // is no loss. Nothing changes while nothing has been written.
    void Restart();
    // Whether the next packet on pid will carry the discontinuity_indicator.
    bool IsDiscontinuityPending(uint16_t pid) const;

private:
    // The variable part of a PES header.
    struct PesHeader {
        uint8_t streamId;
        uint64_t pts;
        uint64_t dts;
    };

    // Packetises the payload behind an optional PES header, the PCR (or kNoPcr) in the first
    // packet, and sends the chunks.
    void WriteUnit(uint16_t pid, const PesHeader* pes, uint64_t pcr, MemoryChunkList& payload);

    // What the writer keeps of one PID.
    struct PidState {
        TsContinuityCounter counter;
        bool discontinuity = false;  // the next packet carries the discontinuity_indicator
    };

    ChunkMaker makeChunk_;
    ChunkSender sendChunk_;
    std::map<uint16_t, PidState> pids_;
};

}  // namespace SarvelonMediaKit

#endif
