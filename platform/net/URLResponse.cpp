#include "platform/net/URLResponse.h"

#include <cctype>
#include <utility>

namespace ns {

URLResponse::URLResponse(URL url, int statusCode, HTTPHeaderFields headers)
    : url_(std::move(url)), statusCode_(statusCode), headers_(std::move(headers)) {}

int64_t URLResponse::ExpectedContentLength() const {
    const std::vector<std::string> values = headers_.Values("Content-Length");
    if (values.size() != 1) return -1;
    const std::string& text = values[0];
    if (text.empty() || text.size() > 18) return -1;
    int64_t length = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

std::string URLResponse::MIMEType() const {
    std::string type = headers_.Value("Content-Type");
    type = type.substr(0, type.find(';'));
    const size_t begin = type.find_first_not_of(" \t");
    const size_t end = type.find_last_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    type = type.substr(begin, end - begin + 1);
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type;
}

}  // namespace ns
