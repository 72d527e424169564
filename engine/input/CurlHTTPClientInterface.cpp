#include "engine/input/CurlHTTPClientInterface.h"

#include <curl/curl.h>

#include <algorithm>
#include <exception>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Socket/CurlCloseOnExec.h"
#include "engine/core/Task.h"
#include "engine/input/CurlHTTPClientInterfaceDelegate.h"
#include "engine/input/HTTPRequestBuilder.h"
#include "engine/input/HTTPThread.h"

namespace SarvelonMediaKit {

namespace {

constexpr uint32_t kControlCategory = 8;
constexpr long kMaxRedirects = 16;

typedef boost::shared_ptr<CurlHTTPClientInterface> TransportPointer;

size_t BodyCallback(char* data, size_t size, size_t count, void* user) {
    CurlHTTPClientInterfaceDelegate* delegate = static_cast<CurlHTTPClientInterfaceDelegate*>(user);
    if (delegate->IsToBeDeleted()) return 0;
    try {
        return delegate->GetOwner()->BodyReceived(data, size * count);
    } catch (const std::exception& e) {
        // Nothing may unwind through the library; the transfer fails instead.
        DebugPrint("CurlHTTPClientInterface: delivery threw: %s\n", e.what());
    } catch (...) {
        DebugPrint("CurlHTTPClientInterface: delivery threw\n");
    }
    return 0;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
    CurlHTTPClientInterfaceDelegate* delegate = static_cast<CurlHTTPClientInterfaceDelegate*>(user);
    if (delegate->IsToBeDeleted()) return size * count;
    try {
        delegate->GetOwner()->HeaderReceived(data, size * count);
        return size * count;
    } catch (const std::exception& e) {
        // As for the body: nothing unwinds through the library; the transfer fails instead.
        DebugPrint("CurlHTTPClientInterface: header handling threw: %s\n", e.what());
    } catch (...) {
        DebugPrint("CurlHTTPClientInterface: header handling threw\n");
    }
    return 0;
}

// Sets the delegate's start-handled flag however the start task ends, so the delegate is
// reaped once its request is closed.
class StartHandledScope {
public:
    explicit StartHandledScope(CurlHTTPClientInterfaceDelegate* delegate) : delegate_(delegate) {}
    ~StartHandledScope() { delegate_->MarkStartHandled(); }
    StartHandledScope(const StartHandledScope&) = delete;
    StartHandledScope& operator=(const StartHandledScope&) = delete;

private:
    CurlHTTPClientInterfaceDelegate* delegate_;
};

}  // namespace

// A request without query parameters or body is the general one with none.
CurlHTTPClientInterface::CurlHTTPClientInterface(std::string url, HTTPClientInterfaceClient* client)
    : CurlHTTPClientInterface(url, std::map<std::string, std::string>(), client, std::string()) {}

CurlHTTPClientInterface::CurlHTTPClientInterface(
    std::string url, const std::map<std::string, std::string>& parameters,
    HTTPClientInterfaceClient* client, std::string body)
    : HTTPClientInterface(url, parameters, client, body),
      url_(url),
      carryOffset_(0),
      headersHandled_(false),
      readingPaused_(false),
      streamClosed_(false),
      startRequested_(false),
      easy_(nullptr),
      headers_(nullptr),
      rejected_(false),
      skip_(0),
      limited_(false),
      remaining_(0),
      rangeComplete_(false),
      finishPending_(false),
      finishResult_(CURLE_OK),
      finished_(false) {
    errorBuffer_[0] = '\0';
    HTTPThread::Instance().Ensure();
}

CurlHTTPClientInterface::~CurlHTTPClientInterface() {
    try {
        SV::ScopedLock lock(streamClosed_);
        if (!streamClosed_.Value()) {
            DebugPrint("WARNING: CurlHTTPClientInterface stream closing in wrong thread\n");
            streamClosed_ = true;
        }
    } catch (...) {
        // A failing lock only loses the trace.
    }
    // An open request holds its transport through its delegate, so none is open here.
    ReleaseRequest();
}

void CurlHTTPClientInterface::Done(bool failed) {
    CloseStream();
    HTTPClientInterface::Done(failed);
}

void CurlHTTPClientInterface::StartDownload(uint64_t start, uint64_t end) {
    {
        SV::ScopedLock lock(streamClosed_);
        if (streamClosed_.Value()) {
            DebugPrint("CurlHTTPClientInterface::StartDownload after close: nothing requested\n");
            return;
        }
    }
    TransportPointer self = boost::static_pointer_cast<CurlHTTPClientInterface>(shared_from_this());
    HTTPThread& thread = HTTPThread::Instance();
    // A shutdown since construction stopped the thread: the request needs a running one.
    // (Not under the lock below: Shutdown takes the two the other way round.)
    thread.Ensure();
    {
        // Decided and the delegate made under the lock a close takes: a close from here on
        // finds the delegate and marks it, so the start task will not open the request, and
        // a close before this point is seen here.
        SV::ScopedLock lock(streamClosed_);
        if (streamClosed_.Value()) {
            DebugPrint("CurlHTTPClientInterface::StartDownload after close: nothing requested\n");
            return;
        }
        if (startRequested_.exchange(true)) {
            DebugPrint(
                "CurlHTTPClientInterface::StartDownload again: a transport carries one request\n");
            return;
        }
        thread.CreateDelegate(self);
    }
    typedef void (CurlHTTPClientInterface::*Member)(uint64_t, uint64_t);
    thread.Post(
        boost::shared_ptr<Task>(new TaskTemplate2<TransportPointer, Member, uint64_t, uint64_t>(
            kControlCategory, StackIdServing, "CurlHTTPClientInterface::StartDownload " + url_,
            self, &CurlHTTPClientInterface::DoStartDownload, start, end)));
}

void CurlHTTPClientInterface::CloseConnection() { CloseStream(); }

void CurlHTTPClientInterface::CloseStream() {
    {
        SV::ScopedLock lock(streamClosed_);
        if (streamClosed_.Value()) return;
        streamClosed_ = true;
    }
    TransportPointer self =
        boost::static_pointer_cast<CurlHTTPClientInterface>(weak_from_this().lock());
    if (!self) return;  // being destroyed: nothing is open
    typedef void (CurlHTTPClientInterface::*Member)();
    HTTPThread::Instance().Post(boost::shared_ptr<Task>(new TaskTemplate0<TransportPointer, Member>(
        kControlCategory, StackIdServing, "CurlHTTPClientInterface::CloseStream", self,
        &CurlHTTPClientInterface::CloseStreamInTask)));
}

void CurlHTTPClientInterface::DoSetMaxDownloadAmount(ByteAmount amount) {
    TransportPointer self =
        boost::static_pointer_cast<CurlHTTPClientInterface>(weak_from_this().lock());
    bool closed;
    {
        SV::ScopedLock lock(streamClosed_);
        closed = streamClosed_.Value();
    }
    // Stored at once, so the owner reads back what it granted (and does not grant it again
    // while the task is on its way); the download thread counts down from it from now on.
    StoreMaxDownloadAmount(amount);
    // Closed: no transfer will use the amount, and a task would only hold the transport in a
    // queue (one that no thread may run after a shutdown).
    if (!self || closed) return;
    typedef void (CurlHTTPClientInterface::*Member)(ByteAmount);
    HTTPThread::Instance().Post(
        boost::shared_ptr<Task>(new TaskTemplate1<TransportPointer, Member, ByteAmount>(
            kControlCategory, StackIdServing, "CurlHTTPClientInterface::DoSetMaxDownloadAmount",
            self, &CurlHTTPClientInterface::DoSetMaxDownloadAmountInTask, amount)));
}

void CurlHTTPClientInterface::DoStartDownload(uint64_t start, uint64_t end) {
    CurlHTTPClientInterfaceDelegate* delegate = HTTPThread::Instance().FindDelegate(this);
    if (delegate == nullptr) return;
    StartHandledScope handled(delegate);
    if (delegate->IsToBeDeleted()) return;
    {
        SV::ScopedLock lock(streamClosed_);
        if (streamClosed_.Value()) {
            // Closed before the request was opened: nothing to open, the delegate can go.
            delegate->MarkToBeDeleted();
            return;
        }
    }
    HTTPClientInterface::StartDownload(start, end);
    if (end != 0 && end <= start) {
        // No header can ask for this, and no request is needed to know the answer.
        if (end == start) {
            Done(false);
        } else {
            SetCFStreamError(SVStatusTransportStream,
                             "CFStream error: byte range " + std::to_string(start) + "-" +
                                 std::to_string(end) + " ends before it starts");
            Done(true);
        }
        return;
    }
    try {
        OpenRequest(start, end);
    } catch (const SV::Exception& e) {
        ReleaseRequest();
        SetCFStreamError(SVStatusTransportStream, std::string("CFStream error: ") + e.GetDetail());
        Done(true);
    }
}

void CurlHTTPClientInterface::OpenRequest(uint64_t start, uint64_t end) {
    const HTTPRequestBuilder::Request request =
        HTTPRequestBuilder::Build(url_, GetRequestParameters(), GetRequestBody(), IsPost());
    if (request.post) SetPost(true);
    formBody_ = request.formBody;

    HTTPThread& thread = HTTPThread::Instance();
    CurlHTTPClientInterfaceDelegate* delegate = thread.FindDelegate(this);
    easy_ = curl_easy_init();
    if (easy_ == nullptr || delegate == nullptr) {
        throw SV::SVLibraryException(SV::SVL_TransportIo, "Could not make HTTP request");
    }
    const std::string range = HTTPRequestBuilder::RangeValue(start, end);
    const std::string lines[] = {range.empty() ? std::string() : "Range: " + range,
                                 // No waiting for a go-ahead before a body.
                                 "Expect:",
                                 request.post && !formBody_.empty()
                                     ? "Content-Type: application/x-www-form-urlencoded"
                                     : std::string()};
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        curl_slist* appended = curl_slist_append(headers_, line.c_str());
        if (appended == nullptr) {
            throw SV::SVLibraryException(SV::SVL_TransportIo, "Could not make HTTP request");
        }
        headers_ = appended;
    }
    const ProxySettings proxy = thread.GetProxySettings();
    errorBuffer_[0] = '\0';
    curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, delegate);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BodyCallback);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, delegate);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, delegate);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    SV::OpenCurlSocketsCloseOnExec(easy_);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, static_cast<long>(kMaxDelivery));
    // The copied settings, never the environment of the moment: an empty proxy means direct.
    curl_easy_setopt(easy_, CURLOPT_PROXY, proxy.ProxyFor(request.url).c_str());
    curl_easy_setopt(easy_, CURLOPT_NOPROXY, proxy.NoProxy().c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    if (request.post) {
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(formBody_.size()));
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, formBody_.data());
    }
    if (curl_multi_add_handle(thread.GetMulti(), easy_) != CURLM_OK) {
        SV::WriteLine("failed to open stream");
        ReleaseRequest();
        SetCFStreamError(SVStatusTransportStream, "CFStream error: could not open the request");
        Done(true);
    }
}

void CurlHTTPClientInterface::ReleaseRequest() {
    if (easy_ != nullptr) {
        CURLM* multi = HTTPThread::Instance().GetMulti();
        if (multi != nullptr) curl_multi_remove_handle(multi, easy_);
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    if (headers_ != nullptr) {
        curl_slist_free_all(headers_);
        headers_ = nullptr;
    }
}

void CurlHTTPClientInterface::CloseStreamInTask() {
    {
        // Also reached from a shutdown, with no close before it: later calls must see the
        // transport closed and post nothing.
        SV::ScopedLock lock(streamClosed_);
        streamClosed_ = true;
    }
    ReleaseRequest();
    HTTPThread::Instance().MarkDelegatesToBeDeleted(this);
}

void CurlHTTPClientInterface::DoSetMaxDownloadAmountInTask(ByteAmount) {
    // The amount was stored when it was granted; what was delivered since has been counted
    // out of it, so storing it again here would grant those bytes twice. The allowance as it
    // stands now decides.
    if (easy_ == nullptr || !readingPaused_.load() ||
        GetMaxDownloadAmount() <= GetResumeThreshold())
        return;
    DeliverCarry();
    if (carryOffset_ < carry_.size()) {
        ReportIdle();  // used up again by what was held back
        return;
    }
    readingPaused_ = false;
    if (finishPending_) {
        finishPending_ = false;
        Finish(finishResult_);
        return;
    }
    curl_easy_pause(easy_, CURLPAUSE_CONT);
}

void CurlHTTPClientInterface::HeaderReceived(const char* line, size_t size) {
    responseHeaders_.AddLine(line, size);
}

bool CurlHTTPClientInterface::HandleHeaders() {
    headersHandled_ = true;
    long status = 0;
    if (easy_ != nullptr) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) {
        SetEndPosition(0);
        return true;
    }
    if (status == 416) {
        // The range starts at or past the resource's end: the owner, when it takes the
        // refusal, knows where the resource ends, and it is no error of the request.
        rejected_ = true;
        uint64_t total = 0;
        HTTPResponseHeaders::ParseUnsatisfiedRangeTotal(responseHeaders_.ContentRange(), &total);
        if (RangeRefused(total)) return false;
    }
    if (status < 200 || status > 299) {
        rejected_ = true;
        SetCFStreamError(static_cast<int>(status), "HTTP Error " + std::to_string(status));
        return false;
    }
    const uint64_t start = GetRequestedStart();
    const uint64_t end = GetRequestedEnd();
    // A server that ignores the Range header sends the resource from its first byte.
    if (status != 206 && start > 0) skip_ = start;
    if (end > start) {
        limited_ = true;
        remaining_ = end - start;
    }
    SetEndPosition(responseHeaders_.EndPosition());
    return true;
}

size_t CurlHTTPClientInterface::Deliver(const char* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        const uint32_t allowance = GetMaxDownloadAmount();
        if (allowance == 0) break;
        const size_t piece = std::min<size_t>({size - sent, kMaxDelivery, allowance});
        DataReceived(reinterpret_cast<const signed char*>(data + sent),
                     static_cast<unsigned int>(piece));
        sent += piece;
        if (limited_) {
            remaining_ -= piece;
            if (remaining_ == 0) rangeComplete_ = true;
        }
    }
    return sent;
}

void CurlHTTPClientInterface::DeliverCarry() {
    carryOffset_ += Deliver(carry_.data() + carryOffset_, carry_.size() - carryOffset_);
    if (carryOffset_ == carry_.size()) {
        carry_.clear();
        carryOffset_ = 0;
    }
}

void CurlHTTPClientInterface::SetPendingRead(bool pause) {
    if (pause == readingPaused_.load()) return;
    readingPaused_ = pause;
    if (pause) ReportIdle();
}

size_t CurlHTTPClientInterface::BodyReceived(const char* data, size_t size) {
    {
        SV::ScopedLock lock(streamClosed_);
        if (streamClosed_.Value()) return 0;  // the owner is closing: stop the transfer
    }
    if (!headersHandled_ && !HandleHeaders()) return 0;
    if (rangeComplete_) return 0;
    if (readingPaused_.load() || carryOffset_ < carry_.size()) return CURL_WRITEFUNC_PAUSE;
    const char* bytes = data;
    size_t count = size;
    const size_t skipped = static_cast<size_t>(std::min<uint64_t>(skip_, count));
    skip_ -= skipped;
    bytes += skipped;
    count -= skipped;
    const size_t wanted =
        limited_ ? static_cast<size_t>(std::min<uint64_t>(count, remaining_)) : count;
    const size_t sent = Deliver(bytes, wanted);
    if (sent < wanted) {
        if (skipped == 0 && sent == 0) {
            // Nothing taken: the library keeps these bytes and hands them over again.
            SetPendingRead(true);
            return CURL_WRITEFUNC_PAUSE;
        }
        carry_.assign(bytes + sent, bytes + wanted);
        carryOffset_ = 0;
        SetPendingRead(true);
        return size;
    }
    // Past the end of the range (a server that ignored it): nothing more is wanted.
    if (rangeComplete_ && wanted < count) return 0;
    return size;
}

void CurlHTTPClientInterface::TransferFinished(int result) {
    if (finished_) return;
    finished_ = true;
    bool closed;
    {
        SV::ScopedLock lock(streamClosed_);
        closed = streamClosed_.Value();
    }
    if (closed) {
        // Closed by its owner, who hears nothing more. The request goes now rather than only
        // through the close task, so a close that raced with the start cannot leave it open.
        ReleaseRequest();
        HTTPThread::Instance().MarkDelegatesToBeDeleted(this);
        return;
    }
    if (!headersHandled_ && !rejected_ && result == CURLE_OK) HandleHeaders();
    if (rejected_) {
        Done(true);
        return;
    }
    if (rangeComplete_ && result == CURLE_WRITE_ERROR) result = CURLE_OK;
    if (result == CURLE_OK && carryOffset_ < carry_.size()) {
        // The end is told once the owner has taken what is held back.
        finishPending_ = true;
        finishResult_ = result;
        return;
    }
    Finish(result);
}

void CurlHTTPClientInterface::Finish(int result) {
    if (result != CURLE_OK) {
        std::string reason = errorBuffer_[0] != '\0'
                                 ? std::string(errorBuffer_)
                                 : std::string(curl_easy_strerror(static_cast<CURLcode>(result)));
        if (reason.empty()) reason = "(no info)";
        SetCFStreamError(SVStatusTransportStream, "CFStream error: " + reason);
        Done(true);
        return;
    }
    Done(false);
}

void CurlHTTPClientInterface::SetCFStreamError(int code, const std::string& text) {
    DebugPrint("CurlHTTPClientInterface error %d: %s (%s)\n", code, text.c_str(), url_.c_str());
    // Counted as a delivery: a Close on the owner's thread waits for it like for any other.
    BusyStart();
    try {
        PublishError(code, text);
    } catch (...) {
        BusyDone();
        throw;
    }
    BusyDone();
}

void CreateCurlHTTPClientInterface(boost::shared_ptr<HTTPClientInterface>& result,
                                   const std::string& url,
                                   const std::map<std::string, std::string>* parameters,
                                   HTTPClientInterfaceClient* client, const std::string& body,
                                   uint32_t /*transportParameter*/) {
    if (parameters == nullptr) {
        result.reset(new CurlHTTPClientInterface(url, client));
    } else {
        result.reset(new CurlHTTPClientInterface(url, *parameters, client, body));
    }
}

}  // namespace SarvelonMediaKit
