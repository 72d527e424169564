#include "SVLibrary/Path/Path.h"

namespace SV {

namespace {

// Offset of the last '.' that no '/' follows, or npos.
std::string::size_type ExtensionDot(const std::string& path) {
    std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos) return dot;
    if (path.find('/', dot) != std::string::npos) return std::string::npos;
    return dot;
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name) {
    std::string result = directory;
    if (!directory.empty() && directory.back() != '/' && !name.empty() && name.front() != '/')
        result += '/';
    result += name;
    return result;
}

std::string GetDirectoryPart(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash);
}

std::string GetFileExtension(const std::string& path) {
    std::string::size_type dot = ExtensionDot(path);
    if (dot == std::string::npos) return std::string();
    return path.substr(dot + 1);
}

std::string RemoveFileExtension(const std::string& path) {
    std::string::size_type dot = ExtensionDot(path);
    if (dot == std::string::npos) return path;
    return path.substr(0, dot);
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path.front() == '/'; }

}  // namespace SV
