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

}  // namespace SV

#endif  // SVLIBRARY_UTIL_SATURATING_H
