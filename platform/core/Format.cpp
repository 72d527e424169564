#include "platform/core/Format.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace ns {

namespace {

constexpr int kMaxField = 4096;

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;  // -1: none given
};

size_t CodePoints(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// Cuts to at most `count` characters without splitting a UTF-8 sequence.
std::string FirstCodePoints(const std::string& text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

void Pad(std::string& out, const std::string& body, const Spec& spec) {
    size_t length = CodePoints(body);
    size_t fill = spec.width > 0 && static_cast<size_t>(spec.width) > length
                      ? static_cast<size_t>(spec.width) - length
                      : 0;
    if (!spec.left) out.append(fill, ' ');
    out += body;
    if (spec.left) out.append(fill, ' ');
}

// A number: sign or prefix, then digits; zero padding goes between the two.
void PadNumber(std::string& out, const std::string& prefix, const std::string& digits,
               const Spec& spec, bool zeroAllowed) {
    size_t length = prefix.size() + digits.size();
    size_t fill = spec.width > 0 && static_cast<size_t>(spec.width) > length
                      ? static_cast<size_t>(spec.width) - length
                      : 0;
    if (spec.left) {
        out += prefix + digits;
        out.append(fill, ' ');
    } else if (spec.zero && zeroAllowed) {
        out += prefix;
        out.append(fill, '0');
        out += digits;
    } else {
        out.append(fill, ' ');
        out += prefix + digits;
    }
}

// The argument as sign and magnitude (nil and texts: 0).
void SignedValue(const FormatArg* arg, bool* negative, uint64_t* magnitude) {
    *negative = false;
    *magnitude = 0;
    if (arg == nullptr) return;
    switch (arg->GetKind()) {
        case FormatArg::Kind::Signed:
            *negative = arg->Signed() < 0;
            *magnitude = *negative ? 0 - static_cast<uint64_t>(arg->Signed())
                                   : static_cast<uint64_t>(arg->Signed());
            break;
        case FormatArg::Kind::Unsigned: *magnitude = arg->Unsigned(); break;
        case FormatArg::Kind::Floating: {
            double d = std::trunc(arg->Floating());
            if (std::isnan(d)) return;
            *negative = d < 0;
            double m = std::fabs(d);
            *magnitude = m >= 18446744073709551615.0 ? std::numeric_limits<uint64_t>::max()
                                                     : static_cast<uint64_t>(m);
            break;
        }
        default: break;
    }
}

// The argument as an unsigned number: negative integers in two's complement of their width.
uint64_t UnsignedValue(const FormatArg* arg) {
    if (arg == nullptr) return 0;
    switch (arg->GetKind()) {
        case FormatArg::Kind::Signed: {
            uint64_t v = static_cast<uint64_t>(arg->Signed());
            if (arg->Bits() < 64) v &= (uint64_t{1} << arg->Bits()) - 1;
            return v;
        }
        case FormatArg::Kind::Unsigned: return arg->Unsigned();
        case FormatArg::Kind::Floating: {
            bool negative;
            uint64_t magnitude;
            SignedValue(arg, &negative, &magnitude);
            return negative ? 0 : magnitude;
        }
        default: return 0;
    }
}

double FloatingValue(const FormatArg* arg) {
    if (arg == nullptr) return 0;
    switch (arg->GetKind()) {
        case FormatArg::Kind::Floating: return arg->Floating();
        case FormatArg::Kind::Signed: return static_cast<double>(arg->Signed());
        case FormatArg::Kind::Unsigned: return static_cast<double>(arg->Unsigned());
        default: return 0;
    }
}

std::string Digits(uint64_t value, unsigned base, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), symbols[value % base]);
        value /= base;
    } while (value != 0);
    return digits;
}

// The text %@ prints: an object's text, a number's value, "(null)" for nil or a missing one.
std::string ObjectText(const FormatArg* arg) {
    if (arg == nullptr) return "(null)";
    switch (arg->GetKind()) {
        case FormatArg::Kind::Text: return arg->Text();
        case FormatArg::Kind::Signed:
            return (arg->Signed() < 0 ? "-" : "") +
                   Digits(arg->Signed() < 0 ? 0 - static_cast<uint64_t>(arg->Signed())
                                            : static_cast<uint64_t>(arg->Signed()),
                          10, false);
        case FormatArg::Kind::Unsigned: return Digits(arg->Unsigned(), 10, false);
        case FormatArg::Kind::Floating: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.15g", arg->Floating());
            return buffer;
        }
        default: return "(null)";
    }
}

void FormatInteger(std::string& out, const FormatArg* arg, const Spec& spec, char conversion) {
    std::string prefix;
    std::string digits;
    if (conversion == 'd' || conversion == 'i') {
        bool negative;
        uint64_t magnitude;
        SignedValue(arg, &negative, &magnitude);
        digits = Digits(magnitude, 10, false);
        prefix = negative ? "-" : spec.plus ? "+" : spec.space ? " " : "";
    } else {
        uint64_t value = UnsignedValue(arg);
        unsigned base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
        digits = Digits(value, base, conversion == 'X');
        if (spec.alternate && value != 0 && base == 16) prefix = conversion == 'X' ? "0X" : "0x";
        if (spec.alternate && base == 8 && digits[0] != '0') digits.insert(digits.begin(), '0');
    }
    if (spec.precision >= 0) {
        if (spec.precision == 0 && digits == "0") digits.clear();
        if (digits.size() < static_cast<size_t>(spec.precision))
            digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), '0');
    }
    PadNumber(out, prefix, digits, spec, spec.precision < 0);
}

void FormatFloating(std::string& out, const FormatArg* arg, const Spec& spec, char conversion) {
    double value = FloatingValue(arg);
    int precision = spec.precision < 0 ? 6 : spec.precision;
    char pattern[8] = {'%', '.', '*', conversion, 0};
    double magnitude = std::fabs(value);
    int size = std::snprintf(nullptr, 0, pattern, precision, magnitude);
    if (size < 0) return;
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::snprintf(buffer.data(), buffer.size(), pattern, precision, magnitude);
    std::string digits(buffer.data(), static_cast<size_t>(size));
    if (spec.alternate && precision == 0 && std::isfinite(value) &&
        digits.find('.') == std::string::npos)
        digits += '.';
    std::string prefix = std::signbit(value) && !std::isnan(value) ? "-"
                         : spec.plus                               ? "+"
                         : spec.space                              ? " "
                                                                   : "";
    PadNumber(out, prefix, digits, spec, std::isfinite(value));
}

}  // namespace

FormatArg::FormatArg(const Value& v) {
    if (v.IsNull()) return;
    if (const auto* s = v.AsString()) {
        kind_ = Kind::Text;
        text_ = *s;
    } else if (const auto* i = v.AsInt()) {
        kind_ = Kind::Signed;
        signed_ = *i;
    } else if (const auto* u = v.AsUInt()) {
        kind_ = Kind::Unsigned;
        unsigned_ = *u;
    } else if (const auto* d = v.AsDouble()) {
        kind_ = Kind::Floating;
        floating_ = *d;
    } else if (const auto* b = v.AsBool()) {
        kind_ = Kind::Signed;
        signed_ = *b ? 1 : 0;
        bits_ = 32;
    } else if (v.AsDecimal() != nullptr) {
        kind_ = Kind::Floating;
        floating_ = v.DoubleValue();
    } else {
        kind_ = Kind::Text;
        text_ = v.Description();
    }
}

std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    const FormatArg* next = args.begin();
    auto take = [&]() -> const FormatArg* { return next != args.end() ? next++ : nullptr; };
    // A '*' width or precision: an integer argument (anything else counts as 0).
    auto takeCount = [&]() -> int {
        bool negative;
        uint64_t magnitude;
        SignedValue(take(), &negative, &magnitude);
        int value = magnitude > kMaxField ? kMaxField : static_cast<int>(magnitude);
        return negative ? -value : value;
    };
    auto readNumber = [&](size_t& i) {
        int value = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            value = value * 10 + (format[i] - '0');
            if (value > kMaxField) value = kMaxField;
            ++i;
        }
        return value;
    };

    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            size_t end = format.find('%', i);
            if (end == std::string_view::npos) end = format.size();
            out.append(format.substr(i, end - i));
            i = end;
            continue;
        }
        const size_t start = i++;
        Spec spec;
        for (; i < format.size(); ++i) {
            char f = format[i];
            if (f == '-')
                spec.left = true;
            else if (f == '0')
                spec.zero = true;
            else if (f == '+')
                spec.plus = true;
            else if (f == ' ')
                spec.space = true;
            else if (f == '#')
                spec.alternate = true;
            else
                break;
        }
        if (i < format.size() && format[i] == '*') {
            ++i;
            spec.width = takeCount();
            if (spec.width < 0) {
                spec.left = true;
                spec.width = -spec.width;
            }
        } else {
            spec.width = readNumber(i);
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (i < format.size() && format[i] == '*') {
                ++i;
                spec.precision = takeCount();
                if (spec.precision < 0) spec.precision = -1;
            } else {
                spec.precision = readNumber(i);
            }
        }
        while (i < format.size() &&
               std::string_view("hlqLztj").find(format[i]) != std::string_view::npos)
            ++i;
        if (i >= format.size()) {  // a format that ends inside a conversion: kept as written
            out.append(format.substr(start));
            break;
        }
        const char conversion = format[i++];
        switch (conversion) {
            case '%': out += '%'; break;
            case '@':
            case 's': {
                const FormatArg* arg = take();
                std::string text =
                    conversion == 's' && arg != nullptr && arg->GetKind() != FormatArg::Kind::Text
                        ? "(null)"
                        : ObjectText(arg);
                if (spec.precision >= 0) text = FirstCodePoints(text, spec.precision);
                Pad(out, text, spec);
                break;
            }
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o': FormatInteger(out, take(), spec, conversion); break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G': FormatFloating(out, take(), spec, conversion); break;
            case 'c': {
                const FormatArg* arg = take();
                std::string text;
                if (arg != nullptr && arg->GetKind() == FormatArg::Kind::Text) {
                    text = FirstCodePoints(arg->Text(), 1);
                } else {
                    uint64_t code = UnsignedValue(arg) & 0xFF;
                    if (code != 0) text = std::string(1, static_cast<char>(code));
                }
                Pad(out, text, spec);
                break;
            }
            default:  // not a conversion we know: copied as written, no argument used
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace ns
