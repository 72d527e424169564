#ifndef ENGINE_CONTAINER_MPEG2PSPACK_H
#define ENGINE_CONTAINER_MPEG2PSPACK_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/container/Mpeg2PsSystemHeader.h"

namespace SarvelonMediaKit {

class ByteReader;

// A program-stream pack (ISO/IEC 13818-1, 2.5.3.3): the pack header, then an optional system
// header, an optional program stream map and the PES packets, in that order. In padding mode 1
// a pack smaller than 2048 bytes is filled up to 2048: by stuffing bytes in its header when
// fewer than 8 are missing, else by a padding packet at its end.
class Mpeg2PsPack {
public:
    explicit Mpeg2PsPack(uint32_t paddingMode = 0);

    // System clock reference in 27 MHz units (base = SCR / 300, extension = SCR mod 300).
    void SetScr(uint64_t scr) { scr_ = scr; }
    uint64_t GetScr() const { return scr_; }
    // program_mux_rate in units of 50 bytes per second (22 bits).
    void SetMuxRate(uint32_t muxRate) { muxRate_ = muxRate; }
    uint32_t GetMuxRate() const { return muxRate_; }
    uint32_t GetPaddingMode() const { return paddingMode_; }
    const boost::shared_ptr<Mpeg2PsSystemHeader>& GetSystemHeader() const { return systemHeader_; }
    void SetSystemHeader(const boost::shared_ptr<Mpeg2PsSystemHeader>& header) {
        systemHeader_ = header;
    }
    void SetPsm(const boost::shared_ptr<Mpeg2PsPsm>& psm) { psm_ = psm; }
    void AddPes(const boost::shared_ptr<Mpeg2PsPes>& pes) { pes_.push_back(pes); }
    const std::vector<boost::shared_ptr<Mpeg2PsPes>>& GetPes() const { return pes_; }

    // 14 + the system header's size when one is attached.
    uint32_t GetHeaderSize() const;
    // Header, map and packets; raised to 2048 when padded is true, the padding mode is 1 and
    // the sum is below 2048.
    uint32_t GetSize(bool padded) const;
    // The written byte count (with the padding); 0 when the padded pack does not fit the
    // capacity or one of its records cannot be written.
    uint32_t Write(uint8_t* out, uint32_t capacity) const;
    // The padded pack appended to a byte vector; false (nothing appended) on failure.
    bool AppendTo(std::vector<uint8_t>& out) const;

    // Replaces this pack with the one at the front of in and steps in over it: the pack
    // header, a system header when one follows, then every PES packet up to the next pack
    // start code, the program end code, or bytes that start no packet. A program stream map
    // comes back as a PES packet of stream 0xBC with its bytes. A pack of exactly 2048 bytes
    // that ends in a padding packet of 8 bytes or more, or whose header has stuffing bytes, is
    // taken as padding mode 1 (the padding packet is dropped; the writer makes it again);
    // stuffing of other packs is dropped. False, with this pack and in as they were, when in
    // does not start with a pack header (its '01' or a marker bit wrong, an SCR extension above
    // 299) or a packet of the pack is cut short or malformed.
    bool Read(ByteReader& in);

private:
    uint32_t paddingMode_;
    uint64_t scr_;
    uint32_t muxRate_;
    boost::shared_ptr<Mpeg2PsSystemHeader> systemHeader_;
    boost::shared_ptr<Mpeg2PsPsm> psm_;
    std::vector<boost::shared_ptr<Mpeg2PsPes>> pes_;
};

}  // namespace SarvelonMediaKit

#endif
