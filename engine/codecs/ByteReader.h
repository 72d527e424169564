#ifndef ENGINE_CODECS_BYTEREADER_H
#define ENGINE_CODECS_BYTEREADER_H

#include <cstddef>
#include <cstdint>

namespace SarvelonMediaKit {

// Reads big-endian fields from a byte range front to back. A read past the end reads nothing,
// returns 0 and leaves the reader failed; every later read fails too. So a reader of a record
// reads all its fields and asks Failed() once at the end, instead of comparing offsets before
// every field. The bytes are not copied: they must outlive the reader.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    uint8_t U8() { return static_cast<uint8_t>(Read(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Read(2)); }
    uint32_t U24() { return static_cast<uint32_t>(Read(3)); }
    uint32_t U32() { return static_cast<uint32_t>(Read(4)); }
    uint64_t U64() { return Read(8); }

    // The next n bytes, consumed; nullptr (and failed) when fewer are left.
    const uint8_t* Bytes(size_t n);
    // Steps over n bytes; false (and failed) when fewer are left.
    bool Skip(size_t n) { return Bytes(n) != nullptr || n == 0; }
    // A reader over the next n bytes, which this reader steps over. When fewer are left both
    // fail.
    ByteReader Sub(size_t n);

    bool Failed() const { return failed_; }
    size_t Left() const { return size_ - position_; }
    size_t Position() const { return position_; }
    // Where the next byte lies (the end when nothing is left).
    const uint8_t* Current() const { return data_ + position_; }

private:
    uint64_t Read(unsigned n);

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace SarvelonMediaKit

#endif  // ENGINE_CODECS_BYTEREADER_H
