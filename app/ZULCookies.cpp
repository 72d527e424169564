#include "app/ZULCookies.h"

#include <string>
#include <vector>

#include "platform/net/CookieStorage.h"

namespace ZULCookies {

void deleteAllCookies() { ns::CookieStorage::Shared().DeleteAllCookies(); }

bool hasUserSignedInCookies(const PortalOrigin& portal) {
    bool companyId = false;
    bool id = false;
    for (const ns::Cookie& cookie : ns::CookieStorage::Shared().Cookies()) {
        if (!portal.Owns(cookie)) continue;
        companyId = companyId || cookie.Name() == kCompanyIdCookie;
        id = id || cookie.Name() == kIdCookie;
    }
    return companyId && id;
}

}  // namespace ZULCookies
