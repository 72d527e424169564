#ifndef APP_ZULCOOKIES_H
#define APP_ZULCOOKIES_H
// The application's two questions to the shared cookie storage: forget everything, and whether
// the portal's sign-in cookies are there.

namespace ZULCookies {

// The sign-in cookies: names compared exactly, in any domain.
constexpr const char* kCompanyIdCookie = "COMPANY_ID";
constexpr const char* kIdCookie = "ID";

// Deletes every cookie of ns::CookieStorage::Shared().
void deleteAllCookies();
// True when the shared storage holds at least one "COMPANY_ID" and at least one "ID" cookie.
bool hasUserSignedInCookies();

}  // namespace ZULCookies

#endif  // APP_ZULCOOKIES_H
