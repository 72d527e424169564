#ifndef PLATFORM_DESKTOP_DESKTOP_APPLICATION_H
#define PLATFORM_DESKTOP_DESKTOP_APPLICATION_H
// The start of the application in a window: initialises GTK, runs the toolkit's loop inside
// GLib's main loop (RunLoopSource), makes WebKit the web views' engine and runs
// ui::ApplicationMain, whose delegate builds the interface; a Renderer shows the application's key
// window and follows it. Closing the window, SIGINT and SIGTERM terminate the application
// (ApplicationQuit). Returns ApplicationMain's exit code; 1, with a log line, when there is no
// display. Movies play in the window (GstMoviePlayer is the platform's movie player);
// ZUL_SILENT=1 keeps them silent.
//
// Unless ZUL_DEVICE_ORIENTATION says otherwise, the device is held in landscape (turned
// left), the way a desktop screen stands.

#include "platform/ui/ApplicationMain.h"

namespace ns::desktop {

int RunApplication(int argc, char** argv, const ui::ApplicationDelegateFactory& makeDelegate);

}  // namespace ns::desktop

#endif
