#include "engine/serve/HTTPRequestReader.h"

#include <cctype>

#include "SVLibrary/Http/HttpFieldText.h"

namespace SarvelonMediaKit {

using SV::HttpFieldText;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

size_t HTTPRequestReader::FindHeadEnd(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        if (i + 1 < size && data[i + 1] == '\n') return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    return 0;
}

bool HTTPRequestReader::IsLoopbackHost(const std::string& value) {
    const std::string host = HttpFieldText::Lower(value);
    static const char* const kNames[] = {"localhost", "127.0.0.1", "[::1]"};
    for (const char* name : kNames) {
        const size_t length = std::char_traits<char>::length(name);
        if (host.compare(0, length, name) != 0) continue;
        if (host.size() == length) return true;
        // ":port": one to five digits, nothing else.
        if (host[length] != ':') continue;
        const std::string port = host.substr(length + 1);
        uint64_t number = 0;
        return port.size() <= 5 && HttpFieldText::ParseDecimal(port, &number) && number <= 65535;
    }
    return false;
}

HTTPRequestReader::HTTPRequestReader()
    : method_(MethodOther), absoluteTarget_(false), minorVersion_(0) {}

bool HTTPRequestReader::Parse(const char* data, size_t size) {
    const std::string text(data, size);
    size_t position = 0;
    bool first = true;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line[line.size() - 1] == '\r') line.erase(line.size() - 1);
        if (first) {
            // Blank lines before a request line are tolerated.
            if (line.empty()) continue;
            first = false;
            if (!ParseRequestLine(line)) {
                method_ = MethodOther;
                methodName_.clear();
                path_.clear();
                pathPrefix_.clear();
                absoluteTarget_ = false;
                authority_.clear();
                headers_.clear();
                return false;
            }
            continue;
        }
        if (line.empty()) break;  // the end of the head
        const size_t colon = line.find(':');
        // A line without a name, or a folded continuation, carries nothing we use.
        if (colon == std::string::npos || colon == 0 || IsBlank(line[0])) continue;
        const std::string name = HttpFieldText::Lower(line.substr(0, colon));
        const std::string value = HttpFieldText::Trim(line.substr(colon + 1));
        std::map<std::string, std::string>::iterator entry = headers_.find(name);
        if (entry == headers_.end()) {
            headers_[name] = value;
        } else {
            entry->second += ", " + value;
        }
    }
    return !first;
}

bool HTTPRequestReader::ParseRequestLine(const std::string& line) {
    const size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos || firstSpace == 0) return false;
    const size_t secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || secondSpace == firstSpace + 1) return false;
    const std::string method = line.substr(0, firstSpace);
    std::string target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string version = line.substr(secondSpace + 1);
    if (version.size() != 8 || version.compare(0, 7, "HTTP/1.") != 0 || version[7] < '0' ||
        version[7] > '9') {
        return false;
    }
    for (size_t i = 0; i < method.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(method[i]);
        if (!std::isalpha(c) && c != '-' && c != '_') return false;
    }
    // The absolute form names the path after the authority.
    const std::string scheme = "http://";
    std::string authority;
    const bool absolute = HttpFieldText::Lower(target.substr(0, scheme.size())) == scheme;
    if (absolute) {
        const size_t slash = target.find('/', scheme.size());
        authority = target.substr(
            scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
        target = slash == std::string::npos ? std::string("/") : target.substr(slash);
    }
    const size_t query = target.find_first_of("?#");
    if (query != std::string::npos) target.erase(query);
    if (target.empty() || target[0] != '/') return false;
    for (size_t i = 0; i < target.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(target[i]);
        if (c <= ' ' || c == 0x7F) return false;
    }
    // A token in front of the name, "/token::name", is not part of the name.
    const size_t separator = target.rfind("::");
    if (separator != std::string::npos) {
        pathPrefix_ = target.substr(1, separator - 1);
        target = "/" + target.substr(separator + 2);
    }
    methodName_ = method;
    path_ = target;
    absoluteTarget_ = absolute;
    authority_ = authority;
    method_ = method == "GET" ? MethodGet : method == "HEAD" ? MethodHead : MethodOther;
    minorVersion_ = version[7] - '0';
    return true;
}

std::string HTTPRequestReader::GetHeader(const std::string& name) const {
    std::map<std::string, std::string>::const_iterator entry =
        headers_.find(HttpFieldText::Lower(name));
    return entry == headers_.end() ? std::string() : entry->second;
}

bool HTTPRequestReader::HasHeader(const std::string& name) const {
    return headers_.count(HttpFieldText::Lower(name)) != 0;
}

bool HTTPRequestReader::GetContentLength(uint64_t* length) const {
    *length = 0;
    if (!HasHeader("Content-Length")) return true;
    return HttpFieldText::ParseDecimal(GetHeader("Content-Length"), length);
}

bool HTTPRequestReader::HeaderHasToken(const std::string& name, const std::string& token) const {
    const std::string list = HttpFieldText::Lower(GetHeader(name));
    const std::string wanted = HttpFieldText::Lower(token);
    size_t position = 0;
    while (position <= list.size()) {
        size_t comma = list.find(',', position);
        if (comma == std::string::npos) comma = list.size();
        if (HttpFieldText::Trim(list.substr(position, comma - position)) == wanted) return true;
        position = comma + 1;
    }
    return false;
}

}  // namespace SarvelonMediaKit
