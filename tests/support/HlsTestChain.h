#ifndef TESTS_SUPPORT_HLSTESTCHAIN_H
#define TESTS_SUPPORT_HLSTESTCHAIN_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Socket/PilSocketHolder.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/input/FileClient.h"

namespace SarvelonMediaKit {
class LiveHttpSegmenter;
class MediaSeeker;
class Mpeg2PsDemux;
class Mpeg2TsMux;
class MultiSocketDelegateServer;
class Session;
class SocketDelegate;
class SocketMaster;
class Component;
}  // namespace SarvelonMediaKit

namespace SvTestSupport {

// The file client of the test chain: a FileClient that also counts the byte-range requests
// that reach it (each seek of the chain restarts it at the new position), so a test can tell
// whether a request made the chain seek.
class CountingFileClient : public SarvelonMediaKit::FileClient {
public:
    explicit CountingFileClient(SarvelonMediaKit::Session* session);
    void DoSeek(SarvelonMediaKit::BytePosition start, SarvelonMediaKit::BytePosition end,
                bool flag) override;
    using SarvelonMediaKit::Component::DoSeek;  // the media-time form
    // Byte positions asked for so far, oldest first.
    std::vector<uint64_t> Seeks() const;
    size_t SeekCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint64_t> seeks_;
};

// A title served as HLS on the loopback interface, wired as playback wires it: one session
// whose stack is FileClient -> MediaSeeker -> Mpeg2PsDemux -> Mpeg2TsMux -> LiveHttpSegmenter,
// the seeker and the segmenter following the demultiplexer's stream events, and a listening
// socket on 127.0.0.1 (an ephemeral port unless one is given) whose every connection gets a
// session of its own with one LiveHttpServer reading the segmenter's files. Start builds and
// starts it; Stop (or the destructor) stops the connections first, then the chain.
class HlsTestChain : public SarvelonMediaKit::ErrorInfoMonitor {
public:
    // title: the path of a title of the engine's container. The main playlist is named after
    // its base name with the extension replaced by "m3u8".
    explicit HlsTestChain(const std::string& title, uint16_t port = 0);
    ~HlsTestChain() override;
    HlsTestChain(const HlsTestChain&) = delete;
    HlsTestChain& operator=(const HlsTestChain&) = delete;

    // Builds the chain, starts its session and its preload, and listens. Throws
    // SVLibraryException when the port cannot be listened on.
    void Start();
    // Idempotent.
    void Stop();

    uint16_t Port() const;
    std::string PlaylistName() const { return playlistName_; }
    // "http://127.0.0.1:<port>/" and the same followed by the main playlist's name.
    std::string BaseUrl() const;
    std::string PlaylistUrl() const;

    SarvelonMediaKit::Session& MainSession() const { return *session_; }
    SarvelonMediaKit::LiveHttpSegmenter& Segmenter() const { return *segmenter_; }
    SarvelonMediaKit::MediaSeeker& Seeker() const { return *seeker_; }
    CountingFileClient& Client() const { return *client_; }
    // Connections whose serving session is still running.
    size_t ServingSessions();

    // The errors the chain's components and session reported, as (status, text).
    std::vector<std::pair<SVStatus, std::string>> Errors() const;
    void SetError(SVStatus status, std::string text) override;

private:
    SarvelonMediaKit::SocketDelegate* Serve(SV::PilSocketHolder& accepted);
    // Lets the serving sessions that have stopped go (outside the lock).
    void Reap();

    const std::string title_;
    const uint16_t requestedPort_;
    std::string playlistName_;
    boost::shared_ptr<SarvelonMediaKit::Session> session_;
    boost::shared_ptr<CountingFileClient> client_;
    boost::shared_ptr<SarvelonMediaKit::MediaSeeker> seeker_;
    boost::shared_ptr<SarvelonMediaKit::Mpeg2PsDemux> demux_;
    boost::shared_ptr<SarvelonMediaKit::Mpeg2TsMux> mux_;
    boost::shared_ptr<SarvelonMediaKit::LiveHttpSegmenter> segmenter_;
    std::unique_ptr<SarvelonMediaKit::MultiSocketDelegateServer> front_;
    std::mutex servingLock_;
    std::vector<boost::shared_ptr<SarvelonMediaKit::Session>> serving_;
    std::atomic<bool> accepting_;
    bool started_;
    bool stopped_;
    mutable std::mutex errorLock_;
    std::vector<std::pair<SVStatus, std::string>> errors_;
};

}  // namespace SvTestSupport

#endif
