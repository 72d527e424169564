#ifndef ENGINE_INPUT_MANIFESTFETCHER_H
#define ENGINE_INPUT_MANIFESTFETCHER_H

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class ManifestDownloader;

// Fetches the whole text of a manifest, over HTTP (through a ManifestDownloader) or from a
// file, refusing one larger than the cap instead of holding it.
//
// Threads: Fetch runs on the owner's thread; Abort may come from any thread while the fetcher
// exists.
class ManifestFetcher {
public:
    explicit ManifestFetcher(size_t maxBytes);

    ManifestFetcher(const ManifestFetcher&) = delete;
    ManifestFetcher& operator=(const ManifestFetcher&) = delete;

    // location: an "http" or "https" URL, or a file path. timeout (microseconds) bounds a
    // download. 200 with the text in GetText (a file may be empty: the reader refuses it);
    // otherwise the download's status, 1029 (a file that cannot be opened, an empty download,
    // an oversized manifest), or the library exception's status when no transport can be
    // made; the reason is in GetErrorText. Called once.
    SVStatus Fetch(const std::string& location, MediaTime timeout);

    // Gives up a download under way, or makes the coming Fetch return at once (408, "Download
    // aborted") without fetching anything.
    void Abort();

    const std::string& GetText() const { return text_; }
    const std::string& GetErrorText() const { return errorText_; }

private:
    SVStatus Download(const std::string& location, MediaTime timeout);
    SVStatus ReadFile(const std::string& path);
    SVStatus Fail(SVStatus status, const std::string& text);

    size_t maxBytes_;
    std::string text_;
    std::string errorText_;
    // Guards downloader_: the download under way (a local of Download), which Abort reaches
    // from another thread. Cleared before the download goes.
    std::mutex downloaderLock_;
    ManifestDownloader* downloader_;
    std::atomic<bool> aborted_;
};

}  // namespace SarvelonMediaKit

#endif
