#ifndef ENGINE_CODECS_PESTIMESTAMP_H
#define ENGINE_CODECS_PESTIMESTAMP_H

#include <cstdint>

namespace SarvelonMediaKit {

class ByteReader;

// The 5-byte form of a PTS or DTS in a PES header (ISO/IEC 13818-1): a 4-bit prefix, then the
// 33 bits of the timestamp in three groups (32-30, 29-15, 14-0), each followed by a marker bit
// of 1.
constexpr uint32_t kPesTimestampSize = 5;

// The prefixes, as 4-bit values: '0010' a PTS alone (PTS_DTS_flags '10'), '0011' a PTS followed
// by a DTS (PTS_DTS_flags '11'), '0001' that DTS.
constexpr uint8_t kPesPtsAlonePrefix = 0x2;
constexpr uint8_t kPesPtsBeforeDtsPrefix = 0x3;
constexpr uint8_t kPesDtsPrefix = 0x1;

// Writes the low 33 bits of timestamp (90 kHz ticks) behind prefix (its low 4 bits) into the
// kPesTimestampSize bytes at out.
void WritePesTimestamp(uint8_t prefix, uint64_t timestamp, uint8_t* out);

// The 33-bit value of the kPesTimestampSize bytes at the front of in, which steps over them;
// the prefix and the marker bits are not checked. When fewer bytes are left in fails, and the
// value means nothing.
uint64_t ReadPesTimestamp(ByteReader& in);

}  // namespace SarvelonMediaKit

#endif  // ENGINE_CODECS_PESTIMESTAMP_H
