#ifndef SVLIBRARY_UTIL_RANDOM_H
#define SVLIBRARY_UTIL_RANDOM_H

#include <cstdint>

// Random numbers from the system generator.
namespace SV {

// Fills count bytes; true when the generator delivered all of them.
bool GetRandomBytes(void* buffer, uint8_t count);

// Fills count bytes (none for a negative count) and returns count. A generator failure is not
// reported; the bytes are then zero.
int32_t FillRandom(void* buffer, int32_t count);

// A random value below the bound; a bound of 0 stands for 0xFFFFFFFF.
uint32_t RandomBelow(uint32_t bound);

}  // namespace SV

#endif
