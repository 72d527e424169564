#ifndef ENGINE_SEEK_MEDIASEEKER_H
#define ENGINE_SEEK_MEDIASEEKER_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/BandwidthInfoMonitor.h"
#include "engine/core/Component.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

// The stage between the byte source (file or HTTP client) and the program-stream
// demultiplexer that decides which byte ranges of the container are fetched. A title may hold
// several renditions of the same content (bit rates, trick-play speeds, audio only), each a
// track with its own byte range and seek index. The seeker keeps a copy of the track map that
// the demultiplexer publishes, chooses the current track (at the first track list, on a seek,
// on trick play, on explicit selection and by bit-rate adaptation), sends the client to the right
// byte of that track, and puts markers into the byte stream so that the demultiplexer knows which
// track the bytes after them belong to:
//   - a track-change marker (track id, change type) just before the next bytes pulled;
//   - a media-time-seek marker (snapped time, track id) at once when the stream is repositioned.
//
// Change types of the track-change marker: 1/2 an adaptation switch begins (automatic/manual),
// 4/5 the new track's bytes start (automatic/manual), 6 the first track of a new track list,
// 7 a track chosen for a trick-play rate.
//
// Bit-rate adaptation (engine-driven, on by default): at every periodic check the seeker weighs
// the measured bandwidth and the media buffered ahead of it against the renditions' byte rates
// and moves to a faster or slower one at a switch point, an index entry time that every
// normal-speed video track shares. The switch happens in the byte stream: the old rendition's
// bytes up to the switch point are drained into the seeker's own cache between two
// track-change markers (types 1/2 before, 4/5 after), and the client continues with the new
// rendition from the same time, so the demultiplexer sees one continuous stream that changes
// rendition at a group-of-pictures boundary. A forced track is reached the same way.
//
// It subscribes to the demultiplexer's stream events (track list, media times) and to the
// client's bandwidth reports. Everything but the two reports that may come from the download
// thread (bandwidth, media time, both atomic) runs on the session's task thread.
class MediaSeeker : public Component, public StreamInfoMonitor, public BandwidthInfoMonitor {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    // Change types of the track-change marker (0: none due).
    enum ChangeType : uint32_t {
        ChangeNone = 0,
        ChangeSwitchBeginAutomatic = 1,
        ChangeSwitchBeginManual = 2,
        ChangeStartAutomatic = 4,
        ChangeStartManual = 5,
        ChangeFirstTrack = 6,
        ChangeTrickPlay = 7,
    };

    // Media time meaning "no time given" (all bits set).
    static constexpr uint64_t kInvalidMediaTime = UINT64_MAX;
    // Leaving reverse play this early restarts at the beginning.
    static constexpr uint64_t kReverseRestartThreshold = 5000000;
    // Window of the peak byte rate of normal-speed video tracks.
    static constexpr uint64_t kPeakRateWindow = 20000000;
    // How far ahead a predicted rate looks.
    static constexpr uint64_t kPredictionHorizon = 30000000;
    // The switch window is this much longer than the current track's longest group of
    // pictures.
    static constexpr uint64_t kSwitchWindowBase = 10000000;
    // Step of the walk back through the switch window towards a reachable switch point.
    static constexpr uint64_t kSwitchSearchStep = 500000;

    explicit MediaSeeker(Session* session);
    ~MediaSeeker() override;

    // ---- Component ----

    std::string GetTypeName() const override;
    // Limits a pull: while a down-switch is owed the partly loaded group of pictures at the
    // download front is held back (a later step can still switch at its start); while a
    // switch drains, no more than the drained bytes go out, and the drain cache is dropped
    // once it is empty. Then emits a track-change marker that is still due.
    void PrePullData(ByteAmount& amount) override;
    // Passes the source's bytes on, except once the stream has ended (a reposition past the
    // end, or the end of the range's data): nothing then until the next seek.
    void DoPullData(ByteAmount& amount) override;
    // 0 once the stream has ended, else the source side's.
    ByteAmount DoGetBufferedBytes() override;
    // While a switch drains: what the drain still lacks, so the source hands over no byte
    // past the switch point. Otherwise the Component default.
    ByteAmount DoGetBytesWanted() override;
    // One adaptation step (Adapt), unless adaptation is turned off.
    void DoPeriodicCheck() override;
    // Counts the bytes of the range asked for last; after the end of the stream nothing of the
    // source goes on.
    void DoAdd(const MemoryChunk& chunk) override;
    // A download's end of data ends the track's range (every range asked for here runs to the
    // track's end): an end-of-stream marker goes on in its place, as a file source sends by
    // itself, once per range. The end of data itself stops here: the end of the stream already
    // tells every stage after, and the multiplexer orders it behind every chain it reads, which
    // an end of data passed on would overtake (a file output stops its session on it). An end
    // of data that comes after a reposition before any byte of the new range belongs to the
    // transfer the reposition replaced and ends nothing.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    using Component::DoSeek;
    // A byte range without an end is bounded to the current track, then passed to the source;
    // the stream runs again until that range's end of data.
    void DoSeek(BytePosition start, BytePosition end, bool flag) override;
    // Chooses the track for the time and restarts the client at the index entry at or before
    // it. A time past the track's end ends the stream instead: the time-seek marker (at the
    // duration) and an end-of-stream marker go on, and the client is not asked for bytes.
    void DoSeek(MediaTime time) override;
    // Chooses a track of the rate's direction and repositions; true when the stream was
    // repositioned. time (the title's): kInvalidMediaTime for where the stream stands, the
    // last media time reported or, when nothing was reported since, the last reposition.
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    // Forces a track (0: back to automatic choice); unknown ids are ignored.
    void DoSelectTrack(TrackId track) override;
    // The loaded position is always the source side's.
    bool KnowCurrentLoadedFilePosition() override;
    // The current track, rate, selection and pending marker, for the chain dump.
    std::string DoDump() override;

    // ---- Monitors ----

    void TracksAvailable(const TrackMap& tracks, bool complete) override;
    // Keeps the second time, the title's time where the parsed stream stands, as the latest
    // media time.
    void MediaTimeAvailable(uint32_t streamType, MediaTime firstTime,
                            MediaTime secondTime) override;
    void BandwidthUpdate(ByteAmount bandwidth, bool measured) override;

    // ---- Operations of its own ----

    // Takes a new track list: rates the tracks, picks the first normal-speed video track (or,
    // without video, the first audio track) and, once the list is complete, prunes the
    // normal-speed video indexes to their common entry times.
    void OnMediaTracks(const TrackMap& tracks, bool complete);
    // Fixes the choice on the current track and fetches it from its start; false without one.
    bool StartSelectedTrack();
    void SetUsePrediction(bool on) { usePrediction_ = on; }
    void SetAlignSwitchPoints(bool on) { alignSwitchPoints_ = on; }
    bool GetUsePrediction() const { return usePrediction_; }
    bool GetAlignSwitchPoints() const { return alignSwitchPoints_; }
    void SetMemoryTracker(const boost::shared_ptr<MemoryTracker>& tracker) {
        memoryTracker_ = tracker;
    }
    // The track that fits the bandwidth (bytes per second) at a media time and trick-play rate;
    // empty when none qualifies. Ties keep the lower track id.
    boost::shared_ptr<MediaTrack> SelectTrackForBandwidth(ByteAmount bandwidth, MediaTime time,
                                                          TrickPlayRate rate);
    // The same at the media time of the current loaded position.
    boost::shared_ptr<MediaTrack> SelectTrackAtLoadedPosition(ByteAmount bandwidth,
                                                              TrickPlayRate rate);
    // Makes the track current and notes the change type for the next pull's marker. Names the
    // source side with the track's rendition when it differs, and limits downloads unless the
    // choice is automatic and the track is the fastest.
    void SetCurrentTrack(const boost::shared_ptr<MediaTrack>& track, uint32_t changeType);

    // Engine-driven bit-rate adaptation, on by default; off (the player chooses the variant)
    // the periodic check leaves the track alone. Any thread.
    void SetAdaptation(bool on) { adaptation_ = on; }
    bool GetAdaptation() const { return adaptation_; }

    // ---- Bit-rate adaptation (MediaSeekerAdaptation.cpp) ----

    // One adaptation step: sizes the adaptation buffer and switch window from the memory
    // budget and the current track, then moves to the forced track, or up or down to the
    // track the (scaled) bandwidth fits. Does nothing without a current track, with fewer
    // than two tracks, while a switch drains, while the pump's pull is suspended, during trick
    // play, after the end of the stream, or when the current track's byte rate is 0.
    void Adapt();
    // Switches to the track at the latest switch point that lies between the next byte to
    // reach the seeker and the download front; without one, notes that a switch is owed.
    void SwitchToTrack(const boost::shared_ptr<MediaTrack>& track);
    // Drains amount bytes of the old track into an own cache, framed by the track-change
    // markers of the switch to newTrack.
    void FlushToSwitchPoint(ByteAmount amount, TrackId newTrack);

    // ---- State, for the chain's owner and for tests ----

    const TrackMap& GetTracks() const { return tracks_; }
    boost::shared_ptr<MediaTrack> GetCurrentTrack() const { return currentTrack_; }
    TrackId GetSelectedTrackId() const { return selectedTrackId_; }
    TrackId GetLowestTrackId() const { return lowestTrackId_; }
    TrackId GetHighestTrackId() const { return highestTrackId_; }
    TrickPlayRate GetTrickRate() const { return trickRate_; }
    ByteAmount GetBandwidth() const { return ByteAmount(bandwidth_.load()); }
    MediaTime GetLastMediaTime() const { return MediaTime(lastMediaTime_.load()); }
    uint32_t GetPendingChange() const { return pendingChange_; }
    bool IsAdapted() const { return adapted_; }
    bool IsSwitchPending() const { return switchPending_; }
    // Microseconds, as the last adaptation step sized them.
    uint64_t GetAdaptationBufferTime() const { return adaptationBufferTime_; }
    uint64_t GetSwitchWindow() const { return switchWindow_; }
    ByteAmount GetLastBufferedBytes() const { return lastBufferedBytes_; }

private:
    // The bandwidth the choice of a seek or trick play works with: 80 % of the measured one,
    // at least 1 when something was measured.
    ByteAmount ChoiceBandwidth() const;
    // Restarts the client at the entry for the time (snapped) and marks the new media time;
    // past the track's end, marks the time and ends the stream.
    void Reposition(MediaTime time, bool forward);
    // Prunes every normal-speed video index to the entry times they all share.
    void AlignSwitchPoints();
    // A title time as the track's own time, and back: a reverse track's time runs from the
    // title's end (a time past the end is the other end); any other track's is the title's.
    static MediaTime TrackTime(const MediaTrack& track, MediaTime titleTime);
    static MediaTime TitleTime(const MediaTrack& track, MediaTime trackTime);
    // The media duration of a track in microseconds.
    static uint64_t DurationOf(const MediaTrack& track);
    // The longest group of pictures of a track in microseconds (0: not known).
    static uint64_t LongestGopOf(const MediaTrack& track);
    // The bandwidth the automatic choice works with: the measured one, scaled down when the
    // media buffered after a switch has fallen below the low-buffer fraction.
    ByteAmount EffectiveBandwidth(uint64_t bufferedDuration) const;

    boost::shared_ptr<MemoryTracker> memoryTracker_;
    bool alignSwitchPoints_;
    bool usePrediction_;
    TrackMap tracks_;
    boost::shared_ptr<MediaTrack> currentTrack_;
    TrackId selectedTrackId_;
    TrackId lowestTrackId_;
    TrackId highestTrackId_;
    // Bit-rate adaptation state: set and read by the adaptation step, cleared by repositions.
    bool adapted_;
    float lowBufferFraction_;
    float lowBufferWeight_;
    uint64_t adaptationBufferTime_;
    uint64_t switchWindow_;
    TrickPlayRate trickRate_;
    ByteAmount lastBufferedBytes_;
    std::atomic<uint64_t> lastMediaTime_;
    bool switchPending_;
    BytePosition gopStart_;
    BytePosition gopEnd_;
    std::atomic<uint32_t> bandwidth_;  // bytes per second; 0 until the first report
    bool flushing_;
    ByteAmount flushAmount_;
    uint32_t pendingChange_;
    std::atomic<bool> adaptation_;  // engine-driven adaptation at the periodic check
    bool ended_;  // the stream has ended (past the end, or the range's data): until the next seek
    // The range asked of the source last: whether one was asked at all (before, the source's
    // own download counts as one), whether it holds no byte, and the bytes of it passed on.
    bool rangeAsked_;
    bool rangeEmpty_;
    uint64_t rangeBytes_;
};

}  // namespace SarvelonMediaKit

#endif
