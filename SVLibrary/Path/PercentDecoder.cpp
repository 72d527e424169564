#include "SVLibrary/Path/PercentDecoder.h"

#include "SVLibrary/Util/Hex.h"

namespace SV {

bool PercentDecoder::IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

bool PercentDecoder::Decode(const std::string& text, std::string& out) const {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        const bool truncated = text.size() - i < 3;
        if (truncated || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) {
            switch (truncated ? policy_.truncated : policy_.invalid) {
                case Malformed::Reject: return false;
                case Malformed::Keep: result += '%'; break;
                case Malformed::Stop: i = text.size(); break;
            }
            continue;
        }
        const unsigned value =
            static_cast<unsigned>(HexDigitValue(text[i + 1]) << 4 | HexDigitValue(text[i + 2]));
        if (value == 0) {
            switch (policy_.zero) {
                case Zero::Reject: return false;
                case Zero::Keep:
                    result.append(text, i, 3);
                    i += 2;
                    continue;
                case Zero::Decode: break;
            }
        }
        result += static_cast<char>(static_cast<unsigned char>(value));
        i += 2;
    }
    out.swap(result);
    return true;
}

}  // namespace SV
