#include "app/ZULImageDownload.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "SVLibrary/Util/Sha256.h"
#include "platform/core/LogWriter.h"
#include "platform/core/WorkQueue.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/store/AtomicFile.h"
#include "platform/store/SearchPaths.h"
#include "platform/ui/Loop.h"

namespace {

// Cached thumbnails are written for this user alone and read by it.
constexpr mode_t kImageFileMode = 0600;

std::string HexSha256(const std::string& bytes) {
    unsigned char digest[SV::kSha256DigestLength];
    SV::Sha256Context context;
    if (!SV::Sha256Init(&context) ||
        !SV::Sha256Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size())) ||
        !SV::Sha256Final(digest, &context)) {
        return std::string();
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 0xF]);
    }
    return hex;
}

// One thread decodes every thumbnail, one after the other: a page of rows never has more than
// one picture's decoding memory in flight. Joined at exit, after the jobs not yet started are
// dropped.
ns::WorkQueue& DecodeQueue() {
    static ns::WorkQueue queue("ImageDecode");
    return queue;
}

uint32_t ShownPixels(double points) {
    return points >= 1 && points <= ns::ScaledImageDecoder::kMaxSide
               ? static_cast<uint32_t>(std::ceil(points))
               : 1;
}

}  // namespace

ZULImageDownload::ZULImageDownload(std::string imageURL, std::string imageName,
                                   const ui::IndexPath& indexPath,
                                   std::optional<ns::URLCredential> credential)
    : imageURL_(std::move(imageURL)),
      imageName_(std::move(imageName)),
      indexPath_(indexPath),
      credential_(std::move(credential)),
      thumbsPath_(cachePath()) {
    createCache();
}

ZULImageDownload::~ZULImageDownload() {
    delegate_.reset();
    cancelDownloadImage();
}

bool ZULImageDownload::isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string ZULImageDownload::imageNameForID(const std::string& id) {
    // An id longer than a file name may be is no plain file name either.
    const bool plain = isPlainFileName(id) && id.size() <= 200;
    return (plain ? id : HexSha256(id)) + ".jpg";
}

std::string ZULImageDownload::imageNameForThumbURL(const std::string& url) {
    return "thumb-" + HexSha256(url) + ".jpg";
}

std::string ZULImageDownload::imagePath() const {
    if (thumbsPath_.empty() || !isPlainFileName(imageName_)) return std::string();
    return thumbsPath_ + "/" + imageName_;
}

void ZULImageDownload::downloadImage() {
    if (isDownloading()) return;
    cancelDownloadImage();
    const std::string path = imagePath();
    struct stat info;
    // An earlier result's picture: decoded from the cache, not asked for again.
    if (!path.empty() && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        startDecode(std::nullopt);
        return;
    }
    const std::optional<ns::URL> url = ns::URL::Parse(imageURL_);
    if (!url || !url->IsHTTP()) {
        // As a connection that cannot start: the failure arrives a loop step later.
        const ns::Error error = ns::Error::URLError(ns::Error::kBadURL, imageURL_);
        connection_.FailLater([this, error] {
            ns::Log("[ID] connection didFailWithError:%@", error.ToString());
            fail(error);
        });
        return;
    }
    connection_.Start(ns::URLRequest(*url), this);
}

void ZULImageDownload::cancelDownloadImage() {
    data_.reset();
    urlError_.reset();
    connection_.Cancel();
    if (decodeTicket_) {
        decodeTicket_->cancel();
        decodeTicket_.reset();
    }
}

void ZULImageDownload::DecodeTicket::cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
}

bool ZULImageDownload::DecodeTicket::cancelled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

void ZULImageDownload::DecodeTicket::post(std::function<void()> result) {
    // Held while posting, so that a cancel cannot return between the check and the post.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cancelled_) loop_.Post(std::move(result));
}

ZULImageDownload::Decoded ZULImageDownload::decode(std::optional<std::string> bytes,
                                                   const std::string& path,
                                                   const ui::Size& shownSize,
                                                   DecodeTicket& ticket) {
    Decoded out;
    out.fromFile = !bytes;
    if (!bytes) {
        bytes.emplace();
        if (path.empty() || !ns::AtomicFile::Read(path, kMaxImageBytes, *bytes, out.reason)) {
            out.read = false;
            return out;
        }
    }
    out.decoded =
        ns::ScaledImageDecoder::Decode(*bytes, ShownPixels(shownSize.width),
                                       ShownPixels(shownSize.height), out.picture, &out.reason);
    if (out.decoded && !out.fromFile && !path.empty() && !ticket.cancelled()) {
        out.written = ns::AtomicFile::Write(path, *bytes, kImageFileMode, out.reason);
    }
    return out;
}

void ZULImageDownload::startDecode(std::optional<std::string> bytes) {
    auto ticket = std::make_shared<DecodeTicket>(ui::Loop());
    decodeTicket_ = ticket;
    DecodeQueue().Add([weak = weak_from_this(), ticket, bytes = std::move(bytes),
                       path = imagePath(), shownSize = shownSize_]() mutable {
        // Cancelled while it waited: its row has gone or been left.
        if (ticket->cancelled()) return;
        auto decoded =
            std::make_shared<Decoded>(decode(std::move(bytes), path, shownSize, *ticket));
        ticket->post([weak, ticket, decoded] {
            std::shared_ptr<ZULImageDownload> self = weak.lock();
            if (self && self->decodeTicket_ == ticket) self->decodeFinished(std::move(*decoded));
        });
    });
}

void ZULImageDownload::decodeFinished(Decoded decoded) {
    std::shared_ptr<ZULImageDownload> keep = weak_from_this().lock();
    decodeTicket_.reset();
    const std::string path = imagePath();
    // The cache file went (or became something else) since it was seen: the next display of
    // the row downloads it again.
    if (!decoded.read) {
        ns::Log("[ID] read:%@ err:%@", path, decoded.reason);
        return;
    }
    // A 200 answer that is no picture the window can draw (a valid header followed by garbage,
    // say), or one over the pixel budget, would show as an empty thumbnail, and one without even
    // a header would be fetched again at every display: it fails like a transfer, so the row
    // shows the "missing" picture and keeps it. So does a cache file that no longer decodes.
    if (!decoded.decoded) {
        ns::Log("[ID] image:%@ err:%@", decoded.fromFile ? path : imageURL_, decoded.reason);
        fail(ns::Error(ns::Error::kURLErrorDomain, ns::Error::kBadServerResponse,
                       "bad server response: " + decoded.reason, imageURL_));
        return;
    }
    // A download not written is tried again later, as before.
    if (!decoded.fromFile && !decoded.written) {
        if (!path.empty()) ns::Log("[ID] write:%@ err:%@", path, decoded.reason);
        return;
    }
    ns::ScaledImageDecoder::Picture& picture = decoded.picture;
    thumbnail_ =
        ui::Image::FromPixels(static_cast<int>(picture.width), static_cast<int>(picture.height),
                              std::move(picture.rgba), imageName_, path);
    if (auto target = delegate_.lock()) {
        target->zulImageDownloadDidFinishDownloading(*this, path, indexPath_);
    }
}

void ZULImageDownload::fail(const ns::Error& error) {
    std::shared_ptr<ZULImageDownload> keep = weak_from_this().lock();
    cancelDownloadImage();
    urlError_ = error;
    if (auto target = delegate_.lock()) {
        target->zulImageDownloadDidReceiveError(*this, error, indexPath_);
    }
}

void ZULImageDownload::WillSendRequestForAuthenticationChallenge(
    ns::URLConnection& connection, const ns::AuthenticationChallenge& challenge) {
    ns::Log("[ID] connection willSendRequestForAuthenticationChallenge");
    // The same credentials again cannot succeed: the 401 is then the answer (not stored, so
    // the row tries again later). A thumbnail's URL comes from the search answer and may name
    // any host: the credential goes only to the origin it is bound to (the portal's).
    const ns::AuthenticationChallenge::ProtectionSpace& space = challenge.GetProtectionSpace();
    if (!credential_ || challenge.PreviousFailureCount() > 0 || !credential_->IsBound() ||
        !credential_->MayBeSentTo(space.protocol, space.host, space.port)) {
        connection.ContinueWithoutCredential();
        return;
    }
    connection.UseCredential(*credential_);
}

void ZULImageDownload::DidReceiveResponse(ns::URLConnection& connection,
                                          const ns::URLResponse& response) {
    ns::Log("[ID] connection didReceiveResponse statusCode:%d", response.StatusCode());
    // A longer answer, whatever its status, fails the download (DidFailWithError): one that
    // never ends would otherwise be read for ever.
    connection.SetMaximumBodyBytes(kMaxImageBytes);
    if (response.StatusCode() == 200) {
        data_ = std::string();
    } else {
        // Read to its end and dropped.
        data_.reset();
    }
}

void ZULImageDownload::DidReceiveData(ns::URLConnection& /*connection*/, const std::string& data) {
    ns::Log("[ID] connection didReceiveData");
    if (!data_) return;
    data_->append(data);
}

void ZULImageDownload::DidFinishLoading(ns::URLConnection& /*connection*/) {
    ns::Log("[ID] connection connectionDidFinishLoading");
    std::optional<std::string> data = std::move(data_);
    cancelDownloadImage();
    // Only a 200 answer has data; anything else writes nothing and is tried again later.
    if (!data) return;
    // Decoded (and written) off the main thread; decodeFinished tells the delegate.
    startDecode(std::move(data));
}

void ZULImageDownload::DidFailWithError(ns::URLConnection& /*connection*/, const ns::Error& error) {
    if (error.GetCode() == ns::Error::kDataLengthExceedsMaximum) {
        // Too large for a thumbnail: a failure of the image's address, not of the transport.
        fail(ns::Error::URLError(ns::Error::kDataLengthExceedsMaximum, imageURL_));
        return;
    }
    ns::Log("[ID] connection didFailWithError:%@", error.ToString());
    fail(error);
}

std::string ZULImageDownload::cachePath() {
    const std::string documents = ns::SearchPaths::DocumentsDirectory();
    // A relative folder (HOME set to one) would land wherever the program happens to run, and
    // the cache is removed with everything in it at every start.
    return documents.empty() || documents[0] != '/' ? std::string() : documents + "/Thumbs";
}

bool ZULImageDownload::createCache() {
    const std::string path = cachePath();
    const bool made = !path.empty() && ns::SearchPaths::CreateDirectory(path);
    ns::Log("[ID] create dir:%@ err:%@", path, made ? nullptr : "the folder cannot be made");
    return made;
}

bool ZULImageDownload::deleteCache() {
    const std::string path = cachePath();
    std::error_code error;
    if (!path.empty()) {
        // remove_all does not follow symbolic links: a link is removed, not what it names.
        std::filesystem::remove_all(path, error);
    }
    const std::string reason = path.empty() ? std::string("no absolute documents folder")
                               : error      ? error.message()
                                            : "";
    ns::Log("[ID] delete dir:%@ err:%@", path, reason.empty() ? nullptr : reason.c_str());
    return reason.empty();
}

void ZULImageDownload::resetCache() {
    deleteCache();
    createCache();
}
