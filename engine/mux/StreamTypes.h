#pragma once
// The stream_type values (ISO/IEC 13818-1) that both multiplexers write: the program stream
// map and the transport stream's program map table name a stream's coding the same way.

#include <cstdint>

namespace SarvelonMediaKit {

constexpr uint8_t kStreamTypeAdtsAac = 0x0F;     // ISO/IEC 13818-7 audio, ADTS
constexpr uint8_t kStreamTypeH264 = 0x1B;        // ITU-T H.264
constexpr uint8_t kStreamTypePrivatePes = 0x06;  // PES packets of private data
constexpr uint8_t kStreamTypeEac3 = 0x87;        // E-AC-3

}  // namespace SarvelonMediaKit
