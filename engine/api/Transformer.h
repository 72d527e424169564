#ifndef ENGINE_API_TRANSFORMER_H
#define ENGINE_API_TRANSFORMER_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/MediaTimeMap.h"
#include "engine/core/SessionInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/api/MediaClassification.h"
#include "engine/api/PlaybackChainBuilder.h"
#include "engine/api/ServingSessions.h"
#include "engine/api/TitleInfoCache.h"

namespace SarvelonMediaKit {

class BatchedFileServer;
class Component;
class FileClient;
class FileServer;
class FirstRenditionCut;
class LiveHttpSegmenter;
class MediaSeeker;
class MediaTrack;
class Mpeg2PsDemux;
class Mux;
class SampleSource;
class MultiFileLoader;
class Session;
class SVMKCredentials;
class TransformerWorkerThread;

// One playback: classifies a source (a local path or a URL), builds the component graph that
// turns it into the requested output on a session of its own, and runs it. For HLS output it
// hands out the loopback playlist URL, listens on the loopback port from its worker thread
// "TWorker" and gives every connection of the player a serving session of its own
// (ServingSessions). What the demultiplexers learn of the title is kept in a TitleInfoCache.
//
// Thread use: construction, SetCredentials, PreLoad, Transform(.., true), Stop, GetChapterData
// and destruction on the caller's thread; the stream and session events and SetError on the
// session threads.
class Transformer : public StreamInfoMonitor,
                    public SessionInfoMonitor,
                    public ErrorInfoMonitor,
                    public MediaTimeMap,
                    public ErrorInfoSource {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    // The session's memory by default: 8 MiB, of which 512 KiB stay free while the
    // demultiplexer preloads (they become the audio branch's tracker).
    static const uint32_t kDefaultCacheSize = 8388608;
    static const uint32_t kAudioBranchReserve = 524288;
    // Microseconds between two passes of the main session's pump.
    static const uint64_t kMainPumpInterval = 2000;
    // How long the preload stage waits for the index, in microseconds.
    static const uint64_t kDefaultPreloadTimeout = 15000000;

    // Builds the graph; the outcome is GetStatus() (200 on success). The object always exists
    // afterwards. fileOptions: how a file output is written.
    Transformer(const std::string& url, MediaFormat outputFormat, OutputKind outputKind,
                const std::string& outputName,
                const FileOutputOptions& fileOptions = FileOutputOptions());
    ~Transformer() override;
    Transformer(const Transformer&) = delete;
    Transformer& operator=(const Transformer&) = delete;

    // Process-wide preparation; nothing to do, 200.
    static SVStatus Initialize();

    SVStatus GetStatus() const { return status_; }
    SVStatus GetLastStatus() const { return status_; }
    void ClearStatus() { status_ = SVStatusSuccess; }
    // Asks the main session to stop without waiting; returns the status.
    SVStatus StopSession();
    std::string GetErrorText() const;
    // After construction: the playback URL (HLS), the output file name (file output) or empty.
    std::string GetOutputName() const { return outputName_; }

    MediaFormat GetMediaFormat() const { return mediaFormat_; }
    SourceKind GetSourceKind() const { return sourceKind_; }
    OutputKind GetOutputKind() const { return outputKind_; }
    uint32_t GetCacheSize() const { return cacheSize_; }
    boost::shared_ptr<Session> GetSession() const { return session_; }
    // A file output of the first rendition only (FileOutputOptions): the cut, whose position
    // is the bytes of the title read so far, and the sink, with what it has taken, whether the
    // stream is complete and the cancel of its writes. Null for other outputs, and when the
    // chain could not be built.
    FirstRenditionCut* GetFirstRenditionCut() const { return cut_; }
    BatchedFileServer* GetBatchedFileServer() const { return batchedFileServer_; }

    // Outside monitors, attached where the events are published.
    void AddStreamInfoMonitor(StreamInfoMonitor* monitor);
    void AddSessionInfoMonitor(SessionInfoMonitor* monitor);
    void AddChapterInfoMonitor(ChapterInfoMonitor* monitor);

    // Credentials, preload stage and the audio side branch.
    SVStatus SetCredentials(const SV::SVDictionary& credentials);
    void SetCacheSize(uint32_t bytes);
    void SetPda(bool playerDrivenAdaptation);
    // Asks the seekers for the track (0: automatic choice again). A track with sound also
    // chooses the sound heard when the title's languages are read by two chains (its own
    // sound for a track with pictures, an audio-only track's otherwise); the title's first
    // track with sound is heard until then.
    SVStatus SelectTrack(TrackId track, bool mustExist);
    SVStatus PreLoad();
    SVStatus NameSource();
    SVStatus AddAudioBranch();

    // Runtime. Transform(.., true) starts the worker thread and returns at once; the worker
    // calls Transform(.., false), which runs the preload if still pending, seeks or starts trick
    // play, then listens and serves (HLS) or writes the file, until the main session stops.
    SVStatus Transform(MediaTime position, TrickPlayRate rate, bool inWorkerThread);
    // After Transform(.., true), for output served to a player on the loopback port: waits
    // until the worker listens there or has given up, so that the playback URL is handed out
    // only once it leads to this engine (a port held by another program would hand the
    // player that program). Returns the status then: 200 while it listens, 1031 when the port
    // could not be taken, or whatever ended the worker first. Returns the status at once for
    // outputs that do not listen and when no worker was started.
    SVStatus WaitUntilListening();
    // Called by the worker thread once its run is over and any failure recorded: a listen it
    // never reached is given up.
    void WorkerEnded();
    SVStatus Serve(MediaTime position, TrickPlayRate rate, bool wait);
    SVStatus TransformToFile(MediaTime position, TrickPlayRate rate, bool wait);
    void TransformToFileInTask();
    // Stops the main session, the worker, the collection and every serving session; returns
    // the status, which is 2008 for a chain without components (nothing ran) unless an error
    // came first. From another thread it also cuts short a PreLoad under way (a manifest's
    // load, or the wait for a title's index from a slow origin), which then returns 408
    // without an error event; a PreLoad that begins after it returns 408 at once.
    SVStatus Stop();
    SVStatus GetChapterData(unsigned first, unsigned last);

    // The title as the demultiplexers have reported it.
    const TitleInfoCache& GetTitleInfo() const { return titleInfo_; }
    // The loopback server: its port (0 before the worker listens) and serving sessions.
    ServingSessions& GetServingSessions() { return *serving_; }

    // Error monitor (main session, serving sessions, monitored components).
    void SetError(SVStatus status, std::string text) override;
    // Damaged data a demultiplexer skipped (1003): a diagnostic line naming the asset, and
    // passed on to the Transformer's own monitors. The playback goes on with what is left.
    void SetWarning(SVStatus status, std::string text) override;
    // Stream monitor (the demultiplexers): the preload's progress and the time map.
    void PreloadComplete() override;
    void MediaTimeAvailable(uint32_t streamType, MediaTime firstTime,
                            MediaTime secondTime) override;
    // Session monitor (main session).
    void SessionSetupCompleted() override;
    void SessionStopped() override;

private:
    // Classifies the source and builds and starts the main chain; false when construction
    // ends early.
    bool BuildGraph();
    // Builds and starts the main chain of the classified source; sparse: fetched piece by piece.
    bool BuildChain(bool sparse);
    // Construction ended early: the chain never reaches the session, so nothing may point
    // into it.
    void ForgetChain();
    // The preload's end when a stop cut it short: 408 recorded as the status, nothing
    // published (the owner asked for it).
    SVStatus CutShort();
    // Loads a multi-file manifest and installs its tracks (TransformerPreload.cpp).
    SVStatus LoadManifest(MediaTime timeout);
    // The chain whose sound is heard when the track is chosen: the main chain's for a track
    // with pictures, the audio branch's for an audio-only one; null without an audio branch
    // or for a track without sound.
    SampleSource* SoundSource(const MediaTrack& track) const;

    MediaFormat mediaFormat_;
    SourceKind sourceKind_;
    MediaFormat outputFormat_;
    OutputKind outputKind_;
    std::string url_;
    std::string outputName_;
    boost::shared_ptr<Session> session_;
    uint32_t cacheSize_;
    // The main chain's components, null when absent; the session's stack owns them.
    Component* httpClient_;
    FileClient* fileClient_;
    MediaSeeker* seeker_;
    Mpeg2PsDemux* demux_;
    Mux* mux_;
    // The audio branch's demultiplexer once it is built (its stack owns it); read by
    // SelectTrack on the caller's thread.
    std::atomic<Mpeg2PsDemux*> audioBranchDemux_;
    LiveHttpSegmenter* segmenter_;
    // The file output's sink, null for other outputs; the session's stack owns it.
    FileServer* fileServer_ = nullptr;
    // The file output of the first rendition only: its cut and sink, null otherwise.
    const FileOutputOptions fileOptions_;
    FirstRenditionCut* cut_ = nullptr;
    BatchedFileServer* batchedFileServer_ = nullptr;
    std::vector<StreamInfoMonitor*> streamMonitors_;
    std::atomic<SVStatus> status_;
    mutable std::mutex errorTextLock_;
    std::string errorText_;
    // The warnings told so far (under errorTextLock_), and how many are told at most.
    static const size_t kMaxWarningsTold = 256;
    std::set<std::string> warningsTold_;
    std::unique_ptr<TransformerWorkerThread> worker_;
    std::atomic<bool> abortRequested_;
    TitleInfoCache titleInfo_;
    bool hasDemux_;
    std::atomic<int32_t> pendingPreloads_;
    // Set whenever something the preload stage waits for may have changed (a demultiplexer's
    // preload complete, an error, a stop), so that the stage wakes at once instead of at its
    // next look; the stage resets it before it looks again.
    SV::Event preloadChanged_;
    boost::shared_ptr<SVMKCredentials> credentials_;
    // The loopback server; made with the main session and gone before it.
    std::unique_ptr<ServingSessions> serving_;

    // ---- Runtime (TransformerRuntime.cpp) ----
    // Opens the listening socket for the output kind, on the worker; a failure is reported
    // through SetError. False when nothing listens afterwards.
    bool ListenForPlayer();
    // Whether the worker of this output listens for a player.
    bool ListensForPlayer() const;
    // The main session's stack holds no component (a remote HLS playlist): nothing runs.
    bool HasEmptyChain() const;
    // The main session's waits of Serve and TransformToFile: until it stops or an abort.
    void WaitForSessionStop();
    // The multi-file loader of a manifest's load under way (a local of LoadManifest), which
    // Stop aborts from its own thread. Guarded by loaderLock_, held while Stop aborts it and
    // taken to clear the pointer before the loader goes.
    std::mutex loaderLock_;
    MultiFileLoader* loader_ = nullptr;
};

}  // namespace SarvelonMediaKit

#endif
