#ifndef SVLIBRARY_TYPES_SARVELONMEDIAKITTYPES_H
#define SVLIBRARY_TYPES_SARVELONMEDIAKITTYPES_H

#include <cstdint>

namespace SarvelonMediaKit {

// Integer identifiers and quantities that must not be mixed up: each number N is a distinct
// type (so overloads can tell a media time from a byte position), yet each copies, compares
// and adds like the plain integer it wraps.
template <typename T, int N>
class SarvelonMediaKitValue {
public:
    using ValueType = T;
    constexpr SarvelonMediaKitValue() : value_(0) {}
    constexpr SarvelonMediaKitValue(T value) : value_(value) {}  // NOLINT: plain-value use
    constexpr operator T() const { return value_; }              // NOLINT
    constexpr T Get() const { return value_; }

    SarvelonMediaKitValue& operator+=(T delta) {
        value_ += delta;
        return *this;
    }
    SarvelonMediaKitValue& operator-=(T delta) {
        value_ -= delta;
        return *this;
    }
    SarvelonMediaKitValue& operator++() {
        ++value_;
        return *this;
    }
    SarvelonMediaKitValue operator++(int) {
        SarvelonMediaKitValue old(*this);
        ++value_;
        return old;
    }

private:
    T value_;
};

template <int N>
using SarvelonMediaKitType32 = SarvelonMediaKitValue<uint32_t, N>;
template <int N>
using SarvelonMediaKitType64 = SarvelonMediaKitValue<uint64_t, N>;
template <int N>
using SarvelonMediaKitTypeS16 = SarvelonMediaKitValue<int16_t, N>;

// The numbers in use.
using TrackId = SarvelonMediaKitType32<17>;  // track identifier
using StreamReference = SarvelonMediaKitType32<15>;
using ByteAmount = SarvelonMediaKitType32<2>;       // byte count
using MediaTime = SarvelonMediaKitType64<3>;        // microseconds
using BytePosition = SarvelonMediaKitType64<4>;     // byte offset in the source
using TrickPlayRate = SarvelonMediaKitTypeS16<11>;  // 0 is normal speed

// Number of a component stack.
typedef uint16_t StackId;
enum : StackId {
    StackIdServing = 0,      // every serving chain (and a stack not yet numbered)
    StackIdMain = 1,         // the main playback chain
    StackIdAudioBranch = 2,  // the audio side branch
    StackIdAny = 65535,      // matches any stack
};

}  // namespace SarvelonMediaKit

#endif
