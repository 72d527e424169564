#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {

uint64_t ByteReader::Read(unsigned n) {
    const uint8_t* p = Bytes(n);
    uint64_t value = 0;
    if (p) {
        for (unsigned i = 0; i < n; ++i) value = (value << 8) | p[i];
    }
    return value;
}

const uint8_t* ByteReader::Bytes(size_t n) {
    if (failed_ || n > size_ - position_) {
        failed_ = true;
        return nullptr;
    }
    const uint8_t* p = data_ + position_;
    position_ += n;
    return p;
}

ByteReader ByteReader::Sub(size_t n) {
    const uint8_t* p = Bytes(n);
    ByteReader sub(p, p ? n : 0);
    sub.failed_ = p == nullptr;
    return sub;
}

}  // namespace SarvelonMediaKit
