// The session's monitor events, turned into the numbered engine events of the callback. Each
// event's payload is built from a copy of the state taken under mutex_, and the callback runs
// with the lock released, so it may call the session's query entry points.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

namespace {

// The sessions whose callbacks run on this thread, innermost last (a handler may set off
// another session's event on the same thread).
thread_local std::vector<const SVMediaTransformerSession*> tCallbacksRunning;

}  // namespace

void SVMediaTransformerSession::PostEvent(int event, const SV::SVTypedValue& data) {
    SVMediaTransformerCallback callback = GetMediaTransformerCallback();
    if (callback == nullptr) return;
    tCallbacksRunning.push_back(this);
    try {
        callback(this, event, &data);
    } catch (...) {
        tCallbacksRunning.pop_back();
        throw;
    }
    tCallbacksRunning.pop_back();
}

bool SVMediaTransformerSession::IsInOwnCallback() const {
    return std::find(tCallbacksRunning.begin(), tCallbacksRunning.end(), this) !=
           tCallbacksRunning.end();
}

void SVMediaTransformerSession::SetError(SVStatus status, std::string text) {
    if (GetMediaTransformerCallback() == nullptr) return;
    SV::SVDictionary error;
    error.SetValue(ErrorKey_SVStatus, SV::SVTypedValue(static_cast<uint32_t>(status)));
    if (!text.empty()) error.SetValue(ErrorKey_AdditionalInfo, SV::SVTypedValue(text));
    PostEvent(SVMediaTransformEvent_Error, SV::SVTypedValue(error));
}

void SVMediaTransformerSession::SetWarning(SVStatus status, std::string text) {
    if (GetMediaTransformerCallback() == nullptr) return;
    SV::SVDictionary warning;
    warning.SetValue(ErrorKey_SVStatus, SV::SVTypedValue(static_cast<uint32_t>(status)));
    if (!text.empty()) warning.SetValue(ErrorKey_AdditionalInfo, SV::SVTypedValue(text));
    PostEvent(SVMediaTransformEvent_Warning, SV::SVTypedValue(warning));
}

void SVMediaTransformerSession::TrackChanged(const boost::shared_ptr<MediaTrack>& track) {
    if (!track) return;
    SV::ScopedLock lock(mutex_);
    if (!track->HasVideo()) {
        if (!track->HasAudio()) return;
        audioInfo_ = track->GetInfo();
        SV::SVTypedValue audio(audioInfo_);
        lock.Unlock();
        PostEvent(SVMediaTransformEvent_AudioTrackChange, audio);
        return;
    }
    videoInfo_ = track->GetInfo();
    SV::SVTypedValue video(videoInfo_);
    // A video track that carries the audio stands for the audio too until an audio track of
    // its own turns up.
    bool audioFromVideo = track->HasAudio() && audioInfo_.empty();
    lock.Unlock();
    PostEvent(SVMediaTransformEvent_VideoTrackChange, video);
    if (audioFromVideo) PostEvent(SVMediaTransformEvent_AudioTrackChange, video);
}

void SVMediaTransformerSession::SessionStopped() {
    PostEvent(SVMediaTransformEvent_SessionStopped, SV::SVTypedValue());
}

void SVMediaTransformerSession::ChapterReceived(unsigned sequenceNumber, MediaTime startTime,
                                                const std::string& title) {
    SV::ScopedLock lock(mutex_);
    // Chapters arrive in sequence order; a repeat or a gap is dropped.
    if (sequenceNumber != chapters_.size()) return;
    uint64_t milliseconds = startTime.Get() / 1000;
    // Beyond 32 bits (49 days) the index saturates rather than wrapping to an early time.
    uint32_t index = static_cast<uint32_t>(
        std::min<uint64_t>(milliseconds, std::numeric_limits<uint32_t>::max()));
    SV::SVDictionary chapter;
    chapter.SetValue(ChapterInfoKey_SeqNum,
                     SV::SVTypedValue(static_cast<uint32_t>(sequenceNumber)));
    chapter.SetValue(ChapterInfoKey_StartTimeIndex, SV::SVTypedValue(index));
    if (!title.empty()) chapter.SetValue(ChapterInfoKey_Title, SV::SVTypedValue(title));
    chapters_.push_back(chapter);
}

void SVMediaTransformerSession::ThumbnailReceived(unsigned index,
                                                  const std::vector<unsigned char>& image) {
    if (GetMediaTransformerCallback() == nullptr) return;
    SV::ScopedLock lock(mutex_);
    if (index < chapters_.size()) {
        std::list<SV::SVDictionary>::iterator entry = chapters_.begin();
        std::advance(entry, index);
        entry->SetValue(ChapterInfoKey_Thumbnail,
                        SV::SVTypedValue(SV::SVDataBlob(image.begin(), image.end())));
    }
    if (index != lastChapter_) return;
    // The requested range, last chapter included (its thumbnail is the one that completes the
    // request), clamped to the chapters stored so far. Each thumbnail goes out once.
    SV::SVTypedValueArray delivered;
    if (!chapters_.empty() && firstChapter_ < chapters_.size()) {
        size_t last = std::min<size_t>(lastChapter_, chapters_.size() - 1);
        std::list<SV::SVDictionary>::iterator entry = chapters_.begin();
        std::advance(entry, firstChapter_);
        for (size_t position = firstChapter_; position <= last; ++position, ++entry) {
            delivered.push_back(SV::SVTypedValue(*entry));
            entry->RemoveValue(ChapterInfoKey_Thumbnail);
        }
    }
    lock.Unlock();
    PostEvent(SVMediaTransformEvent_ChapterData, SV::SVTypedValue(delivered));
}

}  // namespace SarvelonMediaKit
