#ifndef ENGINE_CORE_CRC32_H
#define ENGINE_CORE_CRC32_H

#include <cstddef>
#include <cstdint>

namespace SarvelonMediaKit {

// CRC-32/MPEG-2 of ISO/IEC 13818-1 sections and program stream maps: polynomial 0x04C11DB7,
// most significant bit first, initial value 0xFFFFFFFF, no final inversion. A section followed
// by its own CRC gives 0.
uint32_t Crc32(const uint8_t* bytes, size_t length);

// The table step: the running value after length more bytes. Crc32 is Crc32Update from
// 0xFFFFFFFF, so a value may be carried across pieces of one section.
uint32_t Crc32Update(const uint8_t* bytes, size_t length, uint32_t crc);

}  // namespace SarvelonMediaKit

#endif
