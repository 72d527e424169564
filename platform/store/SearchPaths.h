#ifndef PLATFORM_STORE_SEARCHPATHS_H
#define PLATFORM_STORE_SEARCHPATHS_H
// The user's standard directories and making directories.

#include <string>

namespace ns {

class SearchPaths {
public:
    // The user's documents directory: SV_DOCUMENTS_DIR when it is set and not empty, else
    // "Documents" in the home directory ($HOME, or the password database's entry when HOME is
    // unset or empty). A leading "~" or "~/" is expanded to the home directory and trailing
    // slashes are dropped. Empty when no home directory is known. The directory is not made.
    static std::string DocumentsDirectory();

    // Creates the directory and every missing parent, with mode 0777 less the umask. True when
    // a directory is there afterwards (also when it was there already); false for an empty
    // path, a path through or onto something that is not a directory, or a creation the system
    // refuses.
    static bool CreateDirectory(const std::string& path);

    // The home directory as above; empty when unknown.
    static std::string HomeDirectory();
};

}  // namespace ns

#endif  // PLATFORM_STORE_SEARCHPATHS_H
