// A movie loaded before its view is in any window (an application adds the view and loads in
// the same step, before the renderer has shown it) opens no window of its own: gtksink would
// otherwise put the picture in a 640 x 480 window of its own, over the application's.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/NativeView.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/media/testing/MoviePlayerContract.h"
#include "tests/support/TestOrigin.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;

int ShownWindows() {
    int n = 0;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next) {
        GtkWidget* window = GTK_WIDGET(w->data);
        n += gtk_widget_get_visible(window) && !GTK_IS_OFFSCREEN_WINDOW(window);
    }
    g_list_free(windows);
    return n;
}

TEST(GstMoviePlayerAnchorTest, AMovieLoadedBeforeItsViewIsShownOpensNoWindow) {
    RunLoop::Main().RunOnce(0ms);
    RunLoopSource source(RunLoop::Main());
    SvTestSupport::TestOrigin origin;
    contract::ServePlayerHls(origin);
    const int before = ShownWindows();
    {
        GstMoviePlayer player(RunLoop::Main(), NotificationCenter::Default());
        player.SetShouldAutoplay(false);
        player.SetContentUrl(origin.Url("/master.m3u8"));
        player.PrepareToPlay();
        ASSERT_TRUE(IterateUntil([&] { return player.LoadState() != kLoadStateUnknown; }, 20s));
        EXPECT_EQ(before, ShownWindows());
        // The picture waits in a window of the player's until a renderer shows it.
        GtkWidget* widget = static_cast<NativeView&>(*player.View()).Widget();
        ASSERT_NE(nullptr, widget);
        EXPECT_TRUE(GTK_IS_OFFSCREEN_WINDOW(gtk_widget_get_toplevel(widget)));
    }
    IterateFor(50ms);
    EXPECT_EQ(before, ShownWindows());
}

}  // namespace
}  // namespace ns::desktop
