#include "platform/Decimal.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ns {

namespace {

using Mantissa = Decimal::Mantissa;

// Exponents whose plain text would be longer than this use the E form.
constexpr int32_t kPlainExponentLimit = 200;

std::string MantissaDigits(Mantissa m) {
    if (m <= std::numeric_limits<uint64_t>::max()) {
        char buffer[24];
        const auto result =
            std::to_chars(buffer, buffer + sizeof(buffer), static_cast<uint64_t>(m));
        return std::string(buffer, result.ptr);
    }
    char buffer[48];
    char* p = buffer + sizeof(buffer);
    do {
        *--p = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m != 0);
    return std::string(p, buffer + sizeof(buffer));
}

}  // namespace

Decimal::Decimal(Mantissa mantissa, int32_t exponent, bool negative) {
    if (mantissa == 0) {
        return;
    }
    while (mantissa % 10 == 0 && exponent < std::numeric_limits<int32_t>::max()) {
        mantissa /= 10;
        ++exponent;
    }
    low_ = static_cast<uint64_t>(mantissa);
    high_ = static_cast<uint64_t>(mantissa >> 64);
    exponent_ = exponent;
    negative_ = negative;
}

Decimal::Mantissa Decimal::GetMantissa() const {
    return (static_cast<Mantissa>(high_) << 64) | low_;
}

std::string Decimal::ToString() const {
    if (IsZero()) {
        return "0";
    }
    const std::string digits = MantissaDigits(GetMantissa());
    const int64_t n = static_cast<int64_t>(digits.size());
    std::string text = negative_ ? "-" : "";
    const int64_t e = exponent_;
    if (e > kPlainExponentLimit || e < -kPlainExponentLimit) {
        text += digits[0];
        if (n > 1) {
            text += '.';
            text.append(digits, 1, std::string::npos);
        }
        const int64_t scientific = e + n - 1;
        text += scientific < 0 ? "E-" : "E+";
        text += std::to_string(scientific < 0 ? -scientific : scientific);
    } else if (e >= 0) {
        text += digits;
        text.append(static_cast<size_t>(e), '0');
    } else if (-e < n) {
        text.append(digits, 0, static_cast<size_t>(n + e));
        text += '.';
        text.append(digits, static_cast<size_t>(n + e), std::string::npos);
    } else {
        text += "0.";
        text.append(static_cast<size_t>(-e - n), '0');
        text += digits;
    }
    return text;
}

double Decimal::ToDouble() const {
    if (IsZero()) {
        return 0.0;
    }
    const std::string text = MantissaDigits(GetMantissa()) + "e" + std::to_string(exponent_);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = exponent_ > 0 ? HUGE_VAL : 0.0;
    }
    return negative_ ? -value : value;
}

int64_t Decimal::ToInt64() const {
    Mantissa m = GetMantissa();
    bool overflow = false;
    if (exponent_ >= 0) {
        for (int32_t i = 0; i < exponent_ && m != 0; ++i) {
            if (m > std::numeric_limits<Mantissa>::max() / 10) {
                overflow = true;
                break;
            }
            m *= 10;
        }
    } else {
        for (int32_t i = 0; i < -int64_t{exponent_} && m != 0; ++i) {
            m /= 10;
        }
    }
    const Mantissa limit = negative_ ? Mantissa{1} << 63 : (Mantissa{1} << 63) - 1;
    if (overflow || m > limit) {
        return negative_ ? std::numeric_limits<int64_t>::min()
                         : std::numeric_limits<int64_t>::max();
    }
    const uint64_t magnitude = static_cast<uint64_t>(m);
    return negative_ ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

}  // namespace ns
