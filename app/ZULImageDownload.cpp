#include "app/ZULImageDownload.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "SVLibrary/Util/Sha256.h"
#include "platform/core/LogWriter.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/store/AtomicFile.h"
#include "platform/store/ImageDecodeCheck.h"
#include "platform/store/SearchPaths.h"

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

ui::Image::Ptr ZULImageDownload::thumbnail() const {
    const std::string path = imagePath();
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    return ui::Image::FromFile(path);
}

void ZULImageDownload::downloadImage() {
    if (isDownloading()) return;
    cancelDownloadImage();
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
    std::shared_ptr<ZULImageDownload> keep = weak_from_this().lock();
    const std::optional<std::string> data = std::move(data_);
    cancelDownloadImage();
    std::string reason;
    // A 200 answer that is no picture the window can draw (a valid header followed by garbage,
    // say) would show as an empty thumbnail, and one without even a header would be fetched
    // again at every display: it fails like a transfer, so the row shows the "missing" picture
    // and keeps it.
    if (data && !ns::ImageDecodeCheck::Decodes(*data, &reason)) {
        ns::Log("[ID] image:%@ err:%@", imageURL_, reason);
        fail(ns::Error(ns::Error::kURLErrorDomain, ns::Error::kBadServerResponse,
                       "bad server response: " + reason, imageURL_));
        return;
    }
    const std::string path = imagePath();
    // Only a 200 answer has data; anything else writes nothing and is tried again later.
    if (!data || path.empty() || !ns::AtomicFile::Write(path, *data, kImageFileMode, reason)) {
        if (!reason.empty()) ns::Log("[ID] write:%@ err:%@", path, reason);
        return;
    }
    if (auto target = delegate_.lock()) {
        target->zulImageDownloadDidFinishDownloading(*this, path, indexPath_);
    }
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
