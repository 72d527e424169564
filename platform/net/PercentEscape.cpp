#include "platform/net/PercentEscape.h"

namespace ns {

namespace {

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendEscaped(std::string* out, unsigned char byte) {
    out->push_back('%');
    out->push_back(kHex[byte >> 4]);
    out->push_back(kHex[byte & 0x0F]);
}

}  // namespace

bool PercentEscape::IsHexDigit(char c) { return HexValue(c) >= 0; }

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
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
        i += 2;
    }
    return out;
}

}  // namespace ns
