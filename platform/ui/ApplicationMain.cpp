#include "platform/ui/ApplicationMain.h"

#include "platform/core/LogWriter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"

namespace ui {

int ApplicationMain(int /*argc*/, char** /*argv*/, const ApplicationDelegateFactory& makeDelegate) {
    Application app;
    std::shared_ptr<ApplicationDelegate> delegate = makeDelegate ? makeDelegate() : nullptr;
    if (!delegate) {
        ns::Log("[UI] ApplicationMain: no application delegate was made");
        return 1;
    }
    app.SetDelegate(delegate);
    app.FinishLaunching(ns::Value(ns::Dictionary()));
    if (!app.IsTerminating()) {
        app.BecomeActive();
    }
    // A Stop that does not come from Terminate (a nested loop's, say) does not end the program.
    while (!app.IsTerminating()) {
        Loop().Run();
    }
    return app.ExitCode();
}

}  // namespace ui
