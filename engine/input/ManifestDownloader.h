#ifndef ENGINE_INPUT_MANIFESTDOWNLOADER_H
#define ENGINE_INPUT_MANIFESTDOWNLOADER_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ErrorInfoMonitor.h"

namespace SarvelonMediaKit {

class HTTPClientInterface;

// Fetches one small resource (a manifest) whole over HTTP into memory, blocking the caller
// until the transfer has ended or the time-out has passed. It uses a transport from the
// installed factory directly, without a session: the transport's callbacks arrive on the
// download thread.
//
// The received bytes, the status and the error text live in a state object that the
// transport's handlers share, so a handler that runs late (after a time-out, while the
// destructor gives up waiting for a stuck transport) never reaches a downloader that is gone.
class ManifestDownloader : public ErrorInfoMonitor {
public:
    // More than this is refused with status 1029 instead of being held.
    static constexpr size_t kDefaultMaxBytes = 4u << 20;
    // How long the destructor waits for the transport to let go of its handlers.
    static constexpr unsigned kCloseWaitMilliseconds = 5000;

    explicit ManifestDownloader(size_t maxBytes = kDefaultMaxBytes);
    // Aborts a transfer still running, closes the transport and waits (bounded) until it has
    // cleared its handlers.
    ~ManifestDownloader() override;

    ManifestDownloader(const ManifestDownloader&) = delete;
    ManifestDownloader& operator=(const ManifestDownloader&) = delete;

    // GET of the whole resource; timeout in microseconds. 200 when the transfer ended without
    // an error, the reported status after an error, 408 when it did not end in time or was
    // aborted, 1029 when the body grew past the cap. Called once. Throws SVLibraryException
    // when no transport factory is installed.
    SVStatus Download(const std::string& url, MediaTime timeout);

    // Ends a Download under way at once (or makes the coming one return at once) with 408 and
    // the text "Download aborted", unless it has failed already. Safe from any thread while
    // the downloader exists; the transfer itself is given up when the downloader goes.
    void Abort();

    // The bytes received, in arrival order (read after Download has returned 200).
    std::string GetData() const;
    SVStatus GetStatus() const;
    std::string GetErrorText() const;

    // ---- Transport callbacks (download thread) ----
    bool OnData(const signed char* bytes, unsigned length);
    void OnDone(bool failed);
    void SetError(SVStatus status, std::string text) override;

    struct State;

private:
    boost::shared_ptr<State> state_;
    boost::shared_ptr<HTTPClientInterface> transport_;
};

}  // namespace SarvelonMediaKit

#endif
