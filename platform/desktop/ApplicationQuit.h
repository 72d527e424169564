#ifndef PLATFORM_DESKTOP_APPLICATION_QUIT_H
#define PLATFORM_DESKTOP_APPLICATION_QUIT_H
// The ways a person ends the application in a window, all leading to one quit: the window's
// close (the title bar's button, the window manager's menu), SIGINT (Control+C in the terminal
// it runs in) and SIGTERM (kill, the session ending). The signals are heard on GLib's main
// context, as GTK programs hear them, so the quit runs on the GTK thread between two events as
// a click's would, whatever shows (an alert included). The quit is
// ui::Application::Shared().Terminate(0): the delegate hears WillTerminate, the loop stops and
// ApplicationMain returns 0 (a second close or signal finds it terminating and does nothing).
// GTK thread only.

namespace ns::desktop {

class Renderer;

class ApplicationQuit {
public:
    // Hears SIGINT and SIGTERM from now on; one that comes before the main loop runs waits for
    // it (the process is not killed).
    ApplicationQuit();
    // Stops hearing them: their default actions are back.
    ~ApplicationQuit();
    ApplicationQuit(const ApplicationQuit&) = delete;
    ApplicationQuit& operator=(const ApplicationQuit&) = delete;

    // Closing the renderer's window quits.
    static void Follow(Renderer& renderer);
    // The quit itself.
    static void Quit();

private:
    unsigned interruptSource_ = 0;
    unsigned terminateSource_ = 0;
};

}  // namespace ns::desktop

#endif
