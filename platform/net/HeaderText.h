#pragma once
// Small text helpers for URLs, header and cookie fields, which compare without regard to ASCII
// case and ignore the blanks around their parts.

#include <cctype>
#include <string>

namespace ns {

// 0-9 only: the locale's digits and other bytes are not.
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ASCII lower case; other bytes (UTF-8 included) unchanged.
inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Without the spaces and tabs at either end.
inline std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

}  // namespace ns
