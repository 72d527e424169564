#ifndef PLATFORM_NET_URL_CONNECTION_H
#define PLATFORM_NET_URL_CONNECTION_H
// An asynchronous HTTP(S) load on a run loop's libcurl multi handle.
//
// Redirects are followed one hop at a time by the connection itself (libcurl's own following is
// off), so the delegate sees every hop with the response that asked for it: 301 and 302 turn a
// POST into a GET, 303 turns anything but HEAD into a GET, 307 and 308 keep method and body.
// A 307 or 308 keeps them only within the origin (scheme, host, port): one that would send a
// body, or a method other than GET or HEAD, to another origin fails the load with
// Error::kBadServerResponse before anything goes there. A hop to another origin carries neither
// the request's Cookie nor its Authorization field, nor the credential given for the first.
// A 401 with a Basic challenge goes to the delegate only when it comes from the origin the load
// started at (from any other the 401 is the answer), and only once per load: a credential it
// gives is sent with one retry of the same request, unless it is bound to another origin
// (URLCredential), and a second 401 is the answer. The connection stores the cookies each hop sets
// in its cookie storage and sends the stored ones with the next hop. The original request's
// time-out bounds the whole load, from Start to its end, every hop included: an answer that keeps
// trickling in (one byte now and then) would otherwise never end. Past it the load fails with the
// timed-out error, measured on the loop's clock. A method that is not a token, a header field name
// that is not a token or a header value with CR, LF or NUL fails the load with the bad-URL error
// before anything is sent. A maximum body size (SetMaximumBodyBytes) caps what the delegate is
// handed and what is read of a redirect's or challenge's body (that one also at
// kMaxDroppedBodyBytes): a longer body stops the load and fails it with
// Error::kDataLengthExceedsMaximum.
//
// Everything (Start, Cancel, the challenge answers, all delegate calls) happens on the loop's
// thread. Delegate calls come from closures posted to the loop, never from inside libcurl and
// never under a lock. While it loads, the connection keeps itself alive, as the platform's
// does; Cancel() stops it and nothing more reaches the delegate. The delegate must outlive the
// load or cancel it first.

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/core/RunLoop.h"
#include "platform/net/AuthenticationChallenge.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/Error.h"
#include "platform/net/HTTPResponseHeadParser.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace ns {

class URLConnection : public std::enable_shared_from_this<URLConnection> {
public:
    static constexpr int kMaxRedirects = 16;
    // Credentials the delegate may try for one load before the 401 is taken as the answer: a
    // credential that failed once fails again, and a server that asks over and over must not
    // be sent it over and over.
    static constexpr int kMaxAuthenticationAttempts = 1;
    // Body bytes held back when the delegate has not yet taken the earlier ones; the transfer
    // pauses until it has.
    static constexpr size_t kMaxPendingBytes = 256 * 1024;
    // Body bytes kept of a redirect or challenge response, which becomes the connection's own
    // response only if the delegate declines to go on; the rest is read and dropped.
    static constexpr size_t kMaxHeldBodyBytes = 64 * 1024;
    // The most bytes read of such a body (also without a maximum body size): a redirect that
    // streams for ever would otherwise keep the load from ever ending.
    static constexpr size_t kMaxDroppedBodyBytes = 1024 * 1024;
    static constexpr size_t kMaxHeaderFields = HTTPResponseHeadParser::kMaxFields;
    // The default maximum body size: none.
    static constexpr size_t kNoMaximumBodyBytes = std::numeric_limits<size_t>::max();

    // Starts loading: the first hop goes out when the loop next steps. The delegate may be null
    // (nothing is told, cookies are still stored).
    static std::shared_ptr<URLConnection> Start(const URLRequest& request,
                                                URLConnectionDelegate* delegate,
                                                RunLoop& loop = RunLoop::Main(),
                                                CookieStorage& cookies = CookieStorage::Shared());
    ~URLConnection();
    URLConnection(const URLConnection&) = delete;
    URLConnection& operator=(const URLConnection&) = delete;

    // Stops the load; no delegate call follows, also when called from inside one.
    void Cancel();
    bool IsFinished() const { return state_ == State::Done; }

    // The most bytes of the response's body the delegate is handed. Body pieces reach the
    // delegate whole; instead of a piece that would take it past the maximum, the load ends:
    // the transfer stops and DidFailWithError follows with Error::kDataLengthExceedsMaximum
    // (no other failure of a connection has that code). Set it right after Start, or from
    // DidReceiveResponse to cap only an answer the delegate keeps: the body is handed over
    // after the response. The body of a redirect or challenge response, read and dropped, is
    // held in the same way to the maximum set at the start, and never read past
    // kMaxDroppedBodyBytes. kNoMaximumBodyBytes (the default) lifts the maximum.
    void SetMaximumBodyBytes(size_t bytes) { maxBodyBytes_ = bytes; }
    size_t MaximumBodyBytes() const { return maxBodyBytes_; }

    const URLRequest& OriginalRequest() const { return original_; }
    // The request of the hop under way (after redirects).
    const URLRequest& CurrentRequest() const { return current_; }

    // Answers to the pending authentication challenge; ignored when there is none.
    void UseCredential(const URLCredential& credential);
    void ContinueWithoutCredential();
    void CancelAuthenticationChallenge();

private:
    enum class State { Created, Loading, WaitingForChallenge, Done };
    enum class HopKind { Final, Redirect, Challenge };

    URLConnection(const URLRequest& request, URLConnectionDelegate* delegate, RunLoop& loop,
                  CookieStorage& cookies);

    void SendHop();
    void ReleaseTransfer();
    void ScheduleDelivery();
    void Deliver();
    void EndOfHop();
    void FollowRedirect();
    void PresentChallenge();
    // The hop's own response (a redirect or a 401) becomes the final one, with its held body.
    void DeliverHopResponseAsFinal();
    void FailLater(long code);
    // The body went past the maximum: ends the load and tells the delegate.
    void FailOverMaximumBody();
    Error OverMaximumBodyError(size_t limit) const;
    // Marks the connection done and lets go of the transfer, the timer and itself.
    void End();
    // The time-out has passed: the load fails as timed out, whatever it was doing.
    void OnDeadline();

    // What libcurl's callbacks are given: the connection while its transfer is its own, null
    // once released. Shared with the retired transfer, so it outlives the easy handle.
    struct CallbackTarget {
        URLConnection* owner = nullptr;
    };
    // A released easy handle on its way to being freed, with what it refers to.
    struct RetiredTransfer {
        RetiredTransfer(CURL* e, curl_slist* h, std::shared_ptr<CallbackTarget> t)
            : easy(e), headers(h), target(std::move(t)) {}
        ~RetiredTransfer();
        RetiredTransfer(const RetiredTransfer&) = delete;
        RetiredTransfer& operator=(const RetiredTransfer&) = delete;
        CURL* easy;
        curl_slist* headers;
        std::shared_ptr<CallbackTarget> target;
    };

    // libcurl callbacks: they only record and post, never call the delegate.
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* target);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* target);
    size_t OnHeaderLine(const char* data, size_t size);
    size_t OnBody(const char* data, size_t size);
    // False ends the transfer (the load then fails).
    bool OnHeadComplete();

    URLConnectionDelegate* delegate_;
    RunLoop& loop_;
    CookieStorage& cookies_;
    URLRequest original_;
    URLRequest current_;
    State state_ = State::Created;
    std::shared_ptr<URLConnection> keepAlive_;  // set while loading

    // The hop under way.
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    std::shared_ptr<CallbackTarget> target_;
    bool transferActive_ = false;
    HTTPResponseHeadParser head_;
    HopKind kind_ = HopKind::Final;
    URLResponse response_;
    std::optional<URLRequest> redirectRequest_;
    std::string realm_;
    std::string heldBody_;
    std::string pending_;
    bool responsePending_ = false;
    bool paused_ = false;
    bool deliveryPosted_ = false;
    bool hopDone_ = false;
    CURLcode result_ = CURLE_OK;
    std::optional<Error> failure_;
    size_t maxBodyBytes_ = kNoMaximumBodyBytes;
    size_t bodyDelivered_ = 0;  // of the final response, handed to the delegate
    size_t hopBodyBytes_ = 0;   // of a redirect or challenge response, read on this hop

    uint64_t deadlineTimer_ = 0;
    int redirects_ = 0;
    int authenticationAttempts_ = 0;
    std::optional<URLCredential> credential_;
};

}  // namespace ns

#endif
