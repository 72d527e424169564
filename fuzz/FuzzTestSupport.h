#ifndef FUZZ_FUZZTESTSUPPORT_H
#define FUZZ_FUZZTESTSUPPORT_H

// Shared by the fuzz targets that start from well-formed bytes (included by them only).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SvFuzz {

// The seed with the input laid over it: each input byte XORed into the seed byte at its place,
// and the input beyond the seed appended. An empty input leaves the seed as it is.
inline std::vector<uint8_t> LaidOver(std::vector<uint8_t> seed, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (i < seed.size()) {
            seed[i] ^= data[i];
        } else {
            seed.push_back(data[i]);
        }
    }
    return seed;
}

}  // namespace SvFuzz

#endif
