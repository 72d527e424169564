#ifndef PLATFORM_DESKTOP_RUN_LOOP_SOURCE_H
#define PLATFORM_DESKTOP_RUN_LOOP_SOURCE_H
// Runs a platform run loop inside a GLib main context, so that timers, posts and URL loads of
// the application go on while GTK owns the thread.
//
// A GSource watches the loop's descriptors (its wake-up eventfd first, then libcurl's sockets),
// wakes GLib at the loop's next deadline and takes one loop step (RunLoop::Dispatch) when a
// descriptor is ready or the deadline has come. libcurl's sockets come and go with transfers:
// before every poll the source brings GLib's watch list in step with the loop's, touching only
// the descriptors that were added, removed or changed their events (each change wakes GLib's
// poll, so re-adding all of them on every pass would spin the thread). The source may recurse:
// a callback that runs a modal loop (a nested g_main_context_iteration, a dialog) still gets
// the run loop's posts, timers and transfers.
//
// Posts from other threads wake GLib through the eventfd. Make and destroy the source on the
// thread that iterates the context; that thread becomes the run loop's thread. The run loop
// must outlive the source.

#include <glib.h>

#include <cstdint>
#include <vector>

#include "platform/core/RunLoop.h"

namespace ns::desktop {

class RunLoopSource {
public:
    // Attaches to `context` (null: GLib's default context) at the default priority.
    explicit RunLoopSource(RunLoop& loop, GMainContext* context = nullptr);
    // Detaches: no step of the loop runs from GLib afterwards. Safe from inside a loop callback
    // that this source dispatched.
    ~RunLoopSource();
    RunLoopSource(const RunLoopSource&) = delete;
    RunLoopSource& operator=(const RunLoopSource&) = delete;

    // What GLib watches now, in descriptor order (as of the last pass before a poll).
    std::vector<RunLoop::Descriptor> Watched() const;
    // How many times a watch was added, changed or removed since the source was made.
    uint64_t WatchChanges() const;

private:
    struct Source;
    Source* source_;
};

}  // namespace ns::desktop

#endif
