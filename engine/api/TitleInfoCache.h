#ifndef ENGINE_API_TITLEINFOCACHE_H
#define ENGINE_API_TITLEINFOCACHE_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ChapterInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"

namespace SarvelonMediaKit {

class MediaTrack;

// What a playback knows of its title (the tracks, the current video and audio track, the
// duration, whether trick play is possible, the chapters), kept as the demultiplexers report
// it. The events arrive on the pump thread while the C interface reads on its caller's thread:
// every field is written and read under one lock, and nothing else is called while it is held.
class TitleInfoCache : public StreamInfoMonitor, public ChapterInfoMonitor {
public:
    struct ChapterInfo {
        MediaTime startTime;  // microseconds
        std::string title;
    };

    TitleInfoCache() = default;
    ~TitleInfoCache() override;

    // Stream events: only a complete track map is kept; a track that becomes current is the
    // video track when it has pictures, the audio track when it has sound only.
    void TracksAvailable(const TrackMap& tracks, bool complete) override;
    void TrackChanged(const boost::shared_ptr<MediaTrack>& track) override;
    void DurationAvailable(MediaTime duration) override;
    void TrickPlayAvailable(bool available) override { trickPlayAvailable_ = available; }
    // Chapter events: a known number replaces its chapter, any later number is appended (no
    // gaps). Counts and thumbnails are not kept.
    void ChapterReceived(unsigned sequenceNumber, MediaTime startTime,
                         const std::string& title) override;

    // Copies, taken under the lock.
    TrackMap GetTracks() const;
    // The track of that number in the complete map, null when there is none.
    boost::shared_ptr<MediaTrack> FindTrack(TrackId id) const;
    boost::shared_ptr<MediaTrack> GetVideoTrack() const;
    boost::shared_ptr<MediaTrack> GetAudioTrack() const;
    std::vector<ChapterInfo> GetChapters() const;
    size_t GetChapterCount() const;
    MediaTime GetDuration() const;
    bool IsTrickPlayAvailable() const { return trickPlayAvailable_; }

private:
    mutable std::mutex lock_;
    TrackMap tracks_;
    boost::shared_ptr<MediaTrack> videoTrack_;
    boost::shared_ptr<MediaTrack> audioTrack_;
    MediaTime duration_{0};
    std::vector<ChapterInfo> chapters_;
    std::atomic<bool> trickPlayAvailable_{false};
};

}  // namespace SarvelonMediaKit

#endif
