#include "platform/store/UserDefaults.h"

#include <errno.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/store/AtomicFile.h"
#include "platform/store/PropertyList.h"

namespace ns {

namespace {

std::mutex& StandardMutex() {
    static std::mutex* const mutex = new std::mutex();  // never destroyed: usable during exit
    return *mutex;
}

std::string& StandardFolder() {
    static std::string* const folder = new std::string();
    return *folder;
}

}  // namespace

UserDefaults::UserDefaults(std::string folder) : folder_(std::move(folder)) {
    std::lock_guard<std::mutex> lock(mutex_);
    LoadLocked();
}

UserDefaults::~UserDefaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dirty_) {
        WriteLocked();  // a destructor cannot report; Synchronize is the checked way
    }
}

UserDefaults& UserDefaults::Standard() {
    // Never destroyed: settings may still be read by code that runs during exit.
    static UserDefaults* const standard = [] {
        std::lock_guard<std::mutex> lock(StandardMutex());
        std::string folder = StandardFolder();
        if (folder.empty()) {
            folder = DefaultFolder(program_invocation_short_name);
        }
        return new UserDefaults(folder);
    }();
    return *standard;
}

void UserDefaults::SetStandardFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(StandardMutex());
    StandardFolder() = std::move(folder);
}

std::string UserDefaults::DefaultFolder(const std::string& application) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid by the base-directory rules and are ignored.
    if (config && config[0] == '/') {
        return std::string(config) + "/" + application;
    }
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty()) {
        const passwd* entry = getpwuid(getuid());
        base = entry && entry->pw_dir ? entry->pw_dir : "/tmp";
    }
    return base + "/.config/" + application;
}

bool UserDefaults::LoadLocked() {
    Value value;
    std::string error;
    bool missing = false;
    if (!PropertyList::ReadFile(Path(), value, error, &missing)) {
        if (missing) {
            stored_ = Dictionary();
            unreadable_ = false;
            return true;
        }
        lastError_ = error;
        unreadable_ = true;
        return false;
    }
    if (!value.IsDictionary()) {
        lastError_ = Path() + ": the stored settings are not a dictionary";
        unreadable_ = true;
        return false;
    }
    stored_ = std::move(*value.AsDictionary());
    unreadable_ = false;
    return true;
}

bool UserDefaults::WriteLocked() {
    std::string error;
    if (!AtomicFile::MakeFolder(folder_, 0700, false, error)) {
        lastError_ = error;
        return false;
    }
    if (unreadable_) {
        const std::string aside = Path() + ".bad";
        if (std::rename(Path().c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            lastError_ = "cannot move the unreadable " + Path() + " aside: " + std::strerror(errno);
            return false;
        }
        unreadable_ = false;
    }
    if (!PropertyList::WriteFile(Path(), Value(stored_), 0600, error)) {
        lastError_ = error;
        return false;
    }
    dirty_ = false;
    return true;
}

void UserDefaults::RegisterDefaults(const Dictionary& defaults) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, value] : defaults) {
        registered_.Set(key, value);
    }
}

Value UserDefaults::ObjectForKey(std::string_view key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const Value* value = stored_.Find(key)) {
        return *value;
    }
    if (const Value* value = registered_.Find(key)) {
        return *value;
    }
    return Value();
}

std::string UserDefaults::StringForKey(std::string_view key) const {
    return ObjectForKey(key).StringValue();
}

int64_t UserDefaults::IntegerForKey(std::string_view key) const {
    return ObjectForKey(key).Int64Value();
}

bool UserDefaults::BoolForKey(std::string_view key) const { return ObjectForKey(key).BoolValue(); }

double UserDefaults::DoubleForKey(std::string_view key) const {
    return ObjectForKey(key).DoubleValue();
}

void UserDefaults::SetObject(std::string key, Value value) {
    if (value.IsNull()) {
        RemoveObjectForKey(key);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stored_.Set(std::move(key), std::move(value));
    dirty_ = true;
}

void UserDefaults::RemoveObjectForKey(std::string_view key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stored_.Find(key) == nullptr) {
        return;
    }
    // Dictionary has no erase: rebuild without the key, keeping the order of the others.
    Dictionary kept;
    for (const auto& [name, value] : stored_) {
        if (name != key) {
            kept.Set(name, value);
        }
    }
    stored_ = std::move(kept);
    dirty_ = true;
}

bool UserDefaults::Synchronize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dirty_ ? WriteLocked() : LoadLocked();
}

Dictionary UserDefaults::DictionaryRepresentation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Dictionary all = registered_;
    for (const auto& [key, value] : stored_) {
        all.Set(key, value);
    }
    return all;
}

std::string UserDefaults::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

}  // namespace ns
