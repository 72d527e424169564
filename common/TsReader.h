#ifndef TOOLS_COMMON_TSREADER_H
#define TOOLS_COMMON_TSREADER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace SvTools {

// One elementary stream of a program map table.
struct TsStreamInfo {
    uint16_t pid = 0;
    uint8_t streamType = 0;
    std::vector<uint8_t> descriptors;  // ES_info bytes as they stand
};

// One program of the program association table, with its map once read.
struct TsProgram {
    uint16_t programNumber = 0;
    uint16_t pmtPid = 0;
    bool mapSeen = false;
    uint8_t mapVersion = 0;
    uint16_t pcrPid = 0x1FFF;
    std::vector<uint8_t> programInfo;
    std::vector<TsStreamInfo> streams;
};

// One reassembled PES packet.
struct TsPes {
    uint16_t pid = 0;
    uint8_t streamType = 0;  // from the program map; 0 when the PID is in no map
    uint8_t streamId = 0;
    bool hasPts = false;
    bool hasDts = false;
    uint64_t pts = 0;            // 33 bits, 90 kHz
    uint64_t dts = 0;            // equal to pts when the header carries no DTS
    bool randomAccess = false;   // random_access_indicator of the packet that started the PES
    bool discontinuity = false;  // discontinuity_indicator of that packet
    bool dataAlignment = false;
    uint8_t scramblingControl = 0;
    uint64_t firstPacket = 0;     // index of the transport packet that started the PES
    uint32_t declaredLength = 0;  // PES_packet_length; 0 = unbounded
    bool truncated = false;       // fewer bytes arrived than PES_packet_length announced
    std::vector<uint8_t> payload;
};

struct TsContinuityError {
    uint16_t pid = 0;
    uint64_t packet = 0;
    uint8_t expected = 0;
    uint8_t found = 0;
};

struct TsPcr {
    uint16_t pid = 0;
    uint64_t packet = 0;
    uint64_t pcr = 0;  // 27 MHz: base x 300 + extension
};

// Reads an MPEG-2 transport stream (ISO/IEC 13818-1): the program association and program map
// tables (CRC checked), PES packets reassembled per PID with their timestamps and flags, PCRs,
// and the faults a checker wants to see (lost sync, continuity errors, bad sections, bad PES
// headers). Input may be fed in pieces cut anywhere. Everything it keeps is bounded: a PES is
// capped at 16 MiB, a section at 4 KiB; what exceeds is dropped and counted as an error.
class TsReader {
public:
    using PesHandler = std::function<void(TsPes&)>;

    // Without a handler the PES packets are kept and handed out by Pes().
    explicit TsReader(PesHandler handler = PesHandler());

    void Feed(const uint8_t* data, size_t size);
    // Hands out the PES packets still being gathered. Feed may not be called afterwards.
    void Finish();

    // Reads a whole file through a reader; raises std::runtime_error when it cannot be read.
    static TsReader ReadFile(const std::string& path);

    const std::vector<TsProgram>& Programs() const { return programs_; }
    // The map entry of a PID, or null.
    const TsStreamInfo* FindStream(uint16_t pid) const;
    std::vector<TsPes>& Pes() { return pes_; }
    const std::vector<TsContinuityError>& ContinuityErrors() const { return continuityErrors_; }
    const std::vector<TsPcr>& Pcrs() const { return pcrs_; }

    uint64_t PacketCount() const { return packets_; }
    // Bytes skipped to find the next sync byte.
    uint64_t SkippedBytes() const { return skippedBytes_; }
    uint64_t TransportErrors() const { return transportErrors_; }
    uint64_t SectionErrors() const { return sectionErrors_; }
    uint64_t PesErrors() const { return pesErrors_; }
    uint64_t AdaptationFieldErrors() const { return adaptationErrors_; }
    uint64_t ScrambledPackets() const { return scrambledPackets_; }
    // PID -> packets seen.
    const std::map<uint16_t, uint64_t>& PacketsPerPid() const { return pidPackets_; }

private:
    struct PidState {
        bool ccKnown = false;
        uint8_t lastCc = 0;
        bool duplicateSeen = false;
        bool gathering = false;
        TsPes pes;                   // header fields of the PES being gathered
        std::vector<uint8_t> bytes;  // PES bytes from the start code on
        bool overflow = false;
        std::vector<uint8_t> section;
        bool sectionActive = false;
    };

    void Packet(const uint8_t* packet);
    void CheckContinuity(PidState& state, uint16_t pid, uint8_t cc, bool payload,
                         bool discontinuity);
    void SectionPayload(PidState& state, uint16_t pid, const uint8_t* data, size_t size,
                        bool unitStart);
    void SectionBytes(PidState& state, uint16_t pid, const uint8_t* data, size_t size);
    void Section(uint16_t pid, const uint8_t* data, size_t size);
    void ProgramAssociation(const uint8_t* data, size_t size);
    void ProgramMap(uint16_t pid, const uint8_t* data, size_t size);
    void PesPayload(PidState& state, uint16_t pid, const uint8_t* data, size_t size, bool unitStart,
                    bool randomAccess, bool discontinuity);
    void EmitPes(PidState& state, uint16_t pid);
    bool IsPsiPid(uint16_t pid) const;

    PesHandler handler_;
    std::vector<uint8_t> partial_;
    std::map<uint16_t, PidState> pids_;
    std::vector<TsProgram> programs_;
    std::vector<TsPes> pes_;
    std::vector<TsContinuityError> continuityErrors_;
    std::vector<TsPcr> pcrs_;
    std::map<uint16_t, uint64_t> pidPackets_;
    uint64_t packets_ = 0;
    uint64_t skippedBytes_ = 0;
    uint64_t transportErrors_ = 0;
    uint64_t sectionErrors_ = 0;
    uint64_t pesErrors_ = 0;
    uint64_t adaptationErrors_ = 0;
    uint64_t scrambledPackets_ = 0;
};

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial value all ones, no reflection, no final xor)
// over the bytes; a PSI section including its CRC_32 field gives 0. Written apart from the
// engine's own on purpose: the reader checks the engine's output, so it must not share its
// faults.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size);

}  // namespace SvTools

#endif
