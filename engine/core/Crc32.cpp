#include "engine/core/Crc32.h"

#include <array>

namespace SarvelonMediaKit {
namespace {

std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[i] = crc;
    }
    return table;
}

}  // namespace

uint32_t Crc32Update(const uint8_t* bytes, size_t length, uint32_t crc) {
    static const std::array<uint32_t, 256> table = MakeTable();
    for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

uint32_t Crc32(const uint8_t* bytes, size_t length) {
    return Crc32Update(bytes, length, 0xFFFFFFFFu);
}

}  // namespace SarvelonMediaKit
