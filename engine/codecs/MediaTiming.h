#ifndef ENGINE_CODECS_MEDIATIMING_H
#define ENGINE_CODECS_MEDIATIMING_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// The clocks of MPEG-2 systems (ISO/IEC 13818-1): timestamps count 90 kHz ticks, system clock
// references 27 MHz periods; the engine's sample times count microseconds.
constexpr uint64_t kTicksPerSecond = 90000;
constexpr uint64_t kClockPeriodsPerTick = 300;  // 27 MHz / 90 kHz
constexpr uint64_t kMicrosecondsPerSecond = 1000000;
// PTS, DTS and the base of an SCR or PCR count 33 bits of 90 kHz ticks: they wrap after
// kTimestampPeriod ticks (about 26.5 hours), and a value on the unwrapped time line is written
// as its low 33 bits.
constexpr uint64_t kTimestampPeriod = uint64_t{1} << 33;
constexpr uint64_t kTimestampMask = kTimestampPeriod - 1;

// 90 kHz ticks to microseconds as the container's times are read: ticks / 0.09 in double
// precision, truncated.
inline uint64_t TicksToMicrosecondsTruncated(uint64_t ticks) {
    return static_cast<uint64_t>(static_cast<double>(ticks) / 0.09);
}

// Microseconds to 90 kHz ticks, truncated: microseconds * 0.09 in double precision.
inline uint64_t MicrosecondsToTicksTruncated(uint64_t microseconds) {
    return static_cast<uint64_t>(static_cast<double>(microseconds) * 0.09);
}

// Microseconds to 90 kHz ticks for timestamps written out: (microseconds + 5) * 0.09 in double
// precision, truncated. The 5 us (0.45 tick) bias makes a time that came from a tick count
// (truncated on the way in) land on that tick again.
inline uint64_t MicrosecondsToTicksRounded(uint64_t microseconds) {
    return static_cast<uint64_t>(static_cast<double>(microseconds + 5) * 0.09);
}

// 27 MHz clock periods to 90 kHz ticks (truncated) and back.
constexpr uint64_t ClockToTicks(uint64_t clock) { return clock / kClockPeriodsPerTick; }
constexpr uint64_t TicksToClock(uint64_t ticks) { return ticks * kClockPeriodsPerTick; }
// The 27 MHz periods that ClockToTicks drops: the 9-bit extension (0-299) that an SCR or PCR
// carries beside its 90 kHz base, so that TicksToClock(ClockToTicks(c)) + ClockExtension(c) == c.
constexpr uint32_t ClockExtension(uint64_t clock) {
    return static_cast<uint32_t>(clock % kClockPeriodsPerTick);
}

// A duration in units of timescale per second to microseconds, in 64-bit integers, truncated;
// 0 for a timescale of 0.
constexpr uint64_t UnitsToMicroseconds(uint64_t units, uint32_t timescale) {
    return timescale == 0 ? 0 : units * kMicrosecondsPerSecond / timescale;
}

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
