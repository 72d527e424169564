#ifndef SVLIBRARY_PATH_PATH_H
#define SVLIBRARY_PATH_PATH_H

#include <string>

// Text functions on file-system paths. They work on bytes, keep no state and never touch the
// file system.
namespace SV {

// The directory, a '/' when neither side supplies one (and both are non-empty), then the name.
std::string JoinPath(const std::string& directory, const std::string& name);

// The text before the last '/'; empty when there is none.
std::string GetDirectoryPart(const std::string& path);

// The text after the last '.', when no '/' follows that '.'; empty otherwise.
std::string GetFileExtension(const std::string& path);

// The text before the last '.', when no '/' follows that '.'; the whole path otherwise.
std::string RemoveFileExtension(const std::string& path);

// Non-empty and starting with '/'.
bool IsAbsolutePath(const std::string& path);

}  // namespace SV

#endif
