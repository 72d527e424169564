// The run loop inside GLib's main loop and the first paint of a window, under a private Xvfb
// (the desktop tests' display): each figure is printed beside its goal, and the program exits
// 1 when one misses it.
//   idle CPU         process CPU time while GLib runs 10 s with an idle run loop (one far timer)
//   timer lateness   ten one-shot 0.5 s run-loop timers, how late each fired
//   first paint      from gtk_widget_show_all to the window's first draw signal

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

#include "bench/CpuTime.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/TestDisplay.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Report(const char* what, double value, const char* unit, double goal) {
    bool met = value < goal;
    std::printf("%-34s %10.3f %-3s goal < %g %s  %s\n", what, value, unit, goal, unit,
                met ? "ok" : "MISSED");
    return met;
}

}  // namespace

int main() {
    try {
        ns::desktop::TestDisplay display;
        std::printf("display %s\n", display.Name().c_str());
        ns::RunLoop& loop = ns::RunLoop::Main();
        ns::desktop::RunLoopSource source(loop);
        bool ok = true;

        // First paint first: the process's first window is the one a user waits for.
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
        GtkWidget* fixed = gtk_fixed_new();
        GtkWidget* label = gtk_label_new("Sarvelon");
        gtk_fixed_put(GTK_FIXED(fixed), label, 100, 100);
        gtk_container_add(GTK_CONTAINER(window), fixed);
        double paintMs = -1;
        {
            ns::desktop::DrawWatch drawn(window);
            const Clock::time_point shown = Clock::now();
            gtk_widget_show_all(window);
            if (drawn.WaitForDrawAfter(0, 5s)) {
                paintMs =
                    std::chrono::duration<double, std::milli>(*drawn.FirstDraw() - shown).count();
            }
        }
        gtk_widget_destroy(window);
        ns::desktop::IteratePending();

        // Idle: one far timer, nothing else to do.
        uint64_t far = loop.AfterDelay(1h, [] {});
        const double cpuBefore = bench::ProcessCpuSeconds();
        const Clock::time_point idleStart = Clock::now();
        ns::desktop::IterateFor(10s);
        const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
        const double idlePercent = (bench::ProcessCpuSeconds() - cpuBefore) / wall * 100;
        loop.CancelTimer(far);

        // Timer lateness.
        std::vector<double> lateMs;
        for (int i = 0; i < 10; ++i) {
            bool fired = false;
            const Clock::time_point due = Clock::now() + 500ms;
            Clock::time_point firedAt;
            loop.AfterDelay(500ms, [&] {
                firedAt = Clock::now();
                fired = true;
            });
            if (!ns::desktop::IterateUntil([&] { return fired; }, 2s)) {
                lateMs.push_back(1500);
                continue;
            }
            lateMs.push_back(std::chrono::duration<double, std::milli>(firedAt - due).count());
        }
        std::sort(lateMs.begin(), lateMs.end());

        ok &= Report("idle run loop in GLib, CPU (10 s)", idlePercent, "%", 1);
        std::printf("%-34s %10.3f ms (min), %.3f ms (median)\n", "0.5 s timer lateness (10 runs)",
                    lateMs.front(), lateMs[lateMs.size() / 2]);
        ok &= Report("0.5 s timer lateness, worst", lateMs.back(), "ms", 10);
        if (paintMs < 0) {
            std::printf("first window paint: no draw within 5 s  MISSED\n");
            ok = false;
        } else {
            ok &= Report("first window paint", paintMs, "ms", 500);
        }
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "DesktopBench: %s\n", e.what());
        return 1;
    }
}
