#ifndef APP_ZULIMAGEDOWNLOAD_H
#define APP_ZULIMAGEDOWNLOAD_H
// The thumbnail of one search result row: downloaded once into the cache folder, "Thumbs" in
// the user's documents folder, which every start of the application empties.
//
// A download writes the whole answer atomically (never half a picture) to the file named by
// the image name in the cache folder, and only a 200 answer that decodes as a picture is
// written. A transport failure, or a 200 answer that is no picture (kept as a bad server
// response), is kept (error()), so the row shows the "missing" picture and does not try again;
// a non-200 answer writes nothing and reports nothing, so the next display of the row tries
// again. The server's Basic challenge is answered with the credential the download was made
// with (the configuration's "ZUL User" and "ZUL Password"); without one it goes unanswered.
//
// The image name must be one plain file name: imageNameForID() makes one from any id. A name
// that is not one is never used as a path (nothing is read or written). Connection callbacks
// arrive on the toolkit's loop. Main thread only.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "app/PendingConnection.h"
#include "platform/net/Error.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/ui/Image.h"
#include "platform/ui/IndexPath.h"

class ZULImageDownload;

class ZULImageDownloadDelegate {
public:
    virtual ~ZULImageDownloadDelegate() = default;
    // The thumbnail is in the cache at `path`.
    virtual void zulImageDownloadDidFinishDownloading(ZULImageDownload& download,
                                                      const std::string& path,
                                                      const ui::IndexPath& indexPath) = 0;
    // The transfer failed; download.error() keeps why.
    virtual void zulImageDownloadDidReceiveError(ZULImageDownload& download, const ns::Error& error,
                                                 const ui::IndexPath& indexPath) = 0;
};

class ZULImageDownload : public ns::URLConnectionDelegate,
                         public std::enable_shared_from_this<ZULImageDownload> {
public:
    // A thumbnail is a small JPEG; a larger answer is not one and is dropped as a failure.
    static constexpr size_t kMaxImageBytes = 8 * 1024 * 1024;

    // initWithImageURL:imageName:forIndexPath: keeps the values and makes the cache folder.
    ZULImageDownload(std::string imageURL, std::string imageName, const ui::IndexPath& indexPath,
                     std::optional<ns::URLCredential> credential);
    // Clears the delegate and cancels the connection.
    ~ZULImageDownload() override;
    ZULImageDownload(const ZULImageDownload&) = delete;
    ZULImageDownload& operator=(const ZULImageDownload&) = delete;

    // Held weakly.
    std::shared_ptr<ZULImageDownloadDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::weak_ptr<ZULImageDownloadDelegate>& delegate) {
        delegate_ = delegate;
    }

    const std::string& imageURL() const { return imageURL_; }
    const std::string& imageName() const { return imageName_; }
    const ui::IndexPath& indexPath() const { return indexPath_; }
    // The cache file of the image name; empty when there is no cache folder or the name is not
    // one plain file name.
    std::string imagePath() const;
    // The last transport failure; none after cancelDownloadImage.
    const std::optional<ns::Error>& error() const { return urlError_; }
    bool isDownloading() const { return connection_.IsActive(); }

    // The cached picture; null when there is no readable file.
    ui::Image::Ptr thumbnail() const;
    // Does nothing while a download runs; otherwise cancelDownloadImage and a new GET.
    void downloadImage();
    // Drops the data and the error and stops the connection.
    void cancelDownloadImage();

    // "<id>.jpg" for an id that is one plain file name; otherwise the lower-case hex SHA-256
    // of the id's bytes and ".jpg" (an id that is empty, ".", "..", or holds "/" or NUL), so
    // no id reaches outside the cache folder.
    static std::string imageNameForID(const std::string& id);
    // For a result without a usable id: "thumb-" and the lower-case hex SHA-256 of the
    // thumbnail URL's bytes, and ".jpg". Rows without ids then keep pictures of their own
    // (one shared name would show the first row's picture in every such row), and the prefix
    // keeps these names apart from those of ids.
    static std::string imageNameForThumbURL(const std::string& url);
    // Not empty, not "." or "..", no "/" and no NUL.
    static bool isPlainFileName(const std::string& name);

    // The cache folder; empty when no documents folder is known or it is not an absolute path
    // (then nothing is made or removed anywhere).
    static std::string cachePath();
    // Makes the folder and its missing parents; true when it is there afterwards.
    static bool createCache();
    // Removes the folder with what it holds (a symbolic link in it, or in its place, goes
    // itself; what it points to stays); true when it is gone afterwards.
    static bool deleteCache();
    // deleteCache, then createCache.
    static void resetCache();

    // --- connection callbacks
    void WillSendRequestForAuthenticationChallenge(
        ns::URLConnection& connection, const ns::AuthenticationChallenge& challenge) override;
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

private:
    void fail(const ns::Error& error);

    std::string imageURL_;
    std::string imageName_;
    ui::IndexPath indexPath_;
    std::optional<ns::URLCredential> credential_;
    std::string thumbsPath_;
    std::weak_ptr<ZULImageDownloadDelegate> delegate_;
    // The received bytes; none unless the answer is a 200.
    std::optional<std::string> data_;
    std::optional<ns::Error> urlError_;
    PendingConnection connection_;
};

#endif  // APP_ZULIMAGEDOWNLOAD_H
