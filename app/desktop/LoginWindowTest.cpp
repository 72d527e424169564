// The sign-in screen in a GTK window on the test's Xvfb, against the demo portal in this
// process: what a person sees (pictures kept beside the test program as login-phone.png and
// login-pad.png), and a sign-in made with clicks and key presses through the X server and GDK.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/SignInScreen.h"
#include "app/testing/ZulProcess.h"
#include "platform/desktop/ApplicationQuit.h"
#include "platform/desktop/testing/DesktopEnvironment.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/TestDisplay.h"
#include "platform/store/Bundle.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

// The sign-in screen's colours (its interface file and the shared palette).
const Rgb kBackground{35, 35, 35};
const Rgb kFieldWhite{255, 255, 255};
const Rgb kButtonRed{196, 38, 46};

class LoginWindowTest : public AppWindowTestBase {
protected:
    void SetUp() override {
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserLoginKey);
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserPasswordKey);
        // This device is registered already, so a sign-in leads straight to the portal.
        const std::string accounts = directory_.File("accounts.json");
        ASSERT_TRUE(AppTestSupport::WriteAccountsWithThisDevice(accounts));
        portal_ = AppTestSupport::StartDemoPortal(accounts);
    }

    void TearDown() override {
        DismissAlerts();
        Close();
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    }

    // The application in a window, as `zul` starts it: the models' loop inside GLib.
    void Launch(ui::UserInterfaceIdiom idiom, const std::string& address = std::string()) {
        ui::UiDevice::Current().SetIdiom(idiom);
        ASSERT_NO_FATAL_FAILURE(AppWindowTestBase::Launch(address));
        ASSERT_TRUE(Settle());
    }

    // The window on a portal that has gone (its port refuses), quitting as `zul` quits, with
    // the "No connection" alert up after a click on Sign in.
    void ShowNoConnectionAlert() {
        const std::string address = portal_->Address();
        portal_.reset();
        ASSERT_NO_FATAL_FAILURE(Launch(ui::UserInterfaceIdiom::Phone, address));
        ApplicationQuit::Follow(*renderer_);
        auto login = Login();
        ASSERT_NE(nullptr, login);
        login->emailTextField()->SetText("demo@zul.test");
        login->passwordlTextField()->SetText("demo");
        ASSERT_TRUE(Settle());
        Click(*login->signInButton());
        ASSERT_TRUE(IterateUntil(
            [] {
                const ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
                return alert != nullptr && alert->Title() == "No connection";
            },
            10s));
        // Drawn, and holding every click and key.
        ASSERT_TRUE(Settle());
        ASSERT_NE(nullptr, gtk_grab_get_current());
    }

    std::shared_ptr<LoginViewController> Login() const {
        return AppTestSupport::SignInScreen(*delegate_);
    }

    // Whether the view's frame lies inside the window's picture.
    bool Inside(const ui::View& view) const {
        const ui::Rect r = view.ConvertRectTo(view.Bounds(), nullptr);
        const ui::Point a = renderer_->ToWindow(r.origin);
        const ui::Point b = renderer_->ToWindow(ui::Point(r.MaxX(), r.MaxY()));
        GtkAllocation window;
        gtk_widget_get_allocation(renderer_->Window(), &window);
        return a.x >= 0 && a.y >= 0 && b.x <= window.width && b.y <= window.height;
    }

    // A click at the middle of the view; the caller waits for what it leads to.
    void Click(const ui::View& view) {
        const ui::Point p = Pixel(view, view.Bounds().Center());
        ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(p.x),
                static_cast<int>(p.y));
    }
    void Type(const std::string& text) {
        GdkWindow* window = gtk_widget_get_window(renderer_->Window());
        for (unsigned char c : text) {
            for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
                GdkEvent* e = gdk_event_new(type);
                e->key.window = GDK_WINDOW(g_object_ref(window));
                e->key.keyval = gdk_unicode_to_keyval(c);
                e->key.time = GDK_CURRENT_TIME;
                gdk_event_set_device(
                    e,
                    gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
                gdk_event_put(e);
                gdk_event_free(e);
            }
            IteratePending();
        }
    }

    // Looks at the form as a person would: the background around it, the white fields and the
    // red button, each inside the window.
    void ExpectCleanForm(const std::string& picture) {
        auto login = Login();
        ASSERT_NE(nullptr, login);
        Pixbuf shot = Shot(picture);
        ASSERT_NE(nullptr, shot);
        const std::vector<const ui::View*> pieces = {
            login->label().get(), login->emailTextField().get(), login->passwordlTextField().get(),
            login->signInButton().get()};
        for (const ui::View* view : pieces) {
            EXPECT_TRUE(Inside(*view)) << view->ClassName();
        }
        const ui::View& form = *login->emailAndPasswordView();
        EXPECT_EQ(kBackground, ColourAt(shot.get(), form, ui::Point(-8, 20)));
        EXPECT_EQ(kBackground, ColourAt(shot.get(), form, ui::Point(form.Bounds().MaxX() + 8, 20)));
        // Near the fields' right ends, clear of their placeholders.
        const ui::View& email = *login->emailTextField();
        const ui::View& password = *login->passwordlTextField();
        EXPECT_EQ(kFieldWhite,
                  ColourAt(shot.get(), email,
                           ui::Point(email.Bounds().MaxX() - 12, email.Bounds().MidY())));
        EXPECT_EQ(kFieldWhite,
                  ColourAt(shot.get(), password,
                           ui::Point(password.Bounds().MaxX() - 12, password.Bounds().MidY())));
        const ui::View& button = *login->signInButton();
        EXPECT_EQ(kButtonRed, ColourAt(shot.get(), button, ui::Point(12, button.Bounds().MidY())));
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-login-window-"};
};

TEST_F(LoginWindowTest, PhoneFormIsCleanAndTypingAndAClickSignIn) {
    Launch(ui::UserInterfaceIdiom::Phone);
    ExpectCleanForm("login-phone.png");

    auto login = Login();
    Click(*login->emailTextField());
    ASSERT_TRUE(IterateUntil([&] { return login->emailTextField()->IsFirstResponder(); }, 10s));
    Type("demo@zul.test");
    Click(*login->passwordlTextField());
    ASSERT_TRUE(IterateUntil([&] { return login->passwordlTextField()->IsFirstResponder(); }, 10s));
    Type("demo");
    // The keys are queued on GLib's context: each reaches the field in a later iteration.
    EXPECT_TRUE(IterateUntil([&] { return login->passwordlTextField()->Text() == "demo"; }, 10s));
    EXPECT_EQ("demo@zul.test", login->emailTextField()->Text());
    EXPECT_EQ("demo", login->passwordlTextField()->Text());
    ASSERT_TRUE(Settle());
    Click(*login->signInButton());

    ASSERT_TRUE(IterateUntil([&] { return Login() == nullptr; }, 10s));
    login.reset();
    ui::ViewController::Ptr portal = delegate_->window()->RootViewController();
    EXPECT_STREQ("MainViewController2", portal->ClassName());
    Pixbuf shot = Shot("login-portal.png");
    ASSERT_NE(nullptr, shot);
    // The portal screen fills the window, under the status bar too (480 x 320 in landscape).
    EXPECT_EQ(ui::Rect(0, 0, 480, 320), portal->GetView()->Frame());
    EXPECT_NE(nullptr, renderer_->WidgetFor(*portal->GetView()));
    EXPECT_TRUE(Inside(*portal->GetView()));
    EXPECT_EQ("demo@zul.test",
              ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
}

// The window carries the name the bundle gives for showing, as read from its Info.plist here
// (not through the bundle's own reader), and not the program's file name.
TEST_F(LoginWindowTest, TheWindowIsTitledWithTheBundlesDisplayName) {
    std::ifstream info(ns::Bundle::Main().Path() + "/Info.plist");
    ASSERT_TRUE(info) << ns::Bundle::Main().Path();
    const std::string text((std::istreambuf_iterator<char>(info)),
                           std::istreambuf_iterator<char>());
    std::smatch found;
    ASSERT_TRUE(std::regex_search(
        text, found, std::regex("<key>CFBundleDisplayName</key>\\s*<string>([^<]+)</string>")));
    const std::string displayName = found[1];

    Launch(ui::UserInterfaceIdiom::Phone);
    const char* title = gtk_window_get_title(GTK_WINDOW(renderer_->Window()));
    ASSERT_NE(nullptr, title);
    EXPECT_EQ(displayName, title);
    EXPECT_NE(std::string(g_get_prgname()), title);
}

// A desktop has no on-screen keyboard: a click on a field leaves the form where the person
// sees it, so the next click lands where they aim.
TEST_F(LoginWindowTest, AClickOnAFieldLeavesThePhoneFormWhereItStands) {
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    Launch(ui::UserInterfaceIdiom::Phone);
    auto login = Login();
    ASSERT_NE(nullptr, login);
    const ui::Rect label = login->label()->Frame();
    const ui::Rect form = login->emailAndPasswordView()->Frame();
    const ui::Rect button = login->signInButton()->Frame();
    // Where the password field is seen before the first click.
    const ui::Point password =
        Pixel(*login->passwordlTextField(), login->passwordlTextField()->Bounds().Center());
    const ui::Point red = Pixel(*login->signInButton(), ui::Point(12, button.Height() / 2));
    Pixbuf before = Shot("login-phone-portrait.png");
    ASSERT_NE(nullptr, before);

    Click(*login->emailTextField());
    ASSERT_TRUE(IterateUntil([&] { return login->emailTextField()->IsFirstResponder(); }, 10s));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(label, login->label()->Frame());
    EXPECT_FALSE(login->label()->IsHidden());
    EXPECT_EQ(form, login->emailAndPasswordView()->Frame());
    EXPECT_EQ(button, login->signInButton()->Frame());
    Pixbuf after = Shot("login-phone-portrait-editing.png");
    ASSERT_NE(nullptr, after);
    // The red button is still drawn where it was.
    EXPECT_EQ(kButtonRed, PixelAt(before.get(), static_cast<int>(red.x), static_cast<int>(red.y)));
    EXPECT_EQ(kButtonRed, PixelAt(after.get(), static_cast<int>(red.x), static_cast<int>(red.y)));

    ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(password.x),
            static_cast<int>(password.y));
    EXPECT_TRUE(IterateUntil([&] { return login->passwordlTextField()->IsFirstResponder(); }, 10s));
}

// The alert takes every click and key, but not the window's close: closing the window with
// the alert up quits the application at once, as it does without one.
TEST_F(LoginWindowTest, ClosingTheWindowWhileAnAlertShowsQuits) {
    ApplicationQuit quit;
    ASSERT_NO_FATAL_FAILURE(ShowNoConnectionAlert());
    CloseWindow(gtk_widget_get_window(renderer_->Window()));
    EXPECT_TRUE(IterateUntil([this] { return app_->IsTerminating(); }, 10s));
    EXPECT_EQ(0, app_->ExitCode());
    // The alert was not answered: it is still up when the application ends.
    EXPECT_NE(nullptr, ui::AlertView::TopVisibleAlert());
}

// SIGTERM and SIGINT quit the same way, heard on the window's loop while the alert is up.
TEST_F(LoginWindowTest, SignalsWhileAnAlertShowsQuit) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ApplicationQuit quit;
        ASSERT_NO_FATAL_FAILURE(ShowNoConnectionAlert());
        ASSERT_EQ(0, raise(signal));
        EXPECT_TRUE(IterateUntil([this] { return app_->IsTerminating(); }, 10s));
        EXPECT_EQ(0, app_->ExitCode());
        DismissAlerts();
        Close();
        portal_ = AppTestSupport::StartDemoPortal(directory_.File("accounts.json"));
    }
}

TEST_F(LoginWindowTest, PadFormIsClean) {
    Launch(ui::UserInterfaceIdiom::Pad);
    ExpectCleanForm("login-pad.png");
}

// The `zul` program itself on the test's display, with the settings of a person who signed in
// before, against a portal that has gone: how its window's close and the signals end it.
class ZulProgramWindowTest : public LoginWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LoginWindowTest::SetUp());
        // Where the Sign in button's red and the plain background show in the phone's window,
        // which the program lays out from the same interface.
        ASSERT_NO_FATAL_FAILURE(Launch(ui::UserInterfaceIdiom::Phone));
        const ui::View& button = *Login()->signInButton();
        const ui::Point red = Pixel(button, ui::Point(12, button.Bounds().MidY()));
        red_ = {static_cast<int>(red.x), static_cast<int>(red.y)};
        GtkAllocation window;
        gtk_widget_get_allocation(renderer_->Window(), &window);
        corner_ = {4, window.height - 4};
        Pixbuf shot = Shot("login-program-layout.png");
        ASSERT_NE(nullptr, shot);
        ASSERT_EQ(kButtonRed, PixelAt(shot.get(), red_.x, red_.y));
        ASSERT_EQ(kBackground, PixelAt(shot.get(), corner_.x, corner_.y));
        Close();
        address_ = portal_->Address();
        portal_.reset();
        ns::UserDefaults settings(Preferences());
        ASSERT_TRUE(settings.SetObject(LoginViewController::kUserLoginKey, "demo@zul.test"));
        ASSERT_TRUE(settings.SetObject(LoginViewController::kUserPasswordKey, "demo"));
        ASSERT_TRUE(settings.Synchronize()) << settings.LastError();
    }
    void TearDown() override {
        if (window_ != nullptr) g_object_unref(window_);
        zul_.reset();
        LoginWindowTest::TearDown();
    }

    std::string Preferences() const { return directory_.File("home/.local/share/zul/Preferences"); }
    std::string Log() const {
        std::ifstream in(directory_.File("zul.err"));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // The colour of a pixel of zul's window; nothing while it cannot be read.
    std::optional<Rgb> ColourAt(const GdkPoint& point) const {
        Pixbuf pixel(gdk_pixbuf_get_from_window(window_, point.x, point.y, 1, 1));
        if (!pixel) return std::nullopt;
        return PixelAt(pixel.get(), 0, 0);
    }
    // Polls, without the models' loop: the program draws in its own process.
    static bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            IterateFor(20ms);
        }
        return true;
    }

    // zul started, its sign-in screen drawn.
    void Start() {
        zul_ = std::make_unique<AppTestSupport::ZulProcess>(
            SV_ZUL_PATH, std::vector<std::string>{"--portal", "http://" + address_ + "/"},
            AppTestSupport::ZulEnvironment(directory_.File("home"),
                                           DesktopEnvironment::Display()->Name()),
            directory_.File("zul.out"), directory_.File("zul.err"));
        ASSERT_TRUE(zul_->Running());
        ASSERT_TRUE(PollUntil(
            [this] {
                if (window_ == nullptr) {
                    window_ = ShownWindowOf(DesktopEnvironment::Display()->Display(), zul_->Pid());
                }
                return window_ != nullptr && ColourAt(red_) == kButtonRed;
            },
            60s))
            << Log();
    }
    // A click on Sign in, with the stored address and password, until the "No connection"
    // alert dims the whole window (the form changes as the sign-in starts, the corner only
    // under the alert).
    void ShowNoConnectionAlert() {
        ClickAt(window_, red_.x, red_.y);
        ASSERT_TRUE(PollUntil(
            [this] {
                const std::optional<Rgb> c = ColourAt(corner_);
                return c && c->r < kBackground.r && c->g < kBackground.g && c->b < kBackground.b;
            },
            60s))
            << Log();
    }
    // The program ended by itself with exit 0 and its settings as they were.
    void ExpectCleanEnd() {
        const std::optional<int> status = zul_->WaitForExit(60s);
        ASSERT_TRUE(status) << "still running\n" << Log();
        ASSERT_TRUE(WIFEXITED(*status)) << "signal " << WTERMSIG(*status) << "\n" << Log();
        EXPECT_EQ(0, WEXITSTATUS(*status)) << Log();
        ns::UserDefaults settings(Preferences());
        EXPECT_EQ("demo@zul.test", settings.StringForKey(LoginViewController::kUserLoginKey));
        EXPECT_EQ("demo", settings.StringForKey(LoginViewController::kUserPasswordKey));
        EXPECT_EQ(std::set<std::string>{ns::UserDefaults::kFileName},
                  SvTestSupport::DirectoryEntries(Preferences()));
    }

    GdkPoint red_{0, 0};
    GdkPoint corner_{0, 0};
    std::string address_;
    std::unique_ptr<AppTestSupport::ZulProcess> zul_;
    GdkWindow* window_ = nullptr;
};

TEST_F(ZulProgramWindowTest, ClosingTheWindowWhileAnAlertShowsEndsIt) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(ShowNoConnectionAlert());
    CloseWindow(window_);
    ExpectCleanEnd();
}

TEST_F(ZulProgramWindowTest, SigtermEndsIt) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(0, kill(zul_->Pid(), SIGTERM));
    ExpectCleanEnd();
}

// zul-demo exits 0 only when its whole session held: one cut short by a signal did not.
TEST_F(ZulProgramWindowTest, ADemoSessionCutShortBySigtermExitsOne) {
    portal_ = AppTestSupport::StartDemoPortal();
    zul_ = std::make_unique<AppTestSupport::ZulProcess>(
        SV_ZUL_DEMO_PATH,
        std::vector<std::string>{"--portal", portal_->Url("/"), "--demo", directory_.File("demo")},
        AppTestSupport::ZulEnvironment(directory_.File("home"),
                                       DesktopEnvironment::Display()->Name()),
        directory_.File("zul.out"), directory_.File("zul.err"));
    ASSERT_TRUE(zul_->Running());
    // Its first step held; the session goes on for a minute and more (a title to its end).
    auto steps = [this] {
        std::ifstream in(directory_.File("zul.out"));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    ASSERT_TRUE(PollUntil(
        [&] { return steps().find("1. the sign-in screen: ok") != std::string::npos; }, 60s))
        << steps() << Log();
    ASSERT_EQ(0, kill(zul_->Pid(), SIGTERM));
    const std::optional<int> status = zul_->WaitForExit(60s);
    ASSERT_TRUE(status) << "still running\n" << steps();
    ASSERT_TRUE(WIFEXITED(*status)) << "signal " << WTERMSIG(*status);
    EXPECT_EQ(1, WEXITSTATUS(*status)) << steps();
}

// Settings that cannot be written at the end make the run a failure (exit 1), said in the log.
// The folder they go to is taken by a file while the program runs (the tests run as root, whom
// permissions do not stop).
TEST_F(ZulProgramWindowTest, SettingsThatCannotBeWrittenAtTheEndExitOne) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(0, std::rename(Preferences().c_str(), (Preferences() + ".aside").c_str()));
    std::ofstream(Preferences()) << "not a folder";
    ASSERT_EQ(0, kill(zul_->Pid(), SIGTERM));
    const std::optional<int> status = zul_->WaitForExit(60s);
    ASSERT_TRUE(status) << "still running\n" << Log();
    ASSERT_TRUE(WIFEXITED(*status)) << "signal " << WTERMSIG(*status) << "\n" << Log();
    EXPECT_EQ(1, WEXITSTATUS(*status)) << Log();
    EXPECT_NE(std::string::npos, Log().find("] [DEL] the settings could not be written: "))
        << Log();
}

TEST_F(ZulProgramWindowTest, SigintWhileAnAlertShowsEndsIt) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(ShowNoConnectionAlert());
    ASSERT_EQ(0, kill(zul_->Pid(), SIGINT));
    ExpectCleanEnd();
}

}  // namespace
