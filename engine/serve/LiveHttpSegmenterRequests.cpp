// The segmenter's answers to the loopback servers: which file a name stands for, and the
// requests that wait for one.

#include <boost/make_shared.hpp>

#include <algorithm>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpServer.h"

namespace SarvelonMediaKit {

namespace {

// Two handles of the same component (a server asking again on the same connection).
bool SameOwner(const boost::weak_ptr<Component>& a, const boost::weak_ptr<Component>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

bool LiveHttpSegmenter::IsMainPlaylistName(const std::string& name) const {
    if (name_.empty()) return false;
    std::string decoded;
    return HlsRequestName::DecodePath(HlsRequestName::StripQuery(name), decoded) &&
           decoded == name_;
}

bool LiveHttpSegmenter::IsSegment(const LiveHttpFile* file) const {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].get() == file) return true;
    }
    return false;
}

boost::shared_ptr<LiveHttpFile> LiveHttpSegmenter::FindSegment(uint32_t number,
                                                               int32_t minimumState) const {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i]->GetSegmentNumber() == number && files_[i]->GetState() >= minimumState) {
            return files_[i];
        }
    }
    // Kept segments are whole.
    for (size_t i = 0; i < kept_.size(); ++i) {
        if (kept_[i]->GetSegmentNumber() == number) return kept_[i];
    }
    return boost::shared_ptr<LiveHttpFile>();
}

bool LiveHttpSegmenter::GrowingSegmentIsRead() const {
    // Only the newest can still grow.
    return !files_.empty() && files_.back()->GetState() == LiveHttpFile::StateWritingServed;
}

bool LiveHttpSegmenter::InReach(uint32_t number) const {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i]->GetSegmentNumber() == number) return true;
    }
    return number == nextSegmentNumber_ && !endOfStream_;
}

void LiveHttpSegmenter::TakeNextTurn() {
    const SV::PilTime now = Now();
    for (std::deque<Request>::iterator it = waiting_.begin(); it != waiting_.end();) {
        const bool segment =
            it->kind == Request::KindSegment || it->kind == Request::KindTrackSegment;
        if (!segment) {
            ++it;
            continue;
        }
        int64_t waited = now - it->since;
        if (waited < 0) {
            // A clock set back restarts the wait rather than cutting it short.
            it->since = now;
            waited = 0;
        }
        if (waited <= kMaxWaitMilliseconds) {
            ++it;
            continue;
        }
        DebugPrint("LiveHttpSegmenter: segment %u not cut in time\n", it->number);
        if (boost::shared_ptr<Component> alive = it->handle.lock()) {
            AddAnswer(*it, alive, OutcomeUnavailable);
        }
        it = waiting_.erase(it);
    }
    if (!onDemand_ || !currentTrack_ || seekPending_ || seekInFlight_) return;
    const Request* oldest = nullptr;
    for (size_t i = 0; i < waiting_.size(); ++i) {
        const Request& request = waiting_[i];
        if (request.kind != Request::KindSegment && request.kind != Request::KindTrackSegment) {
            continue;
        }
        if (!request.placed || request.handle.expired()) continue;
        if (adaptive_ && request.track != currentTrack_->GetId().Get()) continue;
        // Someone waits for what the position makes next: it stays.
        if (InReach(request.number)) return;
        if (oldest == nullptr) oldest = &request;
    }
    if (oldest != nullptr && !GrowingSegmentIsRead()) SeekToSegment(oldest->number);
}

void LiveHttpSegmenter::GetFile(const std::string& name, LiveHttpServer* requester,
                                boost::shared_ptr<Component> requesterHandle) {
    if (requester == nullptr || !requesterHandle) return;  // nobody to answer
    // The request is answered or worked on by the main pump's passes: an idle pump is woken
    // for it once it is queued (after the lock is given up).
    struct WakePump {
        boost::shared_ptr<Pump> pump;
        ~WakePump() {
            if (pump) pump->Wake();
        }
    } wake = {GetSessionPump()};
    Locked lock(*this);
    // A server that asks again has given up its earlier request; answering that one now would
    // hand the old file to the new request.
    const boost::weak_ptr<Component> handle(requesterHandle);
    for (std::deque<Request>::iterator it = waiting_.begin(); it != waiting_.end();) {
        if (it->handle.expired() || SameOwner(it->handle, handle)) {
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }

    Request request;
    request.requester = requester;
    request.handle = handle;
    request.since = Now();
    if (IsMainPlaylistName(name)) {
        request.kind = Request::KindMainPlaylist;
    } else {
        const HlsRequestName parsed = HlsRequestName::Parse(name);
        switch (parsed.GetKind()) {
            case HlsRequestName::KindPlaylist: request.kind = Request::KindVariant; break;
            case HlsRequestName::KindSegment: request.kind = Request::KindSegment; break;
            case HlsRequestName::KindTrackSegment: request.kind = Request::KindTrackSegment; break;
            case HlsRequestName::KindNone:
                AddAnswer(request, requesterHandle, OutcomeNotFound);
                return;
        }
        request.track = parsed.GetTrack();
        request.number = parsed.GetNumber();
    }

    boost::shared_ptr<LiveHttpFile> file;
    const Outcome outcome = Evaluate(request, file);
    if (outcome != OutcomeWait) {
        AddAnswer(request, requesterHandle, outcome, file);
        return;
    }
    Park(request);
    // A segment past the held newest one may need skipped ones given up.
    if (request.kind == Request::KindSegment || request.kind == Request::KindTrackSegment) {
        ReleaseSegments();
    }
}

void LiveHttpSegmenter::AddAnswer(const Request& request,
                                  const boost::shared_ptr<Component>& handle, Outcome outcome,
                                  const boost::shared_ptr<LiveHttpFile>& file) {
    Answer answer;
    answer.requester = request.requester;
    answer.handle = handle;
    switch (outcome) {
        case OutcomeAnswer:
            answer.answer = LiveHttpServer::AnswerReady;
            answer.file = file;
            break;
        case OutcomeNotFound: answer.answer = LiveHttpServer::AnswerNotFound; break;
        case OutcomeUnavailable: answer.answer = LiveHttpServer::AnswerUnavailable; break;
        case OutcomeGap:
            if (tables_.IsEmpty()) {
                answer.answer = LiveHttpServer::AnswerUnavailable;
                break;
            }
            // A file of its own per answer (each server marks what it serves), sharing the
            // tables' bytes; nobody listens to its states.
            answer.answer = LiveHttpServer::AnswerReady;
            answer.file = boost::make_shared<LiveHttpFile>(nullptr, request.number);
            answer.file->Append(tables_);
            answer.file->SetState(LiveHttpFile::StateComplete);
            break;
        case OutcomeWait: return;
    }
    answers_.push_back(answer);
}

void LiveHttpSegmenter::AbandonSkippedSegments() {
    // A seek on its way replaces what is in memory anyway.
    if (files_.empty() || !currentTrack_ || seekPending_ || seekInFlight_) return;
    const uint32_t newest = files_.back()->GetSegmentNumber();
    bool needed = false;
    for (size_t i = 0; i < waiting_.size() && !needed; ++i) {
        const Request& request = waiting_[i];
        if (request.kind != Request::KindSegment && request.kind != Request::KindTrackSegment) {
            continue;
        }
        if (!request.placed || request.handle.expired()) continue;
        if (adaptive_ && request.track != currentTrack_->GetId().Get()) continue;
        needed = request.number >= newest;
    }
    if (!needed) return;
    size_t finished = 0;
    for (size_t i = 0; i < files_.size(); ++i) {
        const int32_t state = files_[i]->GetState();
        if (state == LiveHttpFile::StateComplete || state == LiveHttpFile::StateCompleteServed) {
            ++finished;
        }
    }
    // Oldest first, only as many as keep the newest from being written; one being sent
    // right now is not skipped.
    std::vector<boost::shared_ptr<LiveHttpFile>> skipped;
    for (size_t i = 0; i < files_.size() && finished >= readAheadLimit_; ++i) {
        if (files_[i]->GetState() == LiveHttpFile::StateComplete) {
            skipped.push_back(files_[i]);
            --finished;
        }
    }
    // Each becomes served, which drops it and releases the newest (FileStateChanged).
    for (size_t i = 0; i < skipped.size(); ++i) skipped[i]->SetState(LiveHttpFile::StateServed);
}

void LiveHttpSegmenter::Park(const Request& request) {
    while (waiting_.size() >= kMaxWaitingRequests) {
        const Request oldest = waiting_.front();
        waiting_.pop_front();
        if (boost::shared_ptr<Component> alive = oldest.handle.lock()) {
            AddAnswer(oldest, alive, OutcomeUnavailable);
        }
    }
    waiting_.push_back(request);
}

LiveHttpSegmenter::Outcome LiveHttpSegmenter::Evaluate(Request& request,
                                                       boost::shared_ptr<LiveHttpFile>& file) {
    if (request.kind == Request::KindMainPlaylist || request.kind == Request::KindVariant) {
        const Outcome outcome = EvaluatePlaylist(request, file);
        // Stopped on an error: what has not come yet never will.
        return endedOnError_ && outcome == OutcomeWait ? OutcomeUnavailable : outcome;
    }
    if (endedOnError_) {
        // Only what was cut whole before the error; nothing is sought or switched to.
        if ((request.kind == Request::KindTrackSegment) != adaptive_) return OutcomeNotFound;
        if (adaptive_ && currentTrack_ && request.track != currentTrack_->GetId().Get()) {
            return OutcomeUnavailable;
        }
        file = FindSegment(request.number, LiveHttpFile::StateComplete);
        return file ? OutcomeAnswer : OutcomeUnavailable;
    }
    return EvaluateSegment(request, file);
}

LiveHttpSegmenter::Outcome LiveHttpSegmenter::EvaluatePlaylist(
    const Request& request, boost::shared_ptr<LiveHttpFile>& file) {
    // Before the track list has come no playlist can be written: the request waits for it
    // (a playlist without a track would be kept and served for good). A complete list without
    // an eligible track never gives one.
    const Outcome noTrack = tracksKnown_ ? OutcomeNotFound : OutcomeWait;
    // A sliding window needs a finished segment; a complete list that names no segment
    // never will.
    const Outcome noList = onDemand_ ? OutcomeNotFound : OutcomeWait;
    if (request.kind == Request::KindMainPlaylist) {
        if (adaptive_ ? tracks_.empty() : !currentTrack_) return noTrack;
        WritePlaylist(TrackId(0), mainPlaylist_);
        file = mainPlaylist_;
        return file ? OutcomeAnswer : noList;
    }
    if (!adaptive_) return OutcomeNotFound;  // one rendition: the main playlist is its list
    AdaptiveTrackMap::iterator it = tracks_.find(TrackId(request.track));
    if (it == tracks_.end()) return noTrack;
    WritePlaylist(it->first, it->second.playlist);
    file = it->second.playlist;
    return file ? OutcomeAnswer : noList;
}

uint32_t LiveHttpSegmenter::ListedSegmentCount(const Request& request) const {
    if (adaptive_) {
        AdaptiveTrackMap::const_iterator it = tracks_.find(TrackId(request.track));
        if (it == tracks_.end() || !it->second.track) return 0;
        return it->second.track->GetIndex().GetCount();
    }
    return CurrentListedCount();
}

LiveHttpSegmenter::Outcome LiveHttpSegmenter::EvaluateSegment(
    Request& request, boost::shared_ptr<LiveHttpFile>& file) {
    // Segment names carry the track id exactly when adaptation is on.
    if ((request.kind == Request::KindTrackSegment) != adaptive_) return OutcomeNotFound;
    // With adaptation a segment may go out while it is written.
    const int32_t ready = adaptive_ ? LiveHttpFile::StateWriting : LiveHttpFile::StateComplete;
    if (!currentTrack_) {
        // A segment in memory is what it is; any other cannot be placed (nor sought) until
        // the tracks are known.
        if (!adaptive_ && (file = FindSegment(request.number, ready))) return OutcomeAnswer;
        return tracksKnown_ ? OutcomeNotFound : OutcomeWait;
    }

    // The media cannot give it (a lost key frame, or the media ended before it).
    const bool moving = seekPending_ || seekInFlight_;
    const bool cannot = unavailable_.count(request.number) != 0 ||
                        (endOfStream_ && !moving && request.number + 1 >= nextSegmentNumber_);
    if (request.placed) {
        // Waited before: look again, and give up on what will not come.
        if (adaptive_ && request.track != currentTrack_->GetId().Get()) return OutcomeNotFound;
        file = FindSegment(request.number, ready);
        if (file) return OutcomeAnswer;
        if (cannot) return OutcomeGap;
        if ((seekPending_ && seekTarget_ == request.number) ||
            (seekInFlight_ && issuedTarget_ == request.number)) {
            return OutcomeWait;
        }
        // A complete title lists every segment for good: one the playback has moved away
        // from waits for its turn. A sliding window no longer lists what fell out of it.
        if (onDemand_) return OutcomeWait;
        const uint32_t first =
            files_.empty() ? nextSegmentNumber_ : files_.front()->GetSegmentNumber();
        return request.number < first ? OutcomeNotFound : OutcomeWait;
    }

    if (onDemand_ && request.number >= ListedSegmentCount(request)) return OutcomeNotFound;
    if (adaptive_ && request.track != currentTrack_->GetId().Get()) {
        AdaptiveTrackMap::iterator it = tracks_.find(TrackId(request.track));
        if (it == tracks_.end()) return OutcomeNotFound;
        // The segment someone is reading as it is cut is finished first; the request is
        // looked at afresh when it is (or when it has waited too long).
        if (GrowingSegmentIsRead()) return OutcomeWait;
        request.placed = true;
        // The player switched renditions: segment from the other track from that number on.
        currentTrack_ = it->second.track;
        seekTarget_ = request.number;
        seekPending_ = false;
        // The segments in memory are of the old track and must not go out under the new
        // track's names; the seek drops them as well.
        std::deque<boost::shared_ptr<LiveHttpFile>> dropped;
        dropped.swap(files_);
        for (size_t i = 0; i < dropped.size(); ++i) {
            LetGo(dropped[i]);
            if (dropped[i]->GetState() < LiveHttpFile::StateComplete) {
                dropped[i]->SetState(LiveHttpFile::StateComplete);
            }
        }
        if (session_ != nullptr) session_->SelectTrack(it->first);
        SeekToSegment(request.number);
        return OutcomeWait;
    }
    request.placed = true;
    file = FindSegment(request.number, ready);
    if (file) return OutcomeAnswer;
    if (cannot) return OutcomeGap;
    if (request.number != nextSegmentNumber_) {
        // Inside the window (from the first segment in memory to the one after the newest)
        // the segment comes by itself; outside it, the playback has to move.
        const bool outside =
            files_.empty() || request.number < files_.front()->GetSegmentNumber() ||
            uint64_t(request.number) > uint64_t(files_.back()->GetSegmentNumber()) + 1;
        // Others already wait for their turn away from the position: this one queues
        // behind them instead of moving the position from under them.
        bool queue = false;
        for (size_t i = 0; i < waiting_.size() && onDemand_ && outside && !seekPending_ && !queue;
             ++i) {
            const Request& other = waiting_[i];
            queue =
                (other.kind == Request::KindSegment || other.kind == Request::KindTrackSegment) &&
                other.placed && !other.handle.expired() && !InReach(other.number);
        }
        if (outside && !queue) {
            seekTarget_ = request.number;
            seekPending_ = true;
            seekRequestTime_ = Now();
        }
    }
    return OutcomeWait;
}

void LiveHttpSegmenter::DeliverPendingFile() {
    Locked lock(*this);
    if (delivering_) {
        // A state change made while delivering: one more round once this one is done.
        deliverAgain_ = true;
        return;
    }
    delivering_ = true;
    for (int round = 0; round < 4; ++round) {
        deliverAgain_ = false;
        std::deque<Request> pending;
        pending.swap(waiting_);
        std::deque<Request> kept;
        for (size_t i = 0; i < pending.size(); ++i) {
            Request& request = pending[i];
            // The server may have gone; its pointer is used only while its handle holds.
            boost::shared_ptr<Component> alive = request.handle.lock();
            if (!alive) continue;
            boost::shared_ptr<LiveHttpFile> file;
            const Outcome outcome = Evaluate(request, file);
            if (outcome == OutcomeWait) {
                kept.push_back(request);
            } else {
                AddAnswer(request, alive, outcome, file);
            }
        }
        // Nothing parks while this runs, but keep anything that did, behind.
        kept.insert(kept.end(), waiting_.begin(), waiting_.end());
        waiting_.swap(kept);
        if (!deliverAgain_) break;
    }
    delivering_ = false;
}

void LiveHttpSegmenter::FileStateChanged(LiveHttpFile* file) {
    boost::shared_ptr<Pump> wake;
    {
        Locked lock(*this);
        const int32_t state = file->GetState();
        if (state == LiveHttpFile::StateComplete ||
            (state == LiveHttpFile::StateWriting && adaptive_)) {
            // Playlist files and segments dropped by a seek answer nobody.
            if (IsSegment(file)) DeliverPendingFile();
        } else if (state == LiveHttpFile::StateCompleteServed ||
                   state == LiveHttpFile::StateServed) {
            ReleaseSegments();
            // A server marks segments served on its own thread: a segment released for
            // writing is cut by the main pump's passes, which may be asleep.
            wake = GetSessionPump();
        }
    }
    if (wake) wake->Wake();
}

int64_t LiveHttpSegmenter::NextDueMilliseconds(const SV::PilTime& now) const {
    int64_t due = -1;
    const auto earliest = [&due](int64_t at) {
        // One past the limit: the checks fire on more than it.
        const int64_t left = std::max<int64_t>(at + 1, 0);
        if (due < 0 || left < due) due = left;
    };
    if (seekPending_) earliest(kSeekDelayMilliseconds - (now - seekRequestTime_));
    if (seekInFlight_) earliest(kSeekRetryMilliseconds - (now - seekIssueTime_));
    // Waiting requests are looked at as often as an idle pump always did: what they wait for
    // is not all announced.
    if (!waiting_.empty()) earliest(kWaitingLookMilliseconds);
    return due;
}

}  // namespace SarvelonMediaKit
