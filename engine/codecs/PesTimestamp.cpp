#include "engine/codecs/PesTimestamp.h"

#include "engine/codecs/ByteReader.h"
#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

void WritePesTimestamp(uint8_t prefix, uint64_t timestamp, uint8_t* out) {
    timestamp &= kTimestampMask;
    // prefix, bits 32-30, marker
    out[0] = static_cast<uint8_t>(((prefix & 0x0F) << 4) | ((timestamp >> 29) & 0x0E) | 0x01);
    out[1] = static_cast<uint8_t>(timestamp >> 22);                    // bits 29-22
    out[2] = static_cast<uint8_t>(((timestamp >> 14) & 0xFE) | 0x01);  // bits 21-15, marker
    out[3] = static_cast<uint8_t>(timestamp >> 7);                     // bits 14-7
    out[4] = static_cast<uint8_t>(((timestamp << 1) & 0xFE) | 0x01);   // bits 6-0, marker
}

uint64_t ReadPesTimestamp(ByteReader& in) {
    const uint64_t high = (in.U8() >> 1) & 0x07;  // bits 32-30
    const uint64_t middle = in.U16() >> 1;        // bits 29-15
    const uint64_t low = in.U16() >> 1;           // bits 14-0
    return (high << 30) | (middle << 15) | low;
}

}  // namespace SarvelonMediaKit
