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

}  // namespace SV

#endif
