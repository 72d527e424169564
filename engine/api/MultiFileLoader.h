#ifndef ENGINE_API_MULTIFILELOADER_H
#define ENGINE_API_MULTIFILELOADER_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/input/ManifestFetcher.h"

namespace SarvelonMediaKit {

class MediaTrack;
class PreloadChain;

// Loads a title that a SMIL manifest spreads over several container files (typically one with
// the pictures and one per audio language) plus text-stream (subtitle) tracks.
//
// Load fetches the manifest (ManifestFetcher: over HTTP, or from a path or "file://" URL),
// reads it (SmilManifestReader), preloads every listed container file in a session of its own
// (PreloadChain) until its demultiplexer has read the file's index, checks each file's index
// digest against the "hash" the manifest gives for it, and stops every preload session before
// it returns. GetMediaTracks then hands out one joined track map: the tracks of every file in
// manifest order, then the text-stream tracks, numbered 1..n, with their start offsets
// shifted so that the earliest audio or video track starts at 0.
//
// Threads: Load and GetMediaTracks run on the owner's thread; Abort may come from any thread.
// The stream and error events arrive on the preload sessions' threads.
class MultiFileLoader : public StreamInfoMonitor, public ErrorInfoMonitor {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    // location: a URL or a file path (a leading "file://" is dropped by Load). capacity: the
    // memory budget, in bytes, shared out equally among the preload sessions.
    MultiFileLoader(const std::string& location, ByteAmount capacity);
    // Stops and releases whatever preload session is left.
    ~MultiFileLoader() override;

    MultiFileLoader(const MultiFileLoader&) = delete;
    MultiFileLoader& operator=(const MultiFileLoader&) = delete;

    // Fetches and reads the manifest, preloads every media file within the timeout
    // (microseconds; the manifest download gets the same time again) and checks the hashes.
    // 200 on success; otherwise the status that GetStatus also gives: the first failure
    // stands, since what the other chains report after it is its consequence. No preload
    // session is left running or held when it returns, whatever the result. Called once.
    SVStatus Load(MediaTime timeout);

    // Ends a Load under way at once, or makes the coming one return at once: the manifest's
    // download is given up, the wait for the preloads ends and Load stops every preload
    // session and returns 408 (the preload did not complete), with the text "Load aborted",
    // unless it had failed already. Safe from any thread while the loader exists.
    void Abort();

    // After a Load that returned 200: adds every track to the map under the ids that follow
    // the map's entries (1, 2, ... for an empty map).
    void GetMediaTracks(TrackMap& tracks);

    SVStatus GetStatus() const;
    // The text of the failure that decided the status; empty when there was none, and for a
    // time-out.
    std::string GetErrorText() const;

    // ---- Events of the preload chains (their threads) ----
    void PreloadComplete() override;
    void SetError(SVStatus status, std::string text) override;

private:
    // The steps of Load; Load marks the load finished once they return.
    SVStatus LoadSteps(MediaTime timeout);
    // Makes and starts a chain for every media entry; false once one fails.
    bool StartChains(MediaTime timeout);
    // Waits for every preload (or the first failure, or an abort) within the timeout.
    void WaitForPreloads(MediaTime timeout);
    void CheckDigests();
    void Fail(SVStatus status, const std::string& text);
    // Stops every preload session (waiting for each) and releases them.
    void StopSessions();

    std::string location_;
    ByteAmount capacity_;
    ManifestFetcher fetcher_;
    // Made by Load on the owner's thread and read there; the chains' events only reach each
    // chain itself and the counter below.
    std::vector<std::unique_ptr<PreloadChain>> chains_;
    std::list<boost::shared_ptr<MediaTrack>> textTracks_;
    SV::Mutex lock_;  // guards pending_
    uint32_t pending_;
    SV::Event preloadDone_;
    // Written by the preload chains' threads as well as by Load: under their own lock.
    mutable std::mutex statusLock_;
    SVStatus status_;
    std::string errorText_;
    bool finished_ = false;  // Load has returned: its result stands, an abort changes nothing
    // Set by Abort; read by Load between its steps.
    std::atomic<bool> aborted_;
};

}  // namespace SarvelonMediaKit

#endif
