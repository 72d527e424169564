#include "app/main/ZulProgram.h"

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <optional>
#include <string>

#include "app/ZULAppDelegate.h"
#include "platform/core/LogWriter.h"
#include "platform/desktop/DesktopApplication.h"
#include "platform/net/URL.h"
#include "platform/store/Keychain.h"
#include "platform/store/StandardInstance.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Inspector.h"
#include "platform/ui/Loop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "common/CommandLine.h"

namespace {

// The server address ("host:port") of a portal URL "http://host[:port][/]"; nothing for any
// other text, since the configuration's URLs append their own paths to the address.
std::optional<std::string> PortalAddress(const std::string& text) {
    const std::optional<ns::URL> url = ns::URL::Parse(text);
    if (!url || url->Scheme() != "http" || url->Host().empty() || !url->User().empty() ||
        !url->Password().empty() || url->Authority().find('@') != std::string::npos ||
        (url->PercentEncodedPath() != "" && url->PercentEncodedPath() != "/") || url->HasQuery() ||
        url->HasFragment()) {
        return std::nullopt;
    }
    return url->Authority();
}

// "NavigationController > LoginViewController (LoginViewController~iPhone)".
std::string Describe(const ui::ViewController::Ptr& controller) {
    if (!controller) return "(none)";
    std::string text = controller->ClassName();
    if (!controller->InterfaceName().empty()) text += " (" + controller->InterfaceName() + ")";
    if (auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(controller)) {
        for (const ui::ViewController::Ptr& child : navigation->ViewControllers()) {
            text += " > " + Describe(child);
        }
    }
    return text;
}

// Launches the application without a display, lets its first loop step run (layout) and
// prints the address it talks to, the window's controllers and the window's view tree.
int RunHeadless(const std::string& address) {
    ui::Application application;
    auto delegate = std::make_shared<ZULAppDelegate>(address);
    application.SetDelegate(delegate);
    application.FinishLaunching(ns::Value(ns::Dictionary()));
    application.BecomeActive();
    ui::Loop().RunOnce(std::chrono::milliseconds(0));
    ui::RunLayoutPass();
    const std::shared_ptr<ui::Window>& window = delegate->window();
    if (!window) {
        fprintf(stderr, "zul: the application made no window\n");
        return SvTools::CommandLine::kExitFailure;
    }
    printf("zulAddress: %s\n", delegate->zulAddress().c_str());
    printf("root: %s\n", Describe(window->RootViewController()).c_str());
    printf("%s", ui::Dump(*window).c_str());
    fflush(stdout);
    return SvTools::CommandLine::kExitSuccess;
}

}  // namespace

int RunZulProgram(int argc, char** argv, const DemoStarter& startDemo) {
    SvTools::CommandLine line(
        startDemo ? "zul-demo" : "zul",
        std::string("[--portal URL] [--headless] [--idiom pad|phone]") +
            (startDemo ? " [--demo DIR]" : ""),
        "Runs the ZUL application in a window on $DISPLAY. It stores its settings, keychain and\n"
        "documents in $XDG_DATA_HOME/zul (by default ~/.local/share/zul) and nowhere else.");
    line.AddOption("portal", 0, "URL",
                   "talk to the portal at URL (http://HOST:PORT/) instead of the bundle's");
    line.AddOption("headless", 0, nullptr,
                   "start without a display, print the address, the window's controllers and "
                   "its view tree on standard output, and exit");
    line.AddOption("idiom", 0, "pad|phone", "lay the screens out for a tablet or a phone");
    if (startDemo) {
        line.AddOption("demo", 0, "DIR",
                       "run the scripted demo session in the window (sign in, Movies, play a "
                       "title with subtitles to its end, search), keep each screen's picture and "
                       "the log in DIR, exit 0 only when every step held");
    }
    line.SetArgumentCount(0, 0);
    const SvTools::CommandLine::Outcome outcome = line.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) return SvTools::CommandLine::ExitStatus(outcome);
    if (startDemo) {
        // The same application: its log lines name it as the shipped program's do.
        ns::LogWriter::Shared().SetProcessName("zul");
    }

    std::string address;
    if (line.Has("portal")) {
        const std::optional<std::string> parsed = PortalAddress(line.Value("portal"));
        if (!parsed) {
            return line.UsageError("--portal: \"" + line.Value("portal") +
                                   "\" is not a portal URL like http://127.0.0.1:8080/");
        }
        address = *parsed;
    }
    if (line.Has("idiom")) {
        const std::string idiom = line.Value("idiom");
        if (idiom != "pad" && idiom != "phone") {
            return line.UsageError("--idiom: \"" + idiom + "\" is neither pad nor phone");
        }
        // The device reads its idiom from the environment when it is first asked.
        setenv("ZUL_DEVICE_IDIOM", idiom.c_str(), 1);
    }

    const std::string data = ns::XdgBaseFolder("XDG_DATA_HOME", "/.local/share") + "/zul";
    ns::UserDefaults::SetStandardFolder(data + "/Preferences");
    ns::Keychain::SetStandardFolder(data + "/keychain");
    setenv("SV_DOCUMENTS_DIR", (data + "/Documents").c_str(), 1);

    const bool demo = startDemo && line.Has("demo");
    if (line.Has("headless")) {
        if (demo) return line.UsageError("--demo needs the window, not --headless");
        return RunHeadless(address);
    }
    std::function<bool()> demoHeld;
    if (demo) {
        std::string error;
        if (!startDemo(line.Value("demo"), error, demoHeld)) return line.Failure(error);
    }
    // GTK sees only the program's name: the options above are ours.
    int gtkArgc = 1;
    const int status = ns::desktop::RunApplication(
        gtkArgc, argv, [address] { return std::make_shared<ZULAppDelegate>(address); });
    // However the application ended (its window closed, SIGINT, SIGTERM, the demo's end), what
    // it changed in its settings and has not written yet is written now; settings lost are a
    // failed run, whatever the window's end said.
    const bool settingsWritten = ns::UserDefaults::Standard().Synchronize();
    if (!settingsWritten) {
        ns::Log("[DEL] the settings could not be written: %@",
                ns::UserDefaults::Standard().LastError());
    }
    if (demoHeld && !demoHeld()) return SvTools::CommandLine::kExitFailure;
    return settingsWritten ? status : SvTools::CommandLine::kExitFailure;
}
