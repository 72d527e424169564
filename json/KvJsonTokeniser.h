#ifndef JSON_KVJSONTOKENISER_H
#define JSON_KVJSONTOKENISER_H
// Cuts UTF-8 JSON input into tokens, one per getToken call, decoding strings and numbers on
// the way. When a token is not complete yet the answer is KvJsonTokenEndOfInput and the
// cursor goes back to the token's start, so the call after the next appendData starts the
// token again.
//
// Numbers: integers of up to 19 digits that fit become signed 64-bit integers; every other
// number (a fraction, an exponent, more digits) becomes an exact ns::Decimal. At most 38
// digits and a resulting exponent of -128..127 are accepted.

#include <cstddef>
#include <string>
#include <string_view>

#include "json/KvJsonUTF8Stream.h"
#include "platform/Value.h"

enum KvJsonToken {
    KvJsonTokenError = -1,
    KvJsonTokenEndOfInput = 0,  // need more data
    KvJsonTokenArrayStart = 1,
    KvJsonTokenArrayEnd = 2,
    KvJsonTokenObjectStart = 3,
    KvJsonTokenObjectEnd = 4,
    KvJsonTokenValueSeparator = 5,
    KvJsonTokenKeyValueSeparator = 6,
    KvJsonTokenNumber = 7,
    KvJsonTokenString = 8,
    KvJsonTokenTrue = 9,
    KvJsonTokenFalse = 10,
    KvJsonTokenNull = 11,
};

class KvJsonTokeniser {
public:
    // The bytes are read where they stand: they must stay valid until the next appendData,
    // or until getToken answers need-more-data or an error (the unread rest is then copied).
    void appendData(const void* bytes, size_t length);

    // The next token's code (KvJsonToken). After KvJsonTokenString the text is in
    // stringValue() (valid until the next call or append), after KvJsonTokenNumber the number
    // is in numberValue(); after KvJsonTokenError the text is in error().
    int getToken() {
        // Punctuation, half of all tokens, is answered here; the rest out of line.
        stream_.skipWhitespace();
        unsigned char ch;
        if (!stream_.getUnichar(ch)) {
            return needMoreData();
        }
        int token;
        switch (ch) {
            case '[': token = KvJsonTokenArrayStart; break;
            case ']': token = KvJsonTokenArrayEnd; break;
            case '{': token = KvJsonTokenObjectStart; break;
            case '}': token = KvJsonTokenObjectEnd; break;
            case ',': token = KvJsonTokenValueSeparator; break;
            case ':': token = KvJsonTokenKeyValueSeparator; break;
            default: return getValueToken(ch);
        }
        stream_.skip();
        return token;
    }

    std::string_view stringValue() const { return stringValue_; }
    const ns::Value& numberValue() const { return number_; }
    const std::string& error() const { return error_; }

    // True when the bytes received hold the start of a token that is not complete yet (only
    // meaningful after getToken answered KvJsonTokenEndOfInput).
    bool hasUnfinishedToken() const { return stream_.haveRemainingCharacters(1); }

private:
    int getValueToken(unsigned char first);
    int needMoreData();
    int match(const char* keyword, size_t length, int token);
    int getStringToken(size_t start, bool resuming);
    int getNumberToken(size_t start, bool resuming);
    size_t readPlainNumber(size_t start);
    size_t addDigits(const unsigned char* bytes, size_t i, size_t length, bool fraction);
    int finishNumber(size_t end);
    int decodeUnicodeEscape();
    int setError(std::string text);

    KvJsonUTF8Stream stream_;
    std::string error_;
    std::string string_;            // decoded text of a string with escapes or in pieces
    std::string_view stringValue_;  // the last string: in the input itself, or string_
    ns::Value number_;

    // A long string or number that arrives in small pieces would be decoded again from its
    // start after every piece (quadratic in its length). Instead the decoder keeps what it
    // has decoded of the unfinished token and goes on from there when the same token is asked
    // for again; the cursor still goes back to the token's start in between. The steps are
    // the same as for a whole token, so results do not depend on how the input was cut.
    struct Resume {
        bool active = false;
        size_t start = 0;   // buffer position of the token
        size_t offset = 0;  // where decoding goes on, from the token's start
    } resume_;

    // Progress through a number: the part being read and what was read so far.
    enum NumberPhase {
        NumberStart,
        NumberAfterMinus,
        NumberFirstDigit,
        NumberAfterLeadingZero,
        NumberIntegerDigits,
        NumberAfterInteger,
        NumberFirstFractionDigit,
        NumberFractionDigits,
        NumberAfterFraction,
        NumberExponentSign,
        NumberFirstExponentDigit,
        NumberExponentDigits,
    };
    struct NumberState {
        NumberPhase phase = NumberStart;
        bool negative = false;
        bool isInteger = true;
        bool negativeExponent = false;
        int digits = 0;
        uint64_t narrow = 0;                 // the mantissa while it has up to 19 digits
        ns::Decimal::Mantissa mantissa = 0;  // the mantissa from the 20th digit on
        int64_t exponent = 0;                // from the fraction digits
        int64_t written = 0;                 // the exponent after 'e', saturated
    } numberState_;
};

#endif  // JSON_KVJSONTOKENISER_H
