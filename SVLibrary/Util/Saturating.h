#ifndef SVLIBRARY_UTIL_SATURATING_H
#define SVLIBRARY_UTIL_SATURATING_H

#include <limits>
#include <type_traits>

namespace SV {

// Sum of two unsigned counts that stops at the type's largest value instead of wrapping: a
// wrapped byte count would promise room or data that are not there.
template <typename T>
constexpr T SaturatingAdd(T a, T b) {
    static_assert(std::is_unsigned<T>::value, "counts are unsigned");
    return a > std::numeric_limits<T>::max() - b ? std::numeric_limits<T>::max() : T(a + b);
}

// An unsigned count in a narrower unsigned type: a value the type cannot hold becomes its
// largest value instead of losing its high bits (0x100000000 would otherwise read as 0).
template <typename To, typename From>
constexpr To SaturatingNarrow(From from) {
    static_assert(std::is_unsigned<To>::value && std::is_unsigned<From>::value,
                  "counts are unsigned");
    return from > std::numeric_limits<To>::max() ? std::numeric_limits<To>::max()
                                                 : static_cast<To>(from);
}

}  // namespace SV

#endif  // SVLIBRARY_UTIL_SATURATING_H
