#include "json/KvJsonTokeniser.h"

#include "platform/Utf8.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMaxDigits = 38;
constexpr int kMinExponent = -128;
constexpr int kMaxExponent = 127;
// The written exponent saturates here: far outside the range, and far from overflowing.
constexpr int64_t kExponentCeiling = 1000000;

inline bool IsDigit(unsigned char ch) { return ch >= '0' && ch <= '9'; }

int HexValue(unsigned char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

// Four hexadecimal digits at `at`: 1 with the value, -1 at the first byte that is not one
// (among those present), 0 when the bytes present are good but fewer than four.
int ReadHexQuad(const unsigned char* bytes, size_t length, size_t at, uint32_t& value) {
    value = 0;
    for (size_t k = 0; k < 4; ++k) {
        if (at + k >= length) {
            return 0;
        }
        const int digit = HexValue(bytes[at + k]);
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return 1;
}

// The character of "Illegal start of token [%c]": printable ASCII as itself, every other byte
// as a backslash and three octal digits, so that the error text stays printable UTF-8.
std::string TokenCharacter(unsigned char ch) {
    char buffer[8];
    if (ch >= 0x20 && ch < 0x7F) {
        std::snprintf(buffer, sizeof(buffer), "%c", ch);
    } else {
        std::snprintf(buffer, sizeof(buffer), "\\%03o", ch);
    }
    return buffer;
}

}  // namespace

void KvJsonTokeniser::appendData(const void* bytes, size_t length) {
    const size_t dropped = stream_.index();
    stream_.appendData(bytes, length);
    if (resume_.active) {
        if (resume_.start >= dropped) {
            resume_.start -= dropped;
        } else {
            resume_.active = false;
        }
    }
}

// Keeps what has not been read, as the caller's bytes may go away now.
int KvJsonTokeniser::needMoreData() {
    const size_t dropped = stream_.index();
    stream_.keepUnreadBytes();
    if (resume_.active) {
        resume_.start -= dropped;
    }
    return KvJsonTokenEndOfInput;
}

int KvJsonTokeniser::setError(std::string text) {
    error_ = std::move(text);
    resume_.active = false;
    stream_.keepUnreadBytes();  // the caller's bytes may go away now, as after need-more-data
    return KvJsonTokenError;
}

int KvJsonTokeniser::getValueToken(unsigned char ch) {
    const size_t start = stream_.index();
    const bool resuming = resume_.active && resume_.start == start;
    resume_.active = false;
    int token;
    switch (ch) {
        case 'f': token = match("false", 5, KvJsonTokenFalse); break;
        case 't': token = match("true", 4, KvJsonTokenTrue); break;
        case 'n': token = match("null", 4, KvJsonTokenNull); break;
        case '"': token = getStringToken(start, resuming); break;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9': token = getNumberToken(start, resuming); break;
        case '+': return setError("Leading + is illegal in number");
        default: return setError("Illegal start of token [" + TokenCharacter(ch) + "]");
    }
    if (token == KvJsonTokenEndOfInput) {
        resume_.active = true;
        resume_.start = start;
        stream_.setIndex(start);
        return needMoreData();
    }
    return token;
}

int KvJsonTokeniser::match(const char* keyword, size_t length, int token) {
    if (!stream_.haveRemainingCharacters(length)) {
        return KvJsonTokenEndOfInput;
    }
    if (stream_.skipCharacters(keyword, length)) {
        return token;
    }
    return setError(std::string("Expected '") + keyword + "' after initial '" + keyword[0] + "'");
}

int KvJsonTokeniser::getStringToken(size_t start, bool resuming) {
    if (resuming) {
        stream_.setIndex(start + resume_.offset);
    } else {
        string_.clear();
        stream_.setIndex(start + 1);  // after the opening quotation mark
    }
    for (bool first = !resuming;; first = false) {
        std::string_view fragment;
        const KvJsonUTF8Stream::FragmentResult result = stream_.getStringFragment(fragment);
        if (result == KvJsonUTF8Stream::FragmentBroken) {
            return setError("Broken Unicode encoding");
        }
        if (first && result == KvJsonUTF8Stream::FragmentStopped &&
            stream_.bytes()[stream_.index()] == '"') {
            // No escape: the text is used where it stands, without a copy.
            stringValue_ = fragment;
            stream_.skip();
            return KvJsonTokenString;
        }
        string_.append(fragment.data(), fragment.size());
        if (result == KvJsonUTF8Stream::FragmentAtEnd) {
            resume_.offset = stream_.index() - start;
            return KvJsonTokenEndOfInput;
        }
        unsigned char ch = 0;
        stream_.getUnichar(ch);
        if (ch == '"') {
            stringValue_ = string_;
            stream_.skip();
            return KvJsonTokenString;
        }
        if (ch < 0x20) {
            char text[48];
            std::snprintf(text, sizeof(text), "Unescaped control character [0x%.2X]", ch);
            return setError(text);
        }
        // A backslash: an escape, decoded whole or not at all.
        const size_t escape = stream_.index();
        if (!stream_.getNextUnichar(ch)) {
            resume_.offset = escape - start;
            return KvJsonTokenEndOfInput;
        }
        switch (ch) {
            case '"':
            case '/':
            case '\\': string_ += static_cast<char>(ch); break;
            case 'b': string_ += '\b'; break;
            case 'f': string_ += '\f'; break;
            case 'n': string_ += '\n'; break;
            case 'r': string_ += '\r'; break;
            case 't': string_ += '\t'; break;
            case 'u': {
                const int result = decodeUnicodeEscape();
                if (result < 0) {
                    return result;
                }
                if (result == 0) {
                    resume_.offset = escape - start;
                    return KvJsonTokenEndOfInput;
                }
                continue;  // the cursor is already after the escape
            }
            default: return setError("Illegal escape character");
        }
        stream_.skip();
    }
}

// On the 'u' of an escape. Appends the character and moves the cursor past the escape (1), or
// answers need-more-data (0) or an error (-1). Bytes that are present are checked even when
// more are needed, so that a broken escape at the very end of the input is reported as what
// it is.
int KvJsonTokeniser::decodeUnicodeEscape() {
    const unsigned char* const bytes = stream_.bytes();
    const size_t length = stream_.length();
    const size_t u = stream_.index();
    uint32_t unit = 0;
    const int quad = ReadHexQuad(bytes, length, u + 1, unit);
    if (quad < 0) {
        return setError("Invalid hex quad");
    }
    if (quad == 0) {
        return KvJsonTokenEndOfInput;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return setError("Invalid high character in surrogate pair");
    }
    if (unit < 0xD800 || unit > 0xDBFF) {
        ns::AppendUtf8(string_, unit);
        stream_.setIndex(u + 5);
        return 1;
    }
    const size_t next = u + 5;  // where the escape of the low half must start
    if (next >= length) {
        return KvJsonTokenEndOfInput;
    }
    if (bytes[next] != '\\') {
        return setError("Missing low character in surrogate pair");
    }
    if (next + 1 >= length) {
        return KvJsonTokenEndOfInput;
    }
    if (bytes[next + 1] != 'u') {
        return setError("Missing low character in surrogate pair");
    }
    uint32_t low = 0;
    const int lowQuad = ReadHexQuad(bytes, length, next + 2, low);
    if (lowQuad < 0) {
        return setError("Missing low character in surrogate pair");
    }
    if (lowQuad == 0) {
        return KvJsonTokenEndOfInput;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
        return setError("Invalid low character in surrogate pair");
    }
    ns::AppendUtf8(string_, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    stream_.setIndex(next + 6);
    return 1;
}

int KvJsonTokeniser::getNumberToken(size_t start, bool resuming) {
    NumberState& s = numberState_;
    size_t i = start;
    if (resuming) {
        i += resume_.offset;
    } else {
        s = NumberState();
        if (const size_t end = readPlainNumber(start)) {
            return finishNumber(end);
        }
        s = NumberState();
    }
    const unsigned char* const bytes = stream_.bytes();
    const size_t length = stream_.length();
    for (;;) {
        // Every part needs the byte after it: a number at the very end is not complete.
        if (i >= length) {
            resume_.offset = i - start;
            return KvJsonTokenEndOfInput;
        }
        const unsigned char ch = bytes[i];
        switch (s.phase) {
            case NumberStart:
                if (ch == '-') {
                    s.negative = true;
                    ++i;
                    s.phase = NumberAfterMinus;
                } else {
                    s.phase = NumberFirstDigit;
                }
                break;
            case NumberAfterMinus:
                // A digit must follow the minus at once: "-.5" and "-e1" are not numbers.
                if (!IsDigit(ch)) {
                    return setError("No digits after initial minus");
                }
                s.phase = NumberFirstDigit;
                break;
            case NumberFirstDigit:
                s.phase = ch == '0' ? NumberAfterLeadingZero : NumberIntegerDigits;
                if (ch == '0') {
                    s.digits = 1;
                    ++i;
                }
                break;
            case NumberAfterLeadingZero:
                if (IsDigit(ch)) {
                    return setError("Leading zero is illegal in number");
                }
                s.phase = NumberAfterInteger;
                break;
            case NumberIntegerDigits:
                i = addDigits(bytes, i, length, false);
                if (i < length) {
                    s.phase = NumberAfterInteger;
                }
                break;
            case NumberAfterInteger:
                if (ch == '.') {
                    s.isInteger = false;
                    ++i;
                    s.phase = NumberFirstFractionDigit;
                } else {
                    s.phase = NumberAfterFraction;
                }
                break;
            case NumberFirstFractionDigit:
                if (!IsDigit(ch)) {
                    return setError("No digits after decimal point");
                }
                s.phase = NumberFractionDigits;
                break;
            case NumberFractionDigits:
                i = addDigits(bytes, i, length, true);
                if (i < length) {
                    s.phase = NumberAfterFraction;
                }
                break;
            case NumberAfterFraction:
                if (ch != 'e' && ch != 'E') {
                    return finishNumber(i);
                }
                s.isInteger = false;
                ++i;
                s.phase = NumberExponentSign;
                break;
            case NumberExponentSign:
                if (ch == '+' || ch == '-') {
                    s.negativeExponent = ch == '-';
                    ++i;
                }
                s.phase = NumberFirstExponentDigit;
                break;
            case NumberFirstExponentDigit:
                if (!IsDigit(ch)) {
                    return setError("No digits in exponent");
                }
                s.phase = NumberExponentDigits;
                break;
            case NumberExponentDigits:
                if (!IsDigit(ch)) {
                    s.exponent += s.negativeExponent ? -s.written : s.written;
                    return finishNumber(i);
                }
                // Saturates instead of wrapping, so that "1e65536" is out of range rather than 1.
                s.written = std::min(s.written * 10 + (ch - '0'), kExponentCeiling);
                ++i;
                break;
        }
    }
}

// The common number in one pass: an optional minus, an integer part and an optional fraction,
// at most 19 digits in all, with no exponent, and followed by a byte that ends it. Fills the
// number state as the phases would and answers where the number ends; 0 for anything else
// (an exponent, more digits, a malformed number, the end of the input), which the phases then
// read from the start.
size_t KvJsonTokeniser::readPlainNumber(size_t start) {
    NumberState& s = numberState_;
    const unsigned char* const bytes = stream_.bytes();
    const size_t length = stream_.length();
    size_t i = start;
    if (bytes[i] == '-') {
        s.negative = true;
        ++i;
    }
    const size_t integer = i;
    uint64_t mantissa = 0;
    while (i < length && IsDigit(bytes[i])) {
        mantissa = mantissa * 10 + static_cast<unsigned>(bytes[i] - '0');
        ++i;
    }
    if (i == integer || (bytes[integer] == '0' && i - integer > 1) || i >= length) {
        return 0;
    }
    size_t digits = i - integer;
    if (bytes[i] == '.') {
        const size_t fraction = ++i;
        while (i < length && IsDigit(bytes[i])) {
            mantissa = mantissa * 10 + static_cast<unsigned>(bytes[i] - '0');
            ++i;
        }
        if (i == fraction || i >= length) {
            return 0;
        }
        digits += i - fraction;
        s.isInteger = false;
        s.exponent = -static_cast<int64_t>(i - fraction);
    }
    if (digits > 19 || bytes[i] == 'e' || bytes[i] == 'E') {
        return 0;
    }
    s.digits = static_cast<int>(digits);
    s.narrow = mantissa;
    return i;
}

// Adds the run of digits from `i` to the mantissa (the first 38 of them; more only count) and
// answers where the run ends. Fraction digits also lower the exponent.
size_t KvJsonTokeniser::addDigits(const unsigned char* bytes, size_t i, size_t length,
                                  bool fraction) {
    NumberState& s = numberState_;
    const size_t first = i;
    for (; i < length && IsDigit(bytes[i]); ++i) {
        const unsigned digit = static_cast<unsigned>(bytes[i] - '0');
        // Most numbers fit in 64 bits; the wide mantissa takes over from the 20th digit.
        if (s.digits < 19) {
            s.narrow = s.narrow * 10 + digit;
        } else if (s.digits < kMaxDigits) {
            if (s.digits == 19) {
                s.mantissa = s.narrow;
            }
            s.mantissa = s.mantissa * 10 + digit;
        }
        ++s.digits;
    }
    if (fraction) {
        s.exponent -= static_cast<int64_t>(i - first);
    }
    return i;
}

int KvJsonTokeniser::finishNumber(size_t end) {
    const NumberState& s = numberState_;
    if (s.digits > kMaxDigits) {
        return setError("Precision is too high");
    }
    if (s.exponent < kMinExponent || s.exponent > kMaxExponent) {
        return setError("Exponent out of range");
    }
    const ns::Decimal::Mantissa mantissa = s.digits <= 19 ? s.narrow : s.mantissa;
    if (s.isInteger && s.digits <= 19) {
        // Up to 19 digits fit in 64 unsigned bits; what does not fit the signed range stays
        // exact as a decimal instead of changing sign.
        const uint64_t magnitude = s.narrow;
        const uint64_t limit = s.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
        if (magnitude <= limit) {
            number_ = ns::Value(s.negative ? static_cast<int64_t>(0 - magnitude)
                                           : static_cast<int64_t>(magnitude));
        } else {
            number_ = ns::Value(ns::Decimal(mantissa, 0, s.negative));
        }
    } else {
        number_ = ns::Value(ns::Decimal(mantissa, static_cast<int32_t>(s.exponent), s.negative));
    }
    stream_.setIndex(end);
    return KvJsonTokenNumber;
}
