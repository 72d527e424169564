#ifndef PLATFORM_DECIMAL_H
#define PLATFORM_DECIMAL_H

#include <cstdint>
#include <string>

namespace ns {

// Exact decimal number: (-1)^negative x mantissa x 10^exponent. The mantissa holds up to 38
// decimal digits (it is kept in 128 bits). Values are normalised on construction (no trailing
// zeros in the mantissa, zero is never negative), so equal numbers have equal parts.
class Decimal {
public:
    using Mantissa = unsigned __int128;

    Decimal() = default;  // zero
    Decimal(Mantissa mantissa, int32_t exponent, bool negative);

    Mantissa GetMantissa() const;
    int32_t GetExponent() const { return exponent_; }
    bool IsNegative() const { return negative_; }
    bool IsZero() const { return low_ == 0 && high_ == 0; }

    // Plain decimal notation without exponent ("10000000000000000000000", "0.001", "-1.5").
    // Exponents beyond +-200 (never produced by the JSON parser) use the form "1E+300" so that
    // the text stays short.
    std::string ToString() const;
    // Nearest double (correctly rounded; +-infinity or 0 when out of range).
    double ToDouble() const;
    // Truncated toward zero, saturated to the 64-bit range.
    int64_t ToInt64() const;

    bool operator==(const Decimal& other) const {
        return low_ == other.low_ && high_ == other.high_ && exponent_ == other.exponent_ &&
               negative_ == other.negative_;
    }
    bool operator!=(const Decimal& other) const { return !(*this == other); }

private:
    // The mantissa in two halves keeps the value 8-byte aligned (and ns::Value small).
    uint64_t low_ = 0;
    uint64_t high_ = 0;
    int32_t exponent_ = 0;
    bool negative_ = false;
};

}  // namespace ns

#endif
