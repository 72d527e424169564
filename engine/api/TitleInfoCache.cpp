#include "engine/api/TitleInfoCache.h"

#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

TitleInfoCache::~TitleInfoCache() {
    // No event may reach the fields once they start to go.
    StreamInfoMonitor::DetachFromSources();
    ChapterInfoMonitor::DetachFromSources();
}

void TitleInfoCache::TracksAvailable(const TrackMap& tracks, bool complete) {
    if (!complete) return;
    std::lock_guard<std::mutex> lock(lock_);
    tracks_ = tracks;
}

void TitleInfoCache::TrackChanged(const boost::shared_ptr<MediaTrack>& track) {
    if (!track) return;
    std::lock_guard<std::mutex> lock(lock_);
    if (track->HasVideo()) {
        videoTrack_ = track;
    } else if (track->HasAudio()) {
        audioTrack_ = track;
    }
}

void TitleInfoCache::DurationAvailable(MediaTime duration) {
    std::lock_guard<std::mutex> lock(lock_);
    duration_ = duration;
}

void TitleInfoCache::ChapterReceived(unsigned sequenceNumber, MediaTime startTime,
                                     const std::string& title) {
    ChapterInfo chapter;
    chapter.startTime = startTime;
    chapter.title = title;
    std::lock_guard<std::mutex> lock(lock_);
    if (sequenceNumber < chapters_.size()) {
        chapters_[sequenceNumber] = chapter;
    } else {
        chapters_.push_back(chapter);
    }
}

StreamInfoMonitor::TrackMap TitleInfoCache::GetTracks() const {
    std::lock_guard<std::mutex> lock(lock_);
    return tracks_;
}

boost::shared_ptr<MediaTrack> TitleInfoCache::FindTrack(TrackId id) const {
    std::lock_guard<std::mutex> lock(lock_);
    const TrackMap::const_iterator found = tracks_.find(id);
    return found == tracks_.end() ? boost::shared_ptr<MediaTrack>() : found->second;
}

boost::shared_ptr<MediaTrack> TitleInfoCache::GetVideoTrack() const {
    std::lock_guard<std::mutex> lock(lock_);
    return videoTrack_;
}

boost::shared_ptr<MediaTrack> TitleInfoCache::GetAudioTrack() const {
    std::lock_guard<std::mutex> lock(lock_);
    return audioTrack_;
}

std::vector<TitleInfoCache::ChapterInfo> TitleInfoCache::GetChapters() const {
    std::lock_guard<std::mutex> lock(lock_);
    return chapters_;
}

size_t TitleInfoCache::GetChapterCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return chapters_.size();
}

MediaTime TitleInfoCache::GetDuration() const {
    std::lock_guard<std::mutex> lock(lock_);
    return duration_;
}

}  // namespace SarvelonMediaKit
