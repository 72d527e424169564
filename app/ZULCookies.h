#ifndef APP_ZULCOOKIES_H
#define APP_ZULCOOKIES_H
// The application's two questions to the shared cookie storage: forget everything, and whether
// the portal's sign-in cookies are there.

#include "app/PortalOrigin.h"

namespace ZULCookies {

// The sign-in cookies: names compared exactly.
constexpr const char* kCompanyIdCookie = "COMPANY_ID";
constexpr const char* kIdCookie = "ID";

// Deletes every cookie of ns::CookieStorage::Shared().
void deleteAllCookies();
// True when the shared storage holds at least one "COMPANY_ID" and at least one "ID" cookie
// that the portal is sent (PortalOrigin::Owns): another site's of the same names count not.
bool hasUserSignedInCookies(const PortalOrigin& portal);

}  // namespace ZULCookies

#endif  // APP_ZULCOOKIES_H
