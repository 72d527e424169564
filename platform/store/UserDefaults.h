#ifndef PLATFORM_STORE_USERDEFAULTS_H
#define PLATFORM_STORE_USERDEFAULTS_H
// The application's stored settings: a dictionary of values kept in a property-list file, over
// a dictionary of registered defaults that is never stored.
//
// A lookup answers the stored value when there is one, else the registered one, else null.
// Changes are kept in memory and written by Synchronize (and by the destructor when some are
// pending): the file is replaced atomically (temporary file, fsync, rename) with mode 0600 in
// a folder made with 0700. A file whose contents are not a property-list dictionary (or
// something other than a regular file at its path) is not overwritten: the first write moves it
// aside to "<file>.bad" so nothing in it is lost. A file the system fails to read (too many open
// files, an I/O error) is left alone: a write reads it again first, keeps what it holds under
// the changes made since, and is refused while the file still cannot be read.
//
// Thread-safe; nothing is called back.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace ns {

class UserDefaults {
public:
    static constexpr const char* kFileName = "UserDefaults.plist";

    // Settings stored in `folder`/UserDefaults.plist; the file is read here.
    explicit UserDefaults(std::string folder);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The process's settings, made on first use in StandardFolder() and never destroyed (call
    // Synchronize to store changes). SetStandardFolder takes effect only before that first use.
    static UserDefaults& Standard();
    static void SetStandardFolder(std::string folder);
    // $XDG_CONFIG_HOME/<application>, else ~/.config/<application>.
    static std::string DefaultFolder(const std::string& application);

    // Adds to the registered values (a key registered again takes the new value).
    void RegisterDefaults(const Dictionary& defaults);

    // The stored value, else the registered one, else null.
    Value ObjectForKey(std::string_view key) const;
    // Conversions of ObjectForKey after ns::Value's rules: a string's text, a number's text, ""
    // for other kinds; integers and booleans from numbers or their text.
    std::string StringForKey(std::string_view key) const;
    int64_t IntegerForKey(std::string_view key) const;
    bool BoolForKey(std::string_view key) const;
    double DoubleForKey(std::string_view key) const;

    // Stores a value (a null value removes the key, as RemoveObjectForKey does). A key or value
    // the file cannot hold (a null inside a container, text that is not UTF-8 or holds control
    // characters XML cannot carry, too deep nesting) is refused: false, nothing stored, and
    // LastError says why.
    bool SetObject(std::string key, Value value);
    void RemoveObjectForKey(std::string_view key);

    // Writes pending changes to the file; without pending changes, reads the file again so
    // that values another process stored become visible. False on failure (LastError says
    // why; the changes stay pending and the old file stays whole).
    bool Synchronize();

    // Registered values overlaid with the stored ones.
    Dictionary DictionaryRepresentation() const;
    std::string Path() const { return folder_ + "/" + kFileName; }
    std::string LastError() const;

private:
    // How the file was found at the last read.
    enum class FileState {
        Good,        // read (or missing): the settings in memory stand for it
        Unreadable,  // not a dictionary: moved aside before the next write
        NotRead,     // the system failed to read it: read again before the next write
    };

    bool LoadLocked();
    // Reads the file into `out` (empty when missing); sets fileState_ and, on failure, lastError_.
    bool ReadFileLocked(Dictionary& out);
    bool WriteLocked();

    const std::string folder_;
    mutable std::mutex mutex_;
    Dictionary stored_;
    Dictionary registered_;
    bool dirty_ = false;
    FileState fileState_ = FileState::Good;
    // The changes since the last write, key by key (nullopt: removed), replayed over the file's
    // contents when it could not be read before.
    std::map<std::string, std::optional<Value>, std::less<>> changes_;
    std::string lastError_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_USERDEFAULTS_H
