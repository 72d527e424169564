#ifndef TESTS_SUPPORT_TEMPORARYDIRECTORY_H
#define TESTS_SUPPORT_TEMPORARYDIRECTORY_H

// Header-only: a directory of a test's own under the folder for temporary files ($TMPDIR, else
// /tmp), gone with everything in it afterwards.

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace SvTestSupport {

// The names in a directory, without "." and ".."; empty when it cannot be read.
inline std::set<std::string> DirectoryEntries(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(d);
    }
    return names;
}

// The folder temporary files go in, without a trailing slash: $TMPDIR when it is set and not
// empty (a test run given a folder of its own keeps /tmp clean), else /tmp. Every file or
// folder a test makes for the time it runs goes under it.
inline std::string TemporaryRoot() {
    const char* given = getenv("TMPDIR");
    std::string root = given != nullptr && given[0] != '\0' ? given : "/tmp";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

// Makes a new directory <TemporaryRoot()>/<prefix>XXXXXX (raising std::runtime_error when it
// cannot) and removes it with everything made in it when it goes. Symbolic links inside are
// removed, not followed.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix) {
        std::string pattern = TemporaryRoot() + "/" + prefix + "XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) {
            throw std::runtime_error("cannot make a directory like " + pattern);
        }
        path_ = buffer.data();
    }
    ~TemporaryDirectory() {
        // Depth first, so each directory is empty when its turn comes.
        nftw(path_.c_str(), &RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }

    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& Path() const { return path_; }
    // The path of an entry of the directory.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
        remove(path);
        return 0;  // go on with the rest whatever happened to this one
    }

    std::string path_;
};

}  // namespace SvTestSupport

#endif
