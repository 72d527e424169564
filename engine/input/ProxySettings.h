#ifndef ENGINE_INPUT_PROXYSETTINGS_H
#define ENGINE_INPUT_PROXYSETTINGS_H

#include <string>

namespace SarvelonMediaKit {

// The proxy configuration of the process environment, copied once so every request of a
// download thread uses the same settings: "http_proxy" (lower case only, as a CGI environment
// can set HTTP_PROXY from a request header), "https_proxy"/"HTTPS_PROXY",
// "all_proxy"/"ALL_PROXY" and "no_proxy"/"NO_PROXY".
class ProxySettings {
public:
    ProxySettings() {}
    ProxySettings(const std::string& httpProxy, const std::string& httpsProxy,
                  const std::string& allProxy, const std::string& noProxy)
        : httpProxy_(httpProxy), httpsProxy_(httpsProxy), allProxy_(allProxy), noProxy_(noProxy) {}

    static ProxySettings FromEnvironment();

    // The proxy for a URL by its scheme ("all_proxy" when the scheme has none); empty for a
    // direct connection.
    std::string ProxyFor(const std::string& url) const;
    // Hosts reached directly (comma-separated), empty when none.
    const std::string& NoProxy() const { return noProxy_; }

private:
    std::string httpProxy_;
    std::string httpsProxy_;
    std::string allProxy_;
    std::string noProxy_;
};

}  // namespace SarvelonMediaKit

#endif
