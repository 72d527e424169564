#ifndef PLATFORM_DESKTOP_TESTING_DRAW_WATCH_H
#define PLATFORM_DESKTOP_TESTING_DRAW_WATCH_H
// Counts the "draw" signals of a widget (after its own handlers drew), from construction until
// destruction, and remembers when the first one came. Make it before showing the widget to
// catch its first paint.

#include <gtk/gtk.h>

#include <chrono>
#include <optional>

namespace ns::desktop {

class DrawWatch {
public:
    explicit DrawWatch(GtkWidget* widget);
    ~DrawWatch();
    DrawWatch(const DrawWatch&) = delete;
    DrawWatch& operator=(const DrawWatch&) = delete;

    int Count() const { return count_; }
    std::optional<std::chrono::steady_clock::time_point> FirstDraw() const { return first_; }
    // Iterates the main context until the count exceeds `seen` (true) or `timeout` passes.
    bool WaitForDrawAfter(int seen, std::chrono::milliseconds timeout);

private:
    static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);

    GtkWidget* widget_;
    gulong handler_ = 0;
    int count_ = 0;
    std::optional<std::chrono::steady_clock::time_point> first_;
};

}  // namespace ns::desktop

#endif
