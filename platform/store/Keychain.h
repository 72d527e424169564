#ifndef PLATFORM_STORE_KEYCHAIN_H
#define PLATFORM_STORE_KEYCHAIN_H
// A stand-in for the platform's keychain, for generic passwords only: an item is found by its
// service and account and holds bytes.
//
// Items live in one property-list file, mode 0600, inside a folder of their own kept at 0700.
// Every call reads the file; a change rewrites it atomically (temporary file, fsync, rename)
// under an advisory lock, so other processes see it at once and a crash never leaves half a
// file. A file that cannot be read is never overwritten: calls answer kDecodeError until it is
// dealt with.
//
// Calls answer the platform's status codes. Tests make calls fail with SetInjectedFailure.
// Thread-safe; nothing is called back.

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Value.h"

namespace ns {

class Keychain {
public:
    static constexpr int32_t kSuccess = 0;
    static constexpr int32_t kItemNotFound = -25300;
    static constexpr int32_t kDuplicateItem = -25299;
    static constexpr int32_t kIOError = -36;         // the file or folder could not be used
    static constexpr int32_t kDecodeError = -26275;  // the file is not a readable keychain
    static constexpr const char* kFileName = "keychain.plist";

    // Items kept in `folder`/keychain.plist. The folder is made (or narrowed) to 0700 on the
    // first call that needs it.
    explicit Keychain(std::string folder);

    // The process's keychain in StandardFolder(), made on first use, never destroyed.
    // SetStandardFolder takes effect only before that first use.
    static Keychain& Standard();
    static void SetStandardFolder(std::string folder);
    // $XDG_DATA_HOME/<application>/keychain, else ~/.local/share/<application>/keychain.
    static std::string DefaultFolder(const std::string& application);

    // Adds an item; kDuplicateItem (nothing changed) when one with that service and account
    // exists.
    int32_t AddGenericPassword(const std::string& service, const std::string& account,
                               const Data& secret);
    // Copies an item's bytes into `secret`; kItemNotFound when there is none.
    int32_t CopyGenericPassword(const std::string& service, const std::string& account,
                                Data& secret) const;
    // Replaces an item's bytes; kItemNotFound when there is none.
    int32_t UpdateGenericPassword(const std::string& service, const std::string& account,
                                  const Data& secret);
    int32_t DeleteGenericPassword(const std::string& service, const std::string& account);

    // While `status` is not kSuccess every call answers it and changes nothing (as a locked
    // device or a failing disk would). kSuccess turns it off.
    void SetInjectedFailure(int32_t status);

    // Why the last call failed with kIOError or kDecodeError.
    std::string LastError() const;
    std::string Path() const { return folder_ + "/" + kFileName; }

private:
    // Reads the items under the folder's lock; `change` (if any) may edit them and answers the
    // status; on kSuccess with `write` set the items are written back before the lock drops.
    template <typename Change>
    int32_t Transact(bool write, Change change) const;

    const std::string folder_;
    mutable std::mutex mutex_;
    int32_t injectedFailure_ = kSuccess;
    mutable std::string lastError_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_KEYCHAIN_H
