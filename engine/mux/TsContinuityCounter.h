#ifndef ENGINE_MUX_TSCONTINUITYCOUNTER_H
#define ENGINE_MUX_TSCONTINUITYCOUNTER_H

#include <cstdint>

namespace SarvelonMediaKit {

// The continuity_counter of one PID (ISO/IEC 13818-1, 2.4.3.3): a 4-bit number that every
// packet carrying a payload on the PID takes in turn, 0 to 15 and round again, so that a
// receiver notices a lost packet.
class TsContinuityCounter {
public:
    // The field has four bits.
    static constexpr uint8_t kModulus = 16;

    TsContinuityCounter() : next_(0) {}

    // The value of the next packet; the counter moves on to the one after it.
    uint8_t Next() {
        const uint8_t value = next_;
        next_ = static_cast<uint8_t>((next_ + 1) % kModulus);
        return value;
    }
    // The value the next packet will take, without taking it.
    uint8_t Peek() const { return next_; }

private:
    uint8_t next_;
};

}  // namespace SarvelonMediaKit

#endif
