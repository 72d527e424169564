#include "platform/net/Cookie.h"

#include "platform/net/HeaderText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

namespace ns {

namespace {

bool HasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t') || b == 0x7F;
    });
}

bool IsIPAddress(const std::string& host) {
    if (host.find(':') != std::string::npos) return true;  // IPv6
    return !host.empty() && std::all_of(host.begin(), host.end(),
                                        [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// RFC 6265 section 5.1.4: the directory of the request path.
std::string DefaultPath(const std::string& requestPath) {
    if (requestPath.empty() || requestPath[0] != '/') return "/";
    const size_t slash = requestPath.rfind('/');
    return slash == 0 ? std::string("/") : requestPath.substr(0, slash);
}

bool IsDateDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
           (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Reads 1 to `most` (at least `least`) digits at the start, which must be followed by the end
// or a non-digit. Returns how many it read (0 when the token does not fit).
size_t LeadingNumber(const std::string& token, size_t at, size_t least, size_t most, int* value) {
    size_t n = 0;
    int v = 0;
    while (at + n < token.size() && IsDigit(token[at + n])) {
        if (++n > most) return 0;
        v = v * 10 + (token[at + n - 1] - '0');
    }
    if (n < least) return 0;
    *value = v;
    return n;
}

bool ParseTime(const std::string& token, int* hour, int* minute, int* second) {
    size_t at = 0;
    int parts[3];
    for (int i = 0; i < 3; ++i) {
        const size_t n = LeadingNumber(token, at, 1, 2, &parts[i]);
        if (n == 0) return false;
        at += n;
        if (i < 2) {
            if (at >= token.size() || token[at] != ':') return false;
            ++at;
        }
    }
    *hour = parts[0];
    *minute = parts[1];
    *second = parts[2];
    return true;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

Cookie::Cookie(std::string name, std::string value, const std::string& domain, std::string path)
    : name_(std::move(name)), value_(std::move(value)), path_(std::move(path)) {
    domain_ = Lower(domain);
    hostOnly_ = domain_.empty() || domain_[0] != '.';
    if (!hostOnly_) domain_.erase(0, 1);
    if (path_.empty()) path_ = "/";
}

std::optional<Cookie::TimePoint> Cookie::ParseDate(const std::string& text) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : text) {
        if (IsDateDelimiter(static_cast<unsigned char>(c))) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(current);
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    for (const std::string& token : tokens) {
        int value = 0;
        if (!haveTime && ParseTime(token, &hour, &minute, &second)) {
            haveTime = true;
        } else if (!haveDay && LeadingNumber(token, 0, 1, 2, &value) != 0) {
            haveDay = true;
            day = value;
        } else if (!haveMonth && token.size() >= 3 &&
                   std::find(std::begin(kMonths), std::end(kMonths), Lower(token.substr(0, 3))) !=
                       std::end(kMonths)) {
            haveMonth = true;
            month = static_cast<int>(std::find(std::begin(kMonths), std::end(kMonths),
                                               Lower(token.substr(0, 3))) -
                                     std::begin(kMonths)) +
                    1;
        } else if (!haveYear && LeadingNumber(token, 0, 2, 4, &value) != 0) {
            haveYear = true;
            year = value;
        }
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear) return std::nullopt;
    if (year >= 70 && year <= 99) year += 1900;
    if (year >= 0 && year <= 69) year += 2000;
    if (year < 1601 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    const int64_t seconds =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
        hour * 3600 + minute * 60 + second;
    return TimePoint(std::chrono::seconds(seconds));
}

bool Cookie::DomainMatches(const std::string& host, const std::string& domain) {
    const std::string h = Lower(host);
    const std::string d = Lower(domain);
    if (h == d) return true;
    return !d.empty() && h.size() > d.size() && !IsIPAddress(h) &&
           h.compare(h.size() - d.size(), d.size(), d) == 0 && h[h.size() - d.size() - 1] == '.';
}

bool Cookie::PathMatches(const std::string& requestPath, const std::string& cookiePath) {
    const std::string path = requestPath.empty() ? std::string("/") : requestPath;
    if (path == cookiePath) return true;
    if (path.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return cookiePath.back() == '/' || path[cookiePath.size()] == '/';
}

std::optional<Cookie> Cookie::FromSetCookie(const std::string& setCookie, const URL& url,
                                            TimePoint now) {
    const std::string host = Lower(url.Host());
    if (host.empty()) return std::nullopt;
    const size_t pairEnd = setCookie.find(';');
    const std::string pair = setCookie.substr(0, pairEnd);
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) return std::nullopt;
    Cookie cookie;
    cookie.name_ = Trim(pair.substr(0, equals));
    cookie.value_ = Trim(pair.substr(equals + 1));
    if (cookie.name_.empty() || HasControl(cookie.name_) || HasControl(cookie.value_) ||
        cookie.name_.size() + cookie.value_.size() > kMaxNameValueBytes) {
        return std::nullopt;
    }
    std::optional<TimePoint> expires;
    std::optional<TimePoint> maxAgeExpiry;
    std::string domain;
    std::string path;
    size_t at = pairEnd;
    while (at != std::string::npos) {
        const size_t next = setCookie.find(';', at + 1);
        const std::string attribute =
            setCookie.substr(at + 1, next == std::string::npos ? next : next - at - 1);
        at = next;
        const size_t eq = attribute.find('=');
        const std::string name = Lower(Trim(attribute.substr(0, eq)));
        const std::string value =
            eq == std::string::npos ? std::string() : Trim(attribute.substr(eq + 1));
        if (name == "expires") {
            if (std::optional<TimePoint> date = ParseDate(value)) expires = date;
        } else if (name == "max-age") {
            const bool negative = !value.empty() && value[0] == '-';
            const std::string digits = negative ? value.substr(1) : value;
            if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) continue;
            // Capped well past any sensible lifetime so the sum cannot overflow. The cap applies
            // to the value, not the digit count: zeros in front change nothing.
            constexpr int64_t kLongestAge = 9999999999;
            int64_t seconds = 0;
            for (char digit : digits) {
                seconds = std::min<int64_t>(seconds * 10 + (digit - '0'), kLongestAge);
            }
            if (negative || seconds == 0) {
                maxAgeExpiry = TimePoint(std::chrono::seconds(0));
            } else {
                maxAgeExpiry = now + std::chrono::seconds(seconds);
            }
        } else if (name == "domain") {
            if (value.empty()) continue;
            domain = Lower(value[0] == '.' ? value.substr(1) : value);
        } else if (name == "path") {
            path = value.empty() || value[0] != '/' ? std::string() : value;
        } else if (name == "secure") {
            cookie.secure_ = true;
        } else if (name == "httponly") {
            cookie.httpOnly_ = true;
        }
    }
    cookie.expires_ = maxAgeExpiry ? maxAgeExpiry : expires;
    if (!domain.empty()) {
        if (!DomainMatches(host, domain)) return std::nullopt;
        // Without a list of public suffixes, at least refuse a bare top-level label ("com").
        if (domain != host && domain.find('.') == std::string::npos) return std::nullopt;
        cookie.domain_ = domain;
        cookie.hostOnly_ = false;
    } else {
        cookie.domain_ = host;
        cookie.hostOnly_ = true;
    }
    cookie.path_ = path.empty() ? DefaultPath(url.PercentEncodedPath()) : path;
    return cookie;
}

std::string Cookie::RequestHeaderValue(const std::vector<Cookie>& cookies) {
    std::string header;
    for (const Cookie& cookie : cookies) {
        if (!header.empty()) header += "; ";
        header += cookie.name_ + "=" + cookie.value_;
    }
    return header;
}

bool Cookie::MatchesURL(const URL& url, TimePoint now) const {
    if (IsExpired(now)) return false;
    const std::string host = Lower(url.Host());
    if (hostOnly_ ? host != domain_ : !DomainMatches(host, domain_)) return false;
    if (!PathMatches(url.PercentEncodedPath(), path_)) return false;
    return !secure_ || Lower(url.Scheme()) == "https";
}

bool Cookie::SameIdentity(const Cookie& other) const {
    return name_ == other.name_ && domain_ == other.domain_ && path_ == other.path_;
}

}  // namespace ns
