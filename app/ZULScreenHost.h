#ifndef APP_ZULSCREENHOST_H
#define APP_ZULSCREENHOST_H
// What the sign-in and portal screens ask of the application that shows them: the service's
// configuration, the network-activity indicator and which screen is at the window's root.
// ZULAppDelegate is the one host; it hands itself (held weakly) to each screen it makes, so a
// screen never looks the application up and nothing below the screens knows the delegate.
//
// The configuration values follow the delegate's rules (ZULAppDelegate.h): a missing value is
// the empty string. Main thread only.

#include <string>

class ZULScreenHost {
public:
    virtual ~ZULScreenHost() = default;

    // --- configuration
    virtual std::string zulLoginURL() const = 0;
    virtual std::string zulHomeURL() const = 0;
    virtual std::string zulMoviesURL() const = 0;
    virtual std::string zulSeriesURL() const = 0;
    virtual std::string zulMyZULURL() const = 0;
    virtual std::string zulBaseURL() const = 0;
    // One "%@" for the search text.
    virtual std::string zulSearchURL() const = 0;
    virtual std::string zulMovieScheme() const = 0;
    // The Basic credentials of the portal's protected pages and thumbnails.
    virtual std::string zulUser() const = 0;
    virtual std::string zulPassword() const = 0;

    // --- network-activity indicator
    virtual void startNetworkActivity() = 0;
    virtual void stopNetworkActivity() = 0;

    // --- the window's root screen
    virtual void showLoginViewController() = 0;
    virtual void showWebViewController() = 0;
};

#endif  // APP_ZULSCREENHOST_H
