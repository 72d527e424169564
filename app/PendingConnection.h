#ifndef APP_PENDINGCONNECTION_H
#define APP_PENDINGCONNECTION_H
// The one load a downloader of the application runs at a time, on the toolkit's loop: either a
// connection, or in place of one that cannot start (a URL that is not HTTP) its failure, due a
// loop step later as a connection's own failure would arrive. Cancelling stops both, so no
// callback follows; the destructor cancels. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/net/URLRequest.h"

class PendingConnection {
public:
    PendingConnection() = default;
    ~PendingConnection();
    PendingConnection(const PendingConnection&) = delete;
    PendingConnection& operator=(const PendingConnection&) = delete;

    // Cancels what runs and starts loading the request for the delegate.
    void Start(const ns::URLRequest& request, ns::URLConnectionDelegate* delegate);
    // Cancels what runs; `fail` runs when the loop next steps (unless cancelled first).
    void FailLater(std::function<void()> fail);
    // Stops the connection or the pending failure; nothing of it calls back afterwards.
    void Cancel();
    // Lets go of a connection that has ended (it finished or failed): nothing to stop.
    void Forget() { connection_.reset(); }

    // A connection or a failure is under way.
    bool IsActive() const { return connection_ != nullptr || failTimer_ != 0; }

private:
    std::shared_ptr<ns::URLConnection> connection_;
    uint64_t failTimer_ = 0;
};

#endif  // APP_PENDINGCONNECTION_H
