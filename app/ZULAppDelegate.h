#ifndef APP_ZULAPPDELEGATE_H
#define APP_ZULAPPDELEGATE_H
// The application's delegate: starts the application, holds the service configuration read
// from the bundle's "ZULPropertyListRelease.plist", counts network activity for the status
// bar's indicator and puts either the sign-in screen or the portal screen at the window's root.
//
// Configuration accessors answer a new string on every call. The URL values of the property
// list are formats whose first "%@" receives "ZUL Address"; the search URL's value writes its
// text placeholder as "%%@", so its result keeps exactly one "%@" for the search text. A value
// that is missing or not a text is nil, answered as the empty string by every accessor (the
// URL accessors too): callers test empty() where the platform tested for nil.
//
// Main thread only.

#include <memory>
#include <string>

#include "platform/Value.h"
#include "platform/ui/ApplicationDelegate.h"

namespace ns {
class Bundle;
}

namespace ui {
class Window;
}

class ZULAppDelegate : public ui::ApplicationDelegate {
public:
    // The text "UserAgent" holds until one is stored.
    static constexpr const char* kDefaultUserAgent = "zul-pellun-native-ios";
    static constexpr const char* kUserAgentKey = "UserAgent";
    static constexpr const char* kConfigurationName = "ZULPropertyListRelease";

    // Reads the configuration from ns::Bundle::Main().
    ZULAppDelegate();
    // zulAddress: when not empty it stands in for the configuration's "ZUL Address" (the
    // program's --portal); bundle: where the configuration is read (null: ns::Bundle::Main()).
    explicit ZULAppDelegate(std::string zulAddress, const ns::Bundle* bundle = nullptr);
    ~ZULAppDelegate() override;

    // The delegate of ui::Application::Shared(); null when it has none or another kind.
    static ZULAppDelegate* Current();

    // --- life cycle
    bool DidFinishLaunching(const ns::Value& options) override;
    void DidBecomeActive() override;
    bool HandleOpenURL(const std::string& url) override;

    // --- configuration
    std::string zulAddress() const { return zulAddress_; }
    std::string zulLoginURL() const;
    std::string zulHomeURL() const;
    std::string zulMoviesURL() const;
    std::string zulSeriesURL() const;
    std::string zulMyZULURL() const;
    std::string zulBaseURL() const;
    std::string zulSearchURL() const;
    std::string zulMovieScheme() const;
    std::string zulUser() const;
    std::string zulPassword() const;

    // --- network-activity indicator
    void startNetworkActivity();
    // Never takes the count below 0: extra stops leave it at 0 with the indicator hidden.
    void stopNetworkActivity();
    int networkActivityCounter() const { return networkActivityCounter_; }

    // --- screens: each call builds a new controller and replaces the window's root
    // The sign-in screen ("LoginViewController~iPad" on a tablet, "~iPhone" otherwise) inside
    // a navigation controller.
    void showLoginViewController();
    // The portal screen ("MainViewController2").
    void showWebViewController();

    const std::shared_ptr<ui::Window>& window() const { return window_; }

private:
    // The configuration's text under key; empty when missing or not a text.
    std::string Text(const char* key) const;
    // The value under key used as a format with the server address.
    std::string Url(const char* key) const;

    const ns::Bundle* bundle_;
    std::string addressOverride_;
    std::shared_ptr<ui::Window> window_;
    std::string zulAddress_;
    ns::Value zulAPIDictionary_;
    int networkActivityCounter_ = 0;
};

#endif  // APP_ZULAPPDELEGATE_H
