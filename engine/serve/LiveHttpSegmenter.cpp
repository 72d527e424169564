#include "engine/serve/LiveHttpSegmenter.h"

#include <boost/make_shared.hpp>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/serve/HlsPlaylist.h"
#include "engine/serve/HlsPlaylistMaker.h"
#include "engine/serve/HlsSegmentTiming.h"
#include "engine/serve/LiveHttpServer.h"

namespace SarvelonMediaKit {

const uint32_t LiveHttpSegmenter::kPullAmount;
const int64_t LiveHttpSegmenter::kSeekDelayMilliseconds;
const size_t LiveHttpSegmenter::kMaxWaitingRequests;
const int64_t LiveHttpSegmenter::kSeekRetryMilliseconds;
const uint64_t LiveHttpSegmenter::kKeptBytes;
const int64_t LiveHttpSegmenter::kMaxWaitMilliseconds;
const int64_t LiveHttpSegmenter::kWaitingLookMilliseconds;
const uint64_t LiveHttpSegmenter::kGroupStartTolerance;

namespace {

// One 90 kHz tick in microseconds: added per segment to the seek time, so that the time of
// segment n never falls a rounding short of its key frame.
constexpr double kTickMicroseconds =
    static_cast<double>(kMicrosecondsPerSecond) / static_cast<double>(kTicksPerSecond);
// Bytes of one transport-stream packet.
const size_t kTsPacketSize = 188;
// Read-ahead of finished segments for a complete title and for other input.
const uint16_t kOnDemandReadAhead = 1;
const uint16_t kLiveReadAhead = 3;

}  // namespace

LiveHttpSegmenter::LiveHttpSegmenter(Session* session, const Clock& clock)
    : Component(session),
      onDemand_(false),
      adaptive_(false),
      readAheadLimit_(kLiveReadAhead),
      keepServed_(0),
      tracksKnown_(false),
      nextSegmentNumber_(0),
      seekTarget_(0),
      seekPending_(false),
      seekRequestTime_(0),
      seekInFlight_(false),
      issuedTarget_(0),
      seekIssueTime_(0),
      delivering_(false),
      deliverAgain_(false),
      lockDepth_(0),
      clock_(clock),
      bytesAdded_(0),
      keptBytes_(0),
      endOfStream_(false),
      normalRate_(true),
      groupValueKnown_(false),
      groupValue_(0),
      clockBaseKnown_(false),
      clockBase_(0),
      shapeEntries_(0),
      shapeDuration_(0),
      endedOnError_(false) {}

LiveHttpSegmenter::~LiveHttpSegmenter() {
    // Track events reach members: no delivery may run while they go.
    DetachFromSources();
    // Files still held elsewhere (a server sending one, an answer on its way) may change
    // state after this: they must not call into what is left of the segmenter. Waits for
    // any such call already running.
    std::vector<boost::shared_ptr<LiveHttpFile>> files(files_.begin(), files_.end());
    files.insert(files.end(), kept_.begin(), kept_.end());
    if (mainPlaylist_) files.push_back(mainPlaylist_);
    for (AdaptiveTrackMap::iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        if (it->second.playlist) files.push_back(it->second.playlist);
    }
    for (size_t i = 0; i < released_.size(); ++i) {
        if (boost::shared_ptr<LiveHttpFile> file = released_[i].lock()) files.push_back(file);
    }
    for (size_t i = 0; i < files.size(); ++i) files[i]->ClearListener(true);
}

LiveHttpSegmenter::Locked::Locked(LiveHttpSegmenter& owner) : owner_(owner) {
    owner_.lock_.Lock();
    ++owner_.lockDepth_;
}

LiveHttpSegmenter::Locked::~Locked() {
    std::vector<Answer> answers;
    // Let go after the answers, outside the lock: a segment's hundreds of chunks are freed
    // while the main pump goes on cutting the next one.
    std::vector<boost::shared_ptr<LiveHttpFile>> dropped;
    if (--owner_.lockDepth_ == 0) {
        answers.swap(owner_.answers_);
        dropped.swap(owner_.dropped_);
    }
    owner_.lock_.Unlock();
    for (size_t i = 0; i < answers.size(); ++i) {
        answers[i].requester->GiveAnswer(answers[i].answer, answers[i].file);
    }
    // The servers' handles go here, outside the lock.
}

void LiveHttpSegmenter::LetGo(const boost::shared_ptr<LiveHttpFile>& file) {
    if (!file) return;
    file->ClearListener(false);
    Remember(file);
}

void LiveHttpSegmenter::Remember(const boost::shared_ptr<LiveHttpFile>& file) {
    // Only files still alive are worth remembering.
    size_t kept = 0;
    for (size_t i = 0; i < released_.size(); ++i) {
        if (!released_[i].expired()) released_[kept++] = released_[i];
    }
    released_.resize(kept);
    if (file.use_count() > 1) released_.push_back(file);
}

std::string LiveHttpSegmenter::GetTypeName() const { return "LiveHttpSegmenter"; }

SV::PilTime LiveHttpSegmenter::Now() const { return clock_ ? clock_() : SV::PilTime::Now(); }

void LiveHttpSegmenter::SetOnDemand(bool onDemand) {
    Locked lock(*this);
    onDemand_ = onDemand;
    readAheadLimit_ = onDemand ? kOnDemandReadAhead : kLiveReadAhead;
    keepServed_ = 0;
}

void LiveHttpSegmenter::SetAdaptive(bool adaptive) {
    Locked lock(*this);
    adaptive_ = adaptive;
}

bool LiveHttpSegmenter::IsOnDemand() {
    Locked lock(*this);
    return onDemand_;
}

bool LiveHttpSegmenter::IsAdaptive() {
    Locked lock(*this);
    return adaptive_;
}

void LiveHttpSegmenter::DoSetName(const std::string& name, bool /*flag*/) {
    Locked lock(*this);
    name_ = name;
}

std::string LiveHttpSegmenter::GetPlaylistName() {
    Locked lock(*this);
    return name_;
}

std::string LiveHttpSegmenter::GetUrlName() {
    Locked lock(*this);
    return HlsRequestName::EncodePath(name_);
}

void LiveHttpSegmenter::EndOnError() {
    Locked lock(*this);
    if (endedOnError_) return;
    endedOnError_ = true;
    seekPending_ = false;
    seekInFlight_ = false;
    // The group being cut ends where the error left it: never answered as a whole segment. A
    // server sending it as it grows ends its answer (as after a seek) instead of waiting.
    if (!files_.empty() && files_.back()->GetState() < LiveHttpFile::StateComplete) {
        const boost::shared_ptr<LiveHttpFile> cut = files_.back();
        files_.pop_back();
        LetGo(cut);
        cut->SetState(LiveHttpFile::StateComplete);
    }
    DeliverPendingFile();
}

std::vector<std::pair<uint32_t, int32_t>> LiveHttpSegmenter::GetSegments() {
    Locked lock(*this);
    std::vector<std::pair<uint32_t, int32_t>> segments;
    for (size_t i = 0; i < files_.size(); ++i) {
        segments.push_back(std::make_pair(files_[i]->GetSegmentNumber(), files_[i]->GetState()));
    }
    return segments;
}

uint32_t LiveHttpSegmenter::GetNextSegmentNumber() {
    Locked lock(*this);
    return nextSegmentNumber_;
}

bool LiveHttpSegmenter::IsSeekPending() {
    Locked lock(*this);
    return seekPending_;
}

size_t LiveHttpSegmenter::GetWaitingRequestCount() {
    Locked lock(*this);
    return waiting_.size();
}

boost::shared_ptr<MediaTrack> LiveHttpSegmenter::GetCurrentTrack() {
    Locked lock(*this);
    return currentTrack_;
}

// ---- Cutting and flow control ----

bool LiveHttpSegmenter::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    const uint32_t type = marker->GetType();
    if (type == MemoryMarkerTypeGopStart) {
        const MemoryMarkerGopStart* gop = dynamic_cast<const MemoryMarkerGopStart*>(marker.get());
        StartSegment(gop != nullptr, gop != nullptr ? gop->GetValue() : 0);
        return false;
    }
    if (type != MemoryMarkerTypeEndOfStream) return true;
    Locked lock(*this);
    if (endedOnError_) return false;  // what is left of the chain is not cut any more
    StartSegment(false, 0);
    // The segment just opened gets no bytes, and none after it will be cut from here: requests
    // for them are answered (until a seek moves the playback).
    endOfStream_ = true;
    DeliverPendingFile();
    return false;
}

void LiveHttpSegmenter::StartSegment(bool valueKnown, uint64_t value) {
    Locked lock(*this);
    if (endedOnError_) return;
    if (!files_.empty() && files_.back()->GetState() < LiveHttpFile::StateComplete) {
        // Held by value: telling the listeners may drop it from the list.
        boost::shared_ptr<LiveHttpFile> newest = files_.back();
        NoteTables(*newest);
        newest->SetState(LiveHttpFile::StateComplete);
    }
    // Groups met between a seek's issue and its arrival are from before it (finishing the
    // segment above may have moved the playback): numbered, they could answer a request for
    // the sought media with the old. Their bytes are dropped until the seek comes.
    if (seekInFlight_) return;
    const uint32_t number = NumberForGroup(valueKnown, value);
    // A group whose key frame was lost went into the segment before (or, right after a seek,
    // was skipped by it): the numbers passed over will never be cut.
    const bool passedOver = number > nextSegmentNumber_;
    if (passedOver) MarkUnavailable(nextSegmentNumber_, number);
    groupValueKnown_ = valueKnown;
    groupValue_ = value;
    unavailable_.erase(number);
    files_.push_back(
        boost::make_shared<LiveHttpFile>(static_cast<LiveHttpFileSource*>(this), number));
    nextSegmentNumber_ = number + 1;
    // Whoever waits for a number passed over is told now, not when this segment is finished.
    if (passedOver) DeliverPendingFile();
    ReleaseSegments();
}

uint32_t LiveHttpSegmenter::NumberForGroup(bool valueKnown, uint64_t value) {
    if (!valueKnown || !onDemand_ || !normalRate_) return nextSegmentNumber_;
    bool tried = false;
    bool landed = false;
    uint32_t number = nextSegmentNumber_;
    uint64_t previous = 0;
    if (groupValueKnown_) {
        // Within a run: the clock has moved on from the group before by as much as the media.
        tried = true;
        if (value > groupValue_ && nextSegmentNumber_ != 0 &&
            SegmentStart(nextSegmentNumber_ - 1, previous)) {
            landed = ListedNumberAt(
                static_cast<int64_t>(previous) + static_cast<int64_t>(value - groupValue_), number);
        }
    } else if (clockBaseKnown_) {
        // The first group after a seek: where the clock, seen stepping with the list before,
        // says it lies. A seek lands on its target's key frame, or on a later one when the
        // target's was lost.
        tried = true;
        landed = ListedNumberAt(static_cast<int64_t>(value) - clockBase_, number);
    }
    uint64_t start = 0;
    if (landed && SegmentStart(number, start)) {
        clockBase_ = static_cast<int64_t>(value) - static_cast<int64_t>(start);
        clockBaseKnown_ = true;
        return number;
    }
    // A clock that does not land on a listed start is not stepping with the list: in turn,
    // and no later seek relies on it until it lands again.
    if (tried) clockBaseKnown_ = false;
    return nextSegmentNumber_;
}

bool LiveHttpSegmenter::ListedNumberAt(int64_t estimate, uint32_t& number) const {
    uint64_t here = 0;
    if (!SegmentStart(nextSegmentNumber_, here)) return false;
    const auto distance = [estimate](uint64_t start) {
        const int64_t d = static_cast<int64_t>(start) - estimate;
        return static_cast<uint64_t>(d < 0 ? -d : d);
    };
    const uint32_t count = CurrentListedCount();
    uint32_t nearest = nextSegmentNumber_;
    // The listed segment whose start lies nearest, from the next one on.
    uint64_t next = 0;
    while (nearest + 1 < count && SegmentStart(nearest + 1, next) &&
           distance(next) < distance(here)) {
        ++nearest;
        here = next;
    }
    if (distance(here) > kGroupStartTolerance) return false;
    number = nearest;
    return true;
}

bool LiveHttpSegmenter::SegmentStart(uint32_t number, uint64_t& microseconds,
                                     bool* fromIndex) const {
    if (!currentTrack_) return false;
    const MediaTrackIndex& index = currentTrack_->GetIndex();
    const uint32_t timescale = index.GetTimescale();
    if (timescale == 0) return false;
    const HlsSegmentTiming::ListShape& shape = CurrentShape();
    if (!adaptive_ && shape.uniform) {
        const uint64_t gop = UnitsToMicroseconds(shape.longestGop, timescale);
        microseconds = static_cast<uint64_t>(double(number) * (double(gop) + kTickMicroseconds));
        return true;
    }
    // The list names the index's entries: segment n is the group from entry n on.
    if (number >= index.GetCount()) return false;
    microseconds = UnitsToMicroseconds(index.GetEntries()[number].time, timescale);
    if (fromIndex != nullptr) *fromIndex = true;
    return true;
}

uint32_t LiveHttpSegmenter::CurrentListedCount() const {
    if (!currentTrack_) return 0;
    const HlsSegmentTiming::ListShape& shape = CurrentShape();
    if (!adaptive_ && shape.uniform) return shape.uniformCount;
    return currentTrack_->GetIndex().GetCount();
}

const HlsSegmentTiming::ListShape& LiveHttpSegmenter::CurrentShape() const {
    // Every group start and seek looks segment starts up: the index is walked once per track,
    // and again only if it has grown since.
    const MediaTrackIndex& index = currentTrack_->GetIndex();
    if (shapeTrack_ != currentTrack_ || shapeEntries_ != index.GetCount() ||
        shapeDuration_ != index.GetDuration()) {
        shape_ = HlsSegmentTiming::ShapeOf(*currentTrack_);
        shapeTrack_ = currentTrack_;
        shapeEntries_ = index.GetCount();
        shapeDuration_ = index.GetDuration();
    }
    return shape_;
}

void LiveHttpSegmenter::MarkUnavailable(uint32_t from, uint32_t to) {
    for (uint32_t number = from; number < to; ++number) {
        // Not what is already cut whole.
        if (!FindSegment(number, LiveHttpFile::StateComplete)) unavailable_.insert(number);
    }
}

void LiveHttpSegmenter::NoteTables(LiveHttpFile& segment) {
    // A segment opens with the PAT (PID 0) and the PMT, one packet each, both starting their
    // section in the packet (payload_unit_start_indicator): after the 4-byte header and any
    // adaptation field (the multiplexer pads the tables with its stuffing) come the
    // pointer_field and, past what it skips, table_id 0x00 (PAT) or 0x02 (PMT).
    std::vector<uint8_t> head;
    head.reserve(2 * kTsPacketSize);
    LiveHttpFile::Cursor cursor;
    while (head.size() < 2 * kTsPacketSize) {
        const MemoryChunk piece =
            segment.Read(cursor, static_cast<uint32_t>(2 * kTsPacketSize - head.size()));
        if (piece.IsEmpty()) return;  // too short to open with both tables
        head.insert(head.end(), piece.Data(), piece.Data() + piece.Size());
    }
    const auto table = [&head](size_t at, uint8_t tableId) {
        const uint8_t* p = head.data() + at;
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        const bool startsSection = (p[1] & 0x40) != 0;
        const uint8_t control = (p[3] >> 4) & 0x3;  // adaptation_field_control
        size_t payloadAt = 4;
        if ((control & 0x2) != 0) payloadAt += 1 + size_t(p[4]);  // adaptation_field_length
        if ((control & 0x1) == 0 || payloadAt >= kTsPacketSize) return false;
        const size_t tableAt = payloadAt + 1 + size_t(p[payloadAt]);  // past the pointer_field
        const bool pidFits = tableId == 0x00 ? pid == 0 : (pid != 0 && pid != 0x1FFF);
        return p[0] == 0x47 && startsSection && pidFits && tableAt < kTsPacketSize &&
               p[tableAt] == tableId;
    };
    if (table(0, 0x00) && table(kTsPacketSize, 0x02)) tables_ = MemoryChunk::CopyOf(head);
}

void LiveHttpSegmenter::Keep(const boost::shared_ptr<LiveHttpFile>& file) {
    // Adaptive segment names carry a track; kept ones would have to as well.
    if (!onDemand_ || adaptive_ || !file || file->Size() > kKeptBytes) return;
    for (size_t i = 0; i < kept_.size(); ++i) {
        if (kept_[i]->GetSegmentNumber() == file->GetSegmentNumber()) {
            keptBytes_ -= kept_[i]->Size();
            kept_.erase(kept_.begin() + static_cast<long>(i));
            break;
        }
    }
    kept_.push_back(file);
    keptBytes_ += file->Size();
    while (keptBytes_ > kKeptBytes) {
        keptBytes_ -= kept_.front()->Size();
        dropped_.push_back(std::move(kept_.front()));
        kept_.pop_front();
    }
}

void LiveHttpSegmenter::DoAdd(const MemoryChunk& chunk) {
    Locked lock(*this);
    bytesAdded_ += chunk.Size();
    if (!files_.empty() && files_.back()->GetState() < LiveHttpFile::StateComplete) {
        files_.back()->Append(chunk);
        return;
    }
    // No segment is open: before the first group of pictures, and after a seek until the next
    // one. The multiplexer sends the sound timed ahead of a group's key frame before that
    // group's marker (it belongs to the group before, which is not here), at the start and
    // after every reposition; bytes still in flight from before a seek arrive here too. Such
    // bytes are dropped and only traced: an error would stop the playback (its Transformer
    // stops on any error), at every such start and seek.
    DebugPrint("LiveHttpSegmenter::DoAdd while not segmenting or holding: %u bytes dropped\n",
               chunk.Size());
}

ByteAmount LiveHttpSegmenter::DoGetBytesWanted() { return ByteAmount(0xFFFFFFFFu); }

void LiveHttpSegmenter::ReleaseSegments() {
    Locked lock(*this);
    size_t served = 0;
    while (served < files_.size() && files_[served]->GetState() == LiveHttpFile::StateServed) {
        ++served;
    }
    if (served > keepServed_) {
        const long drop = static_cast<long>(served - keepServed_);
        for (long i = 0; i < drop; ++i) {
            LetGo(files_[static_cast<size_t>(i)]);
            Keep(files_[static_cast<size_t>(i)]);
        }
        files_.erase(files_.begin(), files_.begin() + drop);
    }
    if (files_.empty() || files_.back()->GetState() != LiveHttpFile::StateHeld) return;
    AbandonSkippedSegments();
    if (files_.empty() || files_.back()->GetState() != LiveHttpFile::StateHeld) return;
    size_t waiting = 0;
    for (size_t i = 0; i < files_.size(); ++i) {
        const int32_t state = files_[i]->GetState();
        if (state == LiveHttpFile::StateComplete || state == LiveHttpFile::StateCompleteServed) {
            ++waiting;
        }
    }
    if (waiting < readAheadLimit_) {
        boost::shared_ptr<LiveHttpFile> newest = files_.back();
        newest->SetState(LiveHttpFile::StateWriting);
    }
}

void LiveHttpSegmenter::DoPullData(ByteAmount& /*amount*/) {
    bool pull = false;
    {
        Locked lock(*this);
        if (endedOnError_) return;
        const SV::PilTime now = Now();
        if (seekPending_) {
            const int64_t elapsed = now - seekRequestTime_;
            if (elapsed > kSeekDelayMilliseconds && !GrowingSegmentIsRead()) {
                seekPending_ = false;
                SeekToSegment(seekTarget_);
            } else if (elapsed < 0) {
                // A clock set back restarts the delay rather than holding the seek off.
                seekRequestTime_ = now;
            }
        } else if (seekInFlight_) {
            // A seek the session dropped never arrives: without asking again, the requests
            // waiting for it would wait for good.
            const int64_t elapsed = now - seekIssueTime_;
            if (elapsed > kSeekRetryMilliseconds) {
                SeekToSegment(issuedTarget_);
            } else if (elapsed < 0) {
                seekIssueTime_ = now;
            }
        }
        TakeNextTurn();
        if (files_.empty()) {
            pull = true;
        } else {
            const int32_t state = files_.back()->GetState();
            pull = state == LiveHttpFile::StateWriting || state == LiveHttpFile::StateWritingServed;
        }
        // Nothing to pull: the chain is at rest until a request or a served segment wakes the
        // pump (GetFile, FileStateChanged), or one of our own times comes round.
        if (!pull) Pump::NoteIdleUntil(NextDueMilliseconds(now));
    }
    // The chain runs outside the lock: its bytes come back through DoAdd, which takes it.
    // It is pulled a sample at a time (the multiplexer ends a pull once it has sent the bytes
    // asked for), and no further once the newest segment is held: one pull of kPullAmount
    // would run on through several groups of pictures and finish segments past the
    // read-ahead limit.
    uint64_t pulled = 0;
    while (pull) {
        const uint64_t before = bytesAdded_;
        ByteAmount amount(1);
        Component::DoPullData(amount);
        Locked lock(*this);
        const uint64_t added = bytesAdded_ - before;
        pulled += added;
        if (added == 0) break;
        if (!files_.empty()) {
            const int32_t state = files_.back()->GetState();
            pull = state == LiveHttpFile::StateWriting || state == LiveHttpFile::StateWritingServed;
        }
        if (pulled >= kPullAmount) {
            // Stopped by the pass's bound alone, with the chain still giving and a segment
            // still open: the rest of it follows in the next pass at once, not an interval
            // later (a segment takes a few passes, each of which would otherwise cost the
            // pump a sleep and a wake-up, and keep a player that reads it as it grows
            // waiting as long).
            if (pull) Pump::NoteMoreOutputReady();
            break;
        }
    }
}

// ---- Seeking ----

void LiveHttpSegmenter::SeekToSegment(uint32_t number) {
    Locked lock(*this);
    uint64_t time = 0;
    bool fromIndex = false;
    // A listed index entry is sought one microsecond past its key frame, so the seek lands on
    // it and not before.
    if (SegmentStart(number, time, &fromIndex) && fromIndex) ++time;
    seekInFlight_ = true;
    issuedTarget_ = number;
    seekIssueTime_ = Now();
    if (session_ != nullptr) session_->Seek(MediaTime(time));
}

void LiveHttpSegmenter::DoSeek(MediaTime time) {
    {
        Locked lock(*this);
        std::deque<boost::shared_ptr<LiveHttpFile>> dropped;
        dropped.swap(files_);
        // Numbered from the seek that was asked for, whatever requests came meanwhile.
        nextSegmentNumber_ = issuedTarget_;
        seekInFlight_ = false;
        endOfStream_ = false;
        // The first group after it is placed by the clock base, not the group before.
        groupValueKnown_ = false;
        // A segment cut short is finished as it stands, so a server that sends it while it
        // grows ends its answer instead of waiting for bytes that will never come. It is no
        // longer in the list, so no waiting request takes it; whole ones are kept.
        for (size_t i = 0; i < dropped.size(); ++i) {
            LetGo(dropped[i]);
            if (dropped[i]->GetState() < LiveHttpFile::StateComplete) {
                dropped[i]->SetState(LiveHttpFile::StateComplete);
            } else {
                Keep(dropped[i]);
            }
        }
        DeliverPendingFile();
    }
    Component::DoSeek(time);
}

bool LiveHttpSegmenter::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    {
        Locked lock(*this);
        // Another rendition's clock: segments are numbered in turn until the next seek or the
        // return to the normal rate, which start counting from the group they open.
        normalRate_ = rate.Get() == 0;
        groupValueKnown_ = false;
        clockBaseKnown_ = false;
    }
    return Component::DoTrickPlay(rate, time);
}

// ---- Playlists ----

void LiveHttpSegmenter::WritePlaylist(TrackId track, boost::shared_ptr<LiveHttpFile>& slot) {
    Locked lock(*this);
    // Complete lists and the master do not change: written once per slot.
    if (onDemand_ && slot) return;
    if (adaptive_ && track.Get() == 0 && slot) return;
    // A server may still be sending the old text.
    LetGo(slot);
    slot.reset();
    HlsPlaylist playlist;
    // Nothing to list yet (no track, no finished segment): no file, so nothing empty is kept.
    if (!MakePlaylist(track, playlist)) return;
    const std::string text = playlist.Render();
    boost::shared_ptr<LiveHttpFile> file =
        boost::make_shared<LiveHttpFile>(static_cast<LiveHttpFileSource*>(this), 0);
    file->Append(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<uint32_t>(text.size())));
    slot = file;
    Remember(file);
    file->SetState(LiveHttpFile::StateComplete);
}

bool LiveHttpSegmenter::MakePlaylist(TrackId track, HlsPlaylist& playlist) const {
    const HlsPlaylistMaker maker(adaptive_);
    if (adaptive_ && track.Get() == 0) {
        std::vector<HlsPlaylistMaker::Rendition> renditions;
        for (AdaptiveTrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
            renditions.push_back({it->second.playlistName, it->second.track});
        }
        return maker.MakeMaster(renditions, playlist);
    }
    if (onDemand_) {
        const MediaTrack* listed = currentTrack_.get();
        if (adaptive_) {
            AdaptiveTrackMap::const_iterator it = tracks_.find(track);
            listed = it != tracks_.end() ? it->second.track.get() : nullptr;
        }
        return maker.MakeCompleteList(track, listed, playlist);
    }
    std::vector<HlsPlaylistMaker::Segment> segments(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) {
        segments[i].number = files_[i]->GetSegmentNumber();
        segments[i].finished = files_[i]->GetState() >= LiveHttpFile::StateComplete;
    }
    return maker.MakeSlidingWindow(track, currentTrack_.get(), segments, readAheadLimit_, playlist);
}

// ---- Tracks ----

void LiveHttpSegmenter::TracksAvailable(const TrackMap& tracks, bool complete) {
    TracksChanged(tracks, complete);
}

void LiveHttpSegmenter::TracksChanged(const TrackMap& tracks, bool complete) {
    if (!complete) return;
    Locked lock(*this);
    for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
        const boost::shared_ptr<MediaTrack>& track = it->second;
        if (!track || !track->HasVideo() || track->GetTrickPlayRate().Get() != 0) continue;
        AdaptiveTrackInfo info;
        info.track = track;
        info.playlistName = std::to_string(it->first.Get()) + ".m3u8";
        tracks_[it->first] = info;
        if (!currentTrack_) {
            currentTrack_ = track;
            if (adaptive_ && session_ != nullptr) session_->SelectTrack(it->first);
        }
    }
    tracksKnown_ = true;
    // Requests that waited for the tracks.
    DeliverPendingFile();
}

}  // namespace SarvelonMediaKit
