#ifndef ENGINE_SERVE_LIVEHTTPSEGMENTER_H
#define ENGINE_SERVE_LIVEHTTPSEGMENTER_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Time/PilTime.h"
#include "engine/core/Component.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/core/TaskManager.h"
#include "engine/serve/HlsRequestName.h"
#include "engine/serve/HlsSegmentTiming.h"
#include "engine/serve/LiveHttpFile.h"
#include "engine/serve/LiveHttpFileSource.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"

namespace SarvelonMediaKit {

struct HlsPlaylist;
class MediaTrack;

// The output end of a playback chain: cuts the transport stream coming down the chain into
// numbered segments, one per group of pictures (the multiplexer puts a group-of-pictures
// marker in front of the PAT ahead of every video key frame), keeps a short run of them in
// memory, writes the playlists, and answers the loopback servers' requests by name.
//
// Flow control: data is pulled only while the newest segment is open for writing, and a new
// segment is opened for writing only while fewer than readAheadLimit finished segments wait
// to be served (1 for a complete title, 3 otherwise).
//
// Requests: the main playlist name; "<track>.m3u8" (a variant, adaptive only); "<n>.ts"
// (adaptive off) or "<track>-<n>.ts" (adaptive on). Anything else is not found at once.
// A request that cannot be answered yet waits in a list; each waiting request is answered
// when its file is there, or told "not found" once it never will be. A segment far from what
// is in memory becomes a seek of the playback 500 ms later (unless a newer request moves it);
// a segment of another track (adaptive) becomes a track change and a seek at once, once
// nobody is being sent a segment still being cut (it would reach its reader cut short). Segments
// cut after a seek carry the number that was asked for, and the seek goes to the start of the
// segment the playlist names at that number: k x D for a list of uniform segments of D (every
// group of pictures lasting D), else the key frame of index entry k.
//
// One playback position serves every player: for a complete title, a listed segment is never
// refused because another request moved the playback. Requests the position no longer reaches
// wait their turn, oldest first: once no waiting request lies ahead of the position, it moves
// at once to the oldest waiting one. Segments cut whole stay in memory after they are served
// or dropped by a seek (kKeptBytes at most, oldest let go first), so a segment asked for again
// is answered at once.
//
// Damaged media: a group of pictures whose key frame was lost reaches the segmenter as part
// of the one before it. The number of each new segment follows from the time its group starts
// (the marker's clock, against the segment times the playlist lists), so the segments after
// a lost key frame keep their names (right after a seek too: a seek to a segment whose key
// frame was lost finds the next group first, which keeps its own number); the numbers passed
// over, and those after the end of the media, are answered at once instead of waiting for
// ever (the demultiplexer reports the damage): with a segment that holds only the program's
// tables (the PAT and PMT that opened the last segment cut), a valid transport stream without
// media, so a player plays on with the next listed segment as over any gap. The playlist,
// complete and handed out already, keeps listing the number. Before any segment has been cut
// there are no tables to send, and such a request is answered "unavailable". No segment
// request waits longer than kMaxWaitMilliseconds ("unavailable": it may still come later).
//
// Threads: the chain's data, markers and seeks arrive on the playback's task thread, the
// requests and the files' state changes on the serving sessions' threads; one recursive lock
// guards everything. Upstream pulls and seeks run outside it.
class LiveHttpSegmenter : public Component,
                          public LiveHttpFileSource,
                          public StreamInfoMonitor,
                          public ErrorInfoSource {
public:
    // A video track the player may choose, with its variant playlist.
    struct AdaptiveTrackInfo {
        boost::shared_ptr<MediaTrack> track;
        std::string playlistName;                  // "<track id>.m3u8"
        boost::shared_ptr<LiveHttpFile> playlist;  // written on first request
    };
    typedef std::map<TrackId, AdaptiveTrackInfo> AdaptiveTrackMap;
    // Where "now" comes from for the delay before a seek; the system's when empty.
    typedef TaskManager::Clock Clock;

    // Bytes taken from the chain per pump pass at most: 2048 transport packets.
    static const uint32_t kPullAmount = 385024;
    // A request far from memory waits this long (ms) before it seeks, so that a burst of
    // requests seeks once, to the last.
    static const int64_t kSeekDelayMilliseconds = 500;
    // Waiting requests kept at most: one per connection the server holds (a server that asks
    // again gives up its earlier request), so every player waiting on a connection of its own
    // waits its turn. Beyond (servers of more than one front door), the oldest is told to try
    // again later ("unavailable"), never "not found" for a segment the playlist lists.
    static const size_t kMaxWaitingRequests =
        static_cast<size_t>(MultiSocketDelegateServer::kMaxServingConnections);
    // A seek asked of the session that has not reached the segmenter after this long (ms) was
    // dropped (the session refuses seeks while it preloads): it is asked again.
    static const int64_t kSeekRetryMilliseconds = 2000;
    // Bytes of whole segments kept in memory after they left the read-ahead.
    static const uint64_t kKeptBytes = 16u * 1024u * 1024u;
    // The longest a segment request waits before it is answered "unavailable".
    static const int64_t kMaxWaitMilliseconds = 10000;
    // While requests wait, the pump looks again at least this often (ms).
    static const int64_t kWaitingLookMilliseconds = 100;
    // How far (us) a group's start by the clock may lie from a listed segment's start for the
    // group to be taken as that segment (a frame's rounding, far less than a frame).
    static const uint64_t kGroupStartTolerance = 20000;

    explicit LiveHttpSegmenter(Session* session, const Clock& clock = Clock());
    ~LiveHttpSegmenter() override;

    // A complete title (the whole media exists): complete playlists written once, one
    // finished segment ahead at most. Otherwise sliding-window playlists, three ahead.
    void SetOnDemand(bool onDemand);
    // Player-driven adaptation: a master playlist with one variant per video track, segment
    // names that carry the track id.
    void SetAdaptive(bool adaptive);
    bool IsOnDemand();
    bool IsAdaptive();
    // The main playlist's name as given (SetName), and as it goes into a URL path:
    // percent-encoded where a path cannot carry it as it is.
    std::string GetPlaylistName();
    std::string GetUrlName();

    // The playback has stopped on an error (its input was cut short, say): nothing more will
    // be cut. Whole segments in memory are still answered; the one being cut is dropped, and
    // every segment request the media can no longer give, waiting or to come, is answered
    // "unavailable" rather than with the tables alone, which a player takes for a valid
    // stretch without media. Any thread.
    void EndOnError();

    // Writes the playlist of a track id (0: the main playlist) into slot, which is left as it
    // is (a complete list or a master written before), emptied (nothing can be written yet:
    // no track, or no finished segment for a sliding window), or given a new finished file.
    // The caller holds the lock (or nothing else runs).
    void WritePlaylist(TrackId track, boost::shared_ptr<LiveHttpFile>& slot);

    // ---- What a caller may look at (statistics, tests) ----
    // The segments in memory, oldest first: (number, state).
    std::vector<std::pair<uint32_t, int32_t>> GetSegments();
    uint32_t GetNextSegmentNumber();
    bool IsSeekPending();
    size_t GetWaitingRequestCount();
    boost::shared_ptr<MediaTrack> GetCurrentTrack();

    // ---- Component ----
    void DoSetName(const std::string& name, bool flag) override;
    void DoPullData(ByteAmount& amount) override;
    void DoAdd(const MemoryChunk& chunk) override;
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    ByteAmount DoGetBytesWanted() override;
    std::string GetTypeName() const override;
    using Component::DoSeek;
    void DoSeek(MediaTime time) override;
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;

    // ---- LiveHttpFileSource ----
    void GetFile(const std::string& name, LiveHttpServer* requester,
                 boost::shared_ptr<Component> requesterHandle) override;
    void FileStateChanged(LiveHttpFile* file) override;

    // ---- StreamInfoMonitor ----
    void TracksAvailable(const TrackMap& tracks, bool complete) override;
    // Takes the eligible video tracks (normal rate) of a complete track list; the one with
    // the lowest id becomes current when there is none yet.
    virtual void TracksChanged(const TrackMap& tracks, bool complete);

private:
    // OutcomeGap: the media will never give the segment (answered with the tables alone).
    enum Outcome { OutcomeAnswer, OutcomeNotFound, OutcomeUnavailable, OutcomeGap, OutcomeWait };

    // An answer decided under the lock and given after it is released: the server's handle
    // is held until then, so the server cannot go away in between, and if this is its last
    // reference it goes outside the segmenter's lock.
    struct Answer {
        LiveHttpServer* requester = nullptr;
        boost::shared_ptr<Component> handle;
        LiveHttpServer::Answer answer = LiveHttpServer::AnswerNone;
        boost::shared_ptr<LiveHttpFile> file;  // with AnswerReady
    };

    // Takes the lock; the outermost one, on release, gives the answers collected meanwhile.
    class Locked {
    public:
        explicit Locked(LiveHttpSegmenter& owner);
        ~Locked();
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        LiveHttpSegmenter& owner_;
    };

    // A request that has not been answered yet.
    struct Request {
        enum Kind { KindMainPlaylist, KindVariant, KindSegment, KindTrackSegment };
        Kind kind = KindMainPlaylist;
        uint32_t track = 0;
        uint32_t number = 0;
        // The segment rules (window, seek) have been applied; they wait for a current track.
        bool placed = false;
        // When it arrived (bounds its wait).
        SV::PilTime since = SV::PilTime(0);
        LiveHttpServer* requester = nullptr;
        boost::weak_ptr<Component> handle;
    };

    // Opens the next segment, finishing the newest one; value is the clock of the group of
    // pictures it starts with, when known.
    void StartSegment(bool valueKnown, uint64_t value);
    // Drops served segments from the front and opens the newest for writing when few enough
    // finished ones wait.
    void ReleaseSegments();
    // How long (ms) from now until the debounce, the seek retry or a waiting request needs a
    // pass of the pump; -1: nothing. Under the lock.
    int64_t NextDueMilliseconds(const SV::PilTime& now) const;
    // Answers (or refuses) every waiting request that can be now.
    void DeliverPendingFile();
    // The seek of the playback to the start of segment number.
    void SeekToSegment(uint32_t number);

    // What can be done for a request now; file is set for OutcomeAnswer.
    Outcome Evaluate(Request& request, boost::shared_ptr<LiveHttpFile>& file);
    Outcome EvaluatePlaylist(const Request& request, boost::shared_ptr<LiveHttpFile>& file);
    Outcome EvaluateSegment(Request& request, boost::shared_ptr<LiveHttpFile>& file);
    // The first segment in memory with that number and at least that state.
    boost::shared_ptr<LiveHttpFile> FindSegment(uint32_t number, int32_t minimumState) const;
    // The segments a complete list names for the current (or given) track.
    uint32_t ListedSegmentCount(const Request& request) const;
    void Park(const Request& request);
    // Answers request (outcome: anything but OutcomeWait; file with OutcomeAnswer) once the
    // lock is released.
    void AddAnswer(const Request& request, const boost::shared_ptr<Component>& handle,
                   Outcome outcome,
                   const boost::shared_ptr<LiveHttpFile>& file = boost::shared_ptr<LiveHttpFile>());
    // Keeps the PAT and PMT that open a finished segment, when they do, as the answer for
    // segments the media cannot give.
    void NoteTables(LiveHttpFile& segment);
    // Keeps a whole segment that leaves the list for later requests (within kKeptBytes).
    void Keep(const boost::shared_ptr<LiveHttpFile>& file);
    // The number of the segment a group of pictures starting at the marker's clock value opens:
    // the listed segment whose start lies within kGroupStartTolerance of where the clock says
    // the group starts (from the group before, or right after a seek from the clock base),
    // else the next one.
    uint32_t NumberForGroup(bool valueKnown, uint64_t value);
    // The listed segment from the next one on whose start lies nearest estimate (us); false
    // when none lies within kGroupStartTolerance.
    bool ListedNumberAt(int64_t estimate, uint32_t& number) const;
    // The media time (microseconds) the playlist gives segment number; false when unknown.
    // fromIndex: set when the start is an index entry's time (not a uniform step).
    bool SegmentStart(uint32_t number, uint64_t& microseconds, bool* fromIndex = nullptr) const;
    // The segments the playlist of the current track lists; 0 when it lists none (yet).
    uint32_t CurrentListedCount() const;
    // The shape of the current track's list (there is a current track).
    const HlsSegmentTiming::ListShape& CurrentShape() const;
    // Marks numbers [from, to) as never to be cut from this media.
    void MarkUnavailable(uint32_t from, uint32_t to);
    // Whether the playback's position will reach segment number without a seek.
    bool InReach(uint32_t number) const;
    // Someone is being sent the segment being cut (adaptive segments go out as they grow):
    // moving the playback now would cut it short under its reader.
    bool GrowingSegmentIsRead() const;
    // Moves the playback to the oldest waiting request once none lies ahead of it; answers
    // requests that waited too long.
    void TakeNextTurn();
    // A waiting request needs a segment past the held newest one while the finished ones
    // fill the read-ahead: the oldest finished, unserved ones were skipped by the player and
    // are given up so that the segment asked for can be made.
    void AbandonSkippedSegments();
    // The segmenter no longer keeps file (dropped by a seek, served, replaced): its later
    // state changes tell nobody.
    void LetGo(const boost::shared_ptr<LiveHttpFile>& file);
    // Notes a file that may live on outside the segmenter's lists (let go, or a playlist in
    // a caller's slot), so that the segmenter's end reaches it.
    void Remember(const boost::shared_ptr<LiveHttpFile>& file);
    // True when name is the main playlist's, as it is or percent-encoded.
    bool IsMainPlaylistName(const std::string& name) const;
    // Whether the file is one of the segments in memory.
    bool IsSegment(const LiveHttpFile* file) const;
    SV::PilTime Now() const;
    // Fills the playlist of a track id (0: the main playlist); false when there is nothing to
    // list yet.
    bool MakePlaylist(TrackId track, HlsPlaylist& playlist) const;

    mutable SV::Mutex lock_;  // recursive; guards everything below
    bool onDemand_;
    bool adaptive_;
    uint16_t readAheadLimit_;
    uint16_t keepServed_;
    boost::shared_ptr<LiveHttpFile> mainPlaylist_;
    AdaptiveTrackMap tracks_;
    // A complete track list has arrived (before it, playlist requests wait).
    bool tracksKnown_;
    std::deque<boost::shared_ptr<LiveHttpFile>> files_;
    boost::shared_ptr<MediaTrack> currentTrack_;
    uint32_t nextSegmentNumber_;
    // Where the pending seek goes: set only by a request outside the window (or for another
    // track), never by one that waits for a segment on its way.
    uint32_t seekTarget_;
    bool seekPending_;
    SV::PilTime seekRequestTime_;
    // A seek to issuedTarget_ has been asked of the session (at seekIssueTime_) and has not
    // arrived yet; segments after it are numbered from issuedTarget_.
    bool seekInFlight_;
    uint32_t issuedTarget_;
    SV::PilTime seekIssueTime_;
    std::deque<Request> waiting_;
    // Set while DeliverPendingFile runs: a state change it causes does not start another.
    bool delivering_;
    bool deliverAgain_;
    // Answers waiting for the outermost Locked to release the lock, and its depth.
    std::vector<Answer> answers_;
    int lockDepth_;
    // Files that may still be alive outside the lists: told of the segmenter's end.
    std::vector<boost::weak_ptr<LiveHttpFile>> released_;
    Clock clock_;
    uint64_t bytesAdded_;  // every byte the chain has handed down, kept or dropped
    // Whole segments that left files_, oldest first, and their bytes.
    std::deque<boost::shared_ptr<LiveHttpFile>> kept_;
    // Kept segments let go, destroyed once the outermost Locked has released the lock.
    std::vector<boost::shared_ptr<LiveHttpFile>> dropped_;
    uint64_t keptBytes_;
    // The chain has ended (until the next seek): nothing past the newest segment will come.
    bool endOfStream_;
    // The playback runs at the normal rate: only then do the groups' clocks step with the
    // listed segments.
    bool normalRate_;
    // The clock value of the marker that opened the newest segment, when known.
    bool groupValueKnown_;
    uint64_t groupValue_;
    // The clock value (us) at media time 0, from the last group whose clock landed on its
    // listed start: places the first group after a seek, which a lost key frame at the seek's
    // target moves on. Unknown until a clock has stepped with the list, and after one did not.
    bool clockBaseKnown_;
    int64_t clockBase_;
    // CurrentShape's result, and the track and index size it was worked out for.
    mutable boost::shared_ptr<MediaTrack> shapeTrack_;
    mutable uint32_t shapeEntries_;
    mutable uint32_t shapeDuration_;
    mutable HlsSegmentTiming::ListShape shape_;
    // Segment numbers this media cannot give (a lost key frame, the media ended early).
    std::set<uint32_t> unavailable_;
    // The playback stopped on an error (EndOnError): nothing more is cut or sought.
    bool endedOnError_;
    // The PAT and PMT packets that opened the last segment cut; empty until one has.
    MemoryChunk tables_;
};

}  // namespace SarvelonMediaKit

#endif
