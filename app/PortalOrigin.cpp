#include "app/PortalOrigin.h"

#include <optional>

#include "platform/net/HeaderText.h"

PortalOrigin::PortalOrigin(const std::string& portalURL) {
    const std::optional<ns::URL> url = ns::URL::Parse(portalURL);
    if (!url || !url->IsHTTP() || url->Host().empty()) return;
    scheme_ = ns::Lower(url->Scheme());
    host_ = ns::Lower(url->Host());
    port_ = url->PortOrDefault();
}

bool PortalOrigin::Contains(const ns::URL& url) const {
    return !scheme_.empty() && ns::Lower(url.Scheme()) == scheme_ &&
           ns::Lower(url.Host()) == host_ && url.PortOrDefault() == port_;
}

bool PortalOrigin::Owns(const ns::Cookie& cookie) const {
    if (scheme_.empty() || (cookie.IsSecure() && scheme_ != "https")) return false;
    if (cookie.IsHostOnly()) return ns::Lower(cookie.DomainName()) == host_;
    return ns::Cookie::DomainMatches(host_, cookie.DomainName());
}
