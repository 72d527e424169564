#ifndef ENGINE_CODECS_MEDIATIMING_H
#define ENGINE_CODECS_MEDIATIMING_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// Frame duration in 90 kHz ticks from the presentation times of a stream's frames (any order):
// the most frequent gap between neighbouring distinct times, the smaller gap on a tie. 0 when
// fewer than two distinct times are given.
uint32_t DeriveFrameDuration(std::vector<uint64_t> presentationTimes);

// Bits per second of a stream of bytes lasting durationTicks (90 kHz), rounded to the nearest
// bit; 0 for a duration of 0, 0xFFFFFFFF when the rate does not fit 32 bits.
uint32_t DeriveBitRate(uint64_t bytes, uint64_t durationTicks);

// Brings a 33-bit PES timestamp next to a reference on the unwrapped 64-bit time line: the
// candidate (same low 33 bits) closest to the reference.
uint64_t UnwrapTimestamp(uint64_t timestamp33, uint64_t reference);

}  // namespace SarvelonMediaKit

#endif
