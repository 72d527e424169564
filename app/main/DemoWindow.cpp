#include "app/main/DemoWindow.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>

#include "app/demo/DemoOutput.h"
#include "app/demo/DemoSession.h"
#include "platform/core/LogWriter.h"
#include "platform/desktop/testing/ApplicationWindowPicture.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/ui/Application.h"

namespace {

struct Demo {
    std::string folder;
    DemoOutput output;
    bool held = false;
};

void RunSession(const std::shared_ptr<Demo>& demo) {
    auto wait = [](const std::function<bool()>& condition, double seconds) {
        const auto ms = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        // A closed window ends the session: nothing it waits for will come.
        return ns::desktop::IterateUntil(
                   [&] { return ui::Application::Shared().IsTerminating() || condition(); }, ms) &&
               !ui::Application::Shared().IsTerminating();
    };
    const std::string folder = demo->folder;
    DemoOutput& output = demo->output;
    DemoSession session(
        DemoSession::Options(), wait,
        [folder](const std::string& name, DemoPicture& picture, std::string& error) {
            return ns::desktop::SaveApplicationWindowPicture(
                folder + "/" + name + ".png", error, &picture.rgb, &picture.width, &picture.height);
        },
        [&output](const std::string& line) { output.report(line); });
    session.Runner().SetLogForward(output.logSink());
    const bool ok = session.Run();
    demo->held = ok;
    // The log file stays open as long as a sink (or a line another thread is writing) holds
    // it; the lines logged from now on go to standard error.
    session.Runner().SetLogForward(nullptr);
    ns::LogWriter::Shared().SetSink(nullptr);
    if (!ui::Application::Shared().IsTerminating()) ui::Application::Shared().Terminate(ok ? 0 : 1);
}

}  // namespace

bool StartDemoSession(const std::string& folder, std::string& error, std::function<bool()>& held) {
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot make " + folder + ": " + strerror(errno);
        return false;
    }
    auto demo = std::make_shared<Demo>();
    demo->folder = folder;
    if (!demo->output.openLog(folder + "/zul.log", error)) return false;
    // Standard output carries the step report alone; the engine's own lines and whatever the
    // libraries print on either stream go to zul.out.
    if (!demo->output.separateReport(folder + "/zul.out", error)) return false;
    // The application's start is logged there too, before the session takes the log over.
    ns::LogWriter::Shared().SetSink(demo->output.logSink());
    ns::desktop::RunWhenLoopRuns([demo] { RunSession(demo); });
    held = [demo] { return demo->held; };
    return true;
}
