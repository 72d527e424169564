#include "engine/input/HTTPThread.h"

#include <curl/curl.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/PilThread/ProcessState.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "SVLibrary/Socket/CurlCloseOnExec.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/CurlHTTPClientInterfaceDelegate.h"

namespace SarvelonMediaKit {

namespace {

// The longest the loop sleeps when nothing happens; a posted task wakes it at once.
constexpr int kPollMilliseconds = 100;

thread_local bool tOnDownloadThread = false;

}  // namespace

HTTPThread& HTTPThread::Instance() {
    // Never destroyed: transports that are statics may still close during exit.
    static HTTPThread* instance = new HTTPThread;
    return *instance;
}

HTTPThread::HTTPThread()
    : thread_(nullptr),
      stop_(false),
      exited_(false),
      startCount_(0),
      exitHandlerInstalled_(false),
      multi_(nullptr),
      proxyCached_(false) {}

bool HTTPThread::IsDownloadThread() const { return tOnDownloadThread; }

void HTTPThread::Ensure() {
    if (tOnDownloadThread) return;
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    {
        std::lock_guard<std::mutex> lock(proxyMutex_);
        if (!proxyCached_) {
            proxy_ = ProxySettings::FromEnvironment();
            proxyCached_ = true;
        }
    }
    if (thread_ != nullptr) {
        // A process that is terminating has its loops end on purpose: no new thread then.
        if (!exited_.load() || SV::GetTerminateFlag()->load()) return;
        // The loop ended without being asked to (an escaped failure): join what is left of
        // that thread and start another, or every later transfer would wait for ever. The
        // transfer set and the queued tasks are kept, so open requests carry on.
        DebugPrint("HTTPThread: the download thread ended on its own; starting another\n");
        thread_->WaitForExit(SV::kInfiniteWait);
        delete thread_;
        thread_ = nullptr;
    }
    if (!exitHandlerInstalled_) {
        // The library's own set-up first: its exit handlers are then registered before ours
        // and run after it, once our thread is gone.
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw SV::SVLibraryException(SV::SVL_TransportIo, "Could not set up transfers");
        }
        std::atexit(&HTTPThread::StopAtExit);
        exitHandlerInstalled_ = true;
    }
    // Only the thread that ended on its own leaves a transfer set behind.
    CURLM* made = nullptr;
    if (multi_ == nullptr) {
        made = SV::CurlMultiInitCloseOnExec();
        if (made == nullptr) {
            throw SV::SVLibraryException(SV::SVL_TransportIo, "Could not create transfer set");
        }
        std::lock_guard<std::mutex> lock(postMutex_);
        multi_ = made;
    }
    stop_ = false;
    exited_ = false;
    SV::Thread* thread = nullptr;
    try {
        thread =
            new SV::Thread("HTTPClient", new SV::CppFunctorNoP<HTTPThread>(&HTTPThread::Run, this),
                           true, false, 3);
        thread->Start();
    } catch (...) {
        delete thread;
        if (made != nullptr) {
            std::lock_guard<std::mutex> lock(postMutex_);
            multi_ = nullptr;
            curl_multi_cleanup(made);
        }
        throw;
    }
    thread_ = thread;
    ++startCount_;
}

void HTTPThread::Shutdown() {
    if (!tOnDownloadThread) {
        std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
        if (StopThread()) CloseAllAndReap();
        CURLM* multi = nullptr;
        {
            std::lock_guard<std::mutex> lock(postMutex_);
            multi = multi_;
            multi_ = nullptr;
        }
        if (multi != nullptr) curl_multi_cleanup(multi);
    } else {
        DebugPrint("HTTPThread::Shutdown on the download thread: the thread keeps running\n");
    }
    std::lock_guard<std::mutex> lock(proxyMutex_);
    proxyCached_ = false;
    proxy_ = ProxySettings();
}

bool HTTPThread::StopThread() {
    if (thread_ == nullptr) return false;
    stop_ = true;
    {
        std::lock_guard<std::mutex> lock(postMutex_);
        if (multi_ != nullptr) curl_multi_wakeup(multi_);
    }
    // Joined without any lock the thread may want (it posts and reaps while it ends).
    thread_->WaitForExit(SV::kInfiniteWait);
    delete thread_;
    thread_ = nullptr;
    return true;
}

void HTTPThread::StopAtExit() {
    // Only stop and join: the owners of open transports may already be gone, so nothing is
    // closed or released here.
    HTTPThread& self = Instance();
    std::lock_guard<std::mutex> lifecycle(self.lifecycleMutex_);
    self.StopThread();
}

void HTTPThread::CloseAllAndReap() {
    // The thread has been joined: this thread alone uses the transfer set now.
    std::vector<boost::shared_ptr<CurlHTTPClientInterface>> owners;
    {
        std::lock_guard<std::mutex> lock(delegatesMutex_);
        for (CurlHTTPClientInterfaceDelegate* delegate : delegates_) {
            owners.push_back(delegate->GetOwnerPointer());
        }
    }
    for (const boost::shared_ptr<CurlHTTPClientInterface>& owner : owners) {
        owner->CloseStreamInTask();
    }
    // Queued start tasks would look for delegates that are about to go.
    tasks_.RemoveTasks(0xFFFFFFFFu, StackIdAny);
    {
        std::lock_guard<std::mutex> lock(delegatesMutex_);
        for (CurlHTTPClientInterfaceDelegate* delegate : delegates_) {
            delegate->MarkToBeDeleted();
            delegate->MarkStartHandled();
        }
    }
    owners.clear();
    ReapDelegates();
}

void HTTPThread::Post(const boost::shared_ptr<Task>& task) {
    std::lock_guard<std::mutex> lock(postMutex_);
    tasks_.AddTask(task);
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

ProxySettings HTTPThread::GetProxySettings() {
    std::lock_guard<std::mutex> lock(proxyMutex_);
    return proxy_;
}

CurlHTTPClientInterfaceDelegate* HTTPThread::CreateDelegate(
    const boost::shared_ptr<CurlHTTPClientInterface>& owner) {
    CurlHTTPClientInterfaceDelegate* delegate = new CurlHTTPClientInterfaceDelegate(owner);
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    delegates_.insert(delegate);
    return delegate;
}

CurlHTTPClientInterfaceDelegate* HTTPThread::FindDelegate(const CurlHTTPClientInterface* owner) {
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    for (CurlHTTPClientInterfaceDelegate* delegate : delegates_) {
        if (delegate->GetOwner() == owner) return delegate;
    }
    return nullptr;
}

void HTTPThread::MarkDelegatesToBeDeleted(const CurlHTTPClientInterface* owner) {
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    for (CurlHTTPClientInterfaceDelegate* delegate : delegates_) {
        if (delegate->GetOwner() == owner) delegate->MarkToBeDeleted();
    }
}

void HTTPThread::ReapDelegates() {
    std::vector<CurlHTTPClientInterfaceDelegate*> reaped;
    {
        std::lock_guard<std::mutex> lock(delegatesMutex_);
        for (std::set<CurlHTTPClientInterfaceDelegate*>::iterator it = delegates_.begin();
             it != delegates_.end();) {
            if ((*it)->IsStartHandled() && (*it)->IsToBeDeleted()) {
                reaped.push_back(*it);
                it = delegates_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Outside the lock: the last reference to a transport may go here, and its destructor
    // looks at the set again.
    for (CurlHTTPClientInterfaceDelegate* delegate : reaped) delete delegate;
}

size_t HTTPThread::LiveDelegateCount() {
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    return delegates_.size();
}

void HTTPThread::FinishTransfers() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        char* info = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &info);
        CurlHTTPClientInterfaceDelegate* delegate =
            reinterpret_cast<CurlHTTPClientInterfaceDelegate*>(info);
        if (delegate == nullptr || delegate->IsToBeDeleted()) continue;
        CurlHTTPClientInterface* owner = delegate->GetOwner();
        try {
            owner->TransferFinished(message->data.result);
        } catch (const std::exception& e) {
            // One owner's failing handler must not end the thread every transfer runs on.
            DebugPrint("HTTPThread: finishing a transfer threw: %s\n", e.what());
            CloseAfterFailure(owner);
        } catch (...) {
            DebugPrint("HTTPThread: finishing a transfer threw\n");
            CloseAfterFailure(owner);
        }
    }
}

void HTTPThread::CloseAfterFailure(CurlHTTPClientInterface* owner) {
    // The end may not have reached the point where the request is closed; closing again is
    // harmless, and without it the request and its delegate would stay until shutdown.
    try {
        owner->CloseConnection();
    } catch (...) {
        DebugPrint("HTTPThread: closing after a failed end threw\n");
    }
}

int HTTPThread::Run() {
    SV::ActiveThreadCounter counted;
    tOnDownloadThread = true;
    try {
        while (!stop_.load() && !SV::GetTerminateFlag()->load()) {
            tasks_.RunTasks();
            int running = 0;
            curl_multi_perform(multi_, &running);
            FinishTransfers();
            ReapDelegates();
            if (stop_.load()) break;
            curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
        }
    } catch (const std::exception& e) {
        DebugPrint("HTTPClientThread exception: %s\n", e.what());
    } catch (...) {
        DebugPrint("HTTPClientThread unknown exception\n");
    }
    SV::WriteLine("HTTPThread terminating with " + std::to_string(LiveDelegateCount()) +
                  " active threads");
    tOnDownloadThread = false;
    exited_ = true;
    return 0;
}

void ShutdownCurlHTTPClientInterface() { HTTPThread::Instance().Shutdown(); }

}  // namespace SarvelonMediaKit
