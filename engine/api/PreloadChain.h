#ifndef ENGINE_API_PRELOADCHAIN_H
#define ENGINE_API_PRELOADCHAIN_H

#include <boost/shared_ptr.hpp>

#include <mutex>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/input/SmilManifestReader.h"

namespace SarvelonMediaKit {

class MultiFileMpeg2PsDemux;
class Session;

// One media file of a manifest, preloaded in a private session of its own until its
// demultiplexer has read the file's index:
//
//   session: MultiFileMpeg2PsDemux <- HTTPClient (http/https) or FileClient (anything else)
//
// It keeps the first track map the demultiplexer publishes and stops its own session once the
// preload has finished. The owner watches the chain's stream and error events as well.
//
// Threads: Build, Start, Stop, the digest and the tracks on the owner's thread; the stream
// events on the session's pump thread.
class PreloadChain : public StreamInfoMonitor {
public:
    typedef SmilManifestReader::MediaEntry MediaEntry;

    explicit PreloadChain(const MediaEntry& entry);
    // No event reaches the chain while it goes; the session goes after that.
    ~PreloadChain() override;

    PreloadChain(const PreloadChain&) = delete;
    PreloadChain& operator=(const PreloadChain&) = delete;

    // Makes the session and its stack; owner gets the demultiplexer's stream and error events
    // and the client's errors. Throws SV::Exception when a component cannot be made.
    void Build(StreamInfoMonitor* streamOwner, ErrorInfoMonitor* errorOwner);
    // Gives the session its share of memory and starts its preload, bounded by timeout
    // (microseconds). Throws SV::Exception when the session refuses.
    void Start(ByteAmount capacity, MediaTime timeout);
    // Stops the session and waits until it has stopped; its results stay readable.
    void Stop();
    // Stops the session (waiting for it) and lets it go.
    void Release();

    const MediaEntry& GetEntry() const { return entry_; }
    // Whether the file's index digest is the manifest's hash; true when none was given or the
    // chain was never built. Read after Stop.
    bool DigestMatches() const;
    // The tracks the file's demultiplexer published; empty before its index was read.
    TrackMap GetTracks() const;

    // ---- Events of the chain (its pump thread) ----
    void TracksAvailable(const TrackMap& tracks, bool complete) override;
    void PreloadComplete() override;

private:
    const MediaEntry entry_;
    boost::shared_ptr<Session> session_;
    MultiFileMpeg2PsDemux* demux_;  // owned by the session's stack
    mutable std::mutex tracksLock_;
    TrackMap tracks_;
};

}  // namespace SarvelonMediaKit

#endif
