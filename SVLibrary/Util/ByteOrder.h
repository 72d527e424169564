#ifndef SVLIBRARY_UTIL_BYTEORDER_H
#define SVLIBRARY_UTIL_BYTEORDER_H

#include <cstdint>

namespace SV {

// Big-endian (most significant byte first) fields of the engine's binary formats. The pointer
// addresses the first byte; callers check the length beforehand.
inline uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ReadBigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t ReadBigEndian64(const uint8_t* p) {
    return (static_cast<uint64_t>(ReadBigEndian32(p)) << 32) | ReadBigEndian32(p + 4);
}
inline void WriteBigEndian16(uint32_t value, uint8_t* p) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
inline void WriteBigEndian32(uint32_t value, uint8_t* p) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}
inline void WriteBigEndian64(uint64_t value, uint8_t* p) {
    WriteBigEndian32(static_cast<uint32_t>(value >> 32), p);
    WriteBigEndian32(static_cast<uint32_t>(value), p + 4);
}

}  // namespace SV

#endif
