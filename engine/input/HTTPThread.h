#ifndef ENGINE_INPUT_HTTPTHREAD_H
#define ENGINE_INPUT_HTTPTHREAD_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>

#include "engine/core/Task.h"
#include "engine/core/TaskManager.h"
#include "engine/input/ProxySettings.h"

typedef void CURLM;

namespace SV {
class Thread;
}

namespace SarvelonMediaKit {

class CurlHTTPClientInterface;
class CurlHTTPClientInterfaceDelegate;

// The one process-wide download thread, "HTTPClient". It runs every transport's transfers
// (one multi-transfer set of the transfer library) and its own task queue, to which the
// transports post their start, close and allowance tasks; every transport callback runs here.
//
// Started by the first transport; Shutdown stops and joins it (open requests closed, delegates
// reaped, proxy settings forgotten) and the next transport starts a new one. At most one runs
// at a time. At process exit the thread is stopped and joined before the library's statics go.
// The object itself is never destroyed, so a late transport never finds it gone.
class HTTPThread {
public:
    static HTTPThread& Instance();

    // Starts the thread unless one runs, and copies the proxy settings unless they are cached.
    // Any thread; returns at once on the download thread itself.
    void Ensure();
    // Stops and joins the thread, closes every open request, reaps every delegate and drops
    // the queued tasks, then forgets the proxy settings. Not on the download thread (there it
    // only forgets the proxy settings).
    void Shutdown();

    // Queues a task for the download thread and wakes it. Any thread.
    void Post(const boost::shared_ptr<Task>& task);

    // The transfer set; only the download thread (and Shutdown after the join) uses it.
    CURLM* GetMulti() const { return multi_; }
    ProxySettings GetProxySettings();
    bool IsDownloadThread() const;

    // The live-delegate set.
    CurlHTTPClientInterfaceDelegate* CreateDelegate(
        const boost::shared_ptr<CurlHTTPClientInterface>& owner);
    CurlHTTPClientInterfaceDelegate* FindDelegate(const CurlHTTPClientInterface* owner);
    void MarkDelegatesToBeDeleted(const CurlHTTPClientInterface* owner);
    // Deletes each delegate that is both start-handled and to be deleted.
    void ReapDelegates();
    size_t LiveDelegateCount();

    // How many download threads this process has started (tests).
    uint32_t StartCount() const { return startCount_.load(); }

private:
    HTTPThread();
    ~HTTPThread() = delete;

    int Run();
    void FinishTransfers();
    // Closes the request of an owner whose end threw.
    static void CloseAfterFailure(CurlHTTPClientInterface* owner);
    // Stops and joins the running thread; true when there was one. Under lifecycleMutex_.
    bool StopThread();
    void CloseAllAndReap();
    static void StopAtExit();

    std::mutex lifecycleMutex_;  // Ensure and Shutdown one at a time
    SV::Thread* thread_;         // under lifecycleMutex_
    std::atomic<bool> stop_;
    std::atomic<bool> exited_;  // Run has returned (asked to or not)
    std::atomic<uint32_t> startCount_;
    bool exitHandlerInstalled_;  // under lifecycleMutex_

    std::mutex postMutex_;  // guards multi_ against a wake-up racing with its cleanup
    CURLM* multi_;

    std::mutex proxyMutex_;
    bool proxyCached_;
    ProxySettings proxy_;

    std::mutex delegatesMutex_;
    std::set<CurlHTTPClientInterfaceDelegate*> delegates_;

    TaskManager tasks_;
};

// The entry the host calls when the engine terminates (see HTTPThread::Shutdown).
void ShutdownCurlHTTPClientInterface();

}  // namespace SarvelonMediaKit

#endif
