#include "platform/store/UserDefaults.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/store/AtomicFile.h"
#include "platform/store/PropertyList.h"
#include "platform/store/StandardInstance.h"

namespace ns {

namespace {

// Dictionary has no erase: rebuilds without the key, keeping the order of the others.
void EraseKey(Dictionary& dictionary, std::string_view key) {
    Dictionary kept;
    for (const auto& [name, value] : dictionary) {
        if (name != key) {
            kept.Set(name, value);
        }
    }
    dictionary = std::move(kept);
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
    return StandardInstance<UserDefaults>::Get();
}

void UserDefaults::SetStandardFolder(std::string folder) {
    StandardInstance<UserDefaults>::SetFolder(std::move(folder));
}

std::string UserDefaults::DefaultFolder(const std::string& application) {
    return XdgBaseFolder("XDG_CONFIG_HOME", "/.config") + "/" + application;
}

bool UserDefaults::ReadFileLocked(Dictionary& out) {
    std::string text;
    std::string error;
    auto failure = AtomicFile::ReadFailure::None;
    if (!AtomicFile::Read(Path(), PropertyList::kMaxDocumentSize, text, error, &failure,
                          AtomicFile::Links::Refuse)) {
        if (failure == AtomicFile::ReadFailure::Missing) {
            out = Dictionary();
            fileState_ = FileState::Good;
            return true;
        }
        lastError_ = error;
        // Only what the file itself is justifies moving it aside; a failing system call may
        // succeed on the next try and must never cost the stored settings.
        fileState_ =
            failure == AtomicFile::ReadFailure::System ? FileState::NotRead : FileState::Unreadable;
        return false;
    }
    Value value;
    if (!PropertyList::Parse(text, value, error)) {
        lastError_ = Path() + ": " + error;
        fileState_ = FileState::Unreadable;
        return false;
    }
    if (!value.IsDictionary()) {
        lastError_ = Path() + ": the stored settings are not a dictionary";
        fileState_ = FileState::Unreadable;
        return false;
    }
    out = std::move(*value.AsDictionary());
    fileState_ = FileState::Good;
    return true;
}

bool UserDefaults::LoadLocked() {
    Dictionary fresh;
    if (!ReadFileLocked(fresh)) {
        return false;  // what was read before stays in use
    }
    stored_ = std::move(fresh);
    return true;
}

bool UserDefaults::WriteLocked() {
    std::string error;
    if (!AtomicFile::MakeFolder(folder_, 0700, false, error)) {
        lastError_ = error;
        return false;
    }
    if (fileState_ == FileState::NotRead) {
        Dictionary fresh;
        if (ReadFileLocked(fresh)) {
            for (const auto& [key, change] : changes_) {
                if (change) {
                    fresh.Set(key, *change);
                } else {
                    EraseKey(fresh, key);
                }
            }
            stored_ = std::move(fresh);
        } else if (fileState_ == FileState::NotRead) {
            lastError_ = "not writing " + Path() + " while it cannot be read: " + lastError_;
            return false;
        }
    }
    if (fileState_ == FileState::Unreadable) {
        const std::string aside = Path() + ".bad";
        if (std::rename(Path().c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            lastError_ = "cannot move the unreadable " + Path() + " aside: " + std::strerror(errno);
            return false;
        }
        fileState_ = FileState::Good;
    }
    if (!PropertyList::WriteFile(Path(), Value(stored_), 0600, error)) {
        lastError_ = error;
        return false;
    }
    dirty_ = false;
    changes_.clear();
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

bool UserDefaults::SetObject(std::string key, Value value) {
    if (value.IsNull()) {
        RemoveObjectForKey(key);
        return true;
    }
    // Check now that the file can hold the key and value: a value the writer refuses would
    // make every later Synchronize fail and keep all other changes from being stored.
    Dictionary probe;
    probe.Set(key, value);
    std::string text;
    std::string error;
    const bool writable = PropertyList::Serialize(Value(std::move(probe)), text, error);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writable) {
        lastError_ = "cannot store the setting: " + error;
        return false;
    }
    changes_[key] = value;
    stored_.Set(std::move(key), std::move(value));
    dirty_ = true;
    return true;
}

void UserDefaults::RemoveObjectForKey(std::string_view key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stored_.Find(key) == nullptr) {
        if (fileState_ == FileState::NotRead) {
            // The key may be in the file that could not be read: remove it there too.
            changes_[std::string(key)] = std::nullopt;
            dirty_ = true;
        }
        return;
    }
    EraseKey(stored_, key);
    changes_[std::string(key)] = std::nullopt;
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
