#pragma once
// For the image tests: the start of a PNG, written byte by byte apart from the image code, as
// the image model reads it (it needs only the signature and the IHDR chunk).

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// A PNG of w x h: the signature and an IHDR chunk (8-bit RGBA) with its CRC.
inline std::vector<uint8_t> PngHeader(uint32_t w, uint32_t h) {
    auto put32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    put32(png, 13);  // IHDR data length
    const size_t typeAt = png.size();
    for (char c : std::string("IHDR")) png.push_back(static_cast<uint8_t>(c));
    put32(png, w);
    put32(png, h);
    for (uint8_t b : {8, 6, 0, 0, 0})
        png.push_back(b);  // depth, RGBA, deflate, filter, no interlace
    // CRC-32 of the chunk's type and data (ISO 3309, as PNG uses it).
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = typeAt; i < png.size(); ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(png, ~crc);
    return png;
}

}  // namespace ui
