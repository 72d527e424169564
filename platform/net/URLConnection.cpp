#include "platform/net/URLConnection.h"

#include "platform/net/HeaderText.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Socket/CurlCloseOnExec.h"

namespace ns {

namespace {

// Longest time-out honoured; keeps the conversion to the loop's duration in range.
constexpr double kMaxTimeoutSeconds = 365.0 * 24 * 3600;

long ErrorCodeFor(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return Error::kCannotFindHost;
        case CURLE_COULDNT_CONNECT: return Error::kCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT: return Error::kTimedOut;
        case CURLE_URL_MALFORMAT: return Error::kBadURL;
        // Every hop's URL was checked to be HTTP(S) before it went out, so libcurl refuses a
        // protocol only for what came back: an answer that does not begin with an HTTP status
        // line (libcurl takes it for HTTP/0.9, which it does not accept). That is the server's
        // answer being bad, not the URL.
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING: return Error::kBadServerResponse;
        default: return Error::kNetworkConnectionLost;
    }
}

bool SameOrigin(const URL& a, const URL& b) {
    return Lower(a.Scheme()) == Lower(b.Scheme()) && Lower(a.Host()) == Lower(b.Host()) &&
           a.PortOrDefault() == b.PortOrDefault();
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Whether a 307 or 308 would send something of the request beyond its URL again: a body, or a
// method that may carry one.
bool ResendsContent(const URLRequest& request) {
    const std::string& method = request.HTTPMethod();
    return !request.HTTPBody().empty() || (method != "GET" && method != "HEAD");
}

// The realm of a Basic challenge among the WWW-Authenticate fields ("" when it names none);
// nothing when no challenge uses the Basic scheme.
std::optional<std::string> BasicRealm(const HTTPHeaderFields& headers) {
    for (const std::string& value : headers.Values("WWW-Authenticate")) {
        const std::string lower = Lower(value);
        size_t at = 0;
        while ((at = lower.find("basic", at)) != std::string::npos) {
            const bool startsToken = at == 0 || lower[at - 1] == ' ' || lower[at - 1] == ',';
            const size_t after = at + 5;
            const bool endsToken =
                after == lower.size() || lower[after] == ' ' || lower[after] == ',';
            if (!startsToken || !endsToken) {
                at = after;
                continue;
            }
            const size_t realm = lower.find("realm=", after);
            if (realm == std::string::npos) return std::string();
            size_t i = realm + 6;
            std::string text;
            if (i < value.size() && value[i] == '"') {
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    if (value[i] == '\\' && i + 1 < value.size()) ++i;
                    text.push_back(value[i]);
                }
            } else {
                while (i < value.size() && value[i] != ',' && value[i] != ' ') text += value[i++];
            }
            return text;
        }
    }
    return std::nullopt;
}

// RFC 7230 token characters: what a method and a header field name are made of.
bool IsToken(const std::string& text) {
    static const std::string kSymbols = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               kSymbols.find(c) != std::string::npos;
    });
}

// A CR or LF would end the line early and let the rest pose as further fields (or a request
// of its own); a NUL would cut the line short in libcurl.
bool BreaksLine(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Why the request cannot go out as HTTP without being reinterpreted by the server; null when
// it can.
const char* UnsendableReason(const URLRequest& request) {
    if (!IsToken(request.HTTPMethod())) return "the HTTP method is not a token";
    for (const HTTPHeaderFields::Field& field : request.AllHTTPHeaderFields().Fields()) {
        if (!IsToken(field.first)) return "a header field name is not a token";
        if (BreaksLine(field.second)) return "a header field value holds CR, LF or NUL";
    }
    return nullptr;
}

}  // namespace

URLConnection::RetiredTransfer::~RetiredTransfer() {
    curl_easy_cleanup(easy);
    if (headers != nullptr) curl_slist_free_all(headers);
}

URLConnection::URLConnection(const URLRequest& request, URLConnectionDelegate* delegate,
                             RunLoop& loop, CookieStorage& cookies)
    : delegate_(delegate), loop_(loop), cookies_(cookies), original_(request), current_(request) {}

std::shared_ptr<URLConnection> URLConnection::Start(const URLRequest& request,
                                                    URLConnectionDelegate* delegate, RunLoop& loop,
                                                    CookieStorage& cookies) {
    std::shared_ptr<URLConnection> connection(new URLConnection(request, delegate, loop, cookies));
    connection->state_ = State::Loading;
    connection->keepAlive_ = connection;
    std::weak_ptr<URLConnection> weak = connection;
    const double seconds = std::min(request.TimeoutInterval(), kMaxTimeoutSeconds);
    connection->deadlineTimer_ = loop.AfterDelay(
        std::chrono::duration_cast<RunLoop::Duration>(std::chrono::duration<double>(seconds)),
        [weak] {
            if (std::shared_ptr<URLConnection> self = weak.lock()) self->OnDeadline();
        });
    loop.Post([weak] {
        std::shared_ptr<URLConnection> self = weak.lock();
        if (self && self->state_ == State::Loading && self->easy_ == nullptr) self->SendHop();
    });
    return connection;
}

URLConnection::~URLConnection() { ReleaseTransfer(); }

void URLConnection::Cancel() {
    if (state_ == State::Done) return;
    End();
}

void URLConnection::End() {
    state_ = State::Done;
    ReleaseTransfer();
    if (deadlineTimer_ != 0) {
        loop_.CancelTimer(deadlineTimer_);
        deadlineTimer_ = 0;
    }
    pending_.clear();
    heldBody_.clear();
    // Last: this may be the final reference; callers hold their own while they go on.
    std::shared_ptr<URLConnection> release = std::move(keepAlive_);
}

void URLConnection::ReleaseTransfer() {
    if (easy_ != nullptr) {
        if (transferActive_) loop_.RemoveTransfer(easy_);
        // From inside libcurl (another transfer's callback) the removal is only queued and the
        // multi handle still holds the easy handle until libcurl returns, and may even call its
        // callbacks: those find no owner, and the handle is freed by a closure that runs on a
        // later loop step, or is destroyed with the loop if the loop goes first.
        target_->owner = nullptr;
        std::shared_ptr<RetiredTransfer> retired =
            std::make_shared<RetiredTransfer>(easy_, headerList_, std::move(target_));
        loop_.Post([retired] {});
        easy_ = nullptr;
        headerList_ = nullptr;
    } else if (headerList_ != nullptr) {
        curl_slist_free_all(headerList_);
        headerList_ = nullptr;
    }
    target_.reset();
    transferActive_ = false;
    paused_ = false;
}

void URLConnection::SendHop() {
    ReleaseTransfer();
    head_.Reset();
    kind_ = HopKind::Final;
    redirectRequest_.reset();
    realm_.clear();
    heldBody_.clear();
    pending_.clear();
    responsePending_ = false;
    hopDone_ = false;
    result_ = CURLE_OK;
    hopBodyBytes_ = 0;

    const URL& url = current_.GetURL();
    if (!url.IsAbsolute() || (url.IsHTTP() && url.Host().empty())) {
        FailLater(Error::kBadURL);
        return;
    }
    if (!url.IsHTTP()) {
        FailLater(Error::kUnsupportedURL);
        return;
    }
    if (const char* reason = UnsendableReason(current_)) {
        failure_ = Error(Error::kURLErrorDomain, Error::kBadURL, std::string("bad URL: ") + reason,
                         url.AbsoluteString());
        ScheduleDelivery();
        return;
    }
    easy_ = curl_easy_init();
    if (easy_ == nullptr) {
        FailLater(Error::kCannotConnectToHost);
        return;
    }
    curl_easy_setopt(easy_, CURLOPT_URL, url.WithoutFragment().AbsoluteString().c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    SV::OpenCurlSocketsCloseOnExec(easy_);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    target_ = std::make_shared<CallbackTarget>();
    target_->owner = this;
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &URLConnection::HeaderCallback);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, target_.get());
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &URLConnection::WriteCallback);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, target_.get());

    const std::string& method = current_.HTTPMethod();
    const std::string& body = current_.HTTPBody();
    if (method == "GET") {
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        if (method != "POST") curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
        if (method == "POST" || !body.empty()) {
            curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(easy_, CURLOPT_COPYPOSTFIELDS, body.data());
        }
    }

    for (const HTTPHeaderFields::Field& field : current_.AllHTTPHeaderFields().Fields()) {
        // "Name;" is how libcurl is told to send a field with an empty value.
        const std::string line =
            field.second.empty() ? field.first + ";" : field.first + ": " + field.second;
        headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    if (current_.HTTPShouldHandleCookies() && !current_.AllHTTPHeaderFields().Contains("Cookie")) {
        std::vector<Cookie> stored = cookies_.CookiesForURL(url);
        // A cookie stored by the application itself may hold anything; one that would break
        // the line is left out rather than sent.
        stored.erase(std::remove_if(stored.begin(), stored.end(),
                                    [](const Cookie& c) {
                                        return BreaksLine(c.Name()) || BreaksLine(c.Value());
                                    }),
                     stored.end());
        const std::string cookie = Cookie::RequestHeaderValue(stored);
        if (!cookie.empty())
            headerList_ = curl_slist_append(headerList_, ("Cookie: " + cookie).c_str());
    }
    // No "Expect: 100-continue" wait before a large body.
    headerList_ = curl_slist_append(headerList_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);

    if (credential_ && credential_->MayBeSentTo(url)) {
        curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(easy_, CURLOPT_USERNAME, credential_->User().c_str());
        curl_easy_setopt(easy_, CURLOPT_PASSWORD, credential_->Password().c_str());
    }

    std::weak_ptr<URLConnection> weak = shared_from_this();
    transferActive_ = true;
    loop_.AddTransfer(easy_, [weak](CURLcode code) {
        std::shared_ptr<URLConnection> self = weak.lock();
        if (!self || self->state_ == State::Done) return;
        self->transferActive_ = false;
        self->ReleaseTransfer();
        self->hopDone_ = true;
        self->result_ = code;
        self->ScheduleDelivery();
    });
}

void URLConnection::OnDeadline() {
    deadlineTimer_ = 0;
    if (state_ == State::Done) return;
    // Whatever the hop is doing (sending, waiting for the head, trickling its body, waiting
    // for an answer to a challenge), the load is over; what arrived before is still handed
    // over ahead of the failure.
    if (state_ == State::WaitingForChallenge) state_ = State::Loading;
    ReleaseTransfer();
    hopDone_ = false;
    FailLater(Error::kTimedOut);
}

void URLConnection::FailLater(long code) {
    failure_ = Error::URLError(code, current_.GetURL().AbsoluteString());
    ScheduleDelivery();
}

Error URLConnection::OverMaximumBodyError(size_t limit) const {
    return Error(Error::kURLErrorDomain, Error::kDataLengthExceedsMaximum,
                 "resource exceeds maximum size: the body is longer than " + std::to_string(limit) +
                     " bytes",
                 current_.GetURL().AbsoluteString());
}

void URLConnection::FailOverMaximumBody() {
    const Error error = OverMaximumBodyError(maxBodyBytes_);
    End();
    if (delegate_ != nullptr) delegate_->DidFailWithError(*this, error);
}

void URLConnection::ScheduleDelivery() {
    if (deliveryPosted_) return;
    deliveryPosted_ = true;
    std::weak_ptr<URLConnection> weak = shared_from_this();
    loop_.Post([weak] {
        if (std::shared_ptr<URLConnection> self = weak.lock()) self->Deliver();
    });
}

void URLConnection::Deliver() {
    deliveryPosted_ = false;
    if (state_ == State::Done) return;
    // Holds the connection while the delegate runs, which may drop its own reference.
    std::shared_ptr<URLConnection> self = shared_from_this();
    if (responsePending_) {
        responsePending_ = false;
        bodyDelivered_ = 0;
        if (delegate_ != nullptr) delegate_->DidReceiveResponse(*this, response_);
        if (state_ == State::Done) return;
    }
    if (!pending_.empty()) {
        if (pending_.size() > maxBodyBytes_ - std::min(bodyDelivered_, maxBodyBytes_)) {
            FailOverMaximumBody();
            return;
        }
        bodyDelivered_ += pending_.size();
        std::string data;
        data.swap(pending_);
        if (delegate_ != nullptr) delegate_->DidReceiveData(*this, data);
        if (state_ == State::Done) return;
        if (paused_ && easy_ != nullptr) {
            // May hand over more body at once; that schedules the next delivery.
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
    }
    if (!pending_.empty() || paused_) return;
    if (failure_) {
        const Error error = *failure_;
        failure_.reset();
        End();
        if (delegate_ != nullptr) delegate_->DidFailWithError(*this, error);
        return;
    }
    if (hopDone_) {
        hopDone_ = false;
        EndOfHop();
    }
}

void URLConnection::EndOfHop() {
    if (result_ != CURLE_OK || head_.Status() == 0) {
        const long code = head_.Failed() || result_ == CURLE_OK
                              ? static_cast<long>(Error::kBadServerResponse)
                              : ErrorCodeFor(result_);
        const Error error = Error::URLError(code, current_.GetURL().AbsoluteString());
        End();
        if (delegate_ != nullptr) delegate_->DidFailWithError(*this, error);
        return;
    }
    switch (kind_) {
        case HopKind::Final:
            End();
            if (delegate_ != nullptr) delegate_->DidFinishLoading(*this);
            return;
        case HopKind::Redirect: FollowRedirect(); return;
        case HopKind::Challenge: PresentChallenge(); return;
    }
}

void URLConnection::FollowRedirect() {
    if (++redirects_ > kMaxRedirects) {
        const Error error =
            Error::URLError(Error::kHTTPTooManyRedirects, current_.GetURL().AbsoluteString());
        End();
        if (delegate_ != nullptr) delegate_->DidFailWithError(*this, error);
        return;
    }
    std::optional<URLRequest> next = redirectRequest_;
    if (delegate_ != nullptr) {
        next = delegate_->WillSendRequest(*this, *redirectRequest_, response_);
        if (state_ == State::Done) return;
    }
    if (!next) {
        DeliverHopResponseAsFinal();
        return;
    }
    if (!SameOrigin(next->GetURL(), current_.GetURL())) credential_.reset();
    current_ = *next;
    SendHop();
}

void URLConnection::PresentChallenge() {
    if (delegate_ == nullptr || authenticationAttempts_ >= kMaxAuthenticationAttempts) {
        DeliverHopResponseAsFinal();
        return;
    }
    state_ = State::WaitingForChallenge;
    const URL& url = current_.GetURL();
    AuthenticationChallenge::ProtectionSpace space;
    space.host = url.Host();
    space.port = url.PortOrDefault();
    space.protocol = Lower(url.Scheme());
    space.realm = realm_;
    const AuthenticationChallenge challenge(space, authenticationAttempts_, response_, credential_);
    delegate_->WillSendRequestForAuthenticationChallenge(*this, challenge);
}

void URLConnection::DeliverHopResponseAsFinal() {
    kind_ = HopKind::Final;
    responsePending_ = true;
    pending_.swap(heldBody_);
    heldBody_.clear();
    hopDone_ = true;
    result_ = CURLE_OK;
    ScheduleDelivery();
}

void URLConnection::UseCredential(const URLCredential& credential) {
    if (state_ != State::WaitingForChallenge) return;
    state_ = State::Loading;
    if (!credential.MayBeSentTo(current_.GetURL())) {
        // Bound to another origin: it does not go here, and the 401 is the answer.
        DeliverHopResponseAsFinal();
        return;
    }
    credential_ = credential;
    ++authenticationAttempts_;
    SendHop();
}

void URLConnection::ContinueWithoutCredential() {
    if (state_ != State::WaitingForChallenge) return;
    state_ = State::Loading;
    DeliverHopResponseAsFinal();
}

void URLConnection::CancelAuthenticationChallenge() {
    if (state_ != State::WaitingForChallenge) return;
    state_ = State::Loading;
    FailLater(Error::kUserCancelledAuthentication);
}

// A released transfer's callbacks find no owner and drop what they are given.
size_t URLConnection::HeaderCallback(char* data, size_t size, size_t count, void* target) {
    URLConnection* owner = static_cast<CallbackTarget*>(target)->owner;
    return owner != nullptr ? owner->OnHeaderLine(data, size * count) : size * count;
}

size_t URLConnection::WriteCallback(char* data, size_t size, size_t count, void* target) {
    URLConnection* owner = static_cast<CallbackTarget*>(target)->owner;
    return owner != nullptr ? owner->OnBody(data, size * count) : size * count;
}

size_t URLConnection::OnHeaderLine(const char* data, size_t size) {
    switch (head_.Feed(data, size)) {
        case HTTPResponseHeadParser::Result::kBadResponse: return 0;  // ends the transfer
        case HTTPResponseHeadParser::Result::kHeadComplete:
            if (!OnHeadComplete()) return 0;
            break;
        case HTTPResponseHeadParser::Result::kContinue:
        case HTTPResponseHeadParser::Result::kIgnored: break;
    }
    return size;
}

bool URLConnection::OnHeadComplete() {
    const int status = head_.Status();
    const HTTPHeaderFields& headers = head_.Fields();
    const URL& url = current_.GetURL();
    response_ = URLResponse(url, status, headers);
    if (current_.HTTPShouldHandleCookies()) {
        cookies_.SetCookiesFromResponse(headers, url, current_.MainDocumentURL());
    }
    kind_ = HopKind::Final;
    const std::vector<std::string> locations = headers.Values("Location");
    if (IsRedirectStatus(status) && !locations.empty()) {
        std::optional<URL> target = URL::Resolve(Trim(locations.front()), url);
        if (target && target->IsHTTP() && !target->Host().empty()) {
            if ((status == 307 || status == 308) && !SameOrigin(*target, url) &&
                ResendsContent(current_)) {
                // What was posted to this origin (a form with a password, say) is not posted
                // again to another at its bidding: the load fails instead.
                failure_ = Error(Error::kURLErrorDomain, Error::kBadServerResponse,
                                 "bad server response: a " + std::to_string(status) +
                                     " redirect would send the request's method and body to "
                                     "another origin",
                                 url.AbsoluteString());
                ScheduleDelivery();
                return false;
            }
            URLRequest next = current_;
            next.SetURL(*target);
            const std::string& method = current_.HTTPMethod();
            if (((status == 301 || status == 302) && method == "POST") ||
                (status == 303 && method != "HEAD")) {
                next.SetHTTPMethod("GET");
                next.SetHTTPBody(std::string());
                next.RemoveHTTPHeaderField("Content-Type");
                next.RemoveHTTPHeaderField("Content-Length");
            }
            // The jar supplies the cookies of the new hop; credentials stay with their origin.
            if (current_.HTTPShouldHandleCookies() || !SameOrigin(*target, url)) {
                next.RemoveHTTPHeaderField("Cookie");
            }
            if (!SameOrigin(*target, url)) next.RemoveHTTPHeaderField("Authorization");
            redirectRequest_ = next;
            kind_ = HopKind::Redirect;
        }
    } else if (status == 401 && SameOrigin(url, original_.GetURL())) {
        // Only the origin the load started at is asked for credentials: one it was redirected
        // to gets its 401 as the answer, so no credential meant for the first reaches it.
        if (std::optional<std::string> realm = BasicRealm(headers)) {
            realm_ = *realm;
            kind_ = HopKind::Challenge;
        }
    }
    if (kind_ == HopKind::Final) {
        responsePending_ = true;
        ScheduleDelivery();
    }
    return true;
}

size_t URLConnection::OnBody(const char* data, size_t size) {
    if (kind_ != HopKind::Final || !head_.HeadComplete()) {
        // A redirect's or challenge's body is read only to be dropped; one that goes on past
        // the maximum (or for ever) would keep the load from ever ending.
        hopBodyBytes_ += size;
        const size_t limit = std::min(maxBodyBytes_, kMaxDroppedBodyBytes);
        if (hopBodyBytes_ > limit) {
            failure_ = OverMaximumBodyError(limit);
            ScheduleDelivery();
            return 0;  // ends the transfer; the failure is delivered from the loop
        }
        const size_t room = kMaxHeldBodyBytes - std::min(heldBody_.size(), kMaxHeldBodyBytes);
        heldBody_.append(data, std::min(size, room));
        return size;
    }
    if (pending_.size() >= kMaxPendingBytes) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    pending_.append(data, size);
    ScheduleDelivery();
    return size;
}

}  // namespace ns
