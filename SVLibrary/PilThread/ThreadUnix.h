#ifndef SVLIBRARY_PILTHREAD_THREADUNIX_H
#define SVLIBRARY_PILTHREAD_THREADUNIX_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/PilThread/Event.h"

namespace SV {

// What a thread runs; the result is the thread's exit code.
class RunFunctor {
public:
    virtual ~RunFunctor() {}
    virtual int Run() = 0;
};

// Runs a plain function without parameters.
class CFunctorNoP : public RunFunctor {
public:
    explicit CFunctorNoP(int (*function)()) : function_(function) {}
    int Run() override { return function_(); }

private:
    int (*function_)();
};

// Runs a member function without parameters on an object (virtual members dispatch as usual).
template <typename T>
class CppFunctorNoP : public RunFunctor {
public:
    CppFunctorNoP(int (T::*method)(), T* object) : method_(method), object_(object) {}
    int Run() override { return (object_->*method_)(); }

private:
    int (T::*method_)();
    T* object_;
};

class Thread;

// The POSIX side of a Thread. It is shared between the Thread object and the running thread
// body, so the body never depends on the Thread object still existing.
class ThreadImpl {
public:
    // The name is kept to its first 16 characters; the system thread gets the first 15 (the
    // kernel's limit). The priority is accepted but not applied: every thread runs at the
    // platform's default priority. Throws 0x03 when runFunctor is null.
    ThreadImpl(const char* name, RunFunctor* runFunctor, bool ownsRunFunctor, bool autoDelete,
               int32_t priority, Thread* owner);
    ~ThreadImpl();

    ThreadImpl(const ThreadImpl&) = delete;
    ThreadImpl& operator=(const ThreadImpl&) = delete;

    // Creates the system thread, suspended until Start, with every signal blocked. Throws
    // 0x03 on failure; no thread exists afterwards.
    void Create(const std::shared_ptr<ThreadImpl>& self);

    void Start();
    bool WaitForExit(uint32_t timeoutMilliseconds);
    bool AutoDeleteCheck() const;
    bool IsCallerTheThread() const;

    // The owner's destructor: releases a never-started thread without running its functor,
    // or waits until a started one has returned from its functor, then joins it.
    void Release();

    const char* GetName() const { return name_; }
    int32_t GetExitCode() const { return exitCode_.load(); }
    bool IsEndedByException() const { return endedByException_.load(); }
    bool IsStarted() const { return started_.load(); }
    Exception GetStoredException() const;

private:
    static void* Entry(void* argument);
    void Body();
    void CommonEnding();

    std::atomic<bool> started_{false};
    std::atomic<bool> abandoned_{false};  // released before it was started
    std::atomic<int32_t> exitCode_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> endedByException_{false};
    mutable std::mutex storedExceptionMutex_;
    Exception storedException_;
    pthread_t threadId_{};
    bool created_ = false;
    const bool autoDelete_;
    std::atomic<Thread*> owner_;
    RunFunctor* const runFunctor_;
    const bool ownsRunFunctor_;
    Event exitEvent_;
    Event startEvent_;
    char name_[17];
};

// A named thread running a RunFunctor. It is created suspended and runs the functor once
// Start is called. Whatever the functor throws stays inside the thread (recorded, see
// GetStoredException). A started thread is never cancelled: its owner asks the functor to
// stop by its own means and the destructor waits for the functor to return. A thread that
// was never started is released by the destructor without running its functor.
// An auto-delete thread deletes this object itself when the functor returns; after Start
// no other thread may touch it.
class Thread {
public:
    Thread(const char* name, RunFunctor* runFunctor, bool ownsRunFunctor, bool autoDelete,
           int32_t priority);
    virtual ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Start();
    // True when the thread has ended within the time (kInfiniteWait: without limit).
    bool WaitForExit(uint32_t timeoutMilliseconds);
    bool IsFinished();
    bool IsRunning();
    // True when called on this object's own thread (which can never wait for itself).
    bool IsCallerTheThread() const;

    // False (and nothing stops) when a started auto-delete thread's object is used from
    // another thread, which may find it already deleted.
    bool AutoDeleteCheck() const;

    const char* GetName() const;
    // -2 while the functor runs, then its result; -1 when released without being started.
    int32_t GetExitCode() const;
    bool IsEndedByException() const;
    // What the functor threw: a copy of an SV::Exception, code 0x06 for a std::exception,
    // code 0x07 otherwise (and before anything was thrown).
    Exception GetStoredException() const;

private:
    std::shared_ptr<ThreadImpl> impl_;
};

}  // namespace SV

#endif
