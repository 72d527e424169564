#include "app/SubtitleDownloader.h"

#include <utility>

#include "app/ZULRequest.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"

SubtitleDownloader::SubtitleDownloader(Handler downloaded) : downloaded_(std::move(downloaded)) {}

SubtitleDownloader::~SubtitleDownloader() = default;

void SubtitleDownloader::download(const std::string& url) {
    ns::Log("[Q-S] %@", url);
    if (url.empty() || url == currentURL_) return;
    // A load of another address still under way would mix its bytes into this one.
    connection_.Cancel();
    currentURL_ = url;
    receivedData_.clear();
    connection_.Start(
        ZULRequest::requestWithURL(url, ns::URLRequest::CachePolicy::ReloadIgnoringLocalCacheData,
                                   kTimeoutSeconds),
        this);
}

void SubtitleDownloader::clear() {
    connection_.Cancel();
    currentURL_.clear();
    receivedData_.clear();
}

void SubtitleDownloader::DidReceiveResponse(ns::URLConnection& connection,
                                            const ns::URLResponse& response) {
    receivedData_.clear();
    const int status = response.StatusCode();
    // An error page is not the document: it must not replace the cues in use.
    if (response.IsHTTP() && (status < 200 || status > 299)) {
        connection.Cancel();
        downloadFailed(ns::Format("HTTP status %d", status));
        return;
    }
    // A longer document fails the download (DidFailWithError).
    connection.SetMaximumBodyBytes(kMaxDocumentBytes);
}

void SubtitleDownloader::DidReceiveData(ns::URLConnection& /*connection*/,
                                        const std::string& data) {
    receivedData_ += data;
}

void SubtitleDownloader::DidFailWithError(ns::URLConnection& /*connection*/,
                                          const ns::Error& error) {
    if (error.GetCode() == ns::Error::kDataLengthExceedsMaximum) {
        downloadFailed(ns::Format("the document is larger than %u bytes",
                                  static_cast<unsigned>(kMaxDocumentBytes)));
        return;
    }
    downloadFailed(error.ToString());
}

void SubtitleDownloader::downloadFailed(const std::string& reason) {
    ns::Log("[Q-S] SubtitleError:%@", reason);
    connection_.Forget();
    receivedData_.clear();
    currentURL_.clear();
}

void SubtitleDownloader::DidFinishLoading(ns::URLConnection& /*connection*/) {
    connection_.Forget();
    std::string document = std::move(receivedData_);
    receivedData_.clear();
    if (downloaded_) downloaded_(std::move(document));
}
