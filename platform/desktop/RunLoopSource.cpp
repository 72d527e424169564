#include "platform/desktop/RunLoopSource.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <map>

namespace ns::desktop {

namespace {

GIOCondition ConditionOf(const RunLoop::Descriptor& d) {
    int events = 0;
    if (d.read) events |= G_IO_IN;
    if (d.write) events |= G_IO_OUT;
    return static_cast<GIOCondition>(events);
}

// Milliseconds until `d` has passed, rounded up: waking a little before a timer is due would
// only cost a wasted pass and a second wait.
gint CeilMillis(RunLoop::Duration d) {
    if (d <= RunLoop::Duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return ms > INT_MAX ? INT_MAX : static_cast<gint>(ms);
}

}  // namespace

// The GSource itself, with what it needs in the memory GLib allocates for it: GLib keeps that
// memory alive through a dispatch even when the owner destroys the source from inside it. Plain
// data only (GLib allocates and frees it); the watch map lives on the heap.
struct RunLoopSource::Source {
    struct Watch {
        gpointer tag;
        GIOCondition events;
    };

    GSource base;  // first: GLib hands back this address
    RunLoop* loop;
    std::map<int, Watch>* watched;
    uint64_t changes;

    static gboolean Prepare(GSource* base, gint* timeout);
    static gboolean Check(GSource* base);
    static gboolean Dispatch(GSource* base, GSourceFunc, gpointer);
    static void Finalize(GSource* base);
    static GSourceFuncs funcs;

    void SyncWatches();
    bool DeadlinePassed() const;
};

GSourceFuncs RunLoopSource::Source::funcs = {Prepare, Check, Dispatch, Finalize, nullptr, nullptr};

void RunLoopSource::Source::SyncWatches() {
    std::vector<RunLoop::Descriptor> wanted = loop->Descriptors();
    std::map<int, GIOCondition> next;
    for (const auto& d : wanted) {
        GIOCondition events = ConditionOf(d);
        next[d.fd] = static_cast<GIOCondition>(next[d.fd] | events);
    }
    // Gone or changed first, then new ones; untouched descriptors stay as they are.
    for (auto it = watched->begin(); it != watched->end();) {
        auto found = next.find(it->first);
        if (found == next.end()) {
            g_source_remove_unix_fd(&base, it->second.tag);
            ++changes;
            it = watched->erase(it);
            continue;
        }
        if (found->second != it->second.events) {
            g_source_modify_unix_fd(&base, it->second.tag, found->second);
            it->second.events = found->second;
            ++changes;
        }
        ++it;
    }
    for (const auto& [fd, events] : next) {
        if (watched->count(fd) != 0) continue;
        watched->emplace(fd, Watch{g_source_add_unix_fd(&base, fd, events), events});
        ++changes;
    }
}

bool RunLoopSource::Source::DeadlinePassed() const {
    std::optional<RunLoop::TimePoint> deadline = loop->NextDeadline();
    return deadline && *deadline <= loop->Now();
}

gboolean RunLoopSource::Source::Prepare(GSource* base, gint* timeout) {
    auto* self = reinterpret_cast<Source*>(base);
    self->SyncWatches();
    std::optional<RunLoop::TimePoint> deadline = self->loop->NextDeadline();
    if (!deadline) {
        *timeout = -1;
        return FALSE;
    }
    *timeout = CeilMillis(*deadline - self->loop->Now());
    return *timeout == 0;
}

gboolean RunLoopSource::Source::Check(GSource* base) {
    auto* self = reinterpret_cast<Source*>(base);
    for (const auto& entry : *self->watched) {
        if (g_source_query_unix_fd(base, entry.second.tag) != 0) return TRUE;
    }
    return self->DeadlinePassed();
}

gboolean RunLoopSource::Source::Dispatch(GSource* base, GSourceFunc, gpointer) {
    auto* self = reinterpret_cast<Source*>(base);
    // Nothing of `self` is touched after the step: a callback may have destroyed the source.
    self->loop->Dispatch();
    return G_SOURCE_CONTINUE;
}

void RunLoopSource::Source::Finalize(GSource* base) {
    // GLib drops the descriptor watches with the source; only our bookkeeping is left.
    auto* self = reinterpret_cast<Source*>(base);
    delete self->watched;
    self->watched = nullptr;
}

RunLoopSource::RunLoopSource(RunLoop& loop, GMainContext* context) {
    GSource* base = g_source_new(&Source::funcs, sizeof(Source));
    source_ = reinterpret_cast<Source*>(base);
    source_->loop = &loop;
    source_->watched = new std::map<int, Source::Watch>();
    source_->changes = 0;
    g_source_set_name(base, "ns::RunLoop");
    g_source_set_can_recurse(base, TRUE);
    g_source_attach(base, context);
}

RunLoopSource::~RunLoopSource() {
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
}

std::vector<RunLoop::Descriptor> RunLoopSource::Watched() const {
    std::vector<RunLoop::Descriptor> out;
    for (const auto& [fd, watch] : *source_->watched) {
        out.push_back({fd, (watch.events & G_IO_IN) != 0, (watch.events & G_IO_OUT) != 0});
    }
    return out;
}

uint64_t RunLoopSource::WatchChanges() const { return source_->changes; }

}  // namespace ns::desktop
