#ifndef ENGINE_MUX_IODDESCRIPTOR_H
#define ENGINE_MUX_IODDESCRIPTOR_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// An MPEG-4 initial object descriptor (ISO/IEC 13818-1 tag 0x1D, contents per ISO/IEC
// 14496-1) that carries the AAC AudioSpecificConfig of the elementary stream esId, for readers
// that want the decoder configuration ahead of the first frame. Empty when there is no
// configuration, when it is shorter than 2 bytes, or when it is too long for the descriptors'
// one-byte lengths: the stream is then described without it.
std::vector<uint8_t> MakeAacIodDescriptor(const uint8_t* config, uint32_t size, uint16_t esId);

}  // namespace SarvelonMediaKit

#endif
