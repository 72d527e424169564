#ifndef SVLIBRARY_PATH_PERCENTDECODER_H
#define SVLIBRARY_PATH_PERCENTDECODER_H

#include <string>

namespace SV {

// Turns "%XX" escapes (two hexadecimal digits, either case) into their bytes. Every other
// byte is copied, '+' included: it stands for itself, not for a space.
//
// Texts from outside disagree on the two cases that have no single right answer, so each
// caller states its rule in a Policy instead of writing a decoder of its own:
//   - a malformed escape: a '%' that the end of the text cuts short ("100%", "%4"), or one
//     followed by bytes that are not hexadecimal digits ("%zz", "%4g");
//   - "%00": a NUL byte that would end the text early wherever it is used as a C string
//     (a file name, a header) and name something else.
class PercentDecoder {
public:
    enum class Malformed {
        Reject,  // the text is refused: Decode returns false
        Keep,    // the '%' stands as written and decoding goes on after it
        Stop,    // decoding ends at the '%': the result is the text before it (for an escape
                 // cut short by the end, that drops the escape alone)
    };
    enum class Zero {
        Reject,  // the text is refused: Decode returns false
        Keep,    // "%00" stays as it was written, three bytes
        Decode,  // it becomes a NUL byte like any other escape
    };
    struct Policy {
        Malformed truncated;  // a '%' with fewer than two bytes after it
        Malformed invalid;    // a '%' with two bytes after it that are not both hex digits
        Zero zero;
    };

    // A name a request or a path must match exactly: anything doubtful refuses it.
    static constexpr Policy kStrict{Malformed::Reject, Malformed::Reject, Zero::Reject};
    // A URL component whose text is checked first: every escape is valid, "%00" gives its byte.
    static constexpr Policy kComplete{Malformed::Reject, Malformed::Reject, Zero::Decode};
    // A URL's file name or query value as the portability layer reads it: an escape cut short
    // by the end is dropped, "%00" gives its byte (such texts are read up to their first NUL).
    static constexpr Policy kUrlText{Malformed::Stop, Malformed::Keep, Zero::Decode};
    // A file name that someone wrote: what is not a valid escape is part of the name, and a
    // NUL never cuts it short.
    static constexpr Policy kFileName{Malformed::Keep, Malformed::Keep, Zero::Keep};

    explicit PercentDecoder(const Policy& policy) : policy_(policy) {}

    // Writes the decoded text to out and returns true; returns false (out left as it was) when
    // the policy refuses the text.
    bool Decode(const std::string& text, std::string& out) const;

    static bool IsHexDigit(char c);

private:
    Policy policy_;
};

}  // namespace SV

#endif
