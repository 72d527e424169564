#ifndef APP_TESTING_SIGNINSCREEN_H
#define APP_TESTING_SIGNINSCREEN_H
// Header-only, for the application's tests: the sign-in screen as a window shows it.

#include <memory>

#include "app/LoginViewController.h"
#include "app/ZULAppDelegate.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace AppTestSupport {

// The sign-in screen when it is the top of the navigation at the root of the application's
// window; null once another screen has taken its place (the portal, after a sign-in).
inline std::shared_ptr<LoginViewController> SignInScreen(const ZULAppDelegate& delegate) {
    auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
        delegate.window()->RootViewController());
    return navigation
               ? std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController())
               : nullptr;
}

}  // namespace AppTestSupport

#endif  // APP_TESTING_SIGNINSCREEN_H
