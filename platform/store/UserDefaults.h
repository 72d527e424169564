#ifndef PLATFORM_STORE_USERDEFAULTS_H
#define PLATFORM_STORE_USERDEFAULTS_H
// The application's stored settings: a dictionary of values kept in a property-list file, over
// a dictionary of registered defaults that is never stored.
//
// A lookup answers the stored value when there is one, else the registered one, else null.
// Changes are kept in memory and written by Synchronize (and by the destructor when some are
// pending): the file is replaced atomically (temporary file, fsync, rename) with mode 0600 in
// a folder made with 0700. A file that cannot be read as a dictionary is not overwritten: the
// first write moves it aside to "<file>.bad" so nothing in it is lost.
//
// Thread-safe; nothing is called back.

#include <mutex>
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

    // Stores a value (a null value removes the key, as RemoveObjectForKey does).
    void SetObject(std::string key, Value value);
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
    bool LoadLocked();
    bool WriteLocked();

    const std::string folder_;
    mutable std::mutex mutex_;
    Dictionary stored_;
    Dictionary registered_;
    bool dirty_ = false;
    // The file on disk could not be read; it is moved aside before the first write.
    bool unreadable_ = false;
    std::string lastError_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_USERDEFAULTS_H
