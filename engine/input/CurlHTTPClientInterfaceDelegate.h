#ifndef ENGINE_INPUT_CURLHTTPCLIENTINTERFACEDELEGATE_H
#define ENGINE_INPUT_CURLHTTPCLIENTINTERFACEDELEGATE_H

#include <boost/shared_ptr.hpp>

#include <atomic>

namespace SarvelonMediaKit {

class CurlHTTPClientInterface;

// The per-request object the transfer library calls back with. It holds its transport
// strongly, so a transport whose request is open lives at least until the download thread has
// closed the request and reaped the delegate. Lives in the download thread's live set from
// StartDownload until reaped (HTTPThread).
class CurlHTTPClientInterfaceDelegate {
public:
    explicit CurlHTTPClientInterfaceDelegate(
        const boost::shared_ptr<CurlHTTPClientInterface>& owner)
        : owner_(owner), toBeDeleted_(false), startHandled_(false) {}

    CurlHTTPClientInterfaceDelegate(const CurlHTTPClientInterfaceDelegate&) = delete;
    CurlHTTPClientInterfaceDelegate& operator=(const CurlHTTPClientInterfaceDelegate&) = delete;

    CurlHTTPClientInterface* GetOwner() const { return owner_.get(); }
    const boost::shared_ptr<CurlHTTPClientInterface>& GetOwnerPointer() const { return owner_; }

    // The request was closed: callbacks that still arrive are ignored, and the delegate can go
    // once its start task has finished with it.
    bool IsToBeDeleted() const { return toBeDeleted_.load(); }
    void MarkToBeDeleted() { toBeDeleted_ = true; }
    bool IsStartHandled() const { return startHandled_.load(); }
    void MarkStartHandled() { startHandled_ = true; }

private:
    boost::shared_ptr<CurlHTTPClientInterface> owner_;
    std::atomic<bool> toBeDeleted_;
    std::atomic<bool> startHandled_;
};

}  // namespace SarvelonMediaKit

#endif
