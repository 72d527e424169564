#include "portal/FormData.h"

#include <cstdint>

namespace ZulPortal {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

bool FormData::Decode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool FormData::IsUtf8(const std::string& text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string FormData::Encode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool FormData::Parse(const std::string& text, FormData& out) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('&', at);
        if (end == std::string::npos) end = text.size();
        const std::string field = text.substr(at, end - at);
        at = end + 1;
        if (field.empty()) continue;
        const size_t equals = field.find('=');
        std::string name;
        std::string value;
        if (!Decode(field.substr(0, equals), name) ||
            !Decode(equals == std::string::npos ? std::string() : field.substr(equals + 1),
                    value) ||
            !IsUtf8(name) || !IsUtf8(value)) {
            return false;
        }
        out.fields_.emplace_back(name, value);
    }
    return true;
}

FormData FormData::Cookies(const std::string& header) {
    FormData cookies;
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        const std::string pair = header.substr(at, end - at);
        at = end + 1;
        const size_t equals = pair.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = Trim(pair.substr(0, equals));
        if (!name.empty()) cookies.fields_.emplace_back(name, Trim(pair.substr(equals + 1)));
    }
    return cookies;
}

std::string FormData::Get(const std::string& name, const std::string& fallback) const {
    for (const auto& field : fields_) {
        if (field.first == name) return field.second;
    }
    return fallback;
}

bool FormData::Has(const std::string& name) const {
    for (const auto& field : fields_) {
        if (field.first == name) return true;
    }
    return false;
}

}  // namespace ZulPortal
