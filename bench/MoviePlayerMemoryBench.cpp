// What the desktop movie player gives back: plays the 12 s HLS test movie to its end again and
// again in one process, as the player screen does (a window showing the player's view, a new
// player each time, everything closed afterwards), and prints the resident size after each
// play. The first play loads GStreamer's plug-ins and GL; the figure is the growth over the
// plays after it at its highest (the largest reading less the one after the first play: what
// a play took and a later one gave back still counts), beside its goal; the heap's allocated bytes
// are printed too (what a leak raises, while the resident size also counts what the allocator
// keeps). Beside it, the peer's growth: the same plays of the same movie with GStreamer's playbin
// and gtksink's widget in a plain GTK window of the same size, made and torn down each time, with
// no code of ours in between (what a GStreamer program gives back). The peer runs after ours in a
// child process of this program (`--playbin`, its own Xvfb and test origin) so that the two heaps
// do not mix. Exits 1 when the goal is missed or a play (ours or the peer's) does not end by
// itself.
//
//   MoviePlayerMemoryBench [--playbin] [PLAYS]     (20 after the first unless told otherwise)
//
// Each play seeks to 10 s once playing, so a play takes about 2 s of movie (the pipeline, its
// decoders and sinks are made and torn down all the same). Freed heap is handed back to the
// system (malloc_trim) before each measurement, so the figure counts what stays allocated,
// not what the allocator keeps. With GST_TRACERS=leaks in the environment, GStreamer's objects
// still alive after the last play are listed by type.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include <gst/gst.h>
#include <gtk/gtk.h>

#include "bench/PeerFigures.h"
#include "bench/PlaybinWatch.h"
#include "bench/ResidentMemory.h"
#include "bench/Usage.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/TestDisplay.h"
#include "platform/ui/Application.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestOrigin.h"

namespace {

using namespace std::chrono_literals;

using bench::ResidentMB;

// The heap's allocated bytes (every arena), in MB.
double HeapInUseMB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / 1e6;
}

// GStreamer's objects alive now, by type, when the leaks tracer runs.
void PrintLiveObjects(const char* side) {
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item != nullptr; item = item->next) {
        GObject* tracer = G_OBJECT(item->data);
        if (g_signal_lookup("get-live-objects", G_OBJECT_TYPE(tracer)) == 0) continue;
        GstStructure* live = nullptr;
        g_signal_emit_by_name(tracer, "get-live-objects", &live);
        const GValue* list =
            live != nullptr ? gst_structure_get_value(live, "live-objects-list") : nullptr;
        std::map<std::string, int> byType;
        for (guint i = 0; list != nullptr && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* object = gst_value_get_structure(gst_value_list_get_value(list, i));
            const GValue* value = gst_structure_get_value(object, "object");
            ++byType[value != nullptr ? G_VALUE_TYPE_NAME(value) : "?"];
        }
        std::printf("%sGStreamer objects alive after the last play:\n", side);
        for (const auto& [type, count] : byType)
            std::printf("%s  %5d %s\n", side, count, type.c_str());
        if (live != nullptr) gst_structure_free(live);
    }
    g_list_free_full(tracers, gst_object_unref);
}

// One play as the player screen makes it: false when it did not end by itself.
bool PlayOnce(const std::string& url) {
    auto window = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
    auto player = std::make_unique<ns::desktop::GstMoviePlayer>();
    const std::shared_ptr<ui::View> movie = player->View();
    movie->SetFrame(ui::Rect(0, 0, 480, 320));
    window->AddSubview(movie);
    window->MakeKeyAndVisible();
    auto renderer = std::make_unique<ns::desktop::Renderer>(window);
    bool finished = false;
    const uint64_t observer = ns::NotificationCenter::Default().AddObserver(
        ns::MoviePlayer::kPlaybackDidFinish, [&](const ns::Notification&) { finished = true; },
        static_cast<const ns::MoviePlayer*>(player.get()));
    player->SetContentUrl(url);
    player->Play();
    const bool playing = ns::desktop::IterateUntil(
        [&] { return finished || player->PlaybackState() == ns::MoviePlaybackState::Playing; },
        20s);
    if (playing && !finished) player->SetCurrentPlaybackTime(10);
    const bool ended = ns::desktop::IterateUntil([&] { return finished; }, 30s);
    ns::NotificationCenter::Default().RemoveObserver(observer);
    // The screen closes: its views, the window and the player go.
    renderer.reset();
    movie->RemoveFromSuperview();
    window.reset();
    player.reset();
    ns::desktop::IterateFor(300ms);
    return playing && ended;
}

// One play the plain GStreamer way: playbin with gtksink's widget in a GTK window of the same
// size, seeked to 10 s once playing like ours, made and torn down; false when it did not end by
// itself. Buffering pauses it as gst-launch-1.0 does.
bool PlaybinPlayOnce(const std::string& url) {
    bench::PlaybinWatch play;
    play.playbin = gst_element_factory_make("playbin", nullptr);
    GstElement* sink = gst_element_factory_make("gtksink", nullptr);
    GstElement* audio = gst_element_factory_make("fakeaudiosink", nullptr);
    if (play.playbin == nullptr || sink == nullptr || audio == nullptr) {
        throw std::runtime_error("playbin, gtksink or fakeaudiosink is missing");
    }
    gst_object_ref_sink(play.playbin);
    g_object_set(play.playbin, "uri", url.c_str(), "video-sink", sink, "audio-sink", audio,
                 nullptr);
    GtkWidget* widget = nullptr;
    g_object_get(sink, "widget", &widget, nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 480, 320);
    gtk_container_add(GTK_CONTAINER(window), widget);
    g_object_unref(widget);
    gtk_widget_show_all(window);
    GstBus* bus = gst_element_get_bus(play.playbin);
    const guint watch = gst_bus_add_watch(bus, &bench::PlaybinWatch::OnMessage, &play);
    gst_object_unref(bus);
    gst_element_set_state(play.playbin, GST_STATE_PLAYING);
    const bool playing = ns::desktop::IterateUntil(
        [&] { return play.ended || play.failed || play.state == GST_STATE_PLAYING; }, 20s);
    if (playing && !play.ended && !play.failed) {
        gst_element_seek_simple(play.playbin, GST_FORMAT_TIME,
                                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH), 10 * GST_SECOND);
    }
    const bool ended = ns::desktop::IterateUntil([&] { return play.ended || play.failed; }, 30s);
    // The window closes: the pipeline, its sinks and the window go.
    gst_element_set_state(play.playbin, GST_STATE_NULL);
    g_source_remove(watch);
    gst_object_unref(play.playbin);
    gtk_widget_destroy(window);
    ns::desktop::IterateFor(300ms);
    return playing && ended && !play.failed;
}

}  // namespace

constexpr char kUsage[] =
    "usage: MoviePlayerMemoryBench [--playbin] [PLAYS]\n"
    "\n"
    "Plays the 12 s HLS test movie to its end PLAYS times (20 by default) after a first play, in\n"
    "one process on a private Xvfb, a new player in a window each time, and prints the resident\n"
    "size and the heap in use after each play; then the same plays with playbin and gtksink in\n"
    "a child process (--playbin, its own Xvfb), and the growth beside the peer's and the goal.\n"
    "Exits 1 when the goal is missed or a play does not end by itself.\n"
    "With GST_TRACERS=leaks it also lists GStreamer's objects still alive.\n";

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
    try {
        const bool playbin = argc > 1 && std::strcmp(argv[1], "--playbin") == 0;
        const int argument = playbin ? 2 : 1;
        const int plays = argc > argument ? std::atoi(argv[argument]) : 20;
        setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
        ns::desktop::TestDisplay display;
        // The plain way has none of these: GStreamer is initialised by gst_init alone.
        std::unique_ptr<ns::desktop::RunLoopSource> source;
        std::unique_ptr<ui::Application> app;
        if (playbin) {
            gst_init(nullptr, nullptr);
        } else {
            ns::RunLoop::Main().RunOnce(0ms);
            source = std::make_unique<ns::desktop::RunLoopSource>(ns::RunLoop::Main());
            ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
            ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
            app = std::make_unique<ui::Application>();
        }
        const char* side = playbin ? "playbin: " : "";
        auto playOnce = playbin ? PlaybinPlayOnce : PlayOnce;

        SvTestSupport::TestOrigin origin;
        const std::string folder = SvTestSupport::Fixtures::PlayerHlsFolder();
        origin.ServeFile("/v0/index.m3u8", folder + "/v0/index.m3u8");
        for (int i = 0; i < 3; ++i) {
            const std::string segment = "/v0/seg" + std::to_string(i) + ".ts";
            origin.ServeFile(segment, folder + segment);
        }
        const std::string url = origin.Url("/v0/index.m3u8");

        std::printf("%sbefore any play: %.3f MB resident\n", side, ResidentMB());
        bool ok = playOnce(url);
        if (!ok) std::printf("%splay 1 did not end by itself\n", side);
        const double first = ResidentMB();
        std::printf("%safter the first play: %.3f MB\n", side, first);
        bench::ResidentGrowth growth(first);
        for (int play = 1; play <= plays; ++play) {
            if (!playOnce(url)) {
                std::printf("%splay %d did not end by itself\n", side, play + 1);
                ok = false;
            }
            const double now = ResidentMB();
            growth.Add(now);
            std::printf("%safter play %2d: %.3f MB (%+.3f, at most %+.3f); heap in use %.3f MB\n",
                        side, play + 1, now, growth.Last(), growth.Peak(), HeapInUseMB());
        }
        PrintLiveObjects(side);
        if (playbin) {
            bench::PrintPeerFigure("growth_mb", growth.Peak());
            return ok ? 0 : 1;
        }
        app.reset();
        source.reset();
        std::fflush(stdout);

        const bench::PeerRun peer = bench::RunPeer({"--playbin", std::to_string(plays)});
        if (!peer.exitedOk) {
            std::printf("the playbin peer did not run to its end\n");
            ok = false;
        }
        const double peak = growth.Peak();
        const double peerPeak = peer.Figure("growth_mb");
        // 2 MiB, the goal since it was first set, in MB.
        const double goal = 2.097152;
        const bool met = peak < goal;
        const std::string peerText =
            peer.figures.count("growth_mb") != 0 ? bench::Fixed(peerPeak, 0, 3) : "-";
        std::printf("%-36s %8s MB  playbin %8s MB  ratio %5s  goal < %.6f MB: %s\n",
                    ("peak resident growth over " + std::to_string(plays) + " plays").c_str(),
                    bench::Fixed(peak, goal, 3).c_str(), peerText.c_str(),
                    bench::Ratio(peak, peerPeak).c_str(), goal, met ? "ok" : "OVER");
        return ok && met ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "MoviePlayerMemoryBench: %s\n", e.what());
        return 1;
    }
}
