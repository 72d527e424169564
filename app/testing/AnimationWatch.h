#ifndef APP_TESTING_ANIMATIONWATCH_H
#define APP_TESTING_ANIMATIONWATCH_H
// Header-only, for the application's tests: when a screen has come to rest. Every animation
// begun since the watch was made (an animation block's delay and duration, a layer
// animation's whole run with its repeats) has had its time, and the toolkit's loop has nothing
// due or posted, so the completions those animations set have run too. Endless animations (a
// spinner) never end and do not count.
//
// The watch learns of an animation from the AnimationLog, the first time it looks after the
// animation began, and times it from then: it may wait a little longer than the animation
// ran, never shorter. Look often (every iteration of a wait) to keep that margin small. Once
// the log nears its cap the watch empties it, so that no entry is pushed out before the watch
// has read it: do not use a watch where a test reads the log itself. Main thread only.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/Loop.h"

namespace AppTestSupport {

// Nothing on the loop wants to run at its time now: no transfer in flight, nothing posted, no
// timer due.
inline bool LoopIdle(ns::RunLoop& loop) {
    const std::optional<ns::RunLoop::TimePoint> next = loop.NextDeadline();
    return loop.TransferCount() == 0 && (!next || *next > loop.Now());
}

class AnimationWatch {
public:
    // Animations begun before the watch was made do not count.
    AnimationWatch() : read_(ui::AnimationLog::Entries().size()), restFrom_(ui::LoopNow()) {}

    bool AtRest() {
        const ns::RunLoop::TimePoint now = ui::LoopNow();
        const std::vector<ui::AnimationLogEntry>& entries = ui::AnimationLog::Entries();
        if (entries.size() < read_) read_ = 0;  // emptied by someone else: all of it is new
        for (; read_ < entries.size(); ++read_) {
            const double seconds = RunSeconds(entries[read_]);
            if (std::isinf(seconds)) continue;
            restFrom_ = std::max(restFrom_, now + ui::SecondsToDuration(seconds));
        }
        if (read_ >= ui::AnimationLog::kMaxEntries / 2) {
            ui::AnimationLog::Clear();
            read_ = 0;
        }
        return now >= restFrom_ && LoopIdle(ui::Loop());
    }

private:
    // From the start to the end of an animation; infinite for an endless one.
    static double RunSeconds(const ui::AnimationLogEntry& entry) {
        if (entry.kind == "block") return entry.delay + entry.duration;
        if (std::isinf(entry.repeatCount)) return entry.repeatCount;
        const double cycles = entry.repeatCount > 0 ? entry.repeatCount : 1;
        return entry.duration * cycles * (entry.autoreverses ? 2 : 1);
    }

    size_t read_;
    ns::RunLoop::TimePoint restFrom_;
};

}  // namespace AppTestSupport

#endif  // APP_TESTING_ANIMATIONWATCH_H
