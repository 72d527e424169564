#include "platform/net/URLRequest.h"

#include <cmath>
#include <utility>

namespace ns {

URLRequest::URLRequest(URL url, CachePolicy cachePolicy, double timeoutSeconds)
    : url_(std::move(url)), cachePolicy_(cachePolicy) {
    SetTimeoutInterval(timeoutSeconds);
}

void URLRequest::SetValue(const std::string& value, const std::string& field) {
    if (value.empty()) {
        headers_.Remove(field);
    } else {
        headers_.Set(field, value);
    }
}

void URLRequest::AddValue(const std::string& value, const std::string& field) {
    headers_.AddValue(field, value);
}

std::string URLRequest::ValueForHTTPHeaderField(const std::string& field) const {
    return headers_.Value(field);
}

void URLRequest::SetTimeoutInterval(double seconds) {
    timeoutSeconds_ = std::isfinite(seconds) && seconds > 0 ? seconds : kDefaultTimeoutSeconds;
}

}  // namespace ns
