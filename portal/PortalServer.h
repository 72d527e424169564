#ifndef PORTAL_PORTALSERVER_H
#define PORTAL_PORTALSERVER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "portal/PortalAccounts.h"
#include "portal/PortalApi.h"
#include "portal/PortalCatalog.h"
#include "portal/PortalPages.h"
#include "portal/server/HttpResponse.h"
#include "portal/server/HttpServer.h"

namespace ZulPortal {

// The demo portal: the web pages, sign-in, search, thumbnails, playback information, titles
// and subtitles on one loopback port. Tests start it in-process; `zul-portal` runs it.
//
// Paths (ADDRESS is "127.0.0.1:PORT"):
//   GET  / and /home             home page; sets the portal session cookie "ZULSESSION"
//   GET  /series /movies /my     grids of titles; 302 to /c/portal/login without the
//                                "COMPANY_ID" and "ID" cookies
//   GET  /-/-/ID                 a title page with its play link and __zulPlayerProxy
//   GET  /c/portal/login         the sign-in form
//   POST /c/portal/login         sign-in: 302 with the four DEVICE_... headers
//   GET  /c/portal/logout        expires the sign-in cookies; 302 to /c/portal/login
//   GET  /c/portal/maintenance   503, where a sign-in during maintenance leads
//   GET  /api/search?q=TEXT      search JSON; "error500" answers 500, "slow" answers late
//   GET  /api/playback?id=ID     playback information JSON (the application adds "&ios=1")
//   POST /api/progress           what the page bridge reports (kind, id, value)
//   GET  /thumbs/ID.jpg /posters/ID.jpg /media/ID.svm /media/ID.LANG.ttml /static/portal.css
class PortalServer {
public:
    static constexpr const char* kMovieScheme = "zulmovie";
    static constexpr const char* kCompanyId = "10157";
    static constexpr const char* kBundleConfigurationName = "ZULPropertyListRelease.plist";
    // The "ZUL User" and "ZUL Password" of a portal that challenges nothing.
    static constexpr const char* kDefaultBasicUser = "zul";
    static constexpr const char* kDefaultBasicPassword = "zul";

    struct Options {
        uint16_t port = 0;         // 0: a free port
        std::string dataFolder;    // the demo data, made there when missing
        std::string mktitle;       // the title maker that makes them
        std::string accountsFile;  // empty: the built-in accounts
        int slowSearchMs = 5000;   // how late the search "slow" answers
        size_t logLimit = 10000;   // requests kept in the log
        HttpServer::Observer observer;
        // While the demo data are made: a descriptor that becomes readable when the making
        // must stop (-1: none), and what is told, in one line, what is made and why.
        int stopFd = -1;
        std::function<void(const std::string&)> announce;
    };

    // Makes the demo data when missing, then listens. Throws std::runtime_error with the
    // reason (data that cannot be made or whose making was stopped, accounts that cannot be
    // read, a port in use).
    explicit PortalServer(Options options);
    ~PortalServer();

    PortalServer(const PortalServer&) = delete;
    PortalServer& operator=(const PortalServer&) = delete;

    void Stop() { server_->Stop(); }
    uint16_t Port() const { return server_->Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    std::string Url(const std::string& path) const { return server_->Url(path); }
    std::vector<HttpRequest> Requests() const { return server_->Requests(); }
    PortalAccounts& Accounts() { return accounts_; }

    // The application's bundle configuration pointing at this portal: the URL values are
    // formats whose first "%@" is "ZUL Address"; the search URL keeps "%%@" for the text.
    ns::Value BundleConfiguration() const;
    bool WriteBundleConfiguration(const std::string& path, std::string& error) const;

private:
    bool Handle(HttpConnection& connection, const HttpRequest& request, bool* keepAlive);
    HttpResponse Page(const HttpRequest& request, bool* handled);
    HttpResponse SignIn(const HttpRequest& request);
    HttpResponse Search(HttpConnection& connection, const HttpRequest& request, bool* alive);
    HttpResponse Progress(const HttpRequest& request);
    bool Playback(HttpConnection& connection, const HttpRequest& request, bool keepAlive);
    bool File(HttpConnection& connection, const HttpRequest& request, bool keepAlive);
    bool Authorized(const HttpRequest& request) const;
    PortalPages::Progress ProgressOf(const std::string& id) const;

    Options options_;
    PortalAccounts accounts_;
    std::unique_ptr<PortalPages> pages_;
    std::unique_ptr<PortalApi> api_;
    mutable std::mutex mutex_;  // guards progress_
    std::map<std::string, PortalPages::Progress> progress_;
    std::unique_ptr<HttpServer> server_;  // last: stops before the rest goes
    // Set once pages_ and api_ (which need the port) exist; requests before it get a 503.
    std::atomic<bool> ready_{false};
};

}  // namespace ZulPortal

#endif
