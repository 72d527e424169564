#ifndef PLATFORM_NET_ERROR_H
#define PLATFORM_NET_ERROR_H
// An error as the platform reports it: a domain string, a numeric code and a readable
// description, with the URL that failed where there is one. URL loading uses the platform's
// URL error domain and its negative codes; the application compares codes (a cancelled page
// load, -999, is not shown to the user).

#include <string>

namespace ns {

class Error {
public:
    static constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

    enum Code {
        kCancelled = -999,
        kBadURL = -1000,
        kTimedOut = -1001,
        kUnsupportedURL = -1002,
        kCannotFindHost = -1003,
        kCannotConnectToHost = -1004,
        kNetworkConnectionLost = -1005,
        kHTTPTooManyRedirects = -1007,
        kBadServerResponse = -1011,
        kUserCancelledAuthentication = -1012,
        // A resource larger than the client holds in memory (the headless web view's page bound).
        kDataLengthExceedsMaximum = -1103,
    };

    Error() = default;
    Error(std::string domain, long code, std::string description, std::string failingURL = {});
    // An error of the URL domain with the standard description of its code.
    static Error URLError(long code, const std::string& failingURL = {});

    const std::string& Domain() const { return domain_; }
    long GetCode() const { return code_; }
    const std::string& LocalizedDescription() const { return description_; }
    const std::string& FailingURL() const { return failingURL_; }
    // "Error Domain=<domain> Code=<code> \"<description>\"", for log lines.
    std::string ToString() const;

private:
    std::string domain_;
    long code_ = 0;
    std::string description_;
    std::string failingURL_;
};

}  // namespace ns

#endif
