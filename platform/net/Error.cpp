#include "platform/net/Error.h"

#include <utility>

namespace ns {

namespace {

const char* DescriptionOf(long code) {
    switch (code) {
        case Error::kCancelled: return "cancelled";
        case Error::kBadURL: return "bad URL";
        case Error::kTimedOut: return "The request timed out.";
        case Error::kUnsupportedURL: return "unsupported URL";
        case Error::kCannotFindHost:
            return "A server with the specified hostname could not be found.";
        case Error::kCannotConnectToHost: return "Could not connect to the server.";
        case Error::kNetworkConnectionLost: return "The network connection was lost.";
        case Error::kHTTPTooManyRedirects: return "too many HTTP redirects";
        case Error::kBadServerResponse: return "bad server response";
        case Error::kUserCancelledAuthentication: return "cancelled authentication";
        case Error::kDataLengthExceedsMaximum: return "resource exceeds maximum size";
        default: return "unknown error";
    }
}

}  // namespace

Error::Error(std::string domain, long code, std::string description, std::string failingURL)
    : domain_(std::move(domain)),
      code_(code),
      description_(std::move(description)),
      failingURL_(std::move(failingURL)) {}

Error Error::URLError(long code, const std::string& failingURL) {
    return Error(kURLErrorDomain, code, DescriptionOf(code), failingURL);
}

std::string Error::ToString() const {
    return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" + description_ +
           "\"";
}

}  // namespace ns
