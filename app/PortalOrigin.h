#ifndef APP_PORTALORIGIN_H
#define APP_PORTALORIGIN_H
// The portal's origin: the scheme, host and port of the configured portal page. The portal's
// frame shows pages of this origin only, only its sign-in page sends the person back to the
// native sign-in, and only cookies its host is sent count as the sign-in's.
//
// Schemes and hosts compare without regard to ASCII case, a port left out is the scheme's own
// (80, 443). A URL that does not parse, or is not http or https, makes an origin that holds
// nothing and owns no cookie.

#include <string>

#include "platform/net/Cookie.h"
#include "platform/net/URL.h"

class PortalOrigin {
public:
    PortalOrigin() = default;
    explicit PortalOrigin(const std::string& portalURL);

    // Whether the URL is of this origin.
    bool Contains(const ns::URL& url) const;
    // Whether a request to the portal carries the cookie: its domain is the portal's host (a
    // cookie of the host alone), or one the host is under; a secure cookie only over https.
    bool Owns(const ns::Cookie& cookie) const;

private:
    std::string scheme_;  // lower case; empty: holds nothing
    std::string host_;    // lower case
    int port_ = -1;
};

#endif  // APP_PORTALORIGIN_H
