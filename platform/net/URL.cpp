#include "platform/net/URL.h"

#include <unistd.h>

#include <cctype>
#include <climits>

#include "platform/net/HeaderText.h"
#include "platform/net/PercentEscape.h"

namespace ns {

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsValidScheme(std::string_view s) {
    if (s.empty() || !IsAlpha(s[0])) return false;
    for (char c : s) {
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return i == a.size() && b[i] == '\0';
}

bool HasBracket(std::string_view s) { return s.find_first_of("[]") != std::string_view::npos; }

// Escapes what may not stand in a path segment (RFC 3986 pchar), keeping '/'.
std::string EscapePath(const std::string& path) {
    std::string out;
    const char kHex[] = "0123456789ABCDEF";
    for (char c : path) {
        if (PercentEscape::IsUnreserved(c) ||
            std::string_view("/!$&'()*+,;=:@").find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            const unsigned char b = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        }
    }
    return out;
}

std::string Decode(const std::string& text) {
    // Parse() checked every escape, so decoding cannot fail; keep the text if it ever would.
    std::optional<std::string> decoded = PercentEscape::Unescape(text);
    return decoded ? *decoded : text;
}

}  // namespace

std::optional<URL> URL::Parse(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !PercentEscape::IsHexDigit(text[i + 1]) ||
                !PercentEscape::IsHexDigit(text[i + 2])) {
                return std::nullopt;
            }
        } else if (!PercentEscape::IsURLCharacter(c)) {
            return std::nullopt;
        }
    }
    URL url;
    std::string_view rest = text;
    const size_t delimiter = rest.find_first_of(":/?#");
    if (delimiter != std::string_view::npos && rest[delimiter] == ':' && delimiter > 0) {
        if (!IsValidScheme(rest.substr(0, delimiter))) return std::nullopt;
        url.hasScheme_ = true;
        url.scheme_ = std::string(rest.substr(0, delimiter));
        rest.remove_prefix(delimiter + 1);
    }
    if (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') {
        rest.remove_prefix(2);
        const size_t end = rest.find_first_of("/?#");
        url.hasAuthority_ = true;
        url.authority_ = std::string(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        if (!url.ParseAuthority()) return std::nullopt;
    }
    const size_t pathEnd = rest.find_first_of("?#");
    url.path_ = std::string(rest.substr(0, pathEnd));
    rest.remove_prefix(pathEnd == std::string_view::npos ? rest.size() : pathEnd);
    if (!rest.empty() && rest[0] == '?') {
        const size_t end = rest.find('#');
        url.hasQuery_ = true;
        url.query_ = std::string(rest.substr(1, end == std::string_view::npos ? end : end - 1));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (!rest.empty() && rest[0] == '#') {
        url.hasFragment_ = true;
        url.fragment_ = std::string(rest.substr(1));
        if (url.fragment_.find('#') != std::string::npos) return std::nullopt;
    }
    if (HasBracket(url.path_) || HasBracket(url.query_) || HasBracket(url.fragment_)) {
        return std::nullopt;
    }
    // Without a scheme, a colon in the first segment of a relative path would read as one.
    if (!url.hasScheme_ && !url.hasAuthority_ && (url.path_.empty() || url.path_[0] != '/')) {
        const size_t colon = url.path_.find(':');
        if (colon != std::string::npos && colon < url.path_.find('/')) return std::nullopt;
    }
    return url;
}

bool URL::ParseAuthority() {
    std::string hostPort = authority_;
    const size_t at = authority_.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority_.substr(0, at);
        if (userInfo.find_first_of("[]@") != std::string::npos) return false;
        const size_t colon = userInfo.find(':');
        user_ = userInfo.substr(0, colon);
        if (colon != std::string::npos) password_ = userInfo.substr(colon + 1);
        hostPort = authority_.substr(at + 1);
    }
    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos) return false;
        host_ = hostPort.substr(1, close - 1);
        if (host_.empty() || HasBracket(host_)) return false;
        const std::string after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return false;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = hostPort.rfind(':');
        host_ = hostPort.substr(0, colon);
        if (colon != std::string::npos) portText = hostPort.substr(colon + 1);
        if (host_.find_first_of("[]:") != std::string::npos) return false;
    }
    if (!portText.empty()) {
        if (portText.size() > 5) return false;
        long port = 0;
        for (char c : portText) {
            if (!IsDigit(c)) return false;
            port = port * 10 + (c - '0');
        }
        if (port > 65535) return false;
        port_ = static_cast<int>(port);
    }
    return true;
}

std::string URL::RemoveDotSegments(std::string_view path) {
    std::string input(path);
    std::string output;
    while (!input.empty()) {
        if (input.compare(0, 3, "../") == 0) {
            input.erase(0, 3);
        } else if (input.compare(0, 2, "./") == 0) {
            input.erase(0, 2);
        } else if (input.compare(0, 3, "/./") == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
            input = input.size() == 3 ? std::string("/") : input.substr(3);
            const size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

std::optional<URL> URL::Resolve(std::string_view reference, const URL& base) {
    if (!base.hasScheme_) return std::nullopt;
    std::optional<URL> parsed = Parse(reference);
    if (!parsed) return std::nullopt;
    const URL& r = *parsed;
    URL t;
    if (r.hasScheme_) {
        t = r;
        t.path_ = RemoveDotSegments(r.path_);
    } else {
        if (r.hasAuthority_) {
            t = r;
            t.path_ = RemoveDotSegments(r.path_);
        } else {
            t.hasAuthority_ = base.hasAuthority_;
            t.authority_ = base.authority_;
            t.user_ = base.user_;
            t.password_ = base.password_;
            t.host_ = base.host_;
            t.port_ = base.port_;
            if (r.path_.empty()) {
                t.path_ = base.path_;
                t.hasQuery_ = r.hasQuery_ || base.hasQuery_;
                t.query_ = r.hasQuery_ ? r.query_ : base.query_;
            } else {
                if (r.path_[0] == '/') {
                    t.path_ = RemoveDotSegments(r.path_);
                } else {
                    // Merge (section 5.2.3).
                    std::string merged;
                    if (base.hasAuthority_ && base.path_.empty()) {
                        merged = "/" + r.path_;
                    } else {
                        const size_t slash = base.path_.rfind('/');
                        merged = slash == std::string::npos
                                     ? r.path_
                                     : base.path_.substr(0, slash + 1) + r.path_;
                    }
                    t.path_ = RemoveDotSegments(merged);
                }
                t.hasQuery_ = r.hasQuery_;
                t.query_ = r.query_;
            }
        }
        t.hasScheme_ = true;
        t.scheme_ = base.scheme_;
    }
    t.hasFragment_ = r.hasFragment_;
    t.fragment_ = r.fragment_;
    // Removing dot segments can leave "//x" without an authority ("s:/..//x"); written out
    // that would read back as the authority "x", so keep the path a path.
    if (!t.hasAuthority_ && t.path_.compare(0, 2, "//") == 0) t.path_.insert(0, "/.");
    return t;
}

URL URL::FileURL(const std::string& path, bool isDirectory) {
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char buffer[PATH_MAX];
        const char* cwd = getcwd(buffer, sizeof buffer);
        std::string directory = cwd != nullptr ? cwd : "/";
        if (directory.empty() || directory.back() != '/') directory += '/';
        absolute = directory + absolute;
    }
    if (isDirectory && absolute.back() != '/') absolute += '/';
    URL url;
    url.hasScheme_ = true;
    url.scheme_ = "file";
    url.hasAuthority_ = true;
    url.path_ = EscapePath(absolute);
    return url;
}

std::string URL::AbsoluteString() const {
    std::string text;
    if (hasScheme_) text += scheme_ + ":";
    text += ResourceSpecifier();
    return text;
}

std::string URL::ResourceSpecifier() const {
    std::string text;
    if (hasAuthority_) text += "//" + authority_;
    text += path_;
    if (hasQuery_) text += "?" + query_;
    if (hasFragment_) text += "#" + fragment_;
    return text;
}

int URL::PortOrDefault() const {
    if (port_ >= 0) return port_;
    if (EqualsIgnoringCase(scheme_, "http")) return 80;
    if (EqualsIgnoringCase(scheme_, "https")) return 443;
    return -1;
}

std::string URL::Path() const {
    std::string decoded = Decode(path_);
    if (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
    return decoded;
}

bool URL::IsFileURL() const { return EqualsIgnoringCase(scheme_, "file"); }

bool URL::IsHTTP() const {
    return EqualsIgnoringCase(scheme_, "http") || EqualsIgnoringCase(scheme_, "https");
}

std::string URL::FileSystemPath() const {
    if (!IsFileURL()) return std::string();
    std::string path = Decode(path_);
    // An escaped NUL would cut the path short where the system reads it, naming another file.
    if (path.find('\0') != std::string::npos) return std::string();
    return path;
}

std::vector<std::string> URL::PathComponents() const {
    std::vector<std::string> components;
    if (!path_.empty() && path_[0] == '/') components.push_back("/");
    size_t start = 0;
    while (start <= path_.size()) {
        size_t end = path_.find('/', start);
        if (end == std::string::npos) end = path_.size();
        if (end > start) components.push_back(Decode(path_.substr(start, end - start)));
        start = end + 1;
    }
    return components;
}

std::string URL::LastPathComponent() const {
    std::vector<std::string> components = PathComponents();
    return components.empty() ? std::string() : components.back();
}

std::string URL::PathExtension() const {
    const std::string last = LastPathComponent();
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return std::string();
    return last.substr(dot + 1);
}

URL URL::AppendingPathComponent(const std::string& component) const {
    URL url = *this;
    std::string escaped = EscapePath(component);
    const bool endsWithSlash = !url.path_.empty() && url.path_.back() == '/';
    const bool startsWithSlash = !escaped.empty() && escaped[0] == '/';
    if (endsWithSlash && startsWithSlash) {
        escaped.erase(0, 1);
    } else if (!endsWithSlash && !startsWithSlash) {
        escaped.insert(0, "/");
    }
    url.path_ += escaped;
    return url;
}

URL URL::WithoutFragment() const {
    URL url = *this;
    url.hasFragment_ = false;
    url.fragment_.clear();
    return url;
}

}  // namespace ns
