// The scripted session end to end in a GTK window on the test's Xvfb, as `zul-demo --demo` runs it
// (as a phone and as a tablet, whose menu leaves the page beside it on screen):
// the portal's pages in WebKit, the title through the engine into the GStreamer player
// (silently), against the demo portal in this process. What the title page's own script wrote
// after the completion is read back from the page, the portal hears the completion, and the
// screens' pictures (kept beside the test program as demo-IDIOM-NAME.png) are neither blank nor
// alike.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/demo/DemoSession.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/EngineTestSupport.h"
#include "app/SarvelonQueue.h"
#include "engine/api/SViOsApiState.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/WebViewScriptLog.h"
#include "tests/support/TestLabels.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

// The screens the session keeps, in its order.
const std::vector<std::string> kPictures = {"sign-in",       "portal",          "menu",  "player",
                                            "player-volume", "title-completed", "search"};

// Colours in a picture, counted on a grid of every fourth pixel (a blank picture has one).
size_t Colours(const GdkPixbuf* picture) {
    std::map<int, int> seen;
    for (int y = 0; y < gdk_pixbuf_get_height(picture); y += 4) {
        for (int x = 0; x < gdk_pixbuf_get_width(picture); x += 4) {
            const Rgb c = PixelAt(picture, x, y);
            ++seen[(c.r << 16) | (c.g << 8) | c.b];
        }
    }
    return seen.size();
}

// The share of pixels, in ten-thousandths, that differ clearly between two pictures of one size.
int DifferingPerTenThousand(const GdkPixbuf* a, const GdkPixbuf* b) {
    const int width = gdk_pixbuf_get_width(a);
    const int height = gdk_pixbuf_get_height(a);
    if (width != gdk_pixbuf_get_width(b) || height != gdk_pixbuf_get_height(b)) return 10000;
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb p = PixelAt(a, x, y);
            const Rgb q = PixelAt(b, x, y);
            differing += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 60;
        }
    }
    return static_cast<int>(10000LL * differing / (static_cast<long long>(width) * height));
}

struct Idiom {
    const char* name;
    ui::UserInterfaceIdiom idiom;
    // The least share of pixels, in ten-thousandths, in which two screens' pictures differ. The
    // smallest change, the volume slider over the player, is about 5% of a phone's window and
    // 0.25% of a tablet's (the same controls in a window five times its size); a picture of
    // the same screen taken again differs in next to none.
    int leastDiffering;
};

// The test's name says which device ran.
void PrintTo(const Idiom& idiom, std::ostream* out) { *out << idiom.name; }

class DemoSessionWindowTest : public AppWindowTestBase,
                              public ::testing::WithParamInterface<Idiom> {
protected:
    void SetUp() override {
        ns::RunLoop::Main().RunOnce(0ms);
        ns::UserDefaults::Standard().RemoveObjectForKey("ZUL User Login");
        ns::UserDefaults::Standard().RemoveObjectForKey("ZUL User Password");
        portal_ = AppTestSupport::StartDemoPortal();
        ASSERT_NE(0, AppTestSupport::ResetEngineOnUnusedPort());
        GstMoviePlayer::Install();
        WebKitWebViewBackend::Install();
        ui::WebViewScriptLog::Clear();
        // As `zul` starts in a window (`--idiom` chooses the device): held in landscape.
        ui::UiDevice::Current().SetIdiom(GetParam().idiom);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        Launch();
    }

    void TearDown() override {
        DismissAlerts();
        WaitUntilLoopIdle();
        renderer_.reset();
        app_.reset();
        delegate_.reset();
        // What the closing posted runs while the loop is still inside GLib.
        WaitUntilLoopIdle();
        source_.reset();
        ns::MoviePlayer::SetFactory(nullptr);
        ui::WebView::SetBackendFactory(nullptr);
        // The player screen's engine stop runs on the bridge's thread.
        EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
        ns::CookieStorage::Shared().DeleteAllCookies();
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    }

    bool Capture(const std::string& name, DemoPicture& pixels, std::string& error) {
        if (!WaitUntilWebViewsShow(renderer_->Window(), kRestTimeout)) {
            error = "the web page did not reach the screen";
            return false;
        }
        DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        if (!drawn.WaitForDrawAfter(0, 3s)) {
            error = "the window did not draw";
            return false;
        }
        IteratePending();
        Pixbuf picture = CaptureWindow(renderer_->Window());
        if (!picture) {
            error = "no picture";
            return false;
        }
        const std::string path =
            PicturePath(std::string("demo-") + GetParam().name + "-" + name + ".png");
        if (!SavePng(picture.get(), path, &error)) return false;
        pixels.width = gdk_pixbuf_get_width(picture.get());
        pixels.height = gdk_pixbuf_get_height(picture.get());
        pixels.rgb = RgbBytes(picture.get());
        names_.push_back(name);
        pictures_[name] = std::move(picture);
        return true;
    }

    std::vector<std::string> names_;
    std::map<std::string, Pixbuf> pictures_;
};

SV_SUITE_LABEL(DemoSessionWindowTest, e2e);   // WebKit and GStreamer as the player
SV_SUITE_LABEL(DemoSessionWindowTest, slow);  // a whole session at real speed

TEST_P(DemoSessionWindowTest, SignInPlayATitleToItsEndAndSearch) {
    std::vector<std::string> report;
    DemoSession session(
        DemoSession::Options(),
        [](const std::function<bool()>& condition, double seconds) {
            return IterateUntil(condition,
                                std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        },
        [this](const std::string& name, DemoPicture& picture, std::string& error) {
            return Capture(name, picture, error);
        },
        [&](const std::string& line) { report.push_back(line); });
    const bool held = session.Run();
    std::string printed;
    for (const std::string& line : report) printed += line + "\n";
    ASSERT_TRUE(held) << printed;

    // The title page's bridge function writes "Completed (title ID)" for a completion.
    EXPECT_EQ("Completed (title 102)", session.PageStatus());
    // The application called it exactly once, with the title's media id.
    int completions = 0;
    for (const ui::WebViewScriptLogEntry& entry : ui::WebViewScriptLog::Entries()) {
        completions += entry.script == "__zulPlayerProxy('complete',102);";
    }
    EXPECT_EQ(1, completions);
    // The page's script told the portal (its form post, written by the page, not the app).
    int posted = 0;
    for (const ZulPortal::HttpRequest& request : portal_->Requests()) {
        posted += request.method == "POST" && request.path == "/api/progress" &&
                  request.body == "kind=complete&id=102&value=";
    }
    EXPECT_EQ(1, posted);

    // Every screen was kept, none blank, no two alike.
    EXPECT_EQ(kPictures, names_);
    for (const std::string& name : names_) {
        EXPECT_GT(Colours(pictures_[name].get()), 8u) << name << " looks blank";
    }
    for (size_t i = 0; i < names_.size(); ++i) {
        for (size_t j = i + 1; j < names_.size(); ++j) {
            EXPECT_GT(
                DifferingPerTenThousand(pictures_[names_[i]].get(), pictures_[names_[j]].get()),
                GetParam().leastDiffering)
                << names_[i] << " and " << names_[j] << " are alike";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Idioms, DemoSessionWindowTest,
                         ::testing::Values(Idiom{"phone", ui::UserInterfaceIdiom::Phone, 200},
                                           Idiom{"pad", ui::UserInterfaceIdiom::Pad, 10}),
                         [](const ::testing::TestParamInfo<Idiom>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
