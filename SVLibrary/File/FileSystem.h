#ifndef SVLIBRARY_FILE_FILESYSTEM_H
#define SVLIBRARY_FILE_FILESYSTEM_H

#include <cstdint>
#include <string>

#include "SVLibrary/Time/PilTime.h"

// Tests and simple changes on file-system paths. None of them throws.
namespace SV {

bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

// Creates that one directory (mode 0775; parents are not made).
// NOTE: returns true when it FAILED, false when the directory was made.
bool MakeDirectory(const std::string& path);

// Removes an empty directory or a file.
// NOTE: returns true when it FAILED, false when the path was removed.
bool RemovePath(const std::string& path);

// The size in bytes of the regular file at the path, readable or not for writing; -1 when
// there is no such file.
int64_t GetFileSize(const std::string& path);

// Always 0: file times are not used.
PilTime GetFileTime(const std::string& path);

// The path as the system opens it: absolute, every symbolic link followed and every "." and
// ".." taken. False (resolved left as it was) when a part of it does not exist or cannot be
// looked into; a path that does not resolve cannot be opened either.
bool ResolvePath(const std::string& path, std::string& resolved);

// Whether path lies in folder or is the folder itself, both resolved (ResolvePath), compared
// by whole names: "/srv/titles2/a" does not lie in "/srv/titles".
bool IsPathInside(const std::string& folder, const std::string& path);

}  // namespace SV

#endif
