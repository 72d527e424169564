#include "app/main/DemoWindow.h"

#include <errno.h>
#include <gtk/gtk.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>

#include "app/DemoOutput.h"
#include "app/DemoSession.h"
#include "platform/core/LogWriter.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/ui/Application.h"

namespace {

using namespace std::chrono_literals;

struct Demo {
    std::string folder;
    DemoOutput output;
};

// The application's window: the largest shown top-level window (an alert is drawn inside it).
GtkWidget* ApplicationWindow() {
    GtkWidget* best = nullptr;
    int bestArea = 0;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        GtkWidget* widget = GTK_WIDGET(item->data);
        if (!gtk_widget_get_mapped(widget)) continue;
        const int area =
            gtk_widget_get_allocated_width(widget) * gtk_widget_get_allocated_height(widget);
        if (area > bestArea) {
            best = widget;
            bestArea = area;
        }
    }
    g_list_free(windows);
    return best;
}

// A picture of one colour shows nothing of the screen.
bool Blank(const GdkPixbuf* picture) {
    const int width = gdk_pixbuf_get_width(picture);
    const int height = gdk_pixbuf_get_height(picture);
    const ns::desktop::Rgb first = ns::desktop::PixelAt(picture, 0, 0);
    for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < width; x += 2) {
            if (ns::desktop::PixelAt(picture, x, y) != first) return false;
        }
    }
    return true;
}

bool Capture(const std::string& folder, const std::string& name, std::string& error) {
    ns::desktop::IterateUntil([] { return ApplicationWindow() != nullptr; }, 5s);
    GtkWidget* window = ApplicationWindow();
    if (window == nullptr) {
        error = "the application shows no window";
        return false;
    }
    ns::desktop::DrawWatch drawn(window);
    gtk_widget_queue_draw(window);
    if (!drawn.WaitForDrawAfter(0, 3s)) {
        error = "the window did not draw";
        return false;
    }
    ns::desktop::IteratePending();
    ns::desktop::Pixbuf picture = ns::desktop::CaptureWindow(window);
    if (!picture) {
        error = "the window could not be read back";
        return false;
    }
    if (Blank(picture.get())) {
        error = "the window is blank";
        return false;
    }
    return ns::desktop::SavePng(picture.get(), folder + "/" + name + ".png", &error);
}

gboolean RunSession(gpointer data) {
    std::unique_ptr<Demo> demo(static_cast<Demo*>(data));
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
        [folder](const std::string& name, std::string& error) {
            return Capture(folder, name, error);
        },
        [&output](const std::string& line) { output.report(line); });
    session.Runner().SetLogForward(output.logSink());
    const bool ok = session.Run();
    // The log file stays open as long as a sink (or a line another thread is writing) holds
    // it; the lines logged from now on go to standard error.
    session.Runner().SetLogForward(nullptr);
    ns::LogWriter::Shared().SetSink(nullptr);
    if (!ui::Application::Shared().IsTerminating()) ui::Application::Shared().Terminate(ok ? 0 : 1);
    return G_SOURCE_REMOVE;
}

}  // namespace

bool StartDemoSession(const std::string& folder, std::string& error) {
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot make " + folder + ": " + strerror(errno);
        return false;
    }
    auto demo = std::make_unique<Demo>();
    demo->folder = folder;
    if (!demo->output.openLog(folder + "/zul.log", error)) return false;
    // Standard output carries the step report alone; the engine's own lines go to zul.out.
    if (!demo->output.separateStandardOutput(folder + "/zul.out", error)) return false;
    // The application's start is logged there too, before the session takes the log over.
    ns::LogWriter::Shared().SetSink(demo->output.logSink());
    // An X picture of a composited web view can stay blank for a while; without compositing
    // the window's picture holds the page as soon as it is drawn.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    // Runs once GTK's loop runs, that is once the application and its window are up.
    g_idle_add(RunSession, demo.release());
    return true;
}
