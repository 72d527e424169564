#include "platform/desktop/DesktopApplication.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>

#include "platform/core/LogWriter.h"
#include "platform/core/NotificationCenter.h"
#include "platform/desktop/ApplicationQuit.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/PangoTextMeasure.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"

namespace ns::desktop {

int RunApplication(int argc, char** argv, const ui::ApplicationDelegateFactory& makeDelegate) {
    if (!gtk_init_check(&argc, &argv)) {
        ns::Log("[UI] no display: the application cannot open its window");
        return 1;
    }
    GstMoviePlayer::Install();
    // The models measure their text as the window draws it, from the first layout on.
    PangoTextMeasure::Install();
    if (std::getenv("ZUL_DEVICE_ORIENTATION") == nullptr) {
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
    }
    // A person types on the computer's keyboard: no keyboard slides in over the screen, so no
    // screen makes room for one.
    ui::Keyboard::SetOnScreen(false);
    // Web views show their pages with WebKit, inside the window.
    WebKitWebViewBackend::Install();
    RunLoopSource source(ui::Loop());
    // From here on SIGINT and SIGTERM end the application as closing its window does.
    ApplicationQuit quit;
    // ApplicationMain launches the application, then runs the toolkit's loop; its first step
    // runs this, which hands the thread to GLib until the application terminates. The loop's
    // own steps go on inside, through the source.
    ui::Loop().Post([] {
        GMainLoop* main = g_main_loop_new(nullptr, FALSE);
        const uint64_t token = ns::NotificationCenter::Default().AddObserver(
            ui::kApplicationWillTerminateNotification,
            [main](const ns::Notification&) { g_main_loop_quit(main); });
        {
            Renderer renderer;
            ApplicationQuit::Follow(renderer);
            if (!ui::Application::Shared().IsTerminating()) g_main_loop_run(main);
        }
        ns::NotificationCenter::Default().RemoveObserver(token);
        g_main_loop_unref(main);
    });
    return ui::ApplicationMain(argc, argv, makeDelegate);
}

}  // namespace ns::desktop
