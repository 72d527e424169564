#ifndef PORTAL_PORTALACCOUNTS_H
#define PORTAL_PORTALACCOUNTS_H

#include <mutex>
#include <string>
#include <vector>

namespace ZulPortal {

// The subscribers who may sign in, each with a number of device slots and the devices that
// hold them, and the answer a sign-in gets. Read from a small JSON file, or built in:
//
//   {
//     "accounts": [
//       {"login": "demo@zul.test", "password": "demo", "slots": 3,
//        "devices": ["UUID", ...],      // registered already (optional)
//        "behaviour": "normal"}         // or "maintenance", "noStatusHeader",
//     ],                                //    "emptyFreeSlots" (optional)
//     "basicAuth": {"user": "zul", "password": "zul"}   // optional: challenge sign-in and
//   }                                                   // thumbnails with Basic auth
//
// New devices are registered in memory for the portal's lifetime. Thread-safe.
class PortalAccounts {
public:
    enum class Behaviour { Normal, Maintenance, NoStatusHeader, EmptyFreeSlots };

    struct Account {
        std::string login;
        std::string password;
        int slots = 3;
        std::vector<std::string> devices;
        Behaviour behaviour = Behaviour::Normal;
    };

    // Values of "DEVICE_LOGIN_STATUS_CODE".
    static constexpr int kCodeSignedIn = 0;     // a known device
    static constexpr int kCodeDeviceAdded = 1;  // with status 0; with status 1: no free slot
    static constexpr int kCodeBadCredentials = 2;
    static constexpr int kCodeUnavailable = 3;  // maintenance
    static constexpr int kCodeNoDevice = 4;     // no usable device identifier

    struct Outcome {
        bool signedIn = false;     // sign-in cookies are set
        bool unavailable = false;  // the redirect leads to a final 503
        bool sendStatus = true;    // false: no "DEVICE_LOGIN_STATUS" header at all
        int status = 1;            // "DEVICE_LOGIN_STATUS": 0 signed in, 1 refused
        int code = kCodeBadCredentials;
        std::string freeSlots;  // texts, so that one may be empty on purpose
        std::string maxSlots;
    };

    // The built-in accounts ("demo@zul.test" / "demo" is the default one; see the .cpp).
    PortalAccounts();

    // Replaces the accounts with those of a JSON file; false with the reason in error.
    bool Load(const std::string& path, std::string& error);
    bool LoadText(const std::string& json, std::string& error);

    Outcome SignIn(const std::string& login, const std::string& password,
                   const std::string& device);

    // Empty user: no challenge.
    std::string BasicUser() const;
    std::string BasicPassword() const;

private:
    mutable std::mutex mutex_;
    std::vector<Account> accounts_;
    std::string basicUser_;
    std::string basicPassword_;
};

}  // namespace ZulPortal

#endif
