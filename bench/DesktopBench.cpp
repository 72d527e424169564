// The run loop inside GLib's main loop and the first paint of a window, under a private Xvfb
// (the desktop tests' display), each figure beside its peer's (plain GLib and GTK doing the
// same, with nothing of ours: what a GTK program has without our run loop) and the ratio, and
// beside its goal; the program exits 1 when a figure misses its goal or the peer does not run.
//   idle CPU         process CPU time while GLib runs 10 s with an idle run loop (one far
//                    timer); peer: a bare GMainLoop with one far g_timeout source
//   timer lateness   ten one-shot 0.5 s run-loop timers, how late each fired; peer: ten
//                    one-shot 0.5 s g_timeout_add timers
//   first paint      from gtk_widget_show_all to the first draw signal of a window holding a
//                    label; peer: the same window (same size, same label) on plain GTK
// The peer runs in a child process of this program (`DesktopBench --peer`, its own Xvfb), so
// that its first window is its process's first too and no source of ours is attached to its
// main context.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench/CpuTime.h"
#include "bench/PeerFigures.h"
#include "bench/Usage.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/TestDisplay.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kTimers = 10;

struct Figures {
    double paintMs = -1;         // -1: no draw within 5 s
    double idlePercent = -1;     // of one core
    std::vector<double> lateMs;  // sorted
};

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The window whose first paint is measured, the same on both sides: a label in a window of
// kWidth x kHeight, so that both paint the same content.
GtkWidget* LabelledWindow() {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
    GtkWidget* fixed = gtk_fixed_new();
    GtkWidget* label = gtk_label_new("Sarvelon");
    gtk_fixed_put(GTK_FIXED(fixed), label, 100, 100);
    gtk_container_add(GTK_CONTAINER(window), fixed);
    return window;
}

// From gtk_widget_show_all to the window's first draw signal, -1 when none came within 5 s.
double FirstPaintMs(GtkWidget* window) {
    double paintMs = -1;
    {
        ns::desktop::DrawWatch drawn(window);
        const Clock::time_point shown = Clock::now();
        gtk_widget_show_all(window);
        if (drawn.WaitForDrawAfter(0, 5s)) paintMs = Milliseconds(*drawn.FirstDraw() - shown);
    }
    gtk_widget_destroy(window);
    ns::desktop::IteratePending();
    return paintMs;
}

Figures Ours() {
    ns::RunLoop& loop = ns::RunLoop::Main();
    ns::desktop::RunLoopSource source(loop);
    Figures figures;

    // First paint first: the process's first window is the one a user waits for.
    figures.paintMs = FirstPaintMs(LabelledWindow());

    // Idle: one far timer, nothing else to do.
    uint64_t far = loop.AfterDelay(1h, [] {});
    const double cpuBefore = bench::ProcessCpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    ns::desktop::IterateFor(10s);
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    figures.idlePercent = (bench::ProcessCpuSeconds() - cpuBefore) / wall * 100;
    loop.CancelTimer(far);

    // Timer lateness.
    for (int i = 0; i < kTimers; ++i) {
        bool fired = false;
        const Clock::time_point due = Clock::now() + 500ms;
        Clock::time_point firedAt;
        loop.AfterDelay(500ms, [&] {
            firedAt = Clock::now();
            fired = true;
        });
        if (!ns::desktop::IterateUntil([&] { return fired; }, 2s)) {
            figures.lateMs.push_back(1500);
            continue;
        }
        figures.lateMs.push_back(Milliseconds(firedAt - due));
    }
    std::sort(figures.lateMs.begin(), figures.lateMs.end());
    return figures;
}

gboolean QuitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// The same measures with GLib and GTK alone.
Figures Plain() {
    Figures figures;
    figures.paintMs = FirstPaintMs(LabelledWindow());

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const guint far = g_timeout_add_seconds(
        3600, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    const double cpuBefore = bench::ProcessCpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    g_timeout_add(10000, QuitLoop, loop);
    g_main_loop_run(loop);
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    figures.idlePercent = (bench::ProcessCpuSeconds() - cpuBefore) / wall * 100;
    g_source_remove(far);

    struct Timer {
        GMainLoop* loop;
        bool fired = false;
        Clock::time_point firedAt;
    };
    for (int i = 0; i < kTimers; ++i) {
        Timer timer{loop, false, {}};
        const Clock::time_point due = Clock::now() + 500ms;
        g_timeout_add(
            500,
            [](gpointer data) -> gboolean {
                auto* t = static_cast<Timer*>(data);
                t->firedAt = Clock::now();
                t->fired = true;
                g_main_loop_quit(t->loop);
                return G_SOURCE_REMOVE;
            },
            &timer);
        const guint guard = g_timeout_add(2000, QuitLoop, loop);
        g_main_loop_run(loop);
        if (timer.fired) {
            g_source_remove(guard);
            figures.lateMs.push_back(Milliseconds(timer.firedAt - due));
        } else {
            figures.lateMs.push_back(1500);  // cannot happen before the guard quits
        }
    }
    std::sort(figures.lateMs.begin(), figures.lateMs.end());
    g_main_loop_unref(loop);
    return figures;
}

// One line: the figure, the peer's, their ratio and, with a goal, the verdict.
bool Line(const char* what, double value, double peer, const char* unit, double goal) {
    const bool judged = goal > 0;
    const bool met = value >= 0 && value < goal;
    const std::string valueText = bench::Fixed(value, judged ? goal : 0);
    const std::string peerText = peer < 0 ? std::string("-") : bench::Fixed(peer, 0);
    std::printf("%-34s %10s %-2s  peer %10s %-2s  ratio %6s", what, valueText.c_str(), unit,
                peerText.c_str(), unit, bench::Ratio(value, peer).c_str());
    if (judged) std::printf("  goal < %g %s: %s", goal, unit, met ? "ok" : "OVER");
    std::printf("\n");
    return !judged || met;
}

}  // namespace

constexpr char kUsage[] =
    "usage: DesktopBench\n"
    "\n"
    "Measures the run loop inside GLib (idle CPU over 10 s, lateness of ten 0.5 s timers) and a\n"
    "window's first paint on a private Xvfb, each beside plain GLib and GTK doing the same in a\n"
    "child process (DesktopBench --peer, on its own Xvfb), with the ratio and the goal. Takes\n"
    "about 20 s; exits 1 when a figure misses its goal or the peer does not run.\n";

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
    try {
        const bool peerSide = argc > 1 && std::strcmp(argv[1], "--peer") == 0;
        ns::desktop::TestDisplay display;
        if (peerSide) {
            const Figures plain = Plain();
            bench::PrintPeerFigure("paint_ms", plain.paintMs);
            bench::PrintPeerFigure("idle_percent", plain.idlePercent);
            bench::PrintPeerFigure("late_min_ms", plain.lateMs.front());
            bench::PrintPeerFigure("late_median_ms", plain.lateMs[plain.lateMs.size() / 2]);
            bench::PrintPeerFigure("late_worst_ms", plain.lateMs.back());
            return 0;
        }
        std::printf("display %s; the peer: plain GLib and GTK in a child process on its own\n",
                    display.Name().c_str());
        const Figures ours = Ours();
        const bench::PeerRun peer = bench::RunPeer({"--peer"});
        bool ok = peer.exitedOk;
        if (!ok) std::printf("the peer did not run to its end\n");

        ok &= Line("idle run loop in GLib, CPU (10 s)", ours.idlePercent,
                   peer.Figure("idle_percent"), "%", 1);
        ok &= Line("0.5 s timer lateness, min (10)", ours.lateMs.front(),
                   peer.Figure("late_min_ms"), "ms", 0);
        ok &= Line("0.5 s timer lateness, median (10)", ours.lateMs[ours.lateMs.size() / 2],
                   peer.Figure("late_median_ms"), "ms", 0);
        ok &= Line("0.5 s timer lateness, worst (10)", ours.lateMs.back(),
                   peer.Figure("late_worst_ms"), "ms", 10);
        if (ours.paintMs < 0) std::printf("first window paint: no draw within 5 s\n");
        ok &= Line("first window paint", ours.paintMs, peer.Figure("paint_ms"), "ms", 500);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "DesktopBench: %s\n", e.what());
        return 1;
    }
}
