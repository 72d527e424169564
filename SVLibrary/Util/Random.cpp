#include "SVLibrary/Util/Random.h"

#include <cerrno>
#include <cstring>

#include <sys/random.h>

namespace SV {

bool GetRandomBytes(void* buffer, uint8_t count) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    size_t filled = 0;
    while (filled < count) {
        ssize_t got = ::getrandom(out + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        filled += static_cast<size_t>(got);
    }
    return true;
}

int32_t FillRandom(void* buffer, int32_t count) {
    if (count <= 0) return count;
    // Defined contents even if the generator fails.
    std::memset(buffer, 0, static_cast<size_t>(count));
    unsigned char* out = static_cast<unsigned char*>(buffer);
    for (int32_t done = 0; done < count;) {
        uint8_t piece = static_cast<uint8_t>(count - done > 255 ? 255 : count - done);
        GetRandomBytes(out + done, piece);
        done += piece;
    }
    return count;
}

uint32_t RandomBelow(uint32_t bound) {
    uint32_t value;
    FillRandom(&value, sizeof value);
    return value % (bound == 0 ? 0xFFFFFFFFu : bound);
}

}  // namespace SV
