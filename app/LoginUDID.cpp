#include "app/LoginUDID.h"

#include <exception>

#include "platform/Value.h"
#include "platform/core/LogWriter.h"
#include "platform/core/UUID.h"
#include "platform/store/Bundle.h"
#include "platform/store/Keychain.h"
#include "platform/store/UserDefaults.h"

namespace {

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool IsUtf8(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const auto byte = static_cast<unsigned char>(text[i]);
        size_t length;
        uint32_t cp;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            cp = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            cp = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            cp = byte & 0x07;
        } else {
            return false;
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

LoginUDID& LoginUDID::sharedLoginUDID() {
    // Never destroyed; the static's initialisation is safe against concurrent first calls.
    static LoginUDID* const shared =
        new LoginUDID(ns::Keychain::Standard(), ns::UserDefaults::Standard(),
                      KeychainKeyFor(ns::Bundle::Main().Identifier()));
    return *shared;
}

LoginUDID::LoginUDID(ns::Keychain& keychain, ns::UserDefaults& defaults, std::string keychainKey)
    : keychain_(keychain), defaults_(defaults), keychainKey_(std::move(keychainKey)) {
    Setup();
}

void LoginUDID::Setup() {
    if (!searchForValueInKeychain(keychainKey_).empty()) {
        ns::Log("[UDID] UDID has been found in keychain");
        return;
    }
    const std::string legacy = defaults_.StringForKey(kLegacyDefaultsKey);
    if (!legacy.empty()) {
        ns::Log("[UDID] UDID is loaded from NSUserDefaults");
        if (!addToKeychainValue(legacy, keychainKey_)) {
            // The default stays, so the next start tries again.
            ns::Log("[UDID] CRITICAL ERROR during saving UDID to keychain !");
            return;
        }
        ns::Log("[UDID] UDID was save properly to keychain");
        if (searchForValueInKeychain(keychainKey_) == legacy) {
            defaults_.RemoveObjectForKey(kLegacyDefaultsKey);
            defaults_.Synchronize();
            ns::Log("[UDID] UDID was removed from NSUserDefaults");
        } else {
            ns::Log("[UDID] UDID wasn't save properly to keychain !");
        }
        return;
    }
    const std::string generated = generateUUID();
    // Without random bytes there is nothing worth keeping for good: the next start tries again.
    const bool added = !generated.empty() && addToKeychainValue(generated, keychainKey_);
    ns::Log("[UDID] adding generated UUID to keychain status: %d", added);
}

std::string LoginUDID::getUDID() const { return searchForValueInKeychain(keychainKey_); }

std::string LoginUDID::generateUUID() {
    try {
        return ns::UUID::Random().String();
    } catch (const std::exception& error) {
        ns::Log("[UDID] no UUID can be made: %@", error.what());
        return std::string();
    }
}

std::string LoginUDID::searchForValueInKeychain(const std::string& key) const {
    ns::Data data;
    const int32_t status = keychain_.CopyGenericPassword(key, key, data);
    if (status == ns::Keychain::kItemNotFound) {
        ns::Log("[UDID] Item NOT found in keychain");
        return std::string();
    }
    if (status != ns::Keychain::kSuccess) {
        ns::Log("[UDID] There is a problem with searching in keychain: %ld",
                static_cast<long>(status));
        return std::string();
    }
    ns::Log("[UDID] Item has been found in keychain");
    std::string text(data.Bytes().begin(), data.Bytes().end());
    return IsUtf8(text) ? text : std::string();
}

bool LoginUDID::addToKeychainValue(const std::string& value, const std::string& key) {
    return keychain_.AddGenericPassword(key, key, ns::Data(value)) == ns::Keychain::kSuccess;
}
