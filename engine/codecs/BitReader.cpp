#include "engine/codecs/BitReader.h"

#include "engine/codecs/MediaFormatError.h"

namespace SarvelonMediaKit {

BitReader::BitReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

uint32_t BitReader::ReadBits(unsigned n) {
    if (n > 32) {
        throw MediaFormatError("bit reader: more than 32 bits asked at once");
    }
    if (n > BitsLeft()) {
        throw MediaFormatError("bit reader: data ends inside a field");
    }
    uint32_t value = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t byte = data_[position_ >> 3];
        const unsigned bit = (byte >> (7 - (position_ & 7))) & 1u;
        value = (value << 1) | bit;
        ++position_;
    }
    return value;
}

void BitReader::SkipBits(size_t n) {
    if (n > BitsLeft()) {
        throw MediaFormatError("bit reader: data ends inside a field");
    }
    position_ += n;
}

uint32_t BitReader::ReadUe() {
    unsigned zeros = 0;
    while (ReadBits(1) == 0) {
        if (++zeros > 31) {
            throw MediaFormatError("bit reader: exp-Golomb code longer than 32 bits");
        }
    }
    if (zeros == 0) {
        return 0;
    }
    const uint64_t value = (uint64_t{1} << zeros) - 1 + ReadBits(zeros);
    if (value > 0xFFFFFFFEu) {
        throw MediaFormatError("bit reader: exp-Golomb value out of range");
    }
    return static_cast<uint32_t>(value);
}

int32_t BitReader::ReadSe() {
    const uint32_t code = ReadUe();
    // 1 -> 1, 2 -> -1, 3 -> 2, 4 -> -2 ...
    const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
    return static_cast<int32_t>((code & 1) ? magnitude : -magnitude);
}

}  // namespace SarvelonMediaKit
