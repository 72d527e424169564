#include "platform/ui/WebViewBackend.h"

namespace ui {

ns::CookieStorage& WebViewEnvironment::Cookies() const {
    return cookies ? *cookies : ns::CookieStorage::Shared();
}

std::string WebViewEnvironment::UserAgent() const {
    return (defaults ? *defaults : ns::UserDefaults::Standard()).StringForKey(kUserAgentKey);
}

}  // namespace ui
