// What the desktop movie player gives back: plays the 12 s HLS test movie to its end again and
// again in one process, as the player screen does (a window showing the player's view, a new
// player each time, everything closed afterwards), and prints the resident size after each
// play. The first play loads GStreamer's plug-ins and GL; the figure is the growth over the
// plays after it, beside its goal; the heap's allocated bytes are printed too (what a leak
// raises, while the resident size also counts what the allocator keeps). Exits 1 when the goal
// is missed.
//
//   MoviePlayerMemoryBench [PLAYS]     (20 after the first unless told otherwise)
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
#include <exception>
#include <map>
#include <memory>
#include <string>

#include "bench/ResidentMemory.h"
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

using bench::ResidentMiB;

// The bytes the heap holds allocated (every arena).
double HeapInUseMiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// GStreamer's objects alive now, by type, when the leaks tracer runs.
void PrintLiveObjects() {
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
        std::printf("GStreamer objects alive after the last play:\n");
        for (const auto& [type, count] : byType) std::printf("  %5d %s\n", count, type.c_str());
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

}  // namespace

int main(int argc, char** argv) {
    try {
        const int plays = argc > 1 ? std::atoi(argv[1]) : 20;
        setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
        ns::desktop::TestDisplay display;
        ns::RunLoop::Main().RunOnce(0ms);
        ns::desktop::RunLoopSource source(ns::RunLoop::Main());
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        auto app = std::make_unique<ui::Application>();

        SvTestSupport::TestOrigin origin;
        const std::string folder = SvTestSupport::Fixtures::PlayerHlsFolder();
        origin.ServeFile("/v0/index.m3u8", folder + "/v0/index.m3u8");
        for (int i = 0; i < 3; ++i) {
            const std::string segment = "/v0/seg" + std::to_string(i) + ".ts";
            origin.ServeFile(segment, folder + segment);
        }
        const std::string url = origin.Url("/v0/index.m3u8");

        std::printf("before any play: %.1f MiB resident\n", ResidentMiB());
        bool ok = PlayOnce(url);
        const double first = ResidentMiB();
        std::printf("after the first play: %.1f MiB\n", first);
        double last = first;
        for (int play = 1; play <= plays; ++play) {
            if (!PlayOnce(url)) {
                std::printf("play %d did not end by itself\n", play + 1);
                ok = false;
            }
            last = ResidentMiB();
            std::printf("after play %2d: %.1f MiB (%+.1f); heap in use %.2f MiB\n", play + 1, last,
                        last - first, HeapInUseMiB());
        }
        const double goal = 2.0;
        const bool met = last - first < goal;
        std::printf("%-44s %8.1f MiB  goal < %g MiB  %s\n",
                    ("resident growth over " + std::to_string(plays) + " plays").c_str(),
                    last - first, goal, met ? "ok" : "MISSED");
        PrintLiveObjects();
        app.reset();
        return ok && met ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "MoviePlayerMemoryBench: %s\n", e.what());
        return 1;
    }
}
