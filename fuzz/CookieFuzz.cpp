// Feeds arbitrary text, one line at a time, to the Set-Cookie reader and a cookie jar with a
// clock of its own. A line is a Set-Cookie value, stored for each of a few fixed URLs and the
// current one, unless it starts with:
//   "@"        the rest is the current URL (kept only when it parses and names a host);
//   "!"        the next byte picks the accept policy (its value modulo 3);
//   "+"        the clock moves on by the decimal number that follows (at most a year);
//   "*"        a decimal count, one byte, then a Set-Cookie value stored for that many hosts
//              "h<i>.burst.test", so that the jar's bounds are reached. Filling the whole jar
//              is slow (each store looks through every stored cookie), so only an input that is
//              one burst line and nothing else may go past the jar's cap; in any other input
//              the bursts together touch at most a few domains' worth of hosts.
// After each line the jar must keep its bounds and its rules: no expired cookie, no two of the
// same name, domain and path, no more than the documented caps, and a Cookie header that names
// only cookies the URL may carry, one "name=value" per cookie, with no line break in it.

#include <time.h>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace {

using TimePoint = ns::Cookie::TimePoint;

// 1601-01-01T00:00:00Z and 9999-12-31T23:59:59Z, the range a cookie date may name.
constexpr int64_t kFirstDate = -11644473600;
constexpr int64_t kLastDate = 253402300799;
// Max-Age is capped at this many seconds.
constexpr int64_t kLongestMaxAge = 9999999999;
// Hosts the bursts of one input may touch: past the jar's cap for a lone burst line, else
// enough to fill a few domains.
constexpr size_t kLoneBurstBudget = ns::CookieStorage::kMaxCookies + 100;
constexpr size_t kBurstBudget = 4 * ns::CookieStorage::kMaxCookiesPerDomain;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int64_t Seconds(TimePoint t) { return t.time_since_epoch().count(); }

// A Cookie header field value: "name=value" for each cookie, joined with "; ".
std::vector<std::string> SplitHeader(const std::string& header) {
    std::vector<std::string> pairs;
    if (header.empty()) return pairs;
    size_t start = 0;
    for (;;) {
        const size_t end = header.find("; ", start);
        pairs.push_back(header.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return pairs;
}

// What a cookie read from a Set-Cookie line for `url` at `now` must look like.
void CheckReadCookie(const ns::Cookie& cookie, const ns::URL& url, TimePoint now) {
    const std::string host = Lower(url.Host());
    if (cookie.Name().empty() ||
        cookie.Name().size() + cookie.Value().size() > ns::Cookie::kMaxNameValueBytes) {
        __builtin_trap();
    }
    // The header field joins pairs with "; " and splits a pair at its first '='.
    if (cookie.Name().find_first_of("=;") != std::string::npos ||
        cookie.Value().find(';') != std::string::npos) {
        __builtin_trap();
    }
    for (const std::string* part : {&cookie.Name(), &cookie.Value()}) {
        for (char c : *part) {
            const unsigned char b = static_cast<unsigned char>(c);
            if ((b < 0x20 && b != '\t') || b == 0x7F) __builtin_trap();
        }
    }
    // The host may set cookies for itself or for a domain it lies under.
    const std::string& domain = cookie.DomainName();
    if (domain.empty() || domain != Lower(domain)) __builtin_trap();
    if (cookie.IsHostOnly() ? domain != host : !(host == domain || EndsWith(host, "." + domain))) {
        __builtin_trap();
    }
    if (cookie.Path().empty() || cookie.Path()[0] != '/') __builtin_trap();
    if (const std::optional<TimePoint>& expires = cookie.ExpiresDate()) {
        const int64_t s = Seconds(*expires);
        const bool fromMaxAge = s == 0 || (s > Seconds(now) && s <= Seconds(now) + kLongestMaxAge);
        if (!fromMaxAge && (s < kFirstDate || s > kLastDate)) __builtin_trap();
    }
}

std::string TrimBlanks(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The attributes after the first ';' decide the expiry, the flags and the path: each is
// read here on its own and compared with what the reader made of the line.
void CheckAttributes(const std::string& line, const ns::Cookie& cookie, const ns::URL& url,
                     TimePoint now) {
    std::optional<int64_t> maxAge;  // the expiry in seconds since 1970
    std::optional<TimePoint> expires;
    bool secure = false;
    bool httpOnly = false;
    std::optional<std::string> path;
    size_t start = line.find(';');
    while (start != std::string::npos) {
        const size_t end = line.find(';', start + 1);
        const std::string attribute =
            line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        start = end;
        const size_t eq = attribute.find('=');
        const std::string name = Lower(TrimBlanks(attribute.substr(0, eq)));
        const std::string value =
            eq == std::string::npos ? std::string() : TrimBlanks(attribute.substr(eq + 1));
        if (name == "max-age") {
            // An optional '-' and at least one digit; anything else is ignored. The number of
            // seconds is capped, leading zeros and all; zero or less expires the cookie at once.
            const bool negative = !value.empty() && value[0] == '-';
            const size_t first = negative ? 1 : 0;
            if (value.size() == first ||
                value.find_first_not_of("0123456789", first) != std::string::npos) {
                continue;
            }
            int64_t seconds = 0;
            for (size_t i = first; i < value.size(); ++i) {
                seconds = std::min<int64_t>(seconds * 10 + (value[i] - '0'), kLongestMaxAge);
            }
            maxAge = negative || seconds == 0 ? 0 : Seconds(now) + seconds;
        } else if (name == "expires") {
            if (std::optional<TimePoint> date = ns::Cookie::ParseDate(value)) expires = date;
        } else if (name == "secure") {
            secure = true;
        } else if (name == "httponly") {
            httpOnly = true;
        } else if (name == "path") {
            path = value;
        }
    }
    const std::optional<TimePoint>& expiry = cookie.ExpiresDate();
    if (maxAge) {
        if (!expiry || Seconds(*expiry) != *maxAge) __builtin_trap();
    } else if (expiry != expires) {
        __builtin_trap();
    }
    if (cookie.IsSecure() != secure || cookie.IsHTTPOnly() != httpOnly) __builtin_trap();
    // Without a usable Path attribute the cookie belongs to the request path's directory.
    std::string expectedPath;
    if (path && !path->empty() && (*path)[0] == '/') {
        expectedPath = *path;
    } else {
        const std::string& requestPath = url.PercentEncodedPath();
        const size_t slash = requestPath.rfind('/');
        expectedPath = requestPath.empty() || requestPath[0] != '/' || slash == 0
                           ? "/"
                           : requestPath.substr(0, slash);
    }
    if (cookie.Path() != expectedPath) __builtin_trap();
}

// A date written exactly as "Sun, 06 Nov 1994 08:49:37 GMT" is checked against the C
// library's reading of the same text.
void CheckDate(const std::string& text) {
    const std::optional<TimePoint> date = ns::Cookie::ParseDate(text);
    if (date && (Seconds(*date) < kFirstDate || Seconds(*date) > kLastDate)) __builtin_trap();
    if (text.size() != 29 || text.compare(3, 2, ", ") != 0 || text.compare(25, 4, " GMT") != 0) {
        return;
    }
    static const char kShape[] = "Aaa, 00 Aaa 0000 00:00:00 GMT";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char k = kShape[i];
        if (k == '0'               ? !(c >= '0' && c <= '9')
            : k == 'A' || k == 'a' ? !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
                                   : c != k) {
            return;
        }
    }
    // The day of the week says nothing a reader needs (ours skips it), so the C library is
    // given the date without it.
    struct tm fields = {};
    const char* end = strptime(text.c_str() + 5, "%d %b %Y %H:%M:%S GMT", &fields);
    if (end == nullptr || *end != '\0') {
        // The C library knows every month name; ours must refuse what it refuses.
        if (date) __builtin_trap();
        return;
    }
    const struct tm asRead = fields;
    const time_t seconds = timegm(&fields);
    // timegm() folds 31 February into March; such a date does not exist.
    const bool exists = fields.tm_mday == asRead.tm_mday && fields.tm_mon == asRead.tm_mon &&
                        fields.tm_hour == asRead.tm_hour && fields.tm_min == asRead.tm_min &&
                        fields.tm_sec == asRead.tm_sec && asRead.tm_year + 1900 >= 1601;
    if (exists != date.has_value()) __builtin_trap();
    if (date && Seconds(*date) != static_cast<int64_t>(seconds)) __builtin_trap();
}

class Jar {
public:
    Jar() : storage_([this] { return now_; }) {}

    ns::CookieStorage& Storage() { return storage_; }
    TimePoint Now() const { return now_; }
    void Advance(int64_t seconds) { now_ += std::chrono::seconds(seconds); }

    void Store(const std::string& setCookie, const ns::URL& url) {
        ns::HTTPHeaderFields headers;
        headers.Append("Set-Cookie", setCookie);
        storage_.SetCookiesFromResponse(headers, url, ns::URL());
    }

    // The jar's bounds and rules, and the header each URL gets.
    void Check(const std::vector<ns::URL>& urls) {
        const std::vector<ns::Cookie> all = storage_.Cookies();
        if (all.size() > ns::CookieStorage::kMaxCookies) __builtin_trap();
        std::map<std::string, size_t> perDomain;
        std::set<std::tuple<std::string, std::string, std::string>> identities;
        for (const ns::Cookie& cookie : all) {
            if (cookie.IsExpired(now_)) __builtin_trap();
            if (++perDomain[cookie.DomainName()] > ns::CookieStorage::kMaxCookiesPerDomain) {
                __builtin_trap();
            }
            if (!identities.emplace(cookie.Name(), cookie.DomainName(), cookie.Path()).second) {
                __builtin_trap();
            }
        }
        for (const ns::URL& url : urls) {
            const std::vector<ns::Cookie> sent = storage_.CookiesForURL(url);
            const std::string host = Lower(url.Host());
            const std::string path =
                url.PercentEncodedPath().empty() ? "/" : url.PercentEncodedPath();
            for (const ns::Cookie& cookie : sent) {
                if (!identities.count({cookie.Name(), cookie.DomainName(), cookie.Path()})) {
                    __builtin_trap();
                }
                const std::string& domain = cookie.DomainName();
                if (cookie.IsHostOnly() ? host != domain
                                        : !(host == domain || EndsWith(host, "." + domain))) {
                    __builtin_trap();
                }
                if (path.compare(0, cookie.Path().size(), cookie.Path()) != 0) __builtin_trap();
                if (cookie.IsSecure() && Lower(url.Scheme()) != "https") __builtin_trap();
            }
            const std::string header = ns::Cookie::RequestHeaderValue(sent);
            if (header.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
                __builtin_trap();
            }
            const std::vector<std::string> pairs = SplitHeader(header);
            if (pairs.size() != sent.size()) __builtin_trap();
            for (size_t i = 0; i < pairs.size(); ++i) {
                if (pairs[i] != sent[i].Name() + "=" + sent[i].Value()) __builtin_trap();
            }
        }
    }

private:
    TimePoint now_{std::chrono::seconds(1577836800)};  // 2020-01-01T00:00:00Z
    ns::CookieStorage storage_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kFixed[] = {
        "http://www.example.com/",      "https://a.b.example.com/dir/page?x=1",
        "http://192.168.0.1:8080/p/q/", "http://[::1]/",
        "http://EXAMPLE.com/Dir",
    };
    std::vector<ns::URL> urls;
    for (const char* text : kFixed) urls.push_back(*ns::URL::Parse(text));
    const size_t fixedCount = urls.size();

    Jar jar;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const bool loneLine = newline == std::string::npos || newline + 1 == input.size();
    size_t burstBudget = loneLine ? kLoneBurstBudget : kBurstBudget;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string line = input.substr(start, end - start);
        start = end + 1;

        if (!line.empty() && line[0] == '@') {
            const std::optional<ns::URL> url = ns::URL::Parse(line.substr(1));
            if (url && !url->Host().empty()) {
                urls.resize(fixedCount);
                urls.push_back(*url);
            }
        } else if (!line.empty() && line[0] == '!') {
            const unsigned char pick = line.size() > 1 ? static_cast<unsigned char>(line[1]) : 0;
            jar.Storage().SetAcceptPolicy(static_cast<ns::CookieStorage::AcceptPolicy>(pick % 3));
        } else if (!line.empty() && line[0] == '+') {
            int64_t seconds = 0;
            for (size_t i = 1; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
                seconds = std::min<int64_t>(seconds * 10 + (line[i] - '0'), 366 * 86400);
            }
            jar.Advance(seconds);
        } else if (!line.empty() && line[0] == '*') {
            size_t i = 1;
            size_t count = 0;
            for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
                count = std::min<size_t>(count * 10 + (line[i] - '0'), burstBudget);
            }
            const std::string setCookie = i < line.size() ? line.substr(i + 1) : std::string();
            burstBudget -= count;
            for (size_t h = 0; h < count; ++h) {
                const ns::URL host =
                    *ns::URL::Parse("http://h" + std::to_string(h) + ".burst.test/");
                jar.Store(setCookie, host);
            }
        } else {
            CheckDate(line);
            for (const ns::URL& url : urls) {
                if (std::optional<ns::Cookie> cookie =
                        ns::Cookie::FromSetCookie(line, url, jar.Now())) {
                    CheckReadCookie(*cookie, url, jar.Now());
                    CheckAttributes(line, *cookie, url, jar.Now());
                }
                jar.Store(line, url);
            }
        }
        jar.Check(urls);
    }
    return 0;
}
