#ifndef PLATFORM_NET_URL_RESPONSE_H
#define PLATFORM_NET_URL_RESPONSE_H
// The head of a response: the URL it answers, the HTTP status code (0 for a response that is
// not HTTP), the header fields in the order received (names looked up without case), the
// length the server announced and the MIME type.

#include <cstdint>
#include <string>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

class URLResponse {
public:
    URLResponse() = default;
    URLResponse(URL url, int statusCode, HTTPHeaderFields headers);

    const URL& GetURL() const { return url_; }
    int StatusCode() const { return statusCode_; }
    bool IsHTTP() const { return statusCode_ != 0; }
    const HTTPHeaderFields& AllHeaderFields() const { return headers_; }
    std::string ValueForHTTPHeaderField(const std::string& field) const {
        return headers_.Value(field);
    }
    // From Content-Length; -1 when absent or not a plain decimal number.
    int64_t ExpectedContentLength() const;
    // The type part of Content-Type in lower case ("text/html"); "" when absent.
    std::string MIMEType() const;

private:
    URL url_;
    int statusCode_ = 0;
    HTTPHeaderFields headers_;
};

}  // namespace ns

#endif
