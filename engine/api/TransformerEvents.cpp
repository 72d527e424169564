// What the Transformer does with the events of its sources: errors from every session and
// component it monitors, the stream and chapter events of the main demultiplexer and the life
// cycle of the main session. The stream and chapter events arrive on the main session's pump
// thread while the C interface reads the same fields on its caller's thread: they are written
// and read under trackLock_, and nothing else is called while it is held.
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {

namespace {

// The stream type whose media times the Transformer keeps in its time map.
const uint32_t kMappedStreamType = 2;

}  // namespace

void Transformer::SetError(SVStatus status, std::string text) {
    DebugPrint("Transformer::SetError: %d - %s\n", status, text.c_str());
    {
        std::lock_guard<std::mutex> lock(errorTextLock_);
        errorText_ = text;
        status_ = status;
    }
    // An RTMP server keeps serving its other clients after one error.
    if (outputKind_ != OutputKindRtmpServer) {
        if (session_) session_->Stop(false);
        abortRequested_ = true;
    }
    PublishError(status, text);
}

void Transformer::SetWarning(SVStatus status, std::string text) {
    if (status != SVStatusParserError) return;
    SV::WriteLine(url_ + ": " + text + " (" + std::to_string(status) + ")");
    PublishWarning(status, text);
}

void Transformer::TracksAvailable(const TrackMap& tracks, bool complete) {
    if (!complete) return;
    std::lock_guard<std::mutex> lock(trackLock_);
    tracks_ = tracks;
}

void Transformer::TrackChanged(const boost::shared_ptr<MediaTrack>& track) {
    if (!track) return;
    std::lock_guard<std::mutex> lock(trackLock_);
    if (track->HasVideo()) {
        videoTrack_ = track;
    } else if (track->HasAudio()) {
        audioTrack_ = track;
    }
}

void Transformer::DurationAvailable(MediaTime duration) {
    std::lock_guard<std::mutex> lock(trackLock_);
    duration_ = duration;
}

void Transformer::TrickPlayAvailable(bool available) { trickPlayAvailable_ = available; }

void Transformer::PreloadComplete() { --pendingPreloads_; }

void Transformer::MediaTimeAvailable(uint32_t streamType, MediaTime firstTime,
                                     MediaTime secondTime) {
    if (streamType == kMappedStreamType) SetCurrentTime(firstTime, secondTime);
}

void Transformer::SessionSetupCompleted() { SV::WriteLine("SessionSetupCompleted"); }

void Transformer::SessionStopped() { SV::WriteLine("SessionStopped"); }

void Transformer::ChaptersAvailable(unsigned) {}

void Transformer::ChapterReceived(unsigned sequenceNumber, MediaTime startTime,
                                  const std::string& title) {
    ChapterInfo chapter;
    chapter.startTime = startTime;
    chapter.title = title;
    std::lock_guard<std::mutex> lock(trackLock_);
    if (sequenceNumber < chapters_.size()) {
        chapters_[sequenceNumber] = chapter;
    } else {
        // A number beyond the end leaves no gap.
        chapters_.push_back(chapter);
    }
}

void Transformer::ThumbnailReceived(unsigned, const std::vector<unsigned char>&) {}

// ---- Copies for the C interface ----

Transformer::TrackMap Transformer::GetTracks() const {
    std::lock_guard<std::mutex> lock(trackLock_);
    return tracks_;
}

boost::shared_ptr<MediaTrack> Transformer::GetVideoTrack() const {
    std::lock_guard<std::mutex> lock(trackLock_);
    return videoTrack_;
}

boost::shared_ptr<MediaTrack> Transformer::GetAudioTrack() const {
    std::lock_guard<std::mutex> lock(trackLock_);
    return audioTrack_;
}

std::vector<Transformer::ChapterInfo> Transformer::GetChapters() const {
    std::lock_guard<std::mutex> lock(trackLock_);
    return chapters_;
}

MediaTime Transformer::GetDuration() const {
    std::lock_guard<std::mutex> lock(trackLock_);
    return duration_;
}

}  // namespace SarvelonMediaKit
