#include "SVLibrary/Http/HttpFieldText.h"

#include <cctype>

namespace SV {

std::string HttpFieldText::Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

std::string HttpFieldText::Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool HttpFieldText::ParseDecimal(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = result;
    return true;
}

}  // namespace SV
