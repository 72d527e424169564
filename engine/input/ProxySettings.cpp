#include "engine/input/ProxySettings.h"

#include <cstdlib>

#include "SVLibrary/Path/Url.h"

namespace SarvelonMediaKit {

namespace {

std::string Variable(const char* lower, const char* upper) {
    const char* value = std::getenv(lower);
    if ((value == nullptr || *value == '\0') && upper != nullptr) value = std::getenv(upper);
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

ProxySettings ProxySettings::FromEnvironment() {
    return ProxySettings(Variable("http_proxy", nullptr), Variable("https_proxy", "HTTPS_PROXY"),
                         Variable("all_proxy", "ALL_PROXY"), Variable("no_proxy", "NO_PROXY"));
}

std::string ProxySettings::ProxyFor(const std::string& url) const {
    const std::string scheme = SV::GetUrlScheme(url);
    if (scheme == "http" && !httpProxy_.empty()) return httpProxy_;
    if (scheme == "https" && !httpsProxy_.empty()) return httpsProxy_;
    return allProxy_;
}

}  // namespace SarvelonMediaKit
