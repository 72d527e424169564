#include "engine/input/ManifestFetcher.h"

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/File/File.h"
#include "SVLibrary/Path/Url.h"
#include "engine/input/ManifestDownloader.h"

namespace SarvelonMediaKit {

namespace {

const char kDownloadAborted[] = "Download aborted";

bool IsHttpLocation(const std::string& location) {
    return SV::GetUrlScheme(location).compare(0, 4, "http") == 0;
}

}  // namespace

ManifestFetcher::ManifestFetcher(size_t maxBytes)
    : maxBytes_(maxBytes), downloader_(nullptr), aborted_(false) {}

SVStatus ManifestFetcher::Fail(SVStatus status, const std::string& text) {
    text_.clear();
    errorText_ = text;
    return status;
}

void ManifestFetcher::Abort() {
    std::lock_guard<std::mutex> lock(downloaderLock_);
    aborted_ = true;
    if (downloader_ != nullptr) downloader_->Abort();
}

SVStatus ManifestFetcher::Fetch(const std::string& location, MediaTime timeout) {
    return IsHttpLocation(location) ? Download(location, timeout) : ReadFile(location);
}

SVStatus ManifestFetcher::Download(const std::string& location, MediaTime timeout) {
    ManifestDownloader downloader(maxBytes_);
    {
        // Abort sees the download from here on, or the download sees the abort here.
        std::lock_guard<std::mutex> lock(downloaderLock_);
        if (aborted_) return Fail(SVStatusPreloadTimeout, kDownloadAborted);
        downloader_ = &downloader;
    }
    SVStatus status = SVStatusSuccess;
    bool thrown = false;
    std::string reason;
    try {
        status = downloader.Download(location, timeout);
    } catch (const SV::Exception& exception) {
        thrown = true;
        reason = exception.what();
    }
    {
        // Before the download goes: Abort no longer reaches it.
        std::lock_guard<std::mutex> lock(downloaderLock_);
        downloader_ = nullptr;
    }
    // No transport can be made (none installed): reported, not thrown at the owner.
    if (thrown) {
        return Fail(SVStatusLibraryException,
                    "Manifest " + location + " cannot be fetched: " + reason);
    }
    if (status != SVStatusSuccess) return Fail(status, downloader.GetErrorText());
    text_ = downloader.GetData();
    if (text_.empty()) return Fail(SVStatusManifest, "Manifest " + location + " is empty");
    return SVStatusSuccess;
}

SVStatus ManifestFetcher::ReadFile(const std::string& path) {
    // Only a regular file: a FIFO named in its place would hold the opening until a writer came.
    SV::File file;
    if (!file.Open(path, SV::File::kReadOnly | SV::File::kBinary | SV::File::kRegularOnly)) {
        return Fail(SVStatusManifest, "Manifest " + path + " cannot be opened");
    }
    // One byte past the cap tells a file that is too large from one that fits exactly.
    const std::vector<unsigned char> bytes = file.ReadBytes(uint64_t(maxBytes_) + 1);
    std::string text(bytes.begin(), bytes.end());
    if (text.size() > maxBytes_) {
        return Fail(SVStatusManifest,
                    "Manifest " + path + " is larger than " + std::to_string(maxBytes_) + " bytes");
    }
    text_.swap(text);
    return SVStatusSuccess;
}

}  // namespace SarvelonMediaKit
