#ifndef ENGINE_INPUT_MULTIFILELOADER_H
#define ENGINE_INPUT_MULTIFILELOADER_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"

struct _xmlNode;

namespace SarvelonMediaKit {

class ManifestDownloader;
class MediaTrack;
class MultiFileMpeg2PsDemux;
class Session;

// Loads a title that a SMIL manifest spreads over several container files (typically one with
// the pictures and one per audio language) plus text-stream (subtitle) tracks.
//
// Load fetches the manifest (over HTTP, or from a path or "file://" URL), reads the "video",
// "audio" and "textstream" elements wherever they stand in the document, preloads every listed
// container file in a private session of its own until its demultiplexer has read the file's
// index, checks each file's index digest against the "hash" the manifest gives for it, and
// stops every preload session before it returns. GetMediaTracks then hands out one joined
// track map: the tracks of every file in manifest order, then the text-stream tracks,
// numbered 1..n, with their start offsets shifted so that the earliest audio or video track
// starts at 0.
//
// Threads: Load and GetMediaTracks run on the owner's thread; Abort may come from any thread.
// The stream and error events arrive on the preload sessions' threads; the lock keeps the
// records' track maps and the status consistent between them.
class MultiFileLoader : public StreamInfoMonitor, public ErrorInfoMonitor {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    // A manifest larger than this is refused (status 1029) rather than held in memory.
    static constexpr size_t kMaxManifestBytes = 4u << 20;

    // What one "video" or "audio" element asks for.
    struct MediaEntry {
        std::string location;  // the "src", resolved against the manifest's location
        std::string language;  // "systemLanguage"; empty when absent
        float begin = 0.0f;    // "begin", in seconds
        bool hashGiven = false;
        std::vector<unsigned char> hash;  // "hash" decoded; empty when it is not hexadecimal
    };

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

    // Reads manifest text without fetching anything or starting any session: fills the media
    // entries and the text-stream tracks. 200, or 1029 with the error text. Load calls it; the
    // text is read with no network access and no entity expansion.
    SVStatus ParseManifest(const std::string& text);
    // The media entries read so far, in manifest order.
    std::vector<MediaEntry> GetMediaEntries() const;
    // The text-stream tracks read so far, in manifest order.
    std::list<boost::shared_ptr<MediaTrack>> GetTextStreamTracks() const;

    // A "src" as the loader reads it. A src is a URI reference: its "%XX" escapes are kept as
    // they stand. For a manifest on a server, a relative src is resolved against the folder
    // of the manifest (its URL up to the last '/'), a path from the root against the root of
    // that server, and only the bytes that may not stand in a URI are percent-encoded (a
    // query stays as given); a local source (a file:// URL) gives an empty string: refused.
    // For a local manifest the src names a file: its escapes are decoded to the file's name,
    // a relative one is taken in the manifest's folder, and a "file://" URL becomes its path.
    std::string ResolveLocation(const std::string& src) const;

    // ---- Events of the preload chains (their threads) ----
    void TracksAvailable(const TrackMap& tracks, bool complete) override;
    void PreloadComplete() override;
    void SetError(SVStatus status, std::string text) override;

private:
    class PreloadInfo;

    // The steps of Load; Load marks the load finished once they return.
    SVStatus LoadSteps(MediaTime timeout);
    SVStatus FetchManifest(MediaTime timeout);
    // Builds the preload chain of one record: a session with the file's demultiplexer and its
    // client. False (with the status set) when the chain cannot be made.
    bool BuildChain(PreloadInfo& info);
    void ParseElements(_xmlNode* node, unsigned depth);
    void ParseMediaElement(_xmlNode* node);
    void ParseTextStreamElement(_xmlNode* node);
    // Reads an attribute's value; false when absent. A value whose entity references would
    // expand past the manifest cap fails the parse.
    bool GetAttribute(_xmlNode* node, const char* name, std::string& value);
    bool ParseBegin(const std::string& text, float& seconds);
    void Fail(SVStatus status, const std::string& text);
    // Stops every preload session (waiting for each) and releases them.
    void StopSessions();

    std::string location_;
    ByteAmount capacity_;
    std::string manifest_;
    SV::Mutex lock_;  // guards preloads_ (and each record's tracks), textTracks_, pending_
    std::vector<PreloadInfo*> preloads_;
    std::list<boost::shared_ptr<MediaTrack>> textTracks_;
    uint32_t pending_;
    SV::Event preloadDone_;
    // Written by the preload chains' threads as well as by Load: under their own lock.
    mutable std::mutex statusLock_;
    SVStatus status_;
    std::string errorText_;
    bool finished_ = false;  // Load has returned: its result stands, an abort changes nothing
    // Set by Abort; read by Load between its steps.
    std::atomic<bool> aborted_;
    // Guards downloader_: the manifest's download under way (a local of FetchManifest), which
    // Abort reaches from another thread. Cleared before the download goes.
    std::mutex downloaderLock_;
    ManifestDownloader* downloader_;
};

}  // namespace SarvelonMediaKit

#endif
