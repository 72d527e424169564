// The CPU the desktop movie player takes playing a movie at normal speed, as `zul` shows it: a
// window of the application's size (ui::Screen, 480 x 320 for a phone in landscape) on a
// private Xvfb, the player's view filling it, the renderer drawing it, the sound sent to
// fakeaudiosink (ZUL_SILENT=1, still played on the clock). With --playbin it plays the same URL
// the plain way instead: GStreamer's playbin with gtksink's widget in a GTK window of the same
// size and fakeaudiosink for the sound, with no code of ours in between; the peer
// bench/PlayerCpuBench.sh holds the player to.
//
//   MoviePlayerCpuBench [--playbin] [--warmup SECONDS] URL SECONDS
//
// Once the movie plays it is left to play for the warm-up (5 s by default: decoders, caches and
// the first segments' downloads settle), then the process's user + system CPU time
// (getrusage, which keeps the threads that ended meanwhile) is taken over SECONDS of play. It
// prints, one "key value" per line: window (its size in pixels), picture (the video widget's
// size), played_s (how far the movie's position moved over the span: about SECONDS at 1x),
// frames_rendered and frames_dropped (by the video sink over the span), wall_s, cpu_s,
// cpu_percent (of one core) and xserver_cpu_percent (the private X server's, which draws what
// both players send it; for information). Exits 1 when the movie does not play or stops.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gst/gst.h>
#include <gtk/gtk.h>

#include "bench/CpuTime.h"
#include "bench/PlaybinWatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/TestDisplay.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "common/CommandLine.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char kDescription[] =
    "Plays the HLS URL at normal speed in a window of the application's size on a private\n"
    "Xvfb, with the desktop movie player (or, with --playbin, GStreamer's playbin and gtksink),\n"
    "the sound to fakeaudiosink; after the warm-up, prints the process's CPU time over\n"
    "SECONDS of play, with what was played and drawn meanwhile.\n";

// User + system CPU seconds process pid has used, from /proc/PID/stat; -1 when it cannot be
// read.
double ProcessCpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return -1;
    // "pid (name) state ...": the name may hold anything, so the fields follow its last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    // From the third field on: state, ppid, pgrp, session, tty, tpgid, flags, minflt, cminflt,
    // majflt, cmajflt, utime, stime.
    std::string skip;
    unsigned long long user = 0, system = 0;
    for (int i = 0; i < 11; ++i) fields >> skip;
    fields >> user >> system;
    if (!fields) return -1;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The video sink's count of buffers rendered and dropped so far.
void SinkStats(GstElement* sink, guint64* rendered, guint64* dropped) {
    *rendered = *dropped = 0;
    if (sink == nullptr) return;
    GstStructure* stats = nullptr;
    g_object_get(sink, "stats", &stats, nullptr);
    if (stats == nullptr) return;
    gst_structure_get_uint64(stats, "rendered", rendered);
    gst_structure_get_uint64(stats, "dropped", dropped);
    gst_structure_free(stats);
}

// One way of playing the URL: the application's player or the plain playbin.
class Playback {
public:
    virtual ~Playback() = default;
    virtual bool Playing() const = 0;
    virtual bool Failed() const = 0;
    virtual double Position() const = 0;
    virtual GstElement* VideoSink() const = 0;  // not a new reference
    virtual GtkWidget* Window() const = 0;
};

// As the application plays a movie: what RunApplication sets up before the window, the
// window at the screen's size, the player's view filling it, the renderer showing it.
class ApplicationPlayback : public Playback {
public:
    explicit ApplicationPlayback(const std::string& url) {
        ns::desktop::GstMoviePlayer::Install();
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        source_ = std::make_unique<ns::desktop::RunLoopSource>(ui::Loop());
        app_ = std::make_unique<ui::Application>();
        window_ = std::make_shared<ui::Window>(ui::Screen::Main().Bounds());
        player_ = std::make_unique<ns::desktop::GstMoviePlayer>();
        movie_ = player_->View();
        movie_->SetFrame(window_->Bounds());
        window_->AddSubview(movie_);
        window_->MakeKeyAndVisible();
        renderer_ = std::make_unique<ns::desktop::Renderer>(window_);
        observer_ = ns::NotificationCenter::Default().AddObserver(
            ns::MoviePlayer::kPlaybackDidFinish, [this](const ns::Notification&) { ended_ = true; },
            static_cast<const ns::MoviePlayer*>(player_.get()));
        player_->SetContentUrl(url);
        player_->Play();
    }
    ~ApplicationPlayback() override {
        ns::NotificationCenter::Default().RemoveObserver(observer_);
        renderer_.reset();
        movie_->RemoveFromSuperview();
        window_.reset();
        player_.reset();
        app_.reset();
    }
    bool Playing() const override {
        return !ended_ && player_->PlaybackState() == ns::MoviePlaybackState::Playing;
    }
    bool Failed() const override { return ended_; }
    double Position() const override { return player_->CurrentPlaybackTime(); }
    GstElement* VideoSink() const override {
        GstElement* sink = nullptr;
        if (player_->Pipeline() != nullptr) {
            g_object_get(player_->Pipeline(), "video-sink", &sink, nullptr);
        }
        if (sink != nullptr) gst_object_unref(sink);  // the player holds it
        return sink;
    }
    GtkWidget* Window() const override { return renderer_->Window(); }

private:
    std::unique_ptr<ns::desktop::RunLoopSource> source_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ui::Window> window_;
    std::unique_ptr<ns::desktop::GstMoviePlayer> player_;
    std::shared_ptr<ui::View> movie_;
    std::unique_ptr<ns::desktop::Renderer> renderer_;
    uint64_t observer_ = 0;
    bool ended_ = false;
};

// playbin with gtksink's widget in a plain GTK window, as a GStreamer program shows a movie;
// buffering pauses it as gst-launch-1.0 does.
class PlaybinPlayback : public Playback {
public:
    PlaybinPlayback(const std::string& url, int width, int height) {
        gst_init(nullptr, nullptr);
        playbin_ = gst_element_factory_make("playbin", nullptr);
        sink_ = gst_element_factory_make("gtksink", nullptr);
        GstElement* audio = gst_element_factory_make("fakeaudiosink", nullptr);
        if (playbin_ == nullptr || sink_ == nullptr || audio == nullptr) {
            throw std::runtime_error("playbin, gtksink or fakeaudiosink is missing");
        }
        gst_object_ref_sink(playbin_);
        gst_object_ref_sink(sink_);
        bus_.playbin = playbin_;
        g_object_set(playbin_, "uri", url.c_str(), "video-sink", sink_, "audio-sink", audio,
                     nullptr);
        GtkWidget* widget = nullptr;
        g_object_get(sink_, "widget", &widget, nullptr);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
        gtk_container_add(GTK_CONTAINER(window_), widget);
        g_object_unref(widget);
        gtk_widget_show_all(window_);
        GstBus* bus = gst_element_get_bus(playbin_);
        watch_ = gst_bus_add_watch(bus, &bench::PlaybinWatch::OnMessage, &bus_);
        gst_object_unref(bus);
        gst_element_set_state(playbin_, GST_STATE_PLAYING);
    }
    ~PlaybinPlayback() override {
        gst_element_set_state(playbin_, GST_STATE_NULL);
        g_source_remove(watch_);
        gst_object_unref(playbin_);
        gst_object_unref(sink_);
        gtk_widget_destroy(window_);
    }
    bool Playing() const override { return !Failed() && bus_.state == GST_STATE_PLAYING; }
    // The movie is longer than the measure: an end before it is a failure too.
    bool Failed() const override { return bus_.failed || bus_.ended; }
    double Position() const override {
        gint64 position = 0;
        if (!gst_element_query_position(playbin_, GST_FORMAT_TIME, &position)) return -1;
        return static_cast<double>(position) / GST_SECOND;
    }
    GstElement* VideoSink() const override { return sink_; }
    GtkWidget* Window() const override { return window_; }

private:
    GstElement* playbin_ = nullptr;
    GstElement* sink_ = nullptr;
    GtkWidget* window_ = nullptr;
    guint watch_ = 0;
    bench::PlaybinWatch bus_;
};

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("MoviePlayerCpuBench", "[--playbin] [--warmup SECONDS] URL SECONDS",
                             kDescription);
    cli.AddOption("playbin", 0, nullptr, "play with playbin and gtksink alone (the peer)");
    cli.AddOption("warmup", 0, "SECONDS", "play this long before measuring (5 by default)");
    cli.SetArgumentCount(2, 2);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    uint64_t warmup = 5;
    if (!cli.UnsignedValue("warmup", 0, 600, warmup)) return SvTools::CommandLine::kExitUsage;
    const std::string url = cli.Arguments()[0];
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(cli.Arguments()[1].c_str(), &end, 10);
    if (*end != '\0' || seconds < 1 || seconds > 3600) {
        return cli.UsageError("SECONDS must be a whole number from 1 to 3600");
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    try {
        setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
        ns::desktop::TestDisplay display;
        // The peer's window takes the size the application's window has.
        const ui::Size screen = ui::Screen::SizeFor(ui::UiDevice::Current().Idiom(),
                                                    ui::InterfaceOrientation::LandscapeLeft);
        std::unique_ptr<Playback> playback;
        if (cli.Has("playbin")) {
            playback = std::make_unique<PlaybinPlayback>(url, static_cast<int>(screen.width),
                                                         static_cast<int>(screen.height));
        } else {
            playback = std::make_unique<ApplicationPlayback>(url);
        }
        if (!ns::desktop::IterateUntil([&] { return playback->Playing() || playback->Failed(); },
                                       30s) ||
            playback->Failed()) {
            return cli.Failure("the movie did not start playing within 30 s");
        }
        ns::desktop::IterateFor(std::chrono::seconds(warmup));

        GstElement* sink = playback->VideoSink();
        guint64 rendered0 = 0, dropped0 = 0, rendered1 = 0, dropped1 = 0;
        SinkStats(sink, &rendered0, &dropped0);
        const double position0 = playback->Position();
        const double x0 = ProcessCpuSecondsOf(display.ServerPid());
        const double cpu0 = bench::ProcessCpuSeconds();
        const Clock::time_point start = Clock::now();
        ns::desktop::IterateFor(std::chrono::seconds(seconds));
        const double cpu1 = bench::ProcessCpuSeconds();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double x1 = ProcessCpuSecondsOf(display.ServerPid());
        const double position1 = playback->Position();
        SinkStats(sink, &rendered1, &dropped1);

        GtkAllocation window = {}, picture = {};
        gtk_widget_get_allocation(playback->Window(), &window);
        GtkWidget* pictureWidget = nullptr;
        if (sink != nullptr) g_object_get(sink, "widget", &pictureWidget, nullptr);
        if (pictureWidget != nullptr) {
            gtk_widget_get_allocation(pictureWidget, &picture);
            g_object_unref(pictureWidget);
        }
        std::printf("window %s\n", SizeText(window.width, window.height).c_str());
        std::printf("picture %s\n", SizeText(picture.width, picture.height).c_str());
        std::printf("played_s %.3f\n", position1 - position0);
        std::printf("frames_rendered %llu\n",
                    static_cast<unsigned long long>(rendered1 - rendered0));
        std::printf("frames_dropped %llu\n", static_cast<unsigned long long>(dropped1 - dropped0));
        std::printf("wall_s %.3f\n", wall);
        std::printf("cpu_s %.3f\n", cpu1 - cpu0);
        std::printf("cpu_percent %.2f\n", (cpu1 - cpu0) / wall * 100);
        std::printf("xserver_cpu_percent %.2f\n", x0 >= 0 && x1 >= 0 ? (x1 - x0) / wall * 100 : -1);
        const bool stopped = playback->Failed() || !playback->Playing();
        playback.reset();
        if (stopped) return cli.Failure("the movie stopped playing during the measure");
        return 0;
    } catch (const std::exception& e) {
        return cli.Failure(e.what());
    }
}
