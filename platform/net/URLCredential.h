#ifndef PLATFORM_NET_URL_CREDENTIAL_H
#define PLATFORM_NET_URL_CREDENTIAL_H
// A user name and password that answer an authentication challenge. The persistence is kept
// for the caller's information: nothing is ever written to disk.

#include <string>
#include <utility>

namespace ns {

class URLCredential {
public:
    enum class Persistence { None = 0, ForSession = 1, Permanent = 2 };

    URLCredential(std::string user, std::string password,
                  Persistence persistence = Persistence::ForSession)
        : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}

    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    Persistence GetPersistence() const { return persistence_; }

private:
    std::string user_;
    std::string password_;
    Persistence persistence_;
};

}  // namespace ns

#endif
