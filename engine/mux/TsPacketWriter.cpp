#include "engine/mux/TsPacketWriter.h"

#include <algorithm>
#include <cstring>
#include <list>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/codecs/PesTimestamp.h"

namespace SarvelonMediaKit {

namespace {

// ---- Transport packet header ----
constexpr uint8_t kSyncByte = 0x47;
// payload_unit_start_indicator, above the 13 bits of the PID: a section or PES packet starts
// in this packet.
constexpr uint16_t kPayloadUnitStart = 0x4000;
// adaptation_field_control with transport_scrambling_control '00': '01' payload only, '11'
// adaptation field followed by payload.
constexpr uint8_t kPayloadOnly = 0x10;
constexpr uint8_t kAdaptationAndPayload = 0x30;

// ---- Adaptation field ----
constexpr uint32_t kAdaptationLengthSize = 1;  // adaptation_field_length
constexpr uint32_t kAdaptationFlagsSize = 1;   // discontinuity_indicator .. extension_flag
// program_clock_reference: 33-bit base, six reserved bits, 9-bit extension.
constexpr uint32_t kPcrSize = 6;
// An adaptation field that holds a PCR and nothing else.
constexpr uint32_t kPcrAdaptationSize = kAdaptationLengthSize + kAdaptationFlagsSize + kPcrSize;
// An adaptation field that holds its flags and nothing else.
constexpr uint32_t kFlagsAdaptationSize = kAdaptationLengthSize + kAdaptationFlagsSize;
constexpr uint8_t kNoAdaptationFlags = 0x00;
constexpr uint8_t kDiscontinuityFlag = 0x80;
constexpr uint8_t kPcrFlag = 0x10;
constexpr uint8_t kStuffingByte = 0xFF;

// ---- PES header ----
// packet_start_code_prefix (3 bytes), stream_id and PES_packet_length (2 bytes); the length
// counts the bytes after these.
constexpr uint32_t kPesStartSize = 6;
// '10' with the scrambling, priority, alignment, copyright and original bits; PTS_DTS_flags
// with the other flags; PES_header_data_length.
constexpr uint32_t kPesFlagsSize = 3;
constexpr uint32_t kPesHeaderWithPtsSize = kPesStartSize + kPesFlagsSize + kPesTimestampSize;
constexpr uint32_t kPesHeaderWithPtsDtsSize = kPesHeaderWithPtsSize + kPesTimestampSize;
// A longer PES packet gets PES_packet_length 0 (unbounded, as ISO/IEC 13818-1 allows for
// video in a transport stream).
constexpr uint64_t kMaxPesPacketLength = 0xFFFF;
// '10', not scrambled, priority 0, no data_alignment_indicator, copyright, original.
constexpr uint8_t kPesFirstFlags = 0x83;
// PTS_DTS_flags '10' (PTS only) and '11' (PTS and DTS), no other optional field.
constexpr uint8_t kPtsOnly = 0x80;
constexpr uint8_t kPtsAndDts = 0xC0;

uint32_t PesHeaderSize(uint64_t pts, uint64_t dts) {
    return pts != dts ? kPesHeaderWithPtsDtsSize : kPesHeaderWithPtsSize;
}

// The 4-byte packet header: sync byte, the PID field (the PID with the unit-start flag when
// set), then the adaptation_field_control and the PID's next continuity_counter.
void PutPacketHeader(uint8_t* p, uint16_t pidField, uint8_t control, TsContinuityCounter& counter) {
    p[0] = kSyncByte;
    SV::WriteBigEndian16(pidField, p + 1);
    p[3] = static_cast<uint8_t>(control | counter.Next());
}

// PCR in the 6 bytes of an adaptation field: 33-bit base (90 kHz), six reserved bits, 9-bit
// extension (the 27 MHz periods within the tick).
void PutPcr(uint8_t* p, uint64_t pcr) {
    const uint64_t base = ClockToTicks(pcr) & kTimestampMask;
    const uint32_t extension = ClockExtension(pcr);
    p[0] = static_cast<uint8_t>(base >> 25);
    p[1] = static_cast<uint8_t>(base >> 17);
    p[2] = static_cast<uint8_t>(base >> 9);
    p[3] = static_cast<uint8_t>(base >> 1);
    p[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
    p[5] = static_cast<uint8_t>(extension);
}

// An adaptation field of size bytes, its length byte included (nothing for 0): the flags byte
// when there is room for one, with the discontinuity_indicator when asked (the caller has made
// room for the flags), the PCR unless it is kNoPcr (the caller has made room for it), stuffing
// for the rest.
void PutAdaptationField(uint8_t* p, uint32_t size, uint64_t pcr, bool discontinuity) {
    if (size == 0) {
        return;
    }
    p[0] = static_cast<uint8_t>(size - kAdaptationLengthSize);
    if (size == kAdaptationLengthSize) {
        return;  // one byte of stuffing: adaptation_field_length 0 and no flags
    }
    uint32_t used = kFlagsAdaptationSize;
    p[1] = discontinuity ? kDiscontinuityFlag : kNoAdaptationFlags;
    if (pcr != TsPacketWriter::kNoPcr) {
        p[1] |= kPcrFlag;
        PutPcr(p + used, pcr);
        used += kPcrSize;
    }
    std::memset(p + used, kStuffingByte, size - used);
}

// The PES header in front of payloadSize bytes of payload.
void PutPesHeader(uint8_t* p, uint8_t streamId, uint64_t pts, uint64_t dts, uint64_t payloadSize) {
    const uint32_t headerSize = PesHeaderSize(pts, dts);
    p[0] = 0x00;  // packet_start_code_prefix 00 00 01
    p[1] = 0x00;
    p[2] = 0x01;
    p[3] = streamId;
    const uint64_t length = headerSize + payloadSize - kPesStartSize;
    SV::WriteBigEndian16(length <= kMaxPesPacketLength ? static_cast<uint16_t>(length) : 0, p + 4);
    p[6] = kPesFirstFlags;
    if (pts == dts) {
        p[7] = kPtsOnly;
        p[8] = kPesTimestampSize;  // PES_header_data_length
        WritePesTimestamp(kPesPtsAlonePrefix, pts, p + 9);
    } else {
        p[7] = kPtsAndDts;
        p[8] = 2 * kPesTimestampSize;
        WritePesTimestamp(kPesPtsBeforeDtsPrefix, pts, p + 9);
        WritePesTimestamp(kPesDtsPrefix, dts, p + 9 + kPesTimestampSize);
    }
}

// Reads a payload's bytes in order across its chunks. Every transport packet takes at most
// 184 of them, so this runs a couple of million times for a film: it walks the chunks with
// plain pointers rather than through a general cursor.
class PayloadReader {
public:
    explicit PayloadReader(const MemoryChunkList& payload)
        : next_(payload.GetChunks().begin()), end_(payload.GetChunks().end()) {}

    // Copies the next n bytes to out (the caller knows they are there). Output chunks are not
    // cleared before they are laid out: should the payload ever hold fewer bytes than its size
    // said, the packet is finished with stuffing bytes rather than whatever the memory held.
    void Copy(uint8_t* out, uint32_t n) {
        constexpr uint32_t kWhole = TsPacketWriter::kPayloadSize;
        if (n == kWhole && left_ >= kWhole) {
            // Nearly every packet: a whole packet's payload from one chunk, copied with a
            // size known here so that the compiler lays the copy out inline.
            std::memcpy(out, data_, kWhole);
            data_ += kWhole;
            left_ -= kWhole;
            return;
        }
        while (n > 0) {
            if (left_ == 0 && !NextChunk()) {
                std::memset(out, kStuffingByte, n);
                return;
            }
            const uint32_t take = std::min(n, left_);
            std::memcpy(out, data_, take);
            data_ += take;
            left_ -= take;
            out += take;
            n -= take;
        }
    }

    // Whole packets' payloads that lie one after the other in the chunk being read.
    uint32_t WholePayloadsInChunk() const { return left_ / TsPacketWriter::kPayloadSize; }
    // The next n bytes, which lie in the chunk being read (n at most what is left of it).
    const uint8_t* Take(uint32_t n) {
        const uint8_t* bytes = data_;
        data_ += n;
        left_ -= n;
        return bytes;
    }

private:
    bool NextChunk() {
        while (next_ != end_) {
            const MemoryChunk& chunk = *next_++;
            if (chunk.Size() > 0) {
                data_ = chunk.Data(0);
                left_ = chunk.Size();
                return true;
            }
        }
        return false;
    }

    std::list<MemoryChunk>::const_iterator next_;
    std::list<MemoryChunk>::const_iterator end_;
    const uint8_t* data_ = nullptr;
    uint32_t left_ = 0;
};

}  // namespace

TsPacketWriter::TsPacketWriter(const ChunkMaker& makeChunk, const ChunkSender& sendChunk)
    : makeChunk_(makeChunk), sendChunk_(sendChunk) {}

void TsPacketWriter::WriteSection(uint16_t pid, const std::vector<uint8_t>& section) {
    MemoryChunkList scratch(0, 0);
    scratch.Append(section.data(), static_cast<uint32_t>(section.size()));
    WriteUnit(pid, nullptr, kNoPcr, scratch);
}

void TsPacketWriter::WritePes(uint16_t pid, uint8_t streamId, uint64_t pts, uint64_t dts,
                              uint64_t pcr, MemoryChunkList& payload) {
    const PesHeader pes = {streamId, pts, dts};
    WriteUnit(pid, &pes, pcr, payload);
}

uint8_t TsPacketWriter::PeekCounter(uint16_t pid) const {
    const std::map<uint16_t, PidState>::const_iterator it = pids_.find(pid);
    return it != pids_.end() ? it->second.counter.Peek() : 0;
}

bool TsPacketWriter::IsDiscontinuityPending(uint16_t pid) const {
    const std::map<uint16_t, PidState>::const_iterator it = pids_.find(pid);
    return it != pids_.end() && it->second.discontinuity;
}

void TsPacketWriter::Restart() {
    for (std::map<uint16_t, PidState>::iterator it = pids_.begin(); it != pids_.end(); ++it) {
        it->second.counter = TsContinuityCounter();
        it->second.discontinuity = true;
    }
}

void TsPacketWriter::WriteUnit(uint16_t pid, const PesHeader* pes, uint64_t pcr,
                               MemoryChunkList& payload) {
    const uint64_t size = payload.Size();
    if (pes == nullptr && size == 0 && pcr == kNoPcr) {
        return;  // an empty section
    }
    const uint32_t headerSize = pes != nullptr ? PesHeaderSize(pes->pts, pes->dts) : 0;
    PidState& state = pids_[pid];
    const bool discontinuity = state.discontinuity;
    state.discontinuity = false;
    // Room the first packet keeps for its adaptation field: the PCR with the flags, or the
    // flags alone for the discontinuity_indicator.
    const uint32_t pcrSize =
        pcr != kNoPcr ? kPcrAdaptationSize : (discontinuity ? kFlagsAdaptationSize : 0);
    const uint64_t packets = (pcrSize + headerSize + size + kPayloadSize - 1) / kPayloadSize;
    TsContinuityCounter& counter = state.counter;
    PayloadReader reader(payload);
    uint64_t left = size;
    MemoryChunk chunk;
    uint32_t inChunk = 0;
    uint32_t written = 0;

    for (uint64_t packet = 0; packet < packets; ++packet) {
        if (written == inChunk) {
            if (packet > 0) {
                sendChunk_(chunk);
            }
            inChunk =
                static_cast<uint32_t>(std::min<uint64_t>(packets - packet, kMaxPacketsPerChunk));
            chunk = makeChunk_(inChunk * kPacketSize);
            written = 0;
        }
        uint8_t* p = chunk.Data(written * kPacketSize);
        // Past the first packet, nearly every packet is a whole one cut from the middle of a
        // payload chunk: those are laid out in a run, without the general case's questions.
        if (packet > 0) {
            const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(
                {inChunk - written, left / kPayloadSize, reader.WholePayloadsInChunk()}));
            if (run > 0) {
                const uint8_t* from = reader.Take(run * kPayloadSize);
                for (uint32_t i = 0; i < run; ++i, p += kPacketSize, from += kPayloadSize) {
                    PutPacketHeader(p, pid, kPayloadOnly, counter);
                    std::memcpy(p + kHeaderSize, from, kPayloadSize);
                }
                written += run;
                packet += run - 1;
                left -= uint64_t(run) * kPayloadSize;
                continue;
            }
        }
        ++written;

        // The first packet holds the PES header and the PCR in front of its payload; any room
        // the payload leaves in a packet goes to the adaptation field as stuffing.
        const bool first = packet == 0;
        const uint32_t header = first ? headerSize : 0;
        const uint32_t room = kPayloadSize - header - (first ? pcrSize : 0);
        const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(left, room));
        const uint32_t adaptation = kPayloadSize - header - take;

        PutPacketHeader(p, static_cast<uint16_t>(first ? pid | kPayloadUnitStart : pid),
                        adaptation > 0 ? kAdaptationAndPayload : kPayloadOnly, counter);
        uint8_t* q = p + kHeaderSize;
        PutAdaptationField(q, adaptation, first ? pcr : kNoPcr, first && discontinuity);
        q += adaptation;
        if (header > 0) {
            PutPesHeader(q, pes->streamId, pes->pts, pes->dts, size);
            q += header;
        }
        reader.Copy(q, take);
        left -= take;
    }
    sendChunk_(chunk);
}

}  // namespace SarvelonMediaKit
