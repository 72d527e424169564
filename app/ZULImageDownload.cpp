#include "app/ZULImageDownload.h"

#include <filesystem>
#include <system_error>

#include "platform/core/LogWriter.h"
#include "platform/store/SearchPaths.h"

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
