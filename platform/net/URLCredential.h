#ifndef PLATFORM_NET_URL_CREDENTIAL_H
#define PLATFORM_NET_URL_CREDENTIAL_H
// A user name and password that answer an authentication challenge. The persistence is kept
// for the caller's information: nothing is ever written to disk.
//
// A credential may be bound to one origin (scheme, host and port): a connection then never
// sends it anywhere else, whoever asks for it. An unbound one goes wherever its user answers a
// challenge with it (a connection asks only for the origin its load started at).

#include <optional>
#include <string>
#include <utility>

#include "platform/net/HeaderText.h"
#include "platform/net/URL.h"

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

    // Binds the credential to the origin of url. A URL that is not an absolute HTTP(S) URL
    // with a host names no origin: the credential then goes nowhere.
    URLCredential& BindToOrigin(const URL& url) {
        origin_ = Origin{Lower(url.Scheme()), Lower(url.Host()), url.PortOrDefault()};
        if (!url.IsHTTP() || url.Host().empty()) origin_->scheme.clear();
        return *this;
    }
    bool IsBound() const { return origin_.has_value(); }
    // Whether it may go to a server at this scheme, host and port.
    bool MayBeSentTo(const std::string& scheme, const std::string& host, int port) const {
        return !origin_ || (!origin_->scheme.empty() && origin_->scheme == Lower(scheme) &&
                            origin_->host == Lower(host) && origin_->port == port);
    }
    bool MayBeSentTo(const URL& url) const {
        return MayBeSentTo(url.Scheme(), url.Host(), url.PortOrDefault());
    }

private:
    struct Origin {
        std::string scheme;  // empty: no origin at all
        std::string host;
        int port;
    };

    std::string user_;
    std::string password_;
    Persistence persistence_;
    std::optional<Origin> origin_;
};

}  // namespace ns

#endif
