#include "platform/desktop/ApplicationQuit.h"

#include <glib-unix.h>
#include <signal.h>

#include "platform/core/LogWriter.h"
#include "platform/desktop/Renderer.h"
#include "platform/ui/Application.h"

namespace ns::desktop {

namespace {

gboolean OnSignal(gpointer name) {
    ns::Log("[UI] %s: the application ends", static_cast<const char*>(name));
    ApplicationQuit::Quit();
    // Kept: a second signal while the application ends finds it terminating.
    return G_SOURCE_CONTINUE;
}

}  // namespace

ApplicationQuit::ApplicationQuit() {
    interruptSource_ = g_unix_signal_add(SIGINT, &OnSignal, const_cast<char*>("SIGINT"));
    terminateSource_ = g_unix_signal_add(SIGTERM, &OnSignal, const_cast<char*>("SIGTERM"));
}

ApplicationQuit::~ApplicationQuit() {
    g_source_remove(interruptSource_);
    g_source_remove(terminateSource_);
}

void ApplicationQuit::Follow(Renderer& renderer) { renderer.SetCloseHandler(&Quit); }

void ApplicationQuit::Quit() { ui::Application::Shared().Terminate(0); }

}  // namespace ns::desktop
