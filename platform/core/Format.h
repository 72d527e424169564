#ifndef PLATFORM_CORE_FORMAT_H
#define PLATFORM_CORE_FORMAT_H
// Type-safe printf-style formatting for the application's texts and log lines:
//
//   ns::Format("%2d:%02d:%02d", 1, 0, 0)      -> " 1:00:00"
//   ns::Format("[Q] connection:%@", url)       -> the object's text, nil -> "(null)"
//
// Conversions: %@ (an object's text), %d %i (signed), %u (unsigned), %x %X (hex), %f (fixed
// point), %s (text), %c (character), %% (a percent sign). Flags '-' (left-justify), '0' (pad
// numbers with zeros), '+' and ' ' (sign); a width and a precision, either may be '*' (taken
// from the next argument). Length modifiers (h, hh, l, ll, q, z, t, j, L) are accepted and
// ignored: each argument carries its own type.
//
// Every argument knows its kind, so nothing can read past the arguments or misread one:
// - a missing argument prints "(null)" for %@ and %s, 0 for the numeric conversions;
// - a text or nil given to a numeric conversion prints 0; a number given to %@ prints its
//   value; an integer given to %f prints its value; a floating-point number given to an
//   integer conversion prints its value cut toward zero (saturated, NaN as 0);
// - %u and %x print a negative integer as its two's complement in the width of its own type
//   (Format("%u", -1) is "4294967295", as C prints an int);
// - arguments beyond the last conversion are ignored; an unknown conversion is copied as
//   written; widths and precisions are capped at 4096 so that a hostile format cannot make a
//   huge text.
//
// A class may take part in %@ by having `std::string Description() const`; a null pointer
// to such a class prints "(null)". Pointers to other types do not compile (they have no text
// to show), and only a real bool is taken as one.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/Value.h"

namespace ns {

template <typename T, typename = void>
struct HasDescription : std::false_type {};
template <typename T>
struct HasDescription<T, std::void_t<decltype(std::declval<const T&>().Description())>>
    : std::true_type {};

class FormatArg {
public:
    enum class Kind { Nil, Signed, Unsigned, Floating, Text };

    FormatArg(std::nullptr_t) {}
    // Only a real bool: a pointer or anything else that merely converts to bool must not.
    template <typename T, std::enable_if_t<std::is_same_v<T, bool>, int> = 0>
    FormatArg(T b) : kind_(Kind::Signed), signed_(b ? 1 : 0), bits_(32) {}
    FormatArg(char c) : kind_(Kind::Signed), signed_(c), bits_(8) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>,
                                           int> = 0>
    FormatArg(T v) : bits_(static_cast<int>(sizeof(T) * 8)) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = v;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = v;
        }
    }
    template <typename T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
    FormatArg(T v) : FormatArg(static_cast<std::underlying_type_t<T>>(v)) {}
    FormatArg(double d) : kind_(Kind::Floating), floating_(d) {}
    FormatArg(float f) : kind_(Kind::Floating), floating_(f) {}
    FormatArg(const char* s) : kind_(s ? Kind::Text : Kind::Nil), text_(s ? s : "") {}
    FormatArg(char* s) : FormatArg(static_cast<const char*>(s)) {}
    FormatArg(std::string_view s) : kind_(Kind::Text), text_(s) {}
    FormatArg(const std::string& s) : kind_(Kind::Text), text_(s) {}
    FormatArg(const Value& v);
    // Objects that describe themselves, by reference, pointer or shared pointer.
    template <typename T, typename = decltype(std::declval<const T&>().Description())>
    FormatArg(const T& object) : kind_(Kind::Text), text_(object.Description()) {}
    template <typename T, typename = decltype(std::declval<const T&>().Description())>
    FormatArg(const T* object) : FormatArg(nullptr) {
        if (object != nullptr) *this = FormatArg(*object);
    }
    template <typename T, typename = decltype(std::declval<const T&>().Description())>
    FormatArg(const std::shared_ptr<T>& object) : FormatArg(object.get()) {}
    // A pointer to anything else has no text to show (it would otherwise pass for a bool
    // through ns::Value and print "true"): refused at compile time.
    template <typename T, std::enable_if_t<!HasDescription<T>::value, int> = 0>
    FormatArg(const T* pointer) = delete;

    Kind GetKind() const { return kind_; }
    int64_t Signed() const { return signed_; }
    uint64_t Unsigned() const { return unsigned_; }
    double Floating() const { return floating_; }
    const std::string& Text() const { return text_; }
    // Width in bits of the integer type the argument came from.
    int Bits() const { return bits_; }

private:
    Kind kind_ = Kind::Nil;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    double floating_ = 0;
    std::string text_;
    int bits_ = 64;
};

std::string FormatList(std::string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
    return FormatList(format, {FormatArg(args)...});
}

}  // namespace ns

#endif
