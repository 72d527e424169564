// What the application gives back when its player screen closes: signs in to the demo portal
// (in this process) as `zul` would in its window, opens a title's page in the portal's WebKit
// view, and then plays the title and closes the player screen again and again, as a person's
// Play and Done do (the player presented over the portal, the portal's view back under it when
// it goes). After each close it prints the resident size and the WebKit shared-memory mappings
// (`memfd:WebKitSharedMemory` in /proc/self/maps: the page's backing stores shared with the web
// process). The first plays load GStreamer's plug-ins and warm WebKit up; the figure is the
// growth over the plays after them at its highest (the largest reading less the one after the
// warm-up: what a play took and a later one gave back still counts), beside its goal. Sizes
// are in MB of 10^6 bytes. Exits 1 when a play fails or the goal is
// missed.
//
//   PortalPlayerMemoryBench [PLAYS [SECONDS]]   (20 plays after the warm-up, 4 s each)
//
// Each play waits until the movie plays, lets it play SECONDS, then closes the screen through
// the portal (what the player's Done button ends in, without its three-second delay). Freed
// heap is handed back to the system (malloc_trim) before each measurement, so the figure
// counts what stays allocated. The movie plays a few seconds: WebKit takes a new backing store
// for a page that comes back only once it has been away a while, so a screen closed at once
// would not show what a close can cost.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <string>

#include "bench/PeerFigures.h"
#include "bench/ResidentMemory.h"
#include "bench/Usage.h"
#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/Qplayer.h"
#include "app/SarvelonQueue.h"
#include "app/ZULAppDelegate.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/PrivateHome.h"
#include "engine/api/SViOsApiState.h"
#include "engine/serve/ListeningPort.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/TestDisplay.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"

namespace {

using namespace std::chrono_literals;
using ns::desktop::IterateFor;
using ns::desktop::IterateUntil;

// The title the portal's demo data play (colour bars with subtitles).
constexpr const char* kTitlePath = "/-/-/102";
// Plays before the measured ones: GStreamer's plug-ins, GL and WebKit's caches settle in them.
constexpr int kWarmUpPlays = 2;
// The growth allowed over the measured plays: 2 MiB, the goal since it was first set, in MB.
constexpr double kGoalMB = 2.097152;

using bench::ResidentMB;

// WebKit's shared-memory mappings in this process: how many, and their size in bytes.
struct SharedMemory {
    int mappings = 0;
    unsigned long bytes = 0;
};

SharedMemory WebKitSharedMemory() {
    SharedMemory shared;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("memfd:WebKitSharedMemory") == std::string::npos) continue;
        unsigned long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx", &from, &to) != 2) continue;
        ++shared.mappings;
        shared.bytes += to - from;
    }
    return shared;
}

std::shared_ptr<MainViewController2> Portal() {
    ZULAppDelegate* delegate = ZULAppDelegate::Current();
    if (delegate == nullptr || !delegate->window()) return nullptr;
    return std::dynamic_pointer_cast<MainViewController2>(delegate->window()->RootViewController());
}

std::shared_ptr<Qplayer> Player() {
    std::shared_ptr<MainViewController2> portal = Portal();
    return portal ? std::dynamic_pointer_cast<Qplayer>(portal->PresentedViewController()) : nullptr;
}

bool EngineAtRest() {
    return !SarvelonMediaKit::SViOsApiState::Instance().IsInitialized() &&
           SarvelonQueue::Shared().IsIdle();
}

// Signs in from the sign-in screen and waits for the portal's first page.
bool SignIn() {
    auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
        ZULAppDelegate::Current()->window()->RootViewController());
    auto login =
        navigation ? std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController())
                   : nullptr;
    if (!login) {
        std::fprintf(stderr, "no sign-in screen\n");
        return false;
    }
    IterateFor(500ms);
    login->emailTextField()->SetText("demo@zul.test");
    login->passwordlTextField()->SetText("demo");
    login->signInAction();
    login.reset();
    navigation.reset();
    return IterateUntil(
        [] {
            std::shared_ptr<MainViewController2> portal = Portal();
            return portal && portal->contentViewWebView() &&
                   portal->contentLoadingView()->IsHidden();
        },
        20s);
}

// The title's page in the portal's web view, loaded.
bool OpenTitlePage() {
    std::shared_ptr<ui::WebView> web = Portal()->contentViewWebView();
    const std::string url = ZULAppDelegate::Current()->zulBaseURL() + kTitlePath;
    web->LoadRequest(ns::URLRequest(*ns::URL::Parse(url)));
    return IterateUntil(
        [&] { return !web->IsLoading() && web->Request().GetURL().AbsoluteString() == url; }, 15s);
}

// Play on the title's page, then the screen closed once the movie plays; false when the movie
// did not play or the screen did not go.
bool PlayAndClose(std::chrono::milliseconds watched) {
    std::shared_ptr<ui::WebView> web = Portal()->contentViewWebView();
    if (!IterateUntil([&] { return !web->IsLoading(); }, 15s) ||
        !ui::Driver().ClickLink(web, "Play")) {
        std::fprintf(stderr, "the title page has no Play link\n");
        return false;
    }
    const bool playing = IterateUntil(
        [] {
            std::shared_ptr<Qplayer> player = Player();
            return player && player->player() &&
                   player->player()->PlaybackState() == ns::MoviePlaybackState::Playing;
        },
        30s);
    if (!playing) std::fprintf(stderr, "the movie did not play\n");
    IterateFor(watched);
    if (Player()) Portal()->disposeQPlayer();
    const bool closed = IterateUntil([] { return !Player() && EngineAtRest(); }, 30s);
    if (!closed) std::fprintf(stderr, "the player screen did not close\n");
    // What the closing left to the loop and the web process's next frame.
    IterateFor(500ms);
    return playing && closed;
}

}  // namespace

constexpr char kUsage[] =
    "usage: PortalPlayerMemoryBench [PLAYS [SECONDS]]\n"
    "\n"
    "Signs in to the demo portal in this process on a private Xvfb, opens a title's page in the\n"
    "portal's WebKit view, then plays the title SECONDS (4 by default) and closes the player\n"
    "screen PLAYS times (20 by default) after two warm-up plays, printing the resident size and\n"
    "WebKit's shared-memory mappings after each close and the growth beside its goal. Exits 1\n"
    "when a play fails or the goal is missed.\n";

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
    try {
        const int plays = argc > 1 ? std::atoi(argv[1]) : 20;
        const std::chrono::milliseconds watched(
            static_cast<long long>((argc > 2 ? std::atof(argv[2]) : 4.0) * 1000));
        setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
        SvTestSupport::TemporaryDirectory root("zul-portal-player-bench-");
        AppTestSupport::UsePrivateHome(root);
        ns::desktop::TestDisplay display;
        ns::RunLoop::Main().RunOnce(0ms);
        auto source = std::make_unique<ns::desktop::RunLoopSource>(ns::RunLoop::Main());
        // As `zul --idiom phone` starts: a phone held in landscape.
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);

        // This device is registered already, so the sign-in leads straight to the portal.
        const std::string accounts = root.File("accounts.json");
        if (!AppTestSupport::WriteAccountsWithThisDevice(accounts)) {
            std::fprintf(stderr, "cannot write %s\n", accounts.c_str());
            return 1;
        }
        std::unique_ptr<ZulPortal::PortalServer> portal = AppTestSupport::StartDemoPortal(accounts);
        if (const uint16_t port = SvTestSupport::UnusedLoopbackPort(); port != 0) {
            SarvelonMediaKit::SetLoopbackPort(port);
        }
        ns::desktop::GstMoviePlayer::Install();
        ns::desktop::WebKitWebViewBackend::Install();
        auto app = std::make_unique<ui::Application>();
        auto delegate = std::make_shared<ZULAppDelegate>(portal->Address());
        app->SetDelegate(delegate);
        if (!app->FinishLaunching()) {
            std::fprintf(stderr, "the application did not start\n");
            return 1;
        }
        app->BecomeActive();
        auto renderer = std::make_unique<ns::desktop::Renderer>();
        if (!SignIn() || !OpenTitlePage()) {
            std::fprintf(stderr, "the portal's title page did not show\n");
            return 1;
        }
        IterateFor(500ms);
        SharedMemory shared = WebKitSharedMemory();
        std::printf(
            "on the title page: %.3f MB resident, %d WebKit shared-memory mappings "
            "(%.3f MB)\n",
            ResidentMB(), shared.mappings, static_cast<double>(shared.bytes) / 1e6);

        bool ok = true;
        for (int play = 1; play <= kWarmUpPlays; ++play) ok = PlayAndClose(watched) && ok;
        const double first = ResidentMB();
        const SharedMemory firstShared = WebKitSharedMemory();
        std::printf("after %d warm-up plays: %.3f MB, %d mappings (%.3f MB)\n", kWarmUpPlays, first,
                    firstShared.mappings, static_cast<double>(firstShared.bytes) / 1e6);
        bench::ResidentGrowth growth(first);
        for (int play = 1; play <= plays; ++play) {
            if (!PlayAndClose(watched)) {
                std::printf("play %d failed\n", play);
                ok = false;
            }
            const double now = ResidentMB();
            growth.Add(now);
            shared = WebKitSharedMemory();
            std::printf(
                "after play %2d: %.3f MB (%+.3f, at most %+.3f); %d mappings (%+d), %.3f MB\n",
                play, now, growth.Last(), growth.Peak(), shared.mappings,
                shared.mappings - firstShared.mappings, static_cast<double>(shared.bytes) / 1e6);
        }
        const bool met = growth.Peak() < kGoalMB;
        std::printf("%-44s %8s MB  goal < %.6f MB: %s\n",
                    ("peak resident growth over " + std::to_string(plays) + " plays").c_str(),
                    bench::Fixed(growth.Peak(), kGoalMB, 3).c_str(), kGoalMB, met ? "ok" : "OVER");
        std::printf("%-44s %8d       (%+d)\n", "WebKit shared-memory mappings", shared.mappings,
                    shared.mappings - firstShared.mappings);

        renderer.reset();
        app.reset();
        delegate.reset();
        IterateUntil([] { return EngineAtRest(); }, 30s);
        source.reset();
        ns::MoviePlayer::SetFactory(nullptr);
        ui::WebView::SetBackendFactory(nullptr);
        return ok && met ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "PortalPlayerMemoryBench: %s\n", e.what());
        return 1;
    }
}
