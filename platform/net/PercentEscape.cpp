#include "platform/net/PercentEscape.h"

#include "SVLibrary/Path/PercentDecoder.h"

namespace ns {

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string* out, unsigned char byte) {
    out->push_back('%');
    out->push_back(kHex[byte >> 4]);
    out->push_back(kHex[byte & 0x0F]);
}

}  // namespace

bool PercentEscape::IsHexDigit(char c) { return SV::PercentDecoder::IsHexDigit(c); }

bool PercentEscape::IsUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool PercentEscape::IsURLCharacter(char c) {
    if (IsUnreserved(c)) return true;
    for (const char* r = kReserved; *r != '\0'; ++r) {
        if (*r == c) return true;
    }
    return false;
}

std::string PercentEscape::Escape(std::string_view text, std::string_view alsoEscape) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool listed = alsoEscape.find(c) != std::string_view::npos;
        if (c == '%') {
            const bool validEscape =
                i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2]);
            if (validEscape && !listed) {
                out.push_back(c);
            } else {
                AppendEscaped(&out, static_cast<unsigned char>(c));
            }
        } else if (IsURLCharacter(c) && !listed) {
            out.push_back(c);
        } else {
            AppendEscaped(&out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

std::string PercentEscape::EscapeComponent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (IsUnreserved(c)) {
            out.push_back(c);
        } else {
            AppendEscaped(&out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

std::optional<std::string> PercentEscape::Unescape(std::string_view text) {
    std::string out;
    if (!SV::PercentDecoder(SV::PercentDecoder::kComplete).Decode(std::string(text), out)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace ns
