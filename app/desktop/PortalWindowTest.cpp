// The portal screen in a GTK window on the test's Xvfb, with the portal page in WebKit, against
// the demo portal in this process: signed in, the page read back from WebKit, the side menu
// opened, and the pictures kept beside the test program as portal.png and portal-menu.png; a
// web process that dies, or is ended for taking too much memory, shows the error page, and a
// menu choice brings the portal back; the page's own sign-out followed by a new sign-in, whose
// cookies WebKit must send; a web process that ends during a playback, after which the next
// title plays; a title played from its page, after which the page draws again what another
// window covered; and pages that would keep the person (alerts in a loop, a script that never
// returns, an answer that trickles), after each of which the menu brings the portal back.
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

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

Rgb ToRgb(const ui::Color& color) {
    return Rgb{static_cast<int>(color.R() * 255 + 0.5), static_cast<int>(color.G() * 255 + 0.5),
               static_cast<int>(color.B() * 255 + 0.5)};
}

// The value of the named cookie in a request's Cookie header ("" without one).
std::string CookieValue(const ZulPortal::HttpRequest& request, const std::string& name) {
    const std::string header = "; " + request.Header("Cookie") + ";";
    const size_t at = header.find("; " + name + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 3;
    return header.substr(from, header.find(';', from) - from);
}

// The WebKit network processes this process started (the kernel keeps 15 bytes of a name).
std::vector<pid_t> NetworkProcesses() {
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
bool WriteGreyPng(const std::string& path, uint32_t width, uint32_t height) {
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
uint64_t ResidentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stoull(line.substr(6)) << 10;
    }
    return 0;
}

// The resident size of this process's children together (WebKit's processes).
uint64_t HelpersResidentBytes() {
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
std::string StatFields(pid_t pid, std::string* name) {
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
std::set<pid_t> ApplicationProcesses() {
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
std::map<pid_t, std::pair<std::string, double>> CpuSeconds(const std::set<pid_t>& processes) {
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

TEST_F(PortalWindowTest, SigningInAgainAfterThePortalsSignOutLandsOnThePortal) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    // The page's own "Sign out" link: the portal expires the sign-in cookies in WebKit's store
    // and redirects to its sign-in page, which takes the application back to its sign-in screen.
    Portal()->contentViewWebView()->EvaluateJavaScript(
        "document.querySelector('a.account').click()", [](const std::string&) {});
    ASSERT_TRUE(IterateUntil([&] { return Portal() == nullptr; }, 10s));
    size_t signOut = 0;
    for (const auto& r : portal_->Requests()) {
        if (r.path != "/c/portal/logout")
            ++signOut;
        else
            break;
    }
    ASSERT_LT(signOut, portal_->Requests().size()) << "no sign-out reached the portal";
    ASSERT_TRUE(WaitUntilAtRest());

    ASSERT_NO_FATAL_FAILURE(SignIn());
    // The portal's log: WebKit's requests are the ones with fetch metadata, the native ones
    // have none. The native sign-in after the sign-out got a new ID, which its own request for
    // the home page carries; WebKit's page requests after it carry that ID, not the old one.
    const auto requests = portal_->Requests();
    const std::string oldId = CookieValue(requests[signOut], "ID");
    ASSERT_FALSE(oldId.empty()) << requests[signOut].head;
    size_t signIn = requests.size();
    for (size_t i = signOut; i < requests.size(); ++i) {
        if (requests[i].method == "POST" && requests[i].path == "/c/portal/login") signIn = i;
    }
    ASSERT_LT(signIn, requests.size()) << "no second sign-in reached the portal";
    std::string newId;
    size_t pages = 0;
    for (size_t i = signIn + 1; i < requests.size(); ++i) {
        const bool webkit = !requests[i].Header("Sec-Fetch-Mode").empty();
        if (!webkit) {
            if (pages == 0) newId = CookieValue(requests[i], "ID");
            continue;
        }
        if (requests[i].Header("Sec-Fetch-Mode") != "navigate") continue;
        ++pages;
        EXPECT_FALSE(newId.empty());
        EXPECT_NE(oldId, newId);
        EXPECT_EQ(newId, CookieValue(requests[i], "ID")) << requests[i].head;
        EXPECT_FALSE(CookieValue(requests[i], "COMPANY_ID").empty()) << requests[i].head;
    }
    EXPECT_GT(pages, 0u);
}

TEST_F(PortalWindowTest, SignedInThePortalShowsInWebKitWithTheMenuOpen) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto portal = Portal();

    // The page is WebKit's, and WebKit shows the portal's home page.
    auto web = portal->contentViewWebView();
    ASSERT_NE(nullptr, dynamic_cast<WebKitWebViewBackend*>(&web->Backend()));
    std::string path;
    bool answered = false;
    web->EvaluateJavaScript("document.location.pathname", [&](const std::string& result) {
        path = result;
        answered = true;
    });
    ASSERT_TRUE(IterateUntil([&] { return answered; }, 10s));
    EXPECT_EQ("/home", path);

    // The page has faded in (over half a second) once the screen is at rest.
    ASSERT_TRUE(Settle());
    EXPECT_EQ(1.0, web->Alpha());
    Pixbuf page = Capture("portal.png");
    ASSERT_NE(nullptr, page);

    ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
    ASSERT_TRUE(IterateUntil([&] { return portal->isMenuVisible(); }, kRestTimeout));
    // The menu has slid open.
    ASSERT_TRUE(Settle());
    Pixbuf shot = Capture("portal-menu.png");
    ASSERT_NE(nullptr, shot);

    // Home is the selected row, Series the next one; the pane is 75 points at the right.
    auto table = portal->menuTableView();
    auto home = table->CellForRow(ui::IndexPath(0, 0));
    auto series = table->CellForRow(ui::IndexPath(0, 1));
    ASSERT_NE(nullptr, home);
    ASSERT_NE(nullptr, series);
    EXPECT_EQ(ToRgb(ZULColor::zulTableViewCellSelectedBackgroundColor()),
              ColourAt(shot.get(), *home, ui::Point(200, 6)));
    EXPECT_EQ(ToRgb(ZULColor::zulTableViewCellBackgroundColor()),
              ColourAt(shot.get(), *series, ui::Point(200, 6)));
    EXPECT_EQ(ui::Rect(320 - 75, 0, 320, 480), portal->contentView()->Frame());
}

TEST_F(PortalWindowTest, AWebProcessThatEndsShowsTheErrorPageAndAMenuChoiceBringsThePortalBack) {
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    ASSERT_EQ("/home", Eval(*web, "document.location.pathname"));

    // The page's process goes; the pane shows the error page with the reason in its text.
    webkit_web_view_terminate_web_process(backend->View());
    ASSERT_TRUE(IterateUntil([&] { return ShowsErrorPage(*web); }, 10s));
    EXPECT_NE(std::string::npos,
              Eval(*web, "document.body.textContent")
                  .find("The web page's process ended: the application ended it."));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuBringsThePortalBack());
}

// Signed in on the portal's home page with nothing moving, the application and WebKit's
// processes sleep: under 1 % of a core together, where a view of WebKit's own on the same page
// takes next to nothing. (WebKit reading each process's whole memory map every second, and a
// look through every process on the machine every two seconds, took 2 to 4 % in a sanitized
// build.) The CPU is that of this process (the application's) and its WebKit children, from
// /proc; the measure starts once the page has settled.
SV_TEST_LABEL(PortalWindowTest, AStillPortalPageLeavesTheApplicationAndWebKitAsleep, slow);
TEST_F(PortalWindowTest, AStillPortalPageLeavesTheApplicationAndWebKitAsleep) {
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    ASSERT_TRUE(Settle());
    const std::set<pid_t> processes = ApplicationProcesses();
    ASSERT_GE(processes.size(), 3u) << "no web and network process of WebKit's";
    // Share of a core of the processes together over a span of iterating the loop, and each
    // one's in words.
    std::string each;
    auto share = [&](std::chrono::milliseconds span) {
        const auto before = CpuSeconds(processes);
        const auto from = std::chrono::steady_clock::now();
        IterateFor(span);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - from;
        double total = 0;
        each.clear();
        for (const auto& [pid, used] : CpuSeconds(processes)) {
            const auto then = before.find(pid);
            const double cpu = used.second - (then == before.end() ? 0 : then->second.second);
            total += cpu;
            each += " " + used.first + " " + std::to_string(cpu / wall.count() * 100) + " %";
        }
        return total / wall.count();
    };
    // The work that follows the load (WebKit's own clean-ups among it) is over once half a
    // second passes with the processes under 1 % of a core.
    bool settled = false;
    for (int i = 0; i < 40 && !settled; ++i) settled = share(500ms) < 0.01;
    ASSERT_TRUE(settled) << "the processes stayed busy after the load:" << each;

    // Five seconds, a second at a time. What runs once is not what keeps the processes awake:
    // the busiest second is left out (WebKit releases the context of the page's last script
    // result ten seconds after it came back, tens of milliseconds in a sanitized build); a poll
    // of a second or less shows in every one of the others.
    std::vector<double> seconds;
    std::string slices;
    for (int i = 0; i < 5; ++i) {
        seconds.push_back(share(1s));
        slices += "\n " + each;
    }
    std::sort(seconds.begin(), seconds.end());
    const double used = (seconds[0] + seconds[1] + seconds[2] + seconds[3]) / 4;
    EXPECT_LT(used, 0.01) << "the application and WebKit's processes used " << used * 100
                          << " % of a core; each second:" << slices;
    // Measured were all of them.
    EXPECT_EQ(processes, ApplicationProcesses());
    EXPECT_FALSE(web->IsLoading());
}

// A page whose thumbnails are a 1.1 MB PNG of 20000 x 20000 pixels (1.6 GB decoded, each of them)
// grew WebKit's web process by gigabytes a second until the machine ran out of memory. Its
// process is ended near its bound instead: the error page says why, this process stays as it
// was, and a menu choice brings the portal back.
TEST_F(PortalWindowTest, APageThatTakesTooMuchMemoryEndsItsProcessAndTheMenuBringsThePortalBack) {
    SvTestSupport::TestOrigin origin;
    const std::string png = directory_.File("huge.png");
    ASSERT_TRUE(WriteGreyPng(png, 20000, 20000));
    origin.ServeFile("/huge.png", png);
    std::string page = "<html><body><p>Thumbnails</p>";
    for (int i = 0; i < 4; ++i) {
        page += "<img width=\"200\" height=\"160\" src=\"/huge.png?" + std::to_string(i) + "\">";
    }
    origin.Serve("/thumbs.html", page + "</body></html>");
    SvTestSupport::TestOrigin::Fault html;
    html.headers = {{"Content-Type", "text/html"}};
    origin.SetFault("/thumbs.html", html);

    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    const uint64_t ownBefore = ResidentBytes(getpid());

    Portal()->loadRequestForURL(origin.Url("/thumbs.html"));
    uint64_t peak = 0;
    const bool ended = IterateUntil(
        [&] {
            const uint64_t now = HelpersResidentBytes();
            peak = std::max(peak, now);
            // Past this the machine itself is at risk: the bound failed, end the test's page.
            if (now > kRunawayBytes) webkit_web_view_terminate_web_process(backend->View());
            return ShowsErrorPage(*web);
        },
        60s);
    ASSERT_TRUE(ended);
    EXPECT_LT(peak, kRunawayBytes);
    EXPECT_NE(std::string::npos, Eval(*web, "document.body.textContent")
                                     .find("The web page's process ended: it exceeded its "
                                           "memory limit."));
    // The pictures never reached this process.
    EXPECT_LT(ResidentBytes(getpid()), ownBefore + (uint64_t{200} << 20));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuBringsThePortalBack());
}

// Pages that would keep the person: dialogs in a loop, a script that never returns, an answer
// that trickles. Each ends, or gives way, and the native menu, used through the X server as a
// person uses it, brings the portal back. The watchdog's wait is shortened here (the backend's
// own tests keep the shipped ten seconds on a clock they move).
class PortalPageLockWindowTest : public PortalWindowTest {
protected:
    void SetUp() override {
        WebProcessWatchdog::SetUnresponsiveSeconds(0.5);
        PortalWindowTest::SetUp();
    }
    void TearDown() override {
        DismissAlerts();
        PortalWindowTest::TearDown();
        WebProcessWatchdog::SetUnresponsiveSeconds(WebProcessWatchdog::kUnresponsiveSeconds);
    }

    void ClickAtWindowPoint(const ui::Point& p) {
        ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(p.x),
                static_cast<int>(p.y));
    }
    void ClickOn(const ui::View& view) { ClickAtWindowPoint(Pixel(view, view.Bounds().Center())); }

    // The menu button, then Home, clicked; returns once the home page has loaded.
    void ChooseHomeByHand() {
        auto portal = Portal();
        ASSERT_NE(nullptr, portal);
        auto web = portal->contentViewWebView();
        const ui::View::Ptr button = portal->contentViewNavigationBar()->LeftItemView();
        ASSERT_NE(nullptr, button);
        ASSERT_TRUE(Settle());
        ClickOn(*button);
        ASSERT_TRUE(IterateUntil([&] { return portal->isMenuVisible(); }, kRestTimeout));
        ASSERT_TRUE(Settle());
        auto home = portal->menuTableView()->CellForRow(ui::IndexPath(0, 0));
        ASSERT_NE(nullptr, home);
        ClickOn(*home);
        ASSERT_TRUE(IterateUntil(
            [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/home"; }, 10s));
        EXPECT_EQ("/home", Eval(*web, "document.location.pathname"));
        EXPECT_EQ(nullptr, ui::AlertView::TopVisibleAlert());
    }

    // The pane shows the error page for a failure with `code`.
    bool ShowsErrorPageFor(ui::WebView& web, long code) {
        return !web.IsLoading() && web.Request().GetURL().LastPathComponent() == "WebError.html" &&
               Portal() != nullptr && Portal()->contentViewWebViewLastError().has_value() &&
               Portal()->contentViewWebViewLastError()->GetCode() == code;
    }

    void ServePage(const std::string& path, const std::string& html) {
        SvTestSupport::TestOrigin::Fault fault;
        fault.headers = {{"Content-Type", "text/html"}};
        origin_.SetFault(path, fault);
        origin_.Serve(path, html);
    }

    SvTestSupport::TestOrigin origin_;
};

TEST_F(PortalPageLockWindowTest, AnAlertLoopGivesWayToTheMenu) {
    ServePage("/alerts",
              "<html><body><script>window.onload = function() { setTimeout(function() {"
              "  for (var n = 1;; n++) alert('Again ' + n); }, 0); };</script></body></html>");
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    LoggedLines log;
    web->LoadRequest(ns::URLRequest(ns::URL::Parse(origin_.Url("/alerts")).value()));
    ASSERT_TRUE(IterateUntil([] { return ui::AlertView::TopVisibleAlert() != nullptr; }, 10s));
    const ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
    EXPECT_EQ("Again 1", alert->Message());
    // Kept beside the test program; the page under the alert waits in it, so it may be blank.
    ASSERT_TRUE(Settle());
    Pixbuf shot = CaptureWindow(renderer_->Window());
    ASSERT_NE(nullptr, shot);
    std::string error;
    EXPECT_TRUE(SavePng(shot.get(), PicturePath("portal-page-alert.png"), &error)) << error;
    const ui::Rect ok = AlertSheet(*alert, delegate_->window()->Frame().size).ButtonFrames().at(0);
    ClickAtWindowPoint(renderer_->ToWindow(ok.Center()));
    ASSERT_TRUE(IterateUntil([] { return ui::AlertView::TopVisibleAlert() == nullptr; }, 10s));
    // The page's next alert waits, unseen, while the person goes to the menu.
    ASSERT_TRUE(IterateUntil([&] { return log.Containing("held until the person") == 1; }, 10s));
    ASSERT_NO_FATAL_FAILURE(ChooseHomeByHand());
}

TEST_F(PortalPageLockWindowTest, APageThatNeverReturnsIsEndedAndTheMenuBringsThePortalBack) {
    ServePage("/spin",
              "<html><body style=\"height:2000px\"><script>"
              "document.addEventListener('mousedown', function() { for (;;) {} });"
              "</script></body></html>");
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    web->LoadRequest(ns::URLRequest(ns::URL::Parse(origin_.Url("/spin")).value()));
    ASSERT_TRUE(IterateUntil(
        [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/spin"; }, 10s));
    ASSERT_TRUE(Settle());
    ClickOn(*web);
    ASSERT_TRUE(IterateUntil(
        [&] { return ShowsErrorPageFor(*web, ns::Error::kNetworkConnectionLost); }, 20s));
    EXPECT_NE(std::string::npos, Eval(*web, "document.body.textContent")
                                     .find("The web page's process ended: it stopped answering."));
    ASSERT_NE(nullptr, Shot("portal-page-stopped.png"));
    ASSERT_NO_FATAL_FAILURE(ChooseHomeByHand());
}

TEST_F(PortalPageLockWindowTest, ATricklingPageEndsWithTheErrorPageAtItsDeadline) {
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    trickle.headers = {{"Content-Type", "text/html"}};
    origin_.SetFault("/movies", trickle);
    origin_.Serve("/movies", "<html><body>" + std::string(4000, ' ') + "</body></html>");
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    ns::URLRequest request(ns::URL::Parse(origin_.Url("/movies")).value());
    request.SetTimeoutInterval(1);
    const auto start = std::chrono::steady_clock::now();
    web->LoadRequest(request);
    ASSERT_TRUE(IterateUntil([&] { return ShowsErrorPageFor(*web, ns::Error::kTimedOut); }, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(origin_.Url("/movies"), Portal()->contentViewWebViewLastError()->FailingURL());
    ASSERT_NO_FATAL_FAILURE(ChooseHomeByHand());
}

// The portal playing its titles in the GStreamer player (silently) through the engine, on a
// loopback port of the test's own.
class PortalPlaybackWindowTest : public PortalWindowTest {
protected:
    void SetUp() override {
        ASSERT_NE(0, AppTestSupport::ResetEngineOnUnusedPort());
        GstMoviePlayer::Install();
        PortalWindowTest::SetUp();
    }

    void TearDown() override {
        DismissAlerts();
        WaitUntilLoopIdle();
        PortalWindowTest::TearDown();
        ns::MoviePlayer::SetFactory(nullptr);
        // The player screen's engine stop runs on the bridge's thread.
        EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    }

    std::shared_ptr<Qplayer> Player() const {
        auto portal = Portal();
        return portal ? std::dynamic_pointer_cast<Qplayer>(portal->PresentedViewController())
                      : nullptr;
    }
    bool Playing() const {
        auto player = Player();
        return player && player->player() &&
               player->player()->PlaybackState() == ns::MoviePlaybackState::Playing;
    }

    // A click through the X server on the first element of the page the selector finds, once
    // the page has scrolled it into view as a person scrolls to it.
    void ClickOnPage(ui::WebView& web, const std::string& selector) {
        const std::string middle = Eval(
            web, "(function(){var e=document.querySelector('" + selector +
                     "');if(!e)return '';e.scrollIntoView({block:'center'});"
                     "var r=e.getBoundingClientRect();"
                     "return Math.round(r.left+r.width/2)+' '+Math.round(r.top+r.height/2);})()");
        int x = -1, y = -1;
        ASSERT_EQ(2, std::sscanf(middle.c_str(), "%d %d", &x, &y)) << selector << " is not shown";
        // The page's pixels are the web view's points (its zoom is the window's scale).
        ClickAtPoint(web, ui::Point(x, y));
    }
    void ClickAtPoint(const ui::View& view, const ui::Point& point) {
        const ui::Point p = Pixel(view, point);
        ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(p.x),
                static_cast<int>(p.y));
    }

    // From the portal's page, as a person does: the title's card, then its Play link; returns
    // once its movie plays.
    void PlayTitle(const std::string& id) {
        auto web = Portal()->contentViewWebView();
        ASSERT_NO_FATAL_FAILURE(ClickOnPage(*web, "a[href=\"/-/-/" + id + "\"]"));
        ASSERT_TRUE(IterateUntil(
            [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/-/-/" + id; },
            10s));
        ASSERT_TRUE(WaitUntilAtRest());
        ASSERT_NO_FATAL_FAILURE(ClickOnPage(*web, "a.play"));
        // A start that fails takes the screen away again with an alert.
        ASSERT_TRUE(IterateUntil(
            [&] { return Playing() || !ui::AlertView::VisibleAlerts().empty(); }, 30s));
        std::string alert;
        for (const ui::AlertView::Ptr& shown : ui::AlertView::VisibleAlerts()) {
            alert += shown->Title() + ": " + shown->Message() + "\n";
        }
        ASSERT_TRUE(Playing()) << "title " << id << " does not play:\n" << alert;
    }

    // Done on the player's top bar, the controls brought back first by a click on the picture
    // when they have slid away.
    void ClosePlayer() {
        auto player = Player();
        ASSERT_NE(nullptr, player);
        const ui::View::Ptr close = delegate_->window()->FindByIdentifier("closeViewButton");
        const ui::View::Ptr picture = delegate_->window()->FindByIdentifier("playerHit");
        ASSERT_TRUE(close && picture);
        // The button fades in a moment after the start.
        ASSERT_TRUE(
            AppTestSupport::IterateUntilTicking([&] { return close->Alpha() == 1; }, kRestTimeout));
        if (!player->controls().showingControls()) {
            ClickAtPoint(*picture, picture->Bounds().Center());
        }
        ASSERT_TRUE(IterateUntil([&] { return player->controls().showingControls(); }, 10s));
        ASSERT_TRUE(WaitUntilAtRest());  // the bars have slid in
        ClickAtPoint(*close, close->Bounds().Center());
        ASSERT_TRUE(IterateUntil([&] { return Player() == nullptr; }, 20s));
        // The engine has stopped, and with it its server on the loopback port.
        ASSERT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        ASSERT_TRUE(IterateUntil(
            [] { return !SarvelonMediaKit::SViOsApiState::Instance().IsInitialized(); }, 10s));
    }
};

SV_SUITE_LABEL(PortalPlaybackWindowTest, e2e);   // WebKit and GStreamer as the player
SV_SUITE_LABEL(PortalPlaybackWindowTest, slow);  // two titles played at real speed

// The process WebKit starts in place of one that ended must take nothing of the engine's with
// it: had it the engine's listening socket, the port would stay taken after the engine closed
// it, and no title would start again ("Could not listen", 210).
TEST_F(PortalPlaybackWindowTest, AWebProcessThatEndsDuringAPlaybackLeavesTheNextTitlePlaying) {
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    ASSERT_TRUE(Settle());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("101"));

    // The page's process goes while the movie plays; the error page comes in a new one.
    webkit_web_view_terminate_web_process(backend->View());
    ASSERT_TRUE(IterateUntil(
        [&] {
            return !web->IsLoading() &&
                   web->Request().GetURL().LastPathComponent() == "WebError.html";
        },
        10s));
    ASSERT_TRUE(Playing()) << "the movie stopped with the page's process";
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());

    // Home from the menu, then another title, to its first picture: colour bars across the
    // middle of the movie.
    ASSERT_NO_FATAL_FAILURE(ChooseHomeFromTheMenu());
    ASSERT_TRUE(WaitUntilAtRest());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("102"));
    const std::shared_ptr<ui::View> movie = Player()->player()->View();
    ASSERT_NE(nullptr, movie);
    const ui::Rect area = movie->Bounds();
    int coloured = 0;
    ASSERT_TRUE(IterateUntil(
        [&] {
            Pixbuf shot = CaptureWindow(renderer_->Window());
            if (!shot) return false;
            coloured = ColouredBars([&](double fraction) {
                return ColourAt(shot.get(), *movie,
                                ui::Point(area.Width() * fraction, area.Height() / 2));
            });
            return coloured >= 4;
        },
        20s))
        << coloured << " of 7 bars coloured";
    Capture("portal-second-title.png");
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());
}

// WebKit's network process killed during a playback: WebKit starts another with an empty cookie
// store, which must neither sign the person out nor end the title; the next page still gets the
// sign-in cookies.
TEST_F(PortalPlaybackWindowTest, ANetworkProcessKilledDuringAPlaybackLeavesItPlayingAndSignedIn) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto web = Portal()->contentViewWebView();
    ASSERT_TRUE(IterateUntil([&] { return !web->IsLoading(); }, 10s));
    ASSERT_TRUE(Settle());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("101"));

    const std::vector<pid_t> killed = NetworkProcesses();
    ASSERT_FALSE(killed.empty());
    for (pid_t pid : killed) ASSERT_EQ(0, kill(pid, SIGKILL));
    const double at = Player()->player()->CurrentPlaybackTime();
    // Three seconds more of the title play, on the portal screen.
    ASSERT_TRUE(IterateUntil(
        [&] { return !Playing() || Player()->player()->CurrentPlaybackTime() >= at + 3; }, 30s));
    ASSERT_TRUE(Playing()) << "the movie stopped with WebKit's network process";
    EXPECT_NE(nullptr, Portal());
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());

    // Home from the menu carries the sign-in cookies, and the portal screen stays.
    const size_t from = portal_->Requests().size();
    ASSERT_NO_FATAL_FAILURE(ChooseHomeFromTheMenu());
    const std::vector<ZulPortal::HttpRequest> requests = portal_->Requests();
    const auto home = std::find_if(
        requests.begin() + static_cast<std::ptrdiff_t>(from), requests.end(),
        [](const ZulPortal::HttpRequest& r) { return r.method == "GET" && r.path == "/home"; });
    ASSERT_NE(home, requests.end());
    EXPECT_EQ(ZulPortal::PortalServer::kCompanyId, CookieValue(*home, "COMPANY_ID"));
    EXPECT_NE("", CookieValue(*home, "ID"));
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_NE(nullptr, Portal()) << "back at the sign-in screen";
}

// Another program's window passed over the page leaves no hole in it, before a title has
// played and after its player screen has closed (the page's widget waited, hidden, under it).
// The page shows a block of a known colour; the pixels are read back from the X server.
TEST_F(PortalPlaybackWindowTest, AfterAPlaybackThePageDrawsAgainWhatAnotherWindowCovered) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto web = Portal()->contentViewWebView();
    ASSERT_TRUE(IterateUntil([&] { return !web->IsLoading(); }, 10s));

    constexpr Rgb kBlock{0x20, 0x80, 0xE0};
    // The block spans 20, 60 to 220, 180 of the page's points; the cover, 120 x 60 points,
    // lies inside it.
    const ui::Point from = Pixel(*web, ui::Point(60, 90)), to = Pixel(*web, ui::Point(180, 150));
    const int x = static_cast<int>(from.x), y = static_cast<int>(from.y);
    const int width = static_cast<int>(to.x) - x, height = static_cast<int>(to.y) - y;
    auto passOver = [&] {
        ASSERT_EQ("shown", Eval(*web,
                                "var b = document.getElementById('block') ||"
                                "  document.body.appendChild(document.createElement('div'));"
                                "b.id = 'block'; b.style.cssText = 'position: fixed; left: 20px;"
                                "  top: 60px; width: 200px; height: 120px; z-index: 9;"
                                "  background: #2080E0'; 'shown'"));
        GtkWidget* window = renderer_->Window();
        Rgb seen{};
        // A composited page's picture reaches the screen a while after the page has it.
        ASSERT_TRUE(
            WaitForPixel(window, x + width / 2, y + height / 2, kBlock, kRestTimeout, &seen))
            << seen;
        const Rgb after = PixelAfterCovering(window, renderer_->NativeWidgetFor(*web), x, y, width,
                                             height, 0xE02030, kRestTimeout);
        EXPECT_TRUE(NearColour(kBlock, after)) << after;
    };
    {
        SCOPED_TRACE("before the title played");
        passOver();
    }
    ASSERT_NO_FATAL_FAILURE(PlayTitle("102"));
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());
    ASSERT_TRUE(WaitUntilAtRest());
    {
        SCOPED_TRACE("after the player screen closed");
        passOver();
    }
}

}  // namespace
