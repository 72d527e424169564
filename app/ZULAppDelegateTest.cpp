#include "app/ZULAppDelegate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/ZULCookies.h"
#include "app/ZULImageDownload.h"
#include "app/testing/AppTestSupport.h"
#include "platform/core/Format.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/Bundle.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/ControllerTestSupport.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/WebViewBackend.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"

namespace {

using AppTestSupport::Messages;

// The configuration keys and the accessor that answers each.
struct Accessor {
    const char* key;
    std::string (ZULAppDelegate::*get)() const;
};
const Accessor kUrlAccessors[] = {
    {"ZUL Login URL", &ZULAppDelegate::zulLoginURL},
    {"ZUL Home URL", &ZULAppDelegate::zulHomeURL},
    {"ZUL Movies URL", &ZULAppDelegate::zulMoviesURL},
    {"ZUL Series URL", &ZULAppDelegate::zulSeriesURL},
    {"ZUL MyZUL URL", &ZULAppDelegate::zulMyZULURL},
    {"ZUL Base URL", &ZULAppDelegate::zulBaseURL},
};

int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class ZULAppDelegateTest : public ui::ControllerTest {
protected:
    void SetUp() override {
        ui::ControllerTest::SetUp();
        ns::CookieStorage::Shared().DeleteAllCookies();
        ns::UserDefaults::Standard().RemoveObjectForKey(ui::WebViewEnvironment::kUserAgentKey);
    }
    void TearDown() override {
        ns::CookieStorage::Shared().DeleteAllCookies();
        ns::UserDefaults::Standard().RemoveObjectForKey(ui::WebViewEnvironment::kUserAgentKey);
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::ControllerTest::TearDown();
    }

    // A bundle of the test's own holding this configuration file text (none: no file).
    const ns::Bundle& BundleWith(const std::string* configuration) {
        if (configuration) {
            AppTestSupport::WriteFile(folder_.File("ZULPropertyListRelease.plist"), *configuration);
        }
        bundle_ = std::make_unique<ns::Bundle>(folder_.Path(), std::vector<std::string>{"en"});
        return *bundle_;
    }

    std::shared_ptr<ZULAppDelegate> Launch(std::shared_ptr<ZULAppDelegate> delegate) {
        app_->SetDelegate(delegate);
        EXPECT_TRUE(app_->FinishLaunching(ns::Value(ns::Dictionary())));
        return delegate;
    }

    SvTestSupport::TemporaryDirectory folder_{"zul-bundle-"};
    std::unique_ptr<ns::Bundle> bundle_;
};

TEST_F(ZULAppDelegateTest, LaunchForgetsStoredCookiesAndAcceptsCookiesAgain) {
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    jar.SetCookie(ns::Cookie("COMPANY_ID", "10157", "127.0.0.1"));
    jar.SetCookie(ns::Cookie("ID", "42", "127.0.0.1"));
    jar.SetCookie(ns::Cookie("other", "x", ".example.com"));
    const PortalOrigin portal("http://127.0.0.1:8080/home");
    ASSERT_TRUE(ZULCookies::hasUserSignedInCookies(portal));
    jar.SetAcceptPolicy(ns::CookieStorage::AcceptPolicy::Never);

    Launch(std::make_shared<ZULAppDelegate>());

    EXPECT_TRUE(jar.Cookies().empty());
    EXPECT_FALSE(ZULCookies::hasUserSignedInCookies(portal));
    EXPECT_EQ(ns::CookieStorage::AcceptPolicy::Always, jar.GetAcceptPolicy());

    // Becoming active puts the accept-all policy back whatever happened meanwhile.
    jar.SetAcceptPolicy(ns::CookieStorage::AcceptPolicy::Never);
    app_->BecomeActive();
    EXPECT_EQ(ns::CookieStorage::AcceptPolicy::Always, jar.GetAcceptPolicy());
}

TEST_F(ZULAppDelegateTest, UserAgentIsTheDefaultUnlessOneIsStored) {
    ns::UserDefaults& defaults = ns::UserDefaults::Standard();
    Launch(std::make_shared<ZULAppDelegate>());
    EXPECT_EQ("zul-pellun-native-ios", defaults.StringForKey("UserAgent"));

    ASSERT_TRUE(defaults.SetObject("UserAgent", ns::Value("zul-desktop/2.0")));
    ui::Application second;
    second.SetDelegate(std::make_shared<ZULAppDelegate>());
    second.FinishLaunching(ns::Value(ns::Dictionary()));
    EXPECT_EQ("zul-desktop/2.0", defaults.StringForKey("UserAgent"));
}

TEST_F(ZULAppDelegateTest, StartsWithAKeyBlackWindowShowingTheSignInScreenInANavigationController) {
    auto delegate = Launch(std::make_shared<ZULAppDelegate>());
    EXPECT_FALSE(app_->IsStatusBarHidden());
    EXPECT_EQ(ui::StatusBarStyle::BlackOpaque, app_->GetStatusBarStyle());

    const std::shared_ptr<ui::Window>& window = delegate->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window, app_->KeyWindow());
    EXPECT_FALSE(window->IsHidden());
    // The phone's portrait screen.
    EXPECT_EQ(ui::Rect(0, 0, 320, 480), window->Frame());
    ASSERT_TRUE(window->BackgroundColor());
    EXPECT_EQ(ui::Color::Black(), *window->BackgroundColor());

    auto navigation =
        std::dynamic_pointer_cast<ui::NavigationController>(window->RootViewController());
    ASSERT_TRUE(navigation);
    ASSERT_EQ(1u, navigation->ViewControllers().size());
    auto login = std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController());
    ASSERT_TRUE(login);
    EXPECT_EQ("LoginViewController~iPhone", login->InterfaceName());
    EXPECT_TRUE(login->IsAppeared());
}

TEST_F(ZULAppDelegateTest, SignInScreenFileFollowsTheIdiomAndNoIdiomCountsAsAPhone) {
    const struct {
        ui::UserInterfaceIdiom idiom;
        const char* file;
    } cases[] = {
        {ui::UserInterfaceIdiom::Pad, "LoginViewController~iPad"},
        {ui::UserInterfaceIdiom::Phone, "LoginViewController~iPhone"},
        {ui::UserInterfaceIdiom::Unspecified, "LoginViewController~iPhone"},
    };
    auto delegate = Launch(std::make_shared<ZULAppDelegate>());
    for (const auto& c : cases) {
        ui::UiDevice::Current().SetIdiom(c.idiom);
        delegate->showLoginViewController();
        auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
            delegate->window()->RootViewController());
        ASSERT_TRUE(navigation);
        EXPECT_EQ(c.file, navigation->TopViewController()->InterfaceName());
    }
}

TEST_F(ZULAppDelegateTest, RootSwitchesBetweenSignInAndPortalReleasingTheScreenItLeaves) {
    auto delegate = Launch(std::make_shared<ZULAppDelegate>());
    const std::shared_ptr<ui::Window>& window = delegate->window();
    std::weak_ptr<ui::ViewController> signIn = window->RootViewController();

    delegate->showWebViewController();
    auto portal = std::dynamic_pointer_cast<MainViewController2>(window->RootViewController());
    ASSERT_TRUE(portal);
    EXPECT_EQ("MainViewController2", portal->InterfaceName());
    EXPECT_TRUE(portal->IsAppeared());
    EXPECT_TRUE(signIn.expired());
    // The registered interface file made the portal's view; the portal asks for full-screen
    // layout, so it reaches under the status bar.
    EXPECT_EQ("view", portal->GetView()->Identifier());
    EXPECT_EQ(ui::Rect(0, 0, 320, 480), portal->GetView()->Frame());

    std::weak_ptr<ui::ViewController> leftPortal = portal;
    portal.reset();
    delegate->showLoginViewController();
    EXPECT_TRUE(leftPortal.expired());
    EXPECT_TRUE(std::dynamic_pointer_cast<ui::NavigationController>(window->RootViewController()));

    // Signing in again builds a new screen rather than showing the old one.
    std::weak_ptr<ui::ViewController> second = window->RootViewController();
    delegate->showLoginViewController();
    EXPECT_TRUE(second.expired());
}

TEST_F(ZULAppDelegateTest, NetworkIndicatorCountsActivitiesAndNeverGoesBelowZero) {
    auto delegate = Launch(std::make_shared<ZULAppDelegate>());
    ASSERT_FALSE(app_->IsNetworkActivityIndicatorVisible());
    // (call, counter after it, indicator after it), worked out by hand.
    const struct {
        bool start;
        int counter;
        bool visible;
    } steps[] = {
        {true, 1, true},   {true, 2, true},   {true, 3, true},   // three starts
        {false, 2, true},  {false, 1, true},                     // two stops: still visible
        {false, 0, false},                                       // the third stop ends it
        {false, 0, false}, {false, 0, false},                    // fourth and fifth: clamped
        {true, 1, true},   {true, 2, true},   {false, 1, true},  // a clamp kept no debt
    };
    int n = 0;
    for (const auto& step : steps) {
        if (step.start) {
            delegate->startNetworkActivity();
        } else {
            delegate->stopNetworkActivity();
        }
        EXPECT_EQ(step.counter, delegate->networkActivityCounter()) << "step " << n;
        EXPECT_EQ(step.visible, app_->IsNetworkActivityIndicatorVisible()) << "step " << n;
        ++n;
    }
}

TEST_F(ZULAppDelegateTest, AccessorsFillTheServerAddressAndSearchKeepsOnePlaceholder) {
    const std::string configuration = AppTestSupport::PlistOfTexts({
        {"ZUL Address", "10.1.2.3:8080"},
        {"ZUL Login URL", "http://%@/c/portal/login"},
        {"ZUL Home URL", "http://%@/home"},
        {"ZUL Movies URL", "http://%@/movies"},
        {"ZUL Series URL", "https://%@/series?x=%%"},
        {"ZUL MyZUL URL", "http://%@/my"},
        {"ZUL Base URL", "http://%@"},
        {"ZUL Search URL", "http://%@/api/search?q=%%@&n=20"},
        {"ZUL Movie Scheme", "zulmovie"},
        {"ZUL User", "basic-user"},
        {"ZUL Password", "p%@ss"},
    });
    auto delegate = Launch(std::make_shared<ZULAppDelegate>("", &BundleWith(&configuration)));

    EXPECT_EQ("10.1.2.3:8080", delegate->zulAddress());
    EXPECT_EQ("http://10.1.2.3:8080/c/portal/login", delegate->zulLoginURL());
    EXPECT_EQ("http://10.1.2.3:8080/home", delegate->zulHomeURL());
    EXPECT_EQ("http://10.1.2.3:8080/movies", delegate->zulMoviesURL());
    EXPECT_EQ("https://10.1.2.3:8080/series?x=%", delegate->zulSeriesURL());
    EXPECT_EQ("http://10.1.2.3:8080/my", delegate->zulMyZULURL());
    EXPECT_EQ("http://10.1.2.3:8080", delegate->zulBaseURL());
    // Texts that are not formats come back unchanged.
    EXPECT_EQ("zulmovie", delegate->zulMovieScheme());
    EXPECT_EQ("basic-user", delegate->zulUser());
    EXPECT_EQ("p%@ss", delegate->zulPassword());

    const std::string search = delegate->zulSearchURL();
    EXPECT_EQ("http://10.1.2.3:8080/api/search?q=%@&n=20", search);
    EXPECT_EQ(1, Occurrences(search, "%@"));
    // What the search client does with it next.
    EXPECT_EQ("http://10.1.2.3:8080/api/search?q=star&n=20", ns::Format(search, "star"));
}

TEST_F(ZULAppDelegateTest, SearchValueWithASecondPlaceholderGetsTheEscapedOneThere) {
    const std::string configuration = AppTestSupport::PlistOfTexts({
        {"ZUL Address", "h:1"},
        {"ZUL Search URL", "http://%@/s?q=%@"},
    });
    auto delegate = Launch(std::make_shared<ZULAppDelegate>("", &BundleWith(&configuration)));
    EXPECT_EQ("http://h:1/s?q=%%@", delegate->zulSearchURL());
}

TEST_F(ZULAppDelegateTest, MissingOrBrokenConfigurationLeavesEveryAccessorNilAndStillStarts) {
    const std::string broken = "<plist><dict><key>ZUL Address</key>";
    const std::string notADictionary = "<plist version=\"1.0\"><array/></plist>";
    const std::string* cases[] = {nullptr, &broken, &notADictionary};
    for (const std::string* configuration : cases) {
        ui::Application application;
        auto delegate = std::make_shared<ZULAppDelegate>("", &BundleWith(configuration));
        application.SetDelegate(delegate);
        EXPECT_TRUE(application.FinishLaunching(ns::Value(ns::Dictionary())));
        EXPECT_EQ("", delegate->zulAddress());
        for (const Accessor& accessor : kUrlAccessors) {
            EXPECT_EQ("", (delegate.get()->*accessor.get)()) << accessor.key;
        }
        EXPECT_EQ("", delegate->zulSearchURL());
        EXPECT_EQ("", delegate->zulMovieScheme());
        EXPECT_EQ("", delegate->zulUser());
        EXPECT_EQ("", delegate->zulPassword());
        ASSERT_TRUE(delegate->window());
        EXPECT_TRUE(delegate->window()->RootViewController());
    }
}

// The bundle's own configuration, pointed at a running demo portal, names the portal's pages:
// the portal's configuration for the application is the oracle.
TEST_F(ZULAppDelegateTest, BundleConfigurationPointedAtThePortalGivesThePortalsOwnUrls) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    ZulPortal::PortalServer portal(options);
    const ns::Value expected = portal.BundleConfiguration();

    auto delegate = Launch(std::make_shared<ZULAppDelegate>(portal.Address()));
    EXPECT_EQ(portal.Address(), delegate->zulAddress());
    for (const Accessor& accessor : kUrlAccessors) {
        EXPECT_EQ(ns::Format(*expected[accessor.key].AsString(), portal.Address()),
                  (delegate.get()->*accessor.get)())
            << accessor.key;
    }
    EXPECT_EQ(portal.Url("/home"), delegate->zulHomeURL());
    EXPECT_EQ(portal.Url("/api/search?q=%@"), delegate->zulSearchURL());
    EXPECT_EQ(*expected["ZUL Movie Scheme"].AsString(), delegate->zulMovieScheme());
    EXPECT_EQ(*expected["ZUL User"].AsString(), delegate->zulUser());
    EXPECT_EQ(*expected["ZUL Password"].AsString(), delegate->zulPassword());
}

TEST_F(ZULAppDelegateTest, LaunchEmptiesTheThumbnailCache) {
    ASSERT_TRUE(ZULImageDownload::createCache());
    const std::string old = ZULImageDownload::cachePath() + "/old.jpg";
    AppTestSupport::WriteFile(old, "old thumbnail");
    Launch(std::make_shared<ZULAppDelegate>());
    struct stat info;
    EXPECT_NE(0, stat(old.c_str(), &info));
    ASSERT_EQ(0, stat(ZULImageDownload::cachePath().c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(ZULAppDelegateTest, IsReachableAsTheApplicationsDelegateAndLogsOpenedUrls) {
    EXPECT_EQ(nullptr, ZULAppDelegate::Current());
    auto delegate = Launch(std::make_shared<ZULAppDelegate>());
    EXPECT_EQ(delegate.get(), ZULAppDelegate::Current());

    EXPECT_TRUE(app_->OpenURL("zulmovie://play/7"));
    EXPECT_EQ(std::vector<std::string>{"[DEL] application handleOpenURL:zulmovie://play/7"},
              Messages(logs_, "[DEL] application"));
}

// The settings file holds the subscriber's password: it is the user's alone.
TEST_F(ZULAppDelegateTest, SettingsFileHoldingThePasswordIsReadableByTheUserAlone) {
    ns::UserDefaults& defaults = ns::UserDefaults::Standard();
    ASSERT_TRUE(defaults.SetObject("ZUL User Password", ns::Value("secret")));
    ASSERT_TRUE(defaults.Synchronize());
    struct stat info;
    ASSERT_EQ(0, stat(defaults.Path().c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    const std::string folder = defaults.Path().substr(0, defaults.Path().rfind('/'));
    ASSERT_EQ(0, stat(folder.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    defaults.RemoveObjectForKey("ZUL User Password");
    defaults.Synchronize();
}

}  // namespace
