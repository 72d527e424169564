#ifndef APP_ZULAPPDELEGATE_H
#define APP_ZULAPPDELEGATE_H
// The application's delegate: starts the application, holds the service configuration read
// from the bundle's "ZULPropertyListRelease.plist", counts network activity for the status
// bar's indicator and puts either the sign-in screen or the portal screen at the window's root.
// Each screen it makes gets the delegate as its ZULScreenHost (held weakly): the screens reach
// the application only through that.
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

#include "app/ZULScreenHost.h"
#include "platform/Value.h"
#include "platform/ui/ApplicationDelegate.h"

namespace ns {
class Bundle;
}

namespace ui {
class Window;
}

class ZULAppDelegate : public ui::ApplicationDelegate,
                       public ZULScreenHost,
                       public std::enable_shared_from_this<ZULAppDelegate> {
public:
    // The text the "UserAgent" default (ui::WebViewEnvironment::kUserAgentKey, where the web
    // views and requests read it) holds until one is stored.
    static constexpr const char* kDefaultUserAgent = "zul-pellun-native-ios";
    static constexpr const char* kConfigurationName = "ZULPropertyListRelease";

    // Reads the configuration from ns::Bundle::Main(). Make it with std::make_shared: the
    // screens hold it weakly.
    ZULAppDelegate();
    // zulAddress: when not empty it stands in for the configuration's "ZUL Address" (the
    // program's --portal); bundle: where the configuration is read (null: ns::Bundle::Main()).
    explicit ZULAppDelegate(std::string zulAddress, const ns::Bundle* bundle = nullptr);
    ~ZULAppDelegate() override;

    // The delegate of ui::Application::Shared(); null when it has none or another kind. For
    // what drives the running application from outside (the scripted demo, benchmarks): the
    // application's own classes are handed what they need instead.
    static ZULAppDelegate* Current();

    // --- life cycle
    bool DidFinishLaunching(const ns::Value& options) override;
    void DidBecomeActive() override;
    bool HandleOpenURL(const std::string& url) override;

    // --- configuration
    std::string zulAddress() const { return zulAddress_; }
    std::string zulLoginURL() const override;
    std::string zulHomeURL() const override;
    std::string zulMoviesURL() const override;
    std::string zulSeriesURL() const override;
    std::string zulMyZULURL() const override;
    std::string zulBaseURL() const override;
    std::string zulSearchURL() const override;
    std::string zulMovieScheme() const override;
    std::string zulUser() const override;
    std::string zulPassword() const override;

    // --- network-activity indicator
    void startNetworkActivity() override;
    // Never takes the count below 0: extra stops leave it at 0 with the indicator hidden.
    void stopNetworkActivity() override;
    int networkActivityCounter() const { return networkActivityCounter_; }

    // --- screens: each call builds a new controller and replaces the window's root
    // The sign-in screen ("LoginViewController~iPad" on a tablet, "~iPhone" otherwise) inside
    // a navigation controller.
    void showLoginViewController() override;
    // The portal screen ("MainViewController2").
    void showWebViewController() override;

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
