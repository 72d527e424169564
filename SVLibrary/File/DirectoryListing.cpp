#include "SVLibrary/File/DirectoryListing.h"

#include <dirent.h>

#include "SVLibrary/File/FileSystem.h"
#include "SVLibrary/Path/Path.h"

namespace SV {

bool DirectoryEntry::IsDirectory() const { return SV::IsDirectory(JoinPath(directory, name)); }

DirectoryListing ListDirectory(const std::string& path) {
    DirectoryListing listing;
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) return listing;
    listing.path = path;
    while (const dirent* entry = ::readdir(directory))
        listing.entries.emplace_back(path, entry->d_name);
    ::closedir(directory);
    return listing;
}

}  // namespace SV
