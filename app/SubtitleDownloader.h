#ifndef APP_SUBTITLEDOWNLOADER_H
#define APP_SUBTITLEDOWNLOADER_H
// Downloads the subtitle document of the chosen language and hands it over whole.
//
// Only when the address changes; through the platform's URL loading on ui::Loop(), cache
// ignored, a 60 s time-out, at most kMaxDocumentBytes. A new address stops a download of
// another under way. A failure (no connection, an HTTP status other than 2xx, a document too
// large) is logged, hands nothing over and forgets the address, so that choosing it again
// retries. Main thread only.

#include <functional>
#include <string>

#include "app/PendingConnection.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"

class SubtitleDownloader : private ns::URLConnectionDelegate {
public:
    static constexpr double kTimeoutSeconds = 60;
    static constexpr size_t kMaxDocumentBytes = 8 * 1024 * 1024;

    using Handler = std::function<void(std::string document)>;

    // `downloaded` receives each document loaded to its end.
    explicit SubtitleDownloader(Handler downloaded);
    // Cancels a download under way.
    ~SubtitleDownloader() override;
    SubtitleDownloader(const SubtitleDownloader&) = delete;
    SubtitleDownloader& operator=(const SubtitleDownloader&) = delete;

    // Loads the document at url unless it is the one in use (or an empty text).
    void download(const std::string& url);
    // Stops a download under way and forgets its address (the same address given again loads
    // it again).
    void clear();
    // A download is under way.
    bool loading() const { return connection_.IsActive(); }

private:
    // ns::URLConnectionDelegate
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

    // The download failed: logged, the address forgotten.
    void downloadFailed(const std::string& reason);

    Handler downloaded_;
    std::string currentURL_;  // empty: none
    PendingConnection connection_;
    std::string receivedData_;
};

#endif  // APP_SUBTITLEDOWNLOADER_H
