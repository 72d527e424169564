#ifndef ENGINE_CONTAINER_MPEG2PSPES_H
#define ENGINE_CONTAINER_MPEG2PSPES_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

class ByteReader;

// One PES packet of a program stream (ISO/IEC 13818-1), written byte for byte. The payload is
// a list of buffers, each either referenced (the caller's bytes must outlive the record, and
// the payload is copied once, into the output) or copied into the record.
class Mpeg2PsPes {
public:
    struct Buffer {
        const uint8_t* data = nullptr;  // the caller's bytes when not copied
        uint32_t length = 0;
        std::vector<uint8_t> owned;  // the bytes when copied
        // The buffer's bytes (for a copied buffer, its own ones, so that a copy of the record
        // never points into another record).
        const uint8_t* Bytes() const { return owned.empty() ? data : owned.data(); }
    };

    // sizeLimit is the largest total packet size; 0, or anything beyond what the 16-bit length
    // field can describe, means 0x10005 (65535 + 6).
    explicit Mpeg2PsPes(uint32_t sizeLimit = 0);
    Mpeg2PsPes(const Mpeg2PsPes&) = default;
    Mpeg2PsPes& operator=(const Mpeg2PsPes&) = default;
    Mpeg2PsPes(Mpeg2PsPes&&) = default;
    // Takes the other record's buffers and copies its other fields.
    Mpeg2PsPes& operator=(Mpeg2PsPes&& other);

    void SetStreamId(uint8_t streamId) { streamId_ = streamId; }
    uint8_t GetStreamId() const { return streamId_; }
    // Store the 90 kHz timestamp and set its flag.
    void SetPts(uint64_t pts);
    void SetDts(uint64_t dts);
    // data_alignment_indicator: an aligned packet starts an access unit (a key frame for
    // video, a frame for audio) or a metadata block.
    void SetDataAlignment(bool aligned);
    // PES_scrambling_control = value & 3.
    void SetScramblingControl(uint8_t value);

    bool HasPts() const;
    uint64_t GetPts() const { return pts_; }
    bool HasDts() const;
    uint64_t GetDts() const { return dts_; }
    bool GetDataAlignment() const;
    uint8_t GetScramblingControl() const { return (flags1_ >> 4) & 3; }
    // The payload buffers one after the other.
    std::vector<uint8_t> GetPayload() const;

    // False for the stream ids without flags and timestamps (0xBC, 0xBE, 0xBF, 0xF0, 0xF2,
    // 0xF8, 0xFF), true for every other, 0xF1 included.
    bool HasOptionalHeader() const;
    // 6 without the optional header; else 9, + 5 with a PTS, + 5 with a DTS.
    uint32_t GetHeaderSize() const;
    // Header plus payload.
    uint32_t GetSize() const;
    // Payload bytes that still fit under the size limit (negative when the header grew past it).
    int32_t GetFreeSpace() const;
    // Appends a payload buffer. Length 0 adds nothing and answers true; more than the free
    // space is refused (false).
    bool AddData(const uint8_t* bytes, uint32_t length, bool copy);

    // Write the header, or the whole packet, to out; the byte count written, 0 (nothing
    // written) when it does not fit the capacity or the packet is longer than its 16-bit
    // length field can describe.
    uint32_t WriteHeader(uint8_t* out, uint32_t capacity) const;
    uint32_t Write(uint8_t* out, uint32_t capacity) const;
    // The whole packet appended to a byte vector; false (nothing appended) when it cannot be
    // written.
    bool AppendTo(std::vector<uint8_t>& out) const;

    // Replaces this packet with the one at the front of in and steps in over it; the payload
    // is copied and the size limit is the default one. Of the optional header only the first
    // flag byte, PTS and DTS are kept: its other fields and stuffing are stepped over, so a
    // packet that has them is written back without them. False, with this packet and in as
    // they were, when in does not start with a whole PES packet: no start code 00 00 01 with
    // a stream id of 0xBC or above, fewer bytes than PES_packet_length, an optional header
    // without its '10' bits, PTS_DTS_flags '01', or a header longer than the packet.
    bool Read(ByteReader& in);

private:
    uint32_t EffectiveLimit() const;

    uint32_t sizeLimit_;
    std::vector<Buffer> buffers_;
    uint8_t streamId_;
    uint8_t flags1_;  // '10', scrambling control in bits 5-4, data alignment in bit 2
    uint8_t flags2_;  // PTS flag 0x80, DTS flag 0x40
    uint64_t pts_;
    uint64_t dts_;
};

}  // namespace SarvelonMediaKit

#endif
