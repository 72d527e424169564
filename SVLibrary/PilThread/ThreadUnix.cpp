#include "SVLibrary/PilThread/ThreadUnix.h"

#include <cxxabi.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstring>

#include "SVLibrary/Output/DebugPrint.h"

namespace SV {

namespace {

constexpr size_t kNameLength = 16;
constexpr size_t kSystemNameLength = 15;  // the kernel keeps 15 characters and a NUL

// Prepares the attributes of a new thread; false (attributes destroyed) on failure.
bool SetAttributes(pthread_attr_t* attr, bool detached) {
    if (pthread_attr_init(attr) != 0) {
        DebugPrint("Create Thread Failed (attr_init)\n");
        return false;
    }
    bool ok = true;
    if (detached && pthread_attr_setdetachstate(attr, PTHREAD_CREATE_DETACHED) != 0) {
        DebugPrint("Create Thread Failed (detach)\n");
        ok = false;
    }
    int rc = 0;
    if (ok && (rc = pthread_attr_setschedpolicy(attr, SCHED_OTHER)) != 0) {
        DebugPrint("Create Thread Failed (policy) %s\n", strerror(rc));
        ok = false;
    }
    if (ok && pthread_attr_setscope(attr, PTHREAD_SCOPE_SYSTEM) != 0) {
        DebugPrint("Create Thread Failed (scope)\n");
        ok = false;
    }
    if (!ok) pthread_attr_destroy(attr);
    return ok;
}

}  // namespace

ThreadImpl::ThreadImpl(const char* name, RunFunctor* runFunctor, bool ownsRunFunctor,
                       bool autoDelete, int32_t /*priority*/, Thread* owner)
    : storedException_(SVLibraryException(SVL_ThreadExitUnknownException)),
      autoDelete_(autoDelete),
      owner_(owner),
      runFunctor_(runFunctor),
      ownsRunFunctor_(ownsRunFunctor),
      exitEvent_(false),
      startEvent_(false) {
    std::memset(name_, 0, sizeof name_);
    if (name != nullptr) std::strncpy(name_, name, kNameLength);
    if (runFunctor_ == nullptr) {
        DebugPrint("Create Thread Failed (null RunFunctor)");
        throw SVLibraryException(SVL_ThreadCreation, "Create Thread Failed (null RunFunctor)");
    }
}

ThreadImpl::~ThreadImpl() {
    if (ownsRunFunctor_) delete runFunctor_;
}

void ThreadImpl::Create(const std::shared_ptr<ThreadImpl>& self) {
    // The new thread inherits the creator's signal mask: block everything around the
    // creation so no signal is ever delivered to a library thread.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    int rc = pthread_sigmask(SIG_SETMASK, &all, &old);
    if (rc != 0) {
        DebugPrint("Create Thread Failed (sigmask block) %s\n", strerror(rc));
        throw SVLibraryException(SVL_ThreadCreation, "Create Thread Failed (sigmask block)");
    }
    pthread_attr_t attr;
    if (!SetAttributes(&attr, autoDelete_)) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw SVLibraryException(SVL_ThreadCreation, "SetAttributes failed");
    }
    // The body keeps its own reference to this object for as long as it runs.
    auto* bodyReference = new std::shared_ptr<ThreadImpl>(self);
    rc = pthread_create(&threadId_, &attr, &ThreadImpl::Entry, bodyReference);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete bodyReference;
        DebugPrint("Create Thread Failed (gprof) %s\n", strerror(rc));
        throw SVLibraryException(SVL_ThreadCreation, "Create Thread Failed (gprof)");
    }
    created_ = true;
    // Named from here rather than from the body, so the name is visible as soon as the
    // constructor returns.
    char systemName[kSystemNameLength + 1];
    const size_t length = std::min(std::strlen(name_), kSystemNameLength);
    std::memcpy(systemName, name_, length);
    systemName[length] = '\0';
    pthread_setname_np(threadId_, systemName);
}

void* ThreadImpl::Entry(void* argument) {
    std::shared_ptr<ThreadImpl> self;
    {
        auto* reference = static_cast<std::shared_ptr<ThreadImpl>*>(argument);
        self.swap(*reference);
        delete reference;
    }
    self->Body();
    return nullptr;
}

void ThreadImpl::Body() {
    try {
        startEvent_.Wait(kInfiniteWait);
    } catch (...) {
        // Cannot tell whether we were started: run nothing.
        return;
    }
    // Released before being started: the releasing thread did the ending already.
    if (abandoned_.load()) return;

    exitCode_ = -2;
    try {
        const int result = runFunctor_->Run();
        exitCode_ = result;
        finished_ = true;
    } catch (abi::__forced_unwind&) {
        // pthread_exit inside the functor: let the unwinding finish, but wake the waiters.
        endedByException_ = true;
        CommonEnding();
        throw;
    } catch (const Exception& e) {
        {
            std::lock_guard<std::mutex> lock(storedExceptionMutex_);
            storedException_ = e;
        }
        endedByException_ = true;
        DebugPrint("ALERT:: \" %s \" Thread exiting with SV Exception: %s\n", name_, e.what());
    } catch (const std::exception& e) {
        {
            std::lock_guard<std::mutex> lock(storedExceptionMutex_);
            storedException_ = SVLibraryException(SVL_ThreadExitStdException);
        }
        endedByException_ = true;
        DebugPrint("ALERT:: \" %s \" Thread exiting with std Exception: %s\n", name_, e.what());
    } catch (...) {
        endedByException_ = true;
        DebugPrint("ALERT:: \" %s \" Thread exiting with Unknown Exception\n", name_);
    }
    CommonEnding();
}

void ThreadImpl::CommonEnding() {
    exitEvent_.Set();
    if (!autoDelete_) return;
    // Whoever takes the owner deletes it: normally this body, unless another thread already
    // destroys the object (which it must not do, but then it must not be deleted twice).
    Thread* owner = owner_.exchange(nullptr);
    delete owner;
}

void ThreadImpl::Start() {
    if (!AutoDeleteCheck()) return;
    started_ = true;
    startEvent_.Set();
}

bool ThreadImpl::WaitForExit(uint32_t timeoutMilliseconds) {
    AutoDeleteCheck();
    return exitEvent_.Wait(timeoutMilliseconds);
}

bool ThreadImpl::IsCallerTheThread() const {
    return created_ && pthread_equal(pthread_self(), threadId_) != 0;
}

bool ThreadImpl::AutoDeleteCheck() const {
    if (started_.load() && autoDelete_ && !IsCallerTheThread()) {
        DebugPrint("AutoDeleteCheck: auto-delete thread \"%s\" used from another thread\n", name_);
        return false;
    }
    return true;
}

Exception ThreadImpl::GetStoredException() const {
    std::lock_guard<std::mutex> lock(storedExceptionMutex_);
    return storedException_;
}

void ThreadImpl::Release() {
    AutoDeleteCheck();
    // From now on the body must not delete the owner: its destructor is running.
    owner_.store(nullptr);
    if (!created_) return;
    if (IsCallerTheThread()) {
        // The thread destroys its own object: it cannot join itself. Its body still holds
        // this state and finishes on its own.
        if (!autoDelete_) pthread_detach(threadId_);
        return;
    }
    if (!started_.load()) {
        // Never started: end it here and let the body leave without running the functor.
        abandoned_ = true;
        exitCode_ = -1;
        finished_ = true;
        exitEvent_.Set();
        DebugPrint("ALERT \" %s \" Thread has been SV::Terminated\n", name_);
        startEvent_.Set();
    } else {
        exitEvent_.Wait(kInfiniteWait);
    }
    if (!autoDelete_) pthread_join(threadId_, nullptr);
}

Thread::Thread(const char* name, RunFunctor* runFunctor, bool ownsRunFunctor, bool autoDelete,
               int32_t priority) {
    std::shared_ptr<ThreadImpl> impl;
    try {
        impl = std::make_shared<ThreadImpl>(name, runFunctor, ownsRunFunctor, autoDelete, priority,
                                            this);
    } catch (...) {
        if (ownsRunFunctor) delete runFunctor;
        throw;
    }
    // On failure the impl goes away with the functor it owns.
    impl->Create(impl);
    impl_ = std::move(impl);
}

Thread::~Thread() {
    try {
        impl_->Release();
    } catch (...) {
        // Nothing in Release is expected to throw; a destructor must not.
    }
}

void Thread::Start() {
    // An auto-delete thread may delete this object as soon as it is started: keep the
    // shared state alive until Start has returned, and touch nothing of *this afterwards.
    std::shared_ptr<ThreadImpl> impl = impl_;
    impl->Start();
}

bool Thread::WaitForExit(uint32_t timeoutMilliseconds) {
    return impl_->WaitForExit(timeoutMilliseconds);
}

bool Thread::IsFinished() { return WaitForExit(0); }

bool Thread::IsRunning() {
    AutoDeleteCheck();
    return impl_->IsStarted() && !IsFinished();
}

bool Thread::IsCallerTheThread() const { return impl_->IsCallerTheThread(); }

bool Thread::AutoDeleteCheck() const { return impl_->AutoDeleteCheck(); }

const char* Thread::GetName() const { return impl_->GetName(); }

int32_t Thread::GetExitCode() const { return impl_->GetExitCode(); }

bool Thread::IsEndedByException() const { return impl_->IsEndedByException(); }

Exception Thread::GetStoredException() const { return impl_->GetStoredException(); }

}  // namespace SV
