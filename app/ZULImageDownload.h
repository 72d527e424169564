#ifndef APP_ZULIMAGEDOWNLOAD_H
#define APP_ZULIMAGEDOWNLOAD_H
// The thumbnail of one search result row: downloaded once into the cache folder, "Thumbs" in
// the user's documents folder, which every start of the application empties.
//
// A download writes the whole answer atomically (never half a picture) to the file named by
// the image name in the cache folder, and only a 200 answer that decodes as a picture is
// written. A transport failure, or a 200 answer that is no picture or is over the decoder's
// pixel budget (kept as a bad server response), is kept (error()), so the row shows the
// "missing" picture and does not try again; a non-200 answer writes nothing and reports
// nothing, so the next display of the row tries again. The server's Basic challenge is
// answered with the credential the download was made with (the configuration's "ZUL User" and
// "ZUL Password"); without one it goes unanswered.
//
// The picture is decoded at the size its row shows it (setShownSize), on a thread of its own,
// never on the main thread: a few kilobytes can claim 8192 x 8192 pixels. The decoded picture
// is what thumbnail() gives; a picture already in the cache folder (from an earlier result) is
// decoded from there by downloadImage() instead of being asked for again. Until a decode has
// ended, isDownloading() holds; a cancel drops what it would have brought.
//
// The image name must be one plain file name: imageNameForID() makes one from any id. A name
// that is not one is never used as a path (nothing is read or written). Connection callbacks
// and decoded pictures arrive on the main run loop, the latter only for a download owned by a
// std::shared_ptr. Main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/PendingConnection.h"
#include "platform/core/RunLoop.h"
#include "platform/net/Error.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/store/ScaledImageDecoder.h"
#include "platform/ui/Geometry.h"
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
    // The size a picture is decoded at until setShownSize says otherwise: the largest
    // thumbnail a row shows.
    static constexpr double kDefaultShownWidth = 400;
    static constexpr double kDefaultShownHeight = 340;

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
    // A request or a decode is under way.
    bool isDownloading() const { return connection_.IsActive() || decodeTicket_ != nullptr; }

    // The size (in points, one pixel each) of the view that shows the picture with an aspect
    // fill: the picture is decoded just large enough to cover it. Applies to the next decode.
    void setShownSize(const ui::Size& size) { shownSize_ = size; }

    // The picture decoded from the cache file, at the shown size; null until one has been
    // decoded.
    ui::Image::Ptr thumbnail() const { return thumbnail_; }
    // Does nothing while a download runs; otherwise cancelDownloadImage, then a decode of the
    // cache file when there is one, else a new GET.
    void downloadImage();
    // Drops the data and the error, stops the connection and drops a decode under way.
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
    // What a decode brings back to the main thread.
    struct Decoded {
        bool fromFile = false;  // the cache file's bytes (else a download's)
        bool read = true;       // false: the cache file could not be read
        bool decoded = false;
        bool written = false;  // a download's bytes are in the cache file
        ns::ScaledImageDecoder::Picture picture;
        std::string reason;  // why the decode or the write failed
    };
    // One decode under way: its result goes to `loop` unless it is cancelled first. Once
    // cancel() has returned nothing more is posted, so a download that cancels its decode
    // before its loop goes (the destructor does) never posts to a loop that has gone.
    class DecodeTicket {
    public:
        explicit DecodeTicket(ns::RunLoop& loop) : loop_(loop) {}
        void cancel();
        bool cancelled();
        // Posts `result` to the loop unless cancelled.
        void post(std::function<void()> result);

    private:
        std::mutex mutex_;
        bool cancelled_ = false;  // guarded by mutex_
        ns::RunLoop& loop_;
    };
    // Off the main thread: decodes `bytes` (or the cache file when there are none) and writes
    // a download's bytes that decode to `path`, unless cancelled first.
    static Decoded decode(std::optional<std::string> bytes, const std::string& path,
                          const ui::Size& shownSize, DecodeTicket& ticket);
    void startDecode(std::optional<std::string> bytes);
    void decodeFinished(Decoded decoded);
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
    ui::Size shownSize_{kDefaultShownWidth, kDefaultShownHeight};
    ui::Image::Ptr thumbnail_;
    // The decode under way; null when none is.
    std::shared_ptr<DecodeTicket> decodeTicket_;
    PendingConnection connection_;
};

#endif  // APP_ZULIMAGEDOWNLOAD_H
