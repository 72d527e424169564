#ifndef ENGINE_CONTAINER_MPEG2PSSYSTEMHEADER_H
#define ENGINE_CONTAINER_MPEG2PSSYSTEMHEADER_H

#include <cstdint>
#include <utility>
#include <vector>

namespace SarvelonMediaKit {

class ByteReader;

// A program-stream system header (ISO/IEC 13818-1, 2.5.3.5) with its stream-bound pairs.
class Mpeg2PsSystemHeader {
public:
    Mpeg2PsSystemHeader();

    void SetRateBound(uint32_t rateBound) { rateBound_ = rateBound; }     // 22 bits, 50 bytes/s
    void SetAudioBound(uint8_t audioBound) { audioBound_ = audioBound; }  // 6 bits
    void SetVideoBound(uint8_t videoBound) { videoBound_ = videoBound; }  // 5 bits
    void SetFixedFlag(bool on);
    void SetCspsFlag(bool on);
    void SetSystemAudioLockFlag(bool on);
    void SetSystemVideoLockFlag(bool on);
    void SetPacketRateRestrictionFlag(bool on);
    // Appends (stream id, bound word): P-STD_buffer_bound_scale is 1 (units of 1024 bytes)
    // unless smallUnits (units of 128 bytes); the bound is 13 bits.
    void AddStreamBound(uint8_t streamId, bool smallUnits, uint16_t bound);
    // Rewrites the word of the first pair with that stream id; nothing when there is none.
    void SetStreamBound(uint8_t streamId, bool smallUnits, uint16_t bound);

    uint32_t GetRateBound() const { return rateBound_; }
    uint8_t GetAudioBound() const { return audioBound_; }
    uint8_t GetVideoBound() const { return videoBound_; }
    bool GetFixedFlag() const { return (flags_ & 0x02) != 0; }
    bool GetCspsFlag() const { return (flags_ & 0x01) != 0; }
    bool GetSystemAudioLockFlag() const { return (lockByte_ & 0x80) != 0; }
    bool GetSystemVideoLockFlag() const { return (lockByte_ & 0x40) != 0; }
    bool GetPacketRateRestrictionFlag() const { return (restriction_ & 0x80) != 0; }
    // (stream id, bound word) in order: bit 15 set for units of 1024 bytes, bits 12-0 the
    // bound.
    const std::vector<std::pair<uint8_t, uint16_t>>& GetStreamBounds() const {
        return streamBounds_;
    }

    // 12 + 3 per pair.
    uint32_t GetSize() const;
    // The written byte count; 0 (nothing written) when it does not fit the capacity.
    uint32_t Write(uint8_t* out, uint32_t capacity) const;
    // Replaces this header with the one at the front of in and steps in over it. False, with
    // this header and in as they were, when in does not start with a whole system header:
    // another start code, fewer bytes than header_length, a marker bit or the '11' of a stream
    // bound clear, or header_length not 6 + 3 per stream bound.
    bool Read(ByteReader& in);

private:
    uint32_t rateBound_;
    uint8_t audioBound_;
    uint8_t videoBound_;
    uint8_t flags_;        // fixed_flag = bit 1, CSPS_flag = bit 0
    uint8_t lockByte_;     // system_audio_lock_flag = bit 7, system_video_lock_flag = bit 6,
                           // marker bit 5
    uint8_t restriction_;  // packet_rate_restriction_flag = bit 7 over seven reserved ones
    std::vector<std::pair<uint8_t, uint16_t>> streamBounds_;  // bit 15 = scale, 12-0 = bound
};

}  // namespace SarvelonMediaKit

#endif
