#ifndef APP_LOGINUDID_H
#define APP_LOGINUDID_H
// The device's identifier: a UUID kept in the keychain under one key for the whole application
// (the bundle identifier followed by ".UniqueDevideUUIDKeyForKeychain", as service and
// account). The first start stores a new one; an identifier left under the old user default
// "Device UDID" moves into the keychain instead. Once stored it is never changed or deleted.
//
// Main thread only.

#include <cstdint>
#include <string>

namespace ns {
class Keychain;
class UserDefaults;
}  // namespace ns

class LoginUDID {
public:
    static constexpr const char* kKeychainKeySuffix = ".UniqueDevideUUIDKeyForKeychain";
    static constexpr const char* kLegacyDefaultsKey = "Device UDID";

    // The process's one instance on the standard keychain and user defaults, keyed by
    // ns::Bundle::Main()'s identifier; made on the first call (the set-up runs then), never
    // destroyed.
    static LoginUDID& sharedLoginUDID();

    // Runs the set-up on these stores: finds, moves or makes the identifier.
    LoginUDID(ns::Keychain& keychain, ns::UserDefaults& defaults, std::string keychainKey);
    LoginUDID(const LoginUDID&) = delete;
    LoginUDID& operator=(const LoginUDID&) = delete;

    // The keychain key for a bundle identifier.
    static std::string KeychainKeyFor(const std::string& bundleIdentifier) {
        return bundleIdentifier + kKeychainKeySuffix;
    }

    // The stored identifier, looked up in the keychain on every call; empty when there is none
    // or the keychain cannot be searched.
    std::string getUDID() const;
    // A new identifier: upper-case hexadecimal in groups of 8-4-4-4-12; empty only when the
    // system has no random bytes to give.
    static std::string generateUUID();
    // The text stored under key; empty when there is none, the search fails or the bytes are
    // not UTF-8 text. Logs which of these it was.
    std::string searchForValueInKeychain(const std::string& key) const;
    // Adds the value under key; false when that fails, also when the key holds a value already
    // (it is never replaced).
    bool addToKeychainValue(const std::string& value, const std::string& key);

private:
    void Setup();

    ns::Keychain& keychain_;
    ns::UserDefaults& defaults_;
    const std::string keychainKey_;
};

#endif  // APP_LOGINUDID_H
