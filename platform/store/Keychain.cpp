#include "platform/store/Keychain.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/store/AtomicFile.h"
#include "platform/store/PropertyList.h"
#include "platform/store/StandardInstance.h"

namespace ns {

namespace {

constexpr const char* kLockName = ".keychain.lock";

// The file holds an array of {service, account, data} dictionaries.
bool Matches(const Value& item, const std::string& service, const std::string& account) {
    const std::string* itemService = item["service"].AsString();
    const std::string* itemAccount = item["account"].AsString();
    return itemService && itemAccount && *itemService == service && *itemAccount == account;
}

bool WellFormed(const Value& item) {
    return item["service"].IsString() && item["account"].IsString() && item["data"].IsData();
}

// Holds an exclusive advisory lock on a file until destroyed.
class FolderLock {
public:
    explicit FolderLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

}  // namespace

Keychain::Keychain(std::string folder) : folder_(std::move(folder)) {}

Keychain& Keychain::Standard() { return StandardInstance<Keychain>::Get(); }

void Keychain::SetStandardFolder(std::string folder) {
    StandardInstance<Keychain>::SetFolder(std::move(folder));
}

std::string Keychain::DefaultFolder(const std::string& application) {
    return XdgBaseFolder("XDG_DATA_HOME", "/.local/share") + "/" + application + "/keychain";
}

template <typename Change>
int32_t Keychain::Transact(bool write, Change change) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (injectedFailure_ != kSuccess) {
        return injectedFailure_;
    }
    std::string error;
    if (!AtomicFile::MakeFolder(folder_, 0700, true, error)) {
        lastError_ = error;
        return kIOError;
    }
    const FolderLock folderLock(folder_ + "/" + kLockName);
    if (!folderLock.Held()) {
        lastError_ = "cannot lock " + folder_ + ": " + std::strerror(errno);
        return kIOError;
    }
    Value items = Array{};
    std::string text;
    bool missing = false;
    if (!AtomicFile::Read(Path(), PropertyList::kMaxDocumentSize, text, error, &missing)) {
        if (!missing) {
            lastError_ = error;
            return kIOError;
        }
    } else if (!PropertyList::Parse(text, items, error)) {
        // A file that exists but cannot be parsed is kept for whoever can repair it.
        lastError_ = Path() + ": " + error;
        return kDecodeError;
    }
    if (!items.IsArray()) {
        lastError_ = Path() + ": not a list of items";
        return kDecodeError;
    }
    for (const Value& item : *items.AsArray()) {
        if (!WellFormed(item)) {
            lastError_ = Path() + ": an item without service, account or data";
            return kDecodeError;
        }
    }
    const int32_t status = change(*items.AsArray());
    if (status != kSuccess || !write) {
        return status;
    }
    if (!PropertyList::WriteFile(Path(), items, 0600, error)) {
        lastError_ = error;
        return kIOError;
    }
    return kSuccess;
}

int32_t Keychain::AddGenericPassword(const std::string& service, const std::string& account,
                                     const Data& secret) {
    return Transact(true, [&](Array& items) {
        for (const Value& item : items) {
            if (Matches(item, service, account)) {
                return kDuplicateItem;
            }
        }
        Dictionary item;
        item.Set("service", service);
        item.Set("account", account);
        item.Set("data", secret);
        items.push_back(Value(std::move(item)));
        return kSuccess;
    });
}

int32_t Keychain::CopyGenericPassword(const std::string& service, const std::string& account,
                                      Data& secret) const {
    return Transact(false, [&](Array& items) {
        for (const Value& item : items) {
            if (Matches(item, service, account)) {
                secret = *item["data"].AsData();
                return kSuccess;
            }
        }
        return kItemNotFound;
    });
}

int32_t Keychain::UpdateGenericPassword(const std::string& service, const std::string& account,
                                        const Data& secret) {
    return Transact(true, [&](Array& items) {
        for (Value& item : items) {
            if (Matches(item, service, account)) {
                item.Set("data", secret);
                return kSuccess;
            }
        }
        return kItemNotFound;
    });
}

int32_t Keychain::DeleteGenericPassword(const std::string& service, const std::string& account) {
    return Transact(true, [&](Array& items) {
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (Matches(*it, service, account)) {
                items.erase(it);
                return kSuccess;
            }
        }
        return kItemNotFound;
    });
}

void Keychain::SetInjectedFailure(int32_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    injectedFailure_ = status;
}

std::string Keychain::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

}  // namespace ns
