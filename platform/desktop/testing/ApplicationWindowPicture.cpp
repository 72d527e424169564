#include "platform/desktop/testing/ApplicationWindowPicture.h"

#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <utility>

#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/desktop/testing/WindowCapture.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;

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
    const Rgb first = PixelAt(picture, 0, 0);
    for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < width; x += 2) {
            if (PixelAt(picture, x, y) != first) return false;
        }
    }
    return true;
}

gboolean RunOnce(gpointer data) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
    (*work)();
    return G_SOURCE_REMOVE;
}

}  // namespace

bool SaveApplicationWindowPicture(const std::string& path, std::string& error,
                                  std::vector<uint8_t>* rgb, int* width, int* height) {
    IterateUntil([] { return ApplicationWindow() != nullptr; }, 5s);
    GtkWidget* window = ApplicationWindow();
    if (window == nullptr) {
        error = "the application shows no window";
        return false;
    }
    if (!WaitUntilWebViewsShow(window, 5s)) {
        error = "the web page did not reach the screen";
        return false;
    }
    DrawWatch drawn(window);
    gtk_widget_queue_draw(window);
    if (!drawn.WaitForDrawAfter(0, 3s)) {
        error = "the window did not draw";
        return false;
    }
    IteratePending();
    Pixbuf picture = CaptureWindow(window);
    if (!picture) {
        error = "the window could not be read back";
        return false;
    }
    if (Blank(picture.get())) {
        error = "the window is blank";
        return false;
    }
    if (rgb != nullptr) *rgb = RgbBytes(picture.get());
    if (width != nullptr) *width = gdk_pixbuf_get_width(picture.get());
    if (height != nullptr) *height = gdk_pixbuf_get_height(picture.get());
    return SavePng(picture.get(), path, &error);
}

void RunWhenLoopRuns(std::function<void()> work) {
    g_idle_add(RunOnce, new std::function<void()>(std::move(work)));
}

}  // namespace ns::desktop
