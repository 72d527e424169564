#ifndef APP_DESKTOP_PORTALWINDOWTESTBASE_H
#define APP_DESKTOP_PORTALWINDOWTESTBASE_H
// The portal screen's window tests' world: a GTK window on the test's Xvfb showing the portal
// page in WebKit, signed in against the demo portal in this process, and what the tests read
// of it: cookies the portal was sent, WebKit's helper processes with their memory and CPU, and
// a grey PNG of any size for pages that load huge images.

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/Qplayer.h"
#include "app/QplayerControls.h"
#include "app/SarvelonQueue.h"
#include "app/ZULColor.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/EngineTestSupport.h"
#include "engine/api/SViOsApiState.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/AlertSheet.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/WebProcessWatchdog.h"
#include "platform/desktop/testing/LoggedLines.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/View.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"
#include "tests/support/TestOrigin.h"

namespace PortalWindowTesting {

using namespace ns::desktop;
using namespace std::chrono_literals;

inline Rgb ToRgb(const ui::Color& color) {
    return Rgb{static_cast<int>(color.R() * 255 + 0.5), static_cast<int>(color.G() * 255 + 0.5),
               static_cast<int>(color.B() * 255 + 0.5)};
}

// The value of the named cookie in a request's Cookie header ("" without one).
inline std::string CookieValue(const ZulPortal::HttpRequest& request, const std::string& name) {
    const std::string header = "; " + request.Header("Cookie") + ";";
    const size_t at = header.find("; " + name + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 3;
    return header.substr(from, header.find(';', from) - from);
}

// The WebKit network processes this process started (the kernel keeps 15 bytes of a name).
inline std::vector<pid_t> NetworkProcesses() {
    std::vector<pid_t> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // "pid (comm) state ppid ..."; comm may hold spaces, so read around the parentheses.
        const size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        char state = 0;
        long ppid = -1;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) != 2) continue;
        if (ppid == getpid() && state != 'Z' &&
            text.compare(open + 1, close - open - 1, "WebKitNetworkPr") == 0) {
            pids.push_back(static_cast<pid_t>(std::stol(pid)));
        }
    }
    return pids;
}

// What WebKit's processes of this test together may reach before the test ends its page itself:
// far past their bound, short of what would endanger the machine.
constexpr uint64_t kRunawayBytes = uint64_t{5} << 30;

// A PNG of width x height black 8-bit grey pixels, written a row at a time: its rows deflate to
// next to nothing, so a picture of gigabytes decoded is about a megabyte on disk.
inline bool WriteGreyPng(const std::string& path, uint32_t width, uint32_t height) {
    FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    volatile bool written = false;  // set between setjmp and a possible longjmp
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_write_info(png, info);
        std::vector<png_byte> row(width, 0);
        for (uint32_t y = 0; y < height; ++y) png_write_row(png, row.data());
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

// The resident size of a process, from its status ("VmRSS: <n> kB"); 0 when it has gone.
inline uint64_t ResidentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stoull(line.substr(6)) << 10;
    }
    return 0;
}

// The resident size of this process's children together (WebKit's processes).
inline uint64_t HelpersResidentBytes() {
    uint64_t total = 0;
    const unsigned long self = static_cast<unsigned long>(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.compare(0, 5, "PPid:") == 0) {
                if (std::stoul(line.substr(5)) == self) {
                    total += ResidentBytes(static_cast<pid_t>(std::stol(pid)));
                }
                break;
            }
        }
    }
    return total;
}

// The fields of /proc/<pid>/stat after the name ("" when it has gone), and the name: counted
// from the last ')', since the name may hold any character.
inline std::string StatFields(pid_t pid, std::string* name) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(file, stat);
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    if (name != nullptr) *name = stat.substr(open + 1, close - open - 1);
    return stat.substr(close + 1);
}

// This process (the application's) and its children named as WebKit's helpers are.
inline std::set<pid_t> ApplicationProcesses() {
    const pid_t self = getpid();
    std::set<pid_t> found{self};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string name;
        std::istringstream fields(StatFields(static_cast<pid_t>(std::stol(pid)), &name));
        std::string state;
        long long parent = 0;
        if ((fields >> state >> parent) && parent == self && name.compare(0, 6, "WebKit") == 0) {
            found.insert(static_cast<pid_t>(std::stol(pid)));
        }
    }
    return found;
}

// The CPU time each process has used so far, in seconds (user and system time, the 14th and
// 15th fields of its stat, in clock ticks), with its name.
inline std::map<pid_t, std::pair<std::string, double>> CpuSeconds(
    const std::set<pid_t>& processes) {
    std::map<pid_t, std::pair<std::string, double>> used;
    for (const pid_t pid : processes) {
        std::string name;
        std::istringstream fields(StatFields(pid, &name));
        std::string field;
        for (int i = 0; i < 11; ++i) fields >> field;
        long long user = 0, system = 0;
        if (fields >> user >> system) {
            used[pid] = {name, (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK))};
        }
    }
    return used;
}

class PortalWindowTest : public AppWindowTestBase {
protected:
    void SetUp() override {
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
        // This device is registered already, so the sign-in leads straight to the portal.
        const std::string accounts = directory_.File("accounts.json");
        ASSERT_TRUE(AppTestSupport::WriteAccountsWithThisDevice(accounts));
        portal_ = AppTestSupport::StartDemoPortal(accounts);

        WebKitWebViewBackend::Install();
        Launch();
    }

    void TearDown() override {
        Close();
        ui::WebView::SetBackendFactory(nullptr);
    }

    std::shared_ptr<MainViewController2> Portal() const {
        return std::dynamic_pointer_cast<MainViewController2>(
            delegate_->window()->RootViewController());
    }

    // The page's answer to a script ("" when none came).
    static std::string Eval(ui::WebView& web, const std::string& script) {
        std::string result;
        bool answered = false;
        web.EvaluateJavaScript(script, [&](const std::string& r) {
            result = r;
            answered = true;
        });
        IterateUntil([&] { return answered; }, 10s);
        return result;
    }

    // Signs in from the sign-in screen on top and waits for the portal's first page to show.
    void SignIn() {
        auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
            delegate_->window()->RootViewController());
        ASSERT_NE(nullptr, navigation);
        auto login =
            std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController());
        ASSERT_NE(nullptr, login);
        ASSERT_TRUE(Settle());
        login->emailTextField()->SetText("demo@zul.test");
        login->passwordlTextField()->SetText("demo");
        login->signInAction();
        login.reset();
        navigation.reset();
        ASSERT_TRUE(IterateUntil([&] { return Portal() != nullptr; }, 10s));
        auto portal = Portal();
        ASSERT_TRUE(IterateUntil(
            [&] { return Portal() == nullptr || portal->contentLoadingView()->IsHidden(); }, 10s));
        ASSERT_NE(nullptr, Portal()) << "back at the sign-in screen";
    }

    // Signs in and waits for the portal's first page to load in WebKit: that page's view and
    // its WebKit backend.
    void SignInToTheLoadedPage(std::shared_ptr<ui::WebView>* web, WebKitWebViewBackend** backend) {
        ASSERT_NO_FATAL_FAILURE(SignIn());
        *web = Portal()->contentViewWebView();
        *backend = dynamic_cast<WebKitWebViewBackend*>(&(*web)->Backend());
        ASSERT_NE(nullptr, *backend);
        ASSERT_TRUE(IterateUntil([&] { return !(*web)->IsLoading(); }, 10s));
    }

    // The pane shows the error page, its load over, and the portal screen keeps the failure.
    bool ShowsErrorPage(ui::WebView& web) {
        return !web.IsLoading() && web.Request().GetURL().LastPathComponent() == "WebError.html" &&
               Portal() != nullptr && Portal()->contentViewWebViewLastError().has_value() &&
               Portal()->contentViewWebViewLastError()->GetCode() ==
                   ns::Error::kNetworkConnectionLost;
    }

    // Home from the side menu, chosen as a person chooses it; returns once the page has loaded.
    void ChooseHomeFromTheMenu() {
        auto portal = Portal();
        ASSERT_NE(nullptr, portal);
        auto web = portal->contentViewWebView();
        ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
        ASSERT_TRUE(IterateUntil([&] { return portal->isMenuVisible(); }, kRestTimeout));
        ASSERT_TRUE(WaitUntilAtRest());
        ui::Driver driver(delegate_->window());
        ASSERT_TRUE(driver.SelectRow(portal->menuTableView(), ui::IndexPath(0, 0)));
        ASSERT_TRUE(IterateUntil(
            [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/home"; }, 10s));
    }

    void ExpectMenuBringsThePortalBack() {
        ASSERT_NO_FATAL_FAILURE(ChooseHomeFromTheMenu());
        EXPECT_EQ("/home", Eval(*Portal()->contentViewWebView(), "document.location.pathname"));
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-portal-window-"};
};

}  // namespace PortalWindowTesting

#endif  // APP_DESKTOP_PORTALWINDOWTESTBASE_H
