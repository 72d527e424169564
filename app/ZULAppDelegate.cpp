#include "app/ZULAppDelegate.h"

#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/ZULCookies.h"
#include "app/ZULImageDownload.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/Bundle.h"
#include "platform/store/PropertyList.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebViewBackend.h"
#include "platform/ui/Window.h"

ZULAppDelegate::ZULAppDelegate() : ZULAppDelegate(std::string()) {}

ZULAppDelegate::ZULAppDelegate(std::string zulAddress, const ns::Bundle* bundle)
    : bundle_(bundle), addressOverride_(std::move(zulAddress)) {
    MainViewController2::RegisterInterface();
}

ZULAppDelegate::~ZULAppDelegate() = default;

ZULAppDelegate* ZULAppDelegate::Current() {
    return dynamic_cast<ZULAppDelegate*>(ui::Application::Shared().Delegate().get());
}

bool ZULAppDelegate::DidFinishLaunching(const ns::Value& /*options*/) {
    ui::Application& application = ui::Application::Shared();
    application.SetStatusBarHidden(false);
    application.SetStatusBarStyle(ui::StatusBarStyle::BlackOpaque);

    const ns::Bundle& bundle = bundle_ ? *bundle_ : ns::Bundle::Main();
    const std::string path = bundle.PathForResource(kConfigurationName, "plist");
    ns::Value configuration;
    std::string error;
    if (path.empty()) {
        ns::Log("[DEL] %@.plist is not in the bundle %@", kConfigurationName, bundle.Path());
    } else if (!ns::PropertyList::ReadFile(path, configuration, error)) {
        ns::Log("[DEL] cannot read %@: %@", path, error);
    }
    // Anything but a dictionary leaves the configuration empty: every accessor is then nil.
    zulAPIDictionary_ = configuration.IsDictionary() ? configuration : ns::Value(ns::Dictionary());
    zulAddress_ = addressOverride_.empty() ? Text("ZUL Address") : addressOverride_;

    // Every start begins signed out.
    ns::CookieStorage::Shared().SetAcceptPolicy(ns::CookieStorage::AcceptPolicy::Always);
    ZULCookies::deleteAllCookies();

    ZULImageDownload::resetCache();

    ns::Dictionary defaults;
    defaults.Set(ui::WebViewEnvironment::kUserAgentKey, kDefaultUserAgent);
    ns::UserDefaults::Standard().RegisterDefaults(defaults);
    ns::UserDefaults::Standard().Synchronize();

    window_ = std::make_shared<ui::Window>(ui::Screen::Main().Bounds());
    window_->SetBackgroundColor(ui::Color::Black());
    showLoginViewController();
    window_->MakeKeyAndVisible();
    return true;
}

void ZULAppDelegate::DidBecomeActive() {
    ns::CookieStorage::Shared().SetAcceptPolicy(ns::CookieStorage::AcceptPolicy::Always);
}

bool ZULAppDelegate::HandleOpenURL(const std::string& url) {
    ns::Log("[DEL] application handleOpenURL:%@", url);
    return true;
}

std::string ZULAppDelegate::Text(const char* key) const {
    const std::string* text = zulAPIDictionary_[key].AsString();
    return text ? *text : std::string();
}

std::string ZULAppDelegate::Url(const char* key) const {
    const std::string format = Text(key);
    return format.empty() ? std::string() : ns::Format(format, zulAddress_);
}

std::string ZULAppDelegate::zulLoginURL() const { return Url("ZUL Login URL"); }
std::string ZULAppDelegate::zulHomeURL() const { return Url("ZUL Home URL"); }
std::string ZULAppDelegate::zulMoviesURL() const { return Url("ZUL Movies URL"); }
std::string ZULAppDelegate::zulSeriesURL() const { return Url("ZUL Series URL"); }
std::string ZULAppDelegate::zulMyZULURL() const { return Url("ZUL MyZUL URL"); }
std::string ZULAppDelegate::zulBaseURL() const { return Url("ZUL Base URL"); }

std::string ZULAppDelegate::zulSearchURL() const {
    const std::string format = Text("ZUL Search URL");
    // "%%@" goes in as an argument, so a value with a second "%@" gets it back unchanged.
    return format.empty() ? std::string() : ns::Format(format, zulAddress_, "%%@");
}

std::string ZULAppDelegate::zulMovieScheme() const { return Text("ZUL Movie Scheme"); }
std::string ZULAppDelegate::zulUser() const { return Text("ZUL User"); }
std::string ZULAppDelegate::zulPassword() const { return Text("ZUL Password"); }

void ZULAppDelegate::startNetworkActivity() {
    ++networkActivityCounter_;
    ui::Application::Shared().SetNetworkActivityIndicatorVisible(true);
}

void ZULAppDelegate::stopNetworkActivity() {
    --networkActivityCounter_;
    if (networkActivityCounter_ < 1) {
        networkActivityCounter_ = 0;
        ui::Application::Shared().SetNetworkActivityIndicatorVisible(false);
    }
}

void ZULAppDelegate::showLoginViewController() {
    if (!window_) {
        ns::Log("[DEL] showLoginViewController: there is no window yet");
        return;
    }
    const char* interfaceFile =
        ui::UiDevice::Current().IsPad() ? "LoginViewController~iPad" : "LoginViewController~iPhone";
    auto login = std::make_shared<LoginViewController>(interfaceFile, weak_from_this());
    window_->SetRootViewController(std::make_shared<ui::NavigationController>(login));
}

void ZULAppDelegate::showWebViewController() {
    if (!window_) {
        ns::Log("[DEL] showWebViewController: there is no window yet");
        return;
    }
    window_->SetRootViewController(std::make_shared<MainViewController2>(
        MainViewController2::kInterfaceName, weak_from_this()));
}
