#ifndef ENGINE_CODECS_BITREADER_H
#define ENGINE_CODECS_BITREADER_H

#include <cstddef>
#include <cstdint>

namespace SarvelonMediaKit {

// Reads a byte range most significant bit first. Every read checks the bits left first and
// raises MediaFormatError instead of reading past the end. The bytes are not copied: they must
// outlive the reader.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size);

    // n from 0 to 32.
    uint32_t ReadBits(unsigned n);
    bool ReadFlag() { return ReadBits(1) != 0; }
    void SkipBits(size_t n);
    // Unsigned and signed exponential-Golomb codes (ISO/IEC 14496-10, 9.1). Codes longer than
    // 32 bits do not occur in valid streams and are refused.
    uint32_t ReadUe();
    int32_t ReadSe();

    size_t BitsLeft() const { return size_ * 8 - position_; }
    size_t BitPosition() const { return position_; }
    bool ByteAligned() const { return (position_ & 7) == 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace SarvelonMediaKit

#endif
