#ifndef ENGINE_CORE_MEDIATIMEMAP_H
#define ENGINE_CORE_MEDIATIMEMAP_H

#include <deque>
#include <utility>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

// How two media-time scales of one playback correspond: a bounded history of (first, second)
// time pairs as the stream advances, and the difference of the two scales at the first report.
// The pairs are the guarded value; take a ScopedLock on the map to read them.
class MediaTimeMap : public SV::MutexedVariable<std::deque<std::pair<MediaTime, MediaTime>>> {
public:
    // The history never holds more pairs than this.
    static constexpr size_t kMaxPairs = 7200;

    MediaTimeMap();
    ~MediaTimeMap() override;

    // Records a pair. The first report fixes the offset (first - second). A first time below
    // the newest pair's (time went back, as after a seek) clears the history first.
    void SetCurrentTime(MediaTime firstTime, MediaTime secondTime);

    bool IsStarted();
    // first - second of the first report, in microseconds (two's complement); 0 before it.
    MediaTime GetOffset();

private:
    bool started_;
    MediaTime offset_;
};

}  // namespace SarvelonMediaKit

#endif
