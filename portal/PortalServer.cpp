#include "portal/PortalServer.h"

#include <sys/random.h>

#include <cstdio>
#include <stdexcept>

#include "platform/store/PropertyList.h"
#include "portal/DemoData.h"
#include "portal/FormData.h"

namespace ZulPortal {

namespace {

constexpr const char* kLoginPath = "/c/portal/login";
constexpr const char* kSessionCookie = "ZULSESSION";
// A sign-in form or a progress report is a few hundred bytes.
constexpr size_t kMaxRequestBody = 64 * 1024;
// A progress value beyond a day is not a position in any title here.
constexpr long kMaxPosition = 24 * 3600;

std::string RandomToken() {
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : bytes) {
        token += hex[b >> 4];
        token += hex[b & 15];
    }
    return token;
}

std::string Base64(const std::string& text) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const uint32_t v =
            (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8) | uint8_t(text[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i + 1 == text.size()) {
        const uint32_t v = uint8_t(text[i]) << 16;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == text.size()) {
        const uint32_t v = (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

HttpResponse Text(int status, const std::string& text) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = text + "\n";
    return response;
}

HttpResponse Html(int status, const std::string& html) {
    HttpResponse response;
    response.status = status;
    response.body = html;
    return response;
}

HttpResponse Redirect(const std::string& location) {
    HttpResponse response;
    response.status = 302;
    response.headers.emplace_back("Location", location);
    response.contentType = "text/plain; charset=utf-8";
    response.body = "Found: " + location + "\n";
    return response;
}

HttpResponse Json(const ns::Value& value) {
    HttpResponse response;
    response.contentType = "application/json; charset=utf-8";
    response.body = PortalApi::Text(value);
    return response;
}

bool SignedIn(const HttpRequest& request) {
    const FormData cookies = FormData::Cookies(request.Header("cookie"));
    return cookies.Has("COMPANY_ID") && cookies.Has("ID");
}

// "/thumbs/101.jpg" with prefix "/thumbs/" and suffix ".jpg" gives "101".
bool Between(const std::string& path, const std::string& prefix, const std::string& suffix,
             std::string& middle) {
    if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix)) {
        return false;
    }
    middle = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    return true;
}

}  // namespace

PortalServer::PortalServer(Options options) : options_(std::move(options)) {
    std::string error;
    if (!options_.accountsFile.empty() && !accounts_.Load(options_.accountsFile, error)) {
        throw std::runtime_error(error);
    }
    if (!DemoData::Ensure(options_.dataFolder, options_.mktitle, error, options_.stopFd,
                          options_.announce)) {
        throw std::runtime_error("cannot make the demo data in " + options_.dataFolder + ": " +
                                 error);
    }
    HttpServer::Options serverOptions;
    serverOptions.port = options_.port;
    serverOptions.logLimit = options_.logLimit;
    serverOptions.maxBody = kMaxRequestBody;
    serverOptions.observer = options_.observer;
    server_.reset(
        new HttpServer([this](HttpConnection& connection, const HttpRequest& request,
                              bool* keepAlive) { return Handle(connection, request, keepAlive); },
                       serverOptions));
    pages_.reset(new PortalPages(Address(), kMovieScheme));
    api_.reset(new PortalApi(Address()));
    ready_.store(true, std::memory_order_release);
}

PortalServer::~PortalServer() { server_->Stop(); }

ns::Value PortalServer::BundleConfiguration() const {
    const std::string user = accounts_.BasicUser();
    ns::Dictionary plist;
    plist.Set("ZUL Address", Address());
    plist.Set("ZUL Base URL", "http://%@");
    plist.Set("ZUL Login URL", std::string("http://%@") + kLoginPath);
    plist.Set("ZUL Search URL", "http://%@/api/search?q=%%@");
    plist.Set("ZUL Home URL", "http://%@/home");
    plist.Set("ZUL Movies URL", "http://%@/movies");
    plist.Set("ZUL Series URL", "http://%@/series");
    plist.Set("ZUL MyZUL URL", "http://%@/my");
    plist.Set("ZUL Movie Scheme", kMovieScheme);
    plist.Set("ZUL User", user.empty() ? kDefaultBasicUser : user);
    plist.Set("ZUL Password", user.empty() ? kDefaultBasicPassword : accounts_.BasicPassword());
    return plist;
}

bool PortalServer::WriteBundleConfiguration(const std::string& path, std::string& error) const {
    return ns::PropertyList::WriteFile(path, BundleConfiguration(), 0644, error);
}

bool PortalServer::Authorized(const HttpRequest& request) const {
    const std::string user = accounts_.BasicUser();
    if (user.empty()) return true;
    return request.Header("authorization") ==
           "Basic " + Base64(user + ":" + accounts_.BasicPassword());
}

PortalPages::Progress PortalServer::ProgressOf(const std::string& id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = progress_.find(id);
    return found == progress_.end() ? PortalPages::Progress() : found->second;
}

bool PortalServer::Handle(HttpConnection& connection, const HttpRequest& request, bool* keepAlive) {
    if (!ready_.load(std::memory_order_acquire)) {
        return Text(503, "starting").Send(connection, request, *keepAlive);
    }
    const std::string& path = request.path;
    if (path == "/api/playback") return Playback(connection, request, *keepAlive);
    if (path.compare(0, 8, "/thumbs/") == 0 || path.compare(0, 9, "/posters/") == 0 ||
        path.compare(0, 7, "/media/") == 0) {
        return File(connection, request, *keepAlive);
    }
    HttpResponse response;
    bool alive = true;
    if (path == kLoginPath && request.method == "POST") {
        response = SignIn(request);
    } else if (path == "/api/search") {
        response = Search(connection, request, &alive);
        if (!alive) return false;
    } else if (path == "/api/progress") {
        response = Progress(request);
    } else {
        bool handled = false;
        response = Page(request, &handled);
        if (!handled) response = Html(404, pages_->NotFound());
    }
    return response.Send(connection, request, *keepAlive);
}

HttpResponse PortalServer::Page(const HttpRequest& request, bool* handled) {
    *handled = true;
    const std::string& path = request.path;
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse refused = Text(405, "Method Not Allowed");
        refused.headers.emplace_back("Allow", "GET, HEAD");
        return refused;
    }
    const PortalCatalog& catalog = PortalCatalog::Demo();
    if (path == "/" || path == "/home") {
        HttpResponse response = Html(200, pages_->Home(SignedIn(request)));
        if (!FormData::Cookies(request.Header("cookie")).Has(kSessionCookie)) {
            response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" +
                                                            RandomToken() + "; Path=/; HttpOnly");
        }
        return response;
    }
    if (path == "/static/portal.css") {
        HttpResponse response;
        response.contentType = "text/css; charset=utf-8";
        response.body = PortalPages::Stylesheet();
        return response;
    }
    if (path == kLoginPath) return Html(200, pages_->SignIn(""));
    if (path == "/c/portal/maintenance") {
        HttpResponse response = Html(503, pages_->Maintenance());
        response.headers.emplace_back("Retry-After", "600");
        return response;
    }
    if (path == "/c/portal/logout") {
        HttpResponse response = Redirect(kLoginPath);
        for (const char* name : {"COMPANY_ID", "ID"}) {
            response.headers.emplace_back(
                "Set-Cookie",
                std::string(name) + "=; Path=/; Max-Age=0; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
        }
        return response;
    }
    if (path == "/series" || path == "/movies" || path == "/my") {
        if (!SignedIn(request)) return Redirect(kLoginPath);
        if (path == "/series") {
            return Html(200, pages_->Grid("Series", catalog.OfKind(PortalCatalog::Kind::Series),
                                          "Whole seasons, one episode at a time."));
        }
        if (path == "/movies") {
            return Html(200, pages_->Grid("Movies", catalog.OfKind(PortalCatalog::Kind::Movie),
                                          "Feature-length test signals."));
        }
        std::vector<std::pair<const PortalCatalog::Title*, PortalPages::Progress>> watched;
        for (const PortalCatalog::Title& title : catalog.Titles()) {
            const PortalPages::Progress progress = ProgressOf(title.id);
            if (progress.position > 0 || progress.completed) watched.emplace_back(&title, progress);
        }
        return Html(200, pages_->My(watched, catalog.OfKind(PortalCatalog::Kind::Test)));
    }
    if (path.compare(0, 5, "/-/-/") == 0) {
        const PortalCatalog::Title* title = catalog.Find(path.substr(5));
        if (title != nullptr && title->hasPage) {
            return Html(200, pages_->TitlePage(*title, ProgressOf(title->id)));
        }
    }
    *handled = false;
    return HttpResponse();
}

HttpResponse PortalServer::SignIn(const HttpRequest& request) {
    if (!Authorized(request)) {
        HttpResponse challenge = Text(401, "Unauthorized");
        challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"ZUL\"");
        return challenge;
    }
    FormData form;
    if (!FormData::Parse(request.body, form)) return Text(400, "malformed sign-in form");
    const PortalAccounts::Outcome outcome =
        accounts_.SignIn(form.Get("_58_login"), form.Get("_58_password"), form.Get("_58_did"));
    HttpResponse response = Redirect(Url(outcome.signedIn      ? "/home"
                                         : outcome.unavailable ? "/c/portal/maintenance"
                                                               : kLoginPath));
    if (outcome.sendStatus) {
        response.headers.emplace_back("DEVICE_LOGIN_STATUS", std::to_string(outcome.status));
    }
    response.headers.emplace_back("DEVICE_LOGIN_STATUS_CODE", std::to_string(outcome.code));
    response.headers.emplace_back("DEVICE_FREE_SLOTS", outcome.freeSlots);
    response.headers.emplace_back("DEVICE_MAX_SLOTS", outcome.maxSlots);
    if (outcome.signedIn) {
        response.headers.emplace_back("Set-Cookie",
                                      std::string("COMPANY_ID=") + kCompanyId + "; Path=/");
        response.headers.emplace_back("Set-Cookie", "ID=" + RandomToken() + "; Path=/; HttpOnly");
    }
    return response;
}

HttpResponse PortalServer::Search(HttpConnection& connection, const HttpRequest& request,
                                  bool* alive) {
    FormData query;
    if (!FormData::Parse(request.query, query)) return Text(400, "malformed search text");
    const std::string text = query.Get("q");
    if (text == "error500") return Text(500, "Internal Server Error");
    if (text == "slow" && !connection.Pause(options_.slowSearchMs)) {
        *alive = false;
        return HttpResponse();
    }
    return Json(api_->Search(PortalCatalog::Demo().Search(text)));
}

HttpResponse PortalServer::Progress(const HttpRequest& request) {
    if (request.method != "POST") {
        HttpResponse refused = Text(405, "Method Not Allowed");
        refused.headers.emplace_back("Allow", "POST");
        return refused;
    }
    FormData form;
    if (!FormData::Parse(request.body, form)) return Text(400, "malformed report");
    const PortalCatalog::Title* title = PortalCatalog::Demo().Find(form.Get("id"));
    if (title == nullptr || title->kind == PortalCatalog::Kind::Series) {
        return Text(404, "no such title");
    }
    const std::string kind = form.Get("kind");
    const std::string value = form.Get("value");
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    const bool isNumber = !value.empty() && end != nullptr && *end == '\0';
    std::lock_guard<std::mutex> lock(mutex_);
    PortalPages::Progress& progress = progress_[title->id];
    if (kind == "play_progress" && isNumber && number >= 0 && number <= kMaxPosition) {
        progress.position = static_cast<int>(number);
        progress.completed = false;
    } else if (kind == "complete") {
        progress.position = 0;
        progress.completed = true;
    } else if (kind == "error" && isNumber && number > -100000 && number < 100000) {
        progress.error = static_cast<int>(number);
    } else {
        return Text(400, "unknown report");
    }
    HttpResponse response;
    response.status = 204;
    response.contentType.clear();
    return response;
}

bool PortalServer::Playback(HttpConnection& connection, const HttpRequest& request,
                            bool keepAlive) {
    FormData query;
    const PortalCatalog::Title* title = FormData::Parse(request.query, query)
                                            ? PortalCatalog::Demo().Find(query.Get("id"))
                                            : nullptr;
    if (title == nullptr || title->kind == PortalCatalog::Kind::Series) {
        return Text(404, "no such title").Send(connection, request, keepAlive);
    }
    if (title->fault == PortalCatalog::Fault::Dropped) {
        connection.Reset();
        return false;
    }
    if (title->fault == PortalCatalog::Fault::NeverAnswers) {
        // Holds the request until the portal stops; the client's own time-out ends it first.
        while (connection.Pause(1000)) {
        }
        return false;
    }
    const PortalPages::Progress progress = ProgressOf(title->id);
    return Json(api_->Playback(*title, progress.completed ? 0 : progress.position))
        .Send(connection, request, keepAlive);
}

bool PortalServer::File(HttpConnection& connection, const HttpRequest& request, bool keepAlive) {
    const std::string& path = request.path;
    const PortalCatalog& catalog = PortalCatalog::Demo();
    std::string id;
    std::string file;
    std::string type;
    const PortalCatalog::Title* title = nullptr;
    if (Between(path, "/thumbs/", ".jpg", id) && (title = catalog.Find(id)) != nullptr) {
        if (!Authorized(request)) {
            HttpResponse challenge = Text(401, "Unauthorized");
            challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"ZUL\"");
            return challenge.Send(connection, request, keepAlive);
        }
        if (title->fault == PortalCatalog::Fault::ThumbReset) {
            connection.Reset();
            return false;
        }
        if (title->fault != PortalCatalog::Fault::ThumbMissing) {
            file = DemoData::ThumbnailPath(options_.dataFolder, title->clip);
            type = "image/jpeg";
        }
    } else if (Between(path, "/posters/", ".jpg", id) && (title = catalog.Find(id)) != nullptr) {
        file = DemoData::PosterPath(options_.dataFolder, title->clip);
        type = "image/jpeg";
    } else if (Between(path, "/media/", ".svm", id) && (title = catalog.Find(id)) != nullptr &&
               title->kind != PortalCatalog::Kind::Series) {
        file = DemoData::TitlePath(options_.dataFolder, title->clip);
        type = "application/octet-stream";
    } else if (Between(path, "/media/", ".ttml", id)) {
        const size_t dot = id.find('.');
        title = dot == std::string::npos ? nullptr : catalog.Find(id.substr(0, dot));
        const std::string language = dot == std::string::npos ? "" : id.substr(dot + 1);
        for (const std::string& known : DemoData::Languages()) {
            if (title != nullptr && title->kind != PortalCatalog::Kind::Series &&
                known == language) {
                file = DemoData::SubtitlePath(options_.dataFolder, title->clip, language);
                type = "application/ttml+xml; charset=utf-8";
            }
        }
    }
    if (file.empty()) {
        return Text(404, "Not Found").Send(connection, request, keepAlive);
    }
    return HttpResponse::SendFile(connection, request, file, type, keepAlive);
}

}  // namespace ZulPortal
