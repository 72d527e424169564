#ifndef PLATFORM_STORE_STANDARDINSTANCE_H
#define PLATFORM_STORE_STANDARDINSTANCE_H

// Header-only: the process-wide instance of a store kept in a folder (settings, keychain), and
// the per-user base folders such stores default to.

#include <errno.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace ns {

// The base folder named by an XDG base-directory variable (e.g. XDG_CONFIG_HOME), or else
// `belowHome` (e.g. "/.config") under the user's home folder. Relative values of the variable
// are invalid by the base-directory rules and are ignored; without a usable HOME the password
// database names the home folder, and /tmp stands in when even that fails.
inline std::string XdgBaseFolder(const char* variable, const char* belowHome) {
    const char* base = std::getenv(variable);
    if (base && base[0] == '/') {
        return base;
    }
    const char* home = std::getenv("HOME");
    std::string folder = home && home[0] == '/' ? home : "";
    if (folder.empty()) {
        const passwd* entry = getpwuid(getuid());
        folder = entry && entry->pw_dir ? entry->pw_dir : "/tmp";
    }
    return folder + belowHome;
}

// Store's one instance for the process: made on first use in the folder set before then, or
// else in Store::DefaultFolder for this program. Never destroyed, so code that runs during exit
// may still use it; a folder set after the first use changes nothing.
template <typename Store>
class StandardInstance {
public:
    static Store& Get() {
        static Store* const standard = [] {
            std::lock_guard<std::mutex> lock(Mutex());
            std::string folder = Folder();
            if (folder.empty()) {
                folder = Store::DefaultFolder(program_invocation_short_name);
            }
            return new Store(folder);
        }();
        return *standard;
    }

    static void SetFolder(std::string folder) {
        std::lock_guard<std::mutex> lock(Mutex());
        Folder() = std::move(folder);
    }

private:
    static std::mutex& Mutex() {
        static std::mutex* const mutex = new std::mutex();  // never destroyed: usable during exit
        return *mutex;
    }

    static std::string& Folder() {
        static std::string* const folder = new std::string();
        return *folder;
    }
};

}  // namespace ns

#endif
