#ifndef SVLIBRARY_FILE_DIRECTORYLISTING_H
#define SVLIBRARY_FILE_DIRECTORYLISTING_H

#include <string>
#include <vector>

namespace SV {

// One name in a listed directory.
struct DirectoryEntry {
    DirectoryEntry(const std::string& directory, const std::string& name)
        : directory(directory), name(name) {}

    // Whether JoinPath(directory, name) is a directory now.
    bool IsDirectory() const;

    std::string directory;  // the listed path exactly as given
    std::string name;       // as the directory stream reports it
};

struct DirectoryListing {
    // In the directory stream's order, "." and ".." included; nothing is sorted or filtered.
    std::vector<DirectoryEntry> entries;
    // The listed path; empty when the directory could not be opened (an empty directory still
    // has its path), which is how the two are told apart.
    std::string path;
};

DirectoryListing ListDirectory(const std::string& path);

}  // namespace SV

#endif
