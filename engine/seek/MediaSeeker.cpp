#include "engine/seek/MediaSeeker.h"

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {
namespace {

const uint32_t kNoRate = 0xFFFFFFFFu;

bool SameDirection(int rateA, int rateB) {
    return (rateA < 0 && rateB < 0) || (rateA == 0 && rateB == 0) || (rateA > 0 && rateB > 0);
}

std::string WithoutFileScheme(const std::string& name) {
    static const char kScheme[] = "file://";
    return name.compare(0, sizeof(kScheme) - 1, kScheme) == 0 ? name.substr(sizeof(kScheme) - 1)
                                                              : name;
}

}  // namespace

MediaSeeker::MediaSeeker(Session* session)
    : Component(session),
      memoryTracker_(session ? session->GetMemoryTracker() : boost::shared_ptr<MemoryTracker>()),
      alignSwitchPoints_(true),
      usePrediction_(false),
      selectedTrackId_(0),
      lowestTrackId_(0),
      highestTrackId_(0),
      adapted_(false),
      lowBufferFraction_(0.5f),
      lowBufferWeight_(0.5f),
      adaptationBufferTime_(0),
      switchWindow_(0),
      trickRate_(0),
      lastBufferedBytes_(0),
      lastMediaTime_(0),
      switchPending_(false),
      gopStart_(0),
      gopEnd_(0),
      bandwidth_(0),
      flushing_(false),
      flushAmount_(0),
      pendingChange_(ChangeNone),
      adaptation_(true),
      ended_(false),
      rangeAsked_(false),
      rangeEmpty_(false),
      rangeBytes_(0) {}

MediaSeeker::~MediaSeeker() {
    // The events touch the members: no delivery may run while they go.
    StreamInfoMonitor::DetachFromSources();
    BandwidthInfoMonitor::DetachFromSources();
}

std::string MediaSeeker::GetTypeName() const { return "SarvelonMediaKit::MediaSeeker"; }

// ---- Track list ----

void MediaSeeker::TracksAvailable(const TrackMap& tracks, bool complete) {
    OnMediaTracks(tracks, complete);
}

void MediaSeeker::OnMediaTracks(const TrackMap& tracks, bool complete) {
    tracks_ = tracks;
    currentTrack_.reset();
    lowestTrackId_ = 0;
    highestTrackId_ = 0;
    uint32_t lowestRate = kNoRate;
    uint32_t highestRate = 0;
    bool videoSeen = false;

    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const boost::shared_ptr<MediaTrack>& track = it->second;
        if (!track) continue;
        MediaTrackIndex& index = track->GetIndex();
        if (!track->HasVideo()) {
            if (track->HasAudio()) index.ComputePeakByteRate(MediaTime(0));
            continue;
        }
        videoSeen = true;
        if (track->GetTrickPlayRate() != 0) {
            index.ComputePeakByteRate(MediaTime(0));
            continue;
        }
        if (!currentTrack_) SetCurrentTrack(track, ChangeFirstTrack);
        // A predicting seeker rates by the whole-file mean and looks at the index when it
        // decides; otherwise the worst stretch of the track sets its rate.
        index.ComputePeakByteRate(MediaTime(usePrediction_ ? 0 : kPeakRateWindow));
        const uint32_t rate = index.GetPeakByteRate();
        if (rate < lowestRate) {
            lowestTrackId_ = track->GetId();
            lowestRate = rate;
        }
        if (highestRate < rate) {
            highestTrackId_ = track->GetId();
            highestRate = rate;
        }
    }

    if (!videoSeen) {
        for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
            if (it->second && it->second->HasAudio()) {
                if (!currentTrack_) SetCurrentTrack(it->second, ChangeFirstTrack);
                break;
            }
        }
        return;
    }
    if (alignSwitchPoints_ && currentTrack_ && complete) AlignSwitchPoints();
}

void MediaSeeker::AlignSwitchPoints() {
    // Entry times increase along each table, so the tables are sorted sets of times.
    const MediaTrackIndex& current = currentTrack_->GetIndex();
    std::vector<uint32_t> common;
    for (uint32_t i = 0; i < current.GetCount(); ++i)
        common.push_back(current.GetEntries()[i].time);

    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const boost::shared_ptr<MediaTrack>& track = it->second;
        if (!track || track == currentTrack_ || !track->HasVideo() ||
            track->GetTrickPlayRate() != 0)
            continue;
        const MediaTrackIndex& index = track->GetIndex();
        std::vector<uint32_t> times;
        for (uint32_t i = 0; i < index.GetCount(); ++i) times.push_back(index.GetEntries()[i].time);
        std::vector<uint32_t> both;
        std::set_intersection(common.begin(), common.end(), times.begin(), times.end(),
                              std::back_inserter(both));
        common.swap(both);
    }

    // Every track whose table holds more than the common times is rebuilt, the current one
    // or another: an extra entry in any of them would be a switch point the others lack.
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const boost::shared_ptr<MediaTrack>& track = it->second;
        if (!track || !track->HasVideo() || track->GetTrickPlayRate() != 0) continue;
        MediaTrackIndex& index = track->GetIndex();
        if (index.GetCount() == common.size()) continue;
        std::unique_ptr<MediaTrackIndex::Entry[]> kept(
            new MediaTrackIndex::Entry[common.empty() ? 1 : common.size()]);
        uint32_t n = 0;
        std::vector<uint32_t>::const_iterator next = common.begin();
        for (uint32_t i = 0; i < index.GetCount() && next != common.end(); ++i) {
            const MediaTrackIndex::Entry& entry = index.GetEntries()[i];
            if (entry.time == *next) {
                kept[n++] = entry;
                ++next;
            }
        }
        index.SetEntries(std::move(kept), n);
    }
}

// ---- Track choice ----

boost::shared_ptr<MediaTrack> MediaSeeker::SelectTrackForBandwidth(ByteAmount bandwidth,
                                                                   MediaTime time,
                                                                   TrickPlayRate rate) {
    boost::shared_ptr<MediaTrack> result;
    uint32_t bestRate = 0;

    if (rate != 0) {
        const uint32_t budget = bandwidth.Get() / static_cast<uint32_t>(std::abs(int(rate.Get())));
        boost::shared_ptr<MediaTrack> fallback;
        uint32_t fallbackRate = 0;
        for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
            const boost::shared_ptr<MediaTrack>& track = it->second;
            if (!track) continue;
            const int trackRate = track->GetTrickPlayRate().Get();
            if (trackRate == 0 || !SameDirection(trackRate, rate.Get())) continue;
            const uint32_t r = track->GetIndex().GetPeakByteRate();
            if (r <= budget && r > bestRate) {
                result = track;
                bestRate = r;
            } else if (fallbackRate == 0 || r < fallbackRate) {
                fallback = track;
                fallbackRate = r;
            }
        }
        return result ? result : fallback;
    }

    if (selectedTrackId_ != 0) {
        TrackMap::const_iterator it = tracks_.find(selectedTrackId_);
        if (it != tracks_.end() && it->second) return it->second;
        DebugPrint("MediaSeeker::SelectTrackForBandwidth: invalid selected track %u\n",
                   selectedTrackId_.Get());
        selectedTrackId_ = 0;
    }

    const uint32_t limit = bandwidth == 0 ? kNoRate : bandwidth.Get();
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const boost::shared_ptr<MediaTrack>& track = it->second;
        if (!track || track->GetTrickPlayRate() != 0) continue;
        const MediaTrackIndex& index = track->GetIndex();
        uint32_t r = index.GetPeakByteRate();
        if (usePrediction_) {
            // The rate of the stretch about to be fetched, from the entries around it.
            MediaTime t0 = time;
            const uint64_t p0 = index.TimeToPosition(t0, false);
            MediaTime t1 = MediaTime(t0.Get() + kPredictionHorizon);
            const uint64_t p1 = index.TimeToPosition(t1, true);
            if (t1 > t0 && p1 >= p0) {
                const unsigned __int128 predicted = static_cast<unsigned __int128>(p1 - p0) *
                                                    kMicrosecondsPerSecond / (t1.Get() - t0.Get());
                r = predicted > kNoRate ? kNoRate : static_cast<uint32_t>(predicted);
                if (r == 0)
                    DebugPrint("MediaSeeker: predicted rate 0 for track %u\n",
                               track->GetId().Get());
            }
        }
        if (r <= limit && r > bestRate) {
            result = track;
            bestRate = r;
        }
    }
    if (!result && lowestTrackId_ != 0) {
        TrackMap::const_iterator it = tracks_.find(lowestTrackId_);
        if (it != tracks_.end()) result = it->second;
    }
    return result;
}

boost::shared_ptr<MediaTrack> MediaSeeker::SelectTrackAtLoadedPosition(ByteAmount bandwidth,
                                                                       TrickPlayRate rate) {
    MediaTime time(0);
    if (currentTrack_) {
        BytePosition loaded = CurrentLoadedFilePosition();
        time = currentTrack_->GetIndex().PositionToTime(loaded, false);
    }
    return SelectTrackForBandwidth(bandwidth, time, rate);
}

void MediaSeeker::SetCurrentTrack(const boost::shared_ptr<MediaTrack>& track, uint32_t changeType) {
    if (!track || track == currentTrack_) return;
    currentTrack_ = track;
    pendingChange_ = changeType;
    // A client named again reopens its input at its start, so only another rendition renames
    // it. A file client answers its name without the "file://" of a URL.
    const std::string& rendition = track->GetSource();
    if (boost::shared_ptr<Component> source = GetSource()) {
        if (!rendition.empty() &&
            WithoutFileScheme(source->GetName()) != WithoutFileScheme(rendition))
            source->SetName(rendition, false);
    }
    SetDownloadLimited(selectedTrackId_ == 0 && track->GetId() != highestTrackId_);
}

// ---- Requests ----

ByteAmount MediaSeeker::ChoiceBandwidth() const {
    const uint32_t measured = bandwidth_.load();
    const uint32_t scaled = static_cast<uint32_t>(static_cast<double>(measured) * 0.8);
    // 0 means "nothing measured" and would pick the fastest rendition: a measured trickle
    // must pick the slowest instead.
    return ByteAmount(scaled == 0 && measured != 0 ? 1 : scaled);
}

void MediaSeeker::DoSeek(MediaTime time) {
    if (bandwidth_.load() == 0) bandwidth_ = GetDefaultBandwidth().Get();
    const boost::shared_ptr<MediaTrack> track =
        SelectTrackForBandwidth(ChoiceBandwidth(), time, trickRate_);
    if (track) {
        SetCurrentTrack(track, selectedTrackId_ != 0 ? ChangeStartManual : ChangeStartAutomatic);
    }
    // The caller's time is the title's; during reverse play the track runs from the end.
    if (currentTrack_) Reposition(TrackTime(*currentTrack_, time), false);
}

MediaTime MediaSeeker::TrackTime(const MediaTrack& track, MediaTime titleTime) {
    if (track.GetTrickPlayRate() >= 0) return titleTime;
    // A reverse track's time runs from its end; a time past the end is its start.
    const uint64_t duration = DurationOf(track);
    return MediaTime(titleTime.Get() < duration ? duration - titleTime.Get() : 0);
}

MediaTime MediaSeeker::TitleTime(const MediaTrack& track, MediaTime trackTime) {
    // The same flip turns it back (a time past the end clamps to the title's start).
    return TrackTime(track, trackTime);
}

void MediaSeeker::Reposition(MediaTime time, bool forward) {
    const MediaTrackIndex& index = currentTrack_->GetIndex();
    const BytePosition position = index.TimeToPosition(time, forward);
    // The stream now stands at the snapped entry. A request without a time that comes before
    // the demultiplexer reports anything of the new range starts from here, not from the
    // range the reposition replaced; kept as the title's time, as the reports are.
    lastMediaTime_ = TitleTime(*currentTrack_, time).Get();
    // A time past the last entry snaps to the track's end: there is nothing left to fetch.
    // Asking the source for the empty range would hand the demultiplexer whatever follows
    // the track (the next rendition, or the program end that it takes for bad data), so the
    // stream ends here, as it would after the track's last byte.
    const bool pastEnd = index.GetSize() != 0 && position >= index.GetOffset() + index.GetSize();
    if (session_) {
        session_->SetPosition(position, stackId_);
        session_->RemoveTasks(Session::TaskCategoryDownload, stackId_);
    }
    if (!pastEnd) SeekFilePosition(position, BytePosition(0), true);
    ended_ = pastEnd;
    switchPending_ = false;
    adapted_ = false;
    Add(MemoryChunk(boost::make_shared<MemoryMarkerMediaTimeSeek>(time, currentTrack_->GetId())));
    if (pastEnd) Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
}

void MediaSeeker::DoSeek(BytePosition start, BytePosition end, bool flag) {
    ended_ = false;
    if (end == 0 && currentTrack_) {
        const MediaTrackIndex& index = currentTrack_->GetIndex();
        if (index.GetSize() != 0) end = BytePosition(index.GetOffset() + index.GetSize());
    }
    rangeAsked_ = true;
    rangeEmpty_ = end != 0 && end <= start;
    rangeBytes_ = 0;
    Component::DoSeek(start, end, flag);
}

uint64_t MediaSeeker::DurationOf(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    return index.TicksToMicroseconds(index.GetDuration());
}

uint64_t MediaSeeker::LongestGopOf(const MediaTrack& track) {
    // The index keeps the ticks between adaptation points: the longest group of pictures.
    const MediaTrackIndex& index = track.GetIndex();
    return index.TicksToMicroseconds(index.GetAdaptationInterval());
}

bool MediaSeeker::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    if (SameDirection(rate.Get(), trickRate_.Get()) && time == kInvalidMediaTime) {
        trickRate_ = rate;
        return false;
    }
    // From where the stream stands: the last media time is always the title's (see
    // MediaTimeAvailable and Reposition), whatever track it came from, so it is taken as a
    // caller's time is.
    if (time == kInvalidMediaTime) time = lastMediaTime_.load();
    bool forward = rate > 0;
    if (rate == 0 && trickRate_ < 0) {
        // Close to the start, leaving reverse play starts over; later it goes on from the
        // next key frame rather than showing one again.
        if (time > kReverseRestartThreshold) {
            forward = true;
        } else {
            time = 0;
        }
    }
    if (currentTrack_ && currentTrack_->HasVideo()) {
        const boost::shared_ptr<MediaTrack> track =
            SelectTrackForBandwidth(ChoiceBandwidth(), time, rate);
        if (!track) {
            DebugPrint("stack %hu: ERROR: MediaSeeker::DoTrickPlay track for rate %d not found\n",
                       stackId_, int(rate.Get()));
            return false;
        }
        SetCurrentTrack(track, ChangeTrickPlay);
    }
    trickRate_ = rate;
    // Only a video track can play at another rate, and a reposition needs a track.
    if (!currentTrack_ || (!currentTrack_->HasVideo() && rate != 0)) return false;

    Reposition(TrackTime(*currentTrack_, time), forward);
    return true;
}

void MediaSeeker::DoSelectTrack(TrackId track) {
    if (track == 0 && currentTrack_ && currentTrack_->HasVideo()) {
        selectedTrackId_ = 0;
        return;
    }
    if (tracks_.count(track)) selectedTrackId_ = track;
}

bool MediaSeeker::StartSelectedTrack() {
    if (!currentTrack_) return false;
    selectedTrackId_ = currentTrack_->GetId();
    ended_ = false;
    MediaTime start(0);
    const BytePosition position = currentTrack_->GetIndex().TimeToPosition(start, false);
    SeekFilePosition(position, BytePosition(0), true);
    return true;
}

// ---- Data path ----

void MediaSeeker::PrePullData(ByteAmount& amount) {
    // After the end a due marker waits for the bytes of the next seek.
    if (amount == 0 || ended_) return;
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (!cache && switchPending_ && currentTrack_) {
        // A down-switch is owed: the group of pictures the download front is in stays here,
        // so that a later step can still switch at its start instead of after it.
        uint32_t buffered = GetBufferedBytes().Get();
        if (buffered > 0) {
            const BytePosition loaded = CurrentLoadedFilePosition();
            if (loaded < gopStart_ || loaded >= gopEnd_) {
                BytePosition start(0), end(0);
                if (!currentTrack_->GetIndex().GetEntryBounds(loaded, start, end)) {
                    start = 0;
                    end = 0;
                }
                gopStart_ = start;
                gopEnd_ = end;
            }
            if (gopStart_ < loaded && loaded < gopEnd_ && loaded - gopStart_ <= buffered) {
                buffered -= static_cast<uint32_t>(loaded - gopStart_);
            }
            if (buffered < amount) amount = buffered;
        }
    }
    if (cache) {
        if (cache->IsEmpty()) {
            // The drained bytes and their closing marker are out: data passes straight through
            // again.
            memoryCache_.reset();
        } else {
            // Only what was drained goes out from here; a lone marker still counts as one, so
            // that the pull happens and hands it on.
            const ByteAmount ready = cache->BytesReady();
            if (ready < amount) amount = ready == 0 ? ByteAmount(1) : ready;
        }
    }
    if (pendingChange_ != ChangeNone && amount > 0) {
        const uint32_t change = pendingChange_;
        pendingChange_ = ChangeNone;
        if (currentTrack_) {
            Add(MemoryChunk(boost::make_shared<MemoryMarkerTrackChange>(
                currentTrack_->GetId(), static_cast<int32_t>(change))));
        }
    }
}

void MediaSeeker::DoPullData(ByteAmount& amount) {
    // Past the end the source still sits where the stream was before: none of it may follow
    // the end-of-stream marker.
    if (!ended_) Component::DoPullData(amount);
}

void MediaSeeker::DoAdd(const MemoryChunk& chunk) {
    if (ended_) return;
    rangeBytes_ += chunk.Size();
    Component::DoAdd(chunk);
}

bool MediaSeeker::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (!marker || marker->GetType() != MemoryMarkerTypeEndOfData) return true;
    // Only the transfer of the range asked for last can end it: the transfer a reposition
    // replaced ended before that range's first byte came.
    const bool ofThisRange = !rangeAsked_ || rangeEmpty_ || rangeBytes_ != 0;
    if (!ended_ && ofThisRange) {
        // Without it the demultiplexer would hold the last samples and the segmenter its last
        // segment for ever.
        ended_ = true;
        Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    }
    return false;
}

ByteAmount MediaSeeker::DoGetBufferedBytes() {
    return ended_ ? ByteAmount(0) : Component::DoGetBufferedBytes();
}

ByteAmount MediaSeeker::DoGetBytesWanted() {
    if (flushing_) {
        const boost::shared_ptr<MemoryCache> cache = memoryCache_;
        const uint32_t ready = cache ? cache->BytesReady().Get() : 0;
        return ByteAmount(flushAmount_.Get() > ready ? flushAmount_.Get() - ready : 0);
    }
    return Component::DoGetBytesWanted();
}

void MediaSeeker::DoPeriodicCheck() {
    if (adaptation_) Adapt();
}

bool MediaSeeker::KnowCurrentLoadedFilePosition() { return false; }

std::string MediaSeeker::DoDump() {
    return (boost::format(" track %1% rate %2% selected %3% pending %4%%5%%6%%7%") %
            (currentTrack_ ? currentTrack_->GetId().Get() : 0) % trickRate_.Get() %
            selectedTrackId_.Get() % pendingChange_ % (switchPending_ ? " switch owed" : "") %
            (flushing_ ? " draining" : "") % (ended_ ? " ended" : ""))
        .str();
}

// ---- Reports ----

void MediaSeeker::MediaTimeAvailable(uint32_t, MediaTime, MediaTime secondTime) {
    // The demultiplexer's second time is already the title's on every track: at normal speed
    // the clock reference of the pack (a track's clock is the title's), in trick play where
    // in the title the output stands, which its trick-play writer turns round for a reverse
    // track. Keeping title times only means no report can be read with the direction of a
    // track it did not come from, as happens when the track changes between two reports.
    // The index time at the loaded position would be no better: it is the download front,
    // ahead of anything parsed.
    lastMediaTime_ = secondTime.Get();
}

void MediaSeeker::BandwidthUpdate(ByteAmount bandwidth, bool) { bandwidth_ = bandwidth.Get(); }

}  // namespace SarvelonMediaKit
