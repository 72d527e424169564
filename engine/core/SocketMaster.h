#ifndef ENGINE_CORE_SOCKETMASTER_H
#define ENGINE_CORE_SOCKETMASTER_H

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "engine/core/Task.h"
#include "engine/core/TaskManager.h"

namespace SarvelonMediaKit {

class SocketDelegate;

// Watches the sockets of one session for incoming data on a thread "SocketMaster" and hands
// each ready socket to the SocketDelegate that owns it. The delegates read on this thread but
// react only through tasks posted to the session's queue (the TaskManager its pump runs), so
// protocol code never runs here. Sockets removed since the last pass are reported, at the end of
// each pass and on this thread, to a closed-socket handler that the session's owner may install.
//
// The thread starts with the first socket and waits until a socket is ready or the tables
// change or a stop is requested (each wakes it through an event descriptor), so an idle master
// costs no wake-ups. A stopped master is not restarted.
//
// All operations may be called from any thread. A delegate's DoSocketReadable runs with the
// socket table locked: a delegate that leaves the master (RemoveSocket, UnregisterDelegate)
// from another thread waits until its dispatch is over, so it is never called once it has
// left. The closed-socket handler runs with no lock held.
//
// A master must not be destroyed on its own thread (from a delegate or the handler).
class SocketMaster {
public:
    typedef boost::function<void(int, SocketDelegate*)> SocketClosedHandler;

    // The session passes an empty handle and sets its queue right after making its pump.
    explicit SocketMaster(const boost::shared_ptr<TaskManager>& taskManager);
    // Stops the thread (Stop), then lets the tables and the task queue go.
    virtual ~SocketMaster();

    SocketMaster(const SocketMaster&) = delete;
    SocketMaster& operator=(const SocketMaster&) = delete;

    // The task queue the delegates' reactions are posted to (the one the session's pump runs).
    void SetTaskManager(const boost::shared_ptr<TaskManager>& taskManager);
    boost::shared_ptr<TaskManager> GetTaskManager() const;

    // Called on the master's thread with (descriptor, delegate) of each socket removed since
    // the last report, in removal order. The delegate identifies the owner; it may already be
    // gone by the time the handler runs, so the handler must not call it unless it knows.
    void SetSocketClosedHandler(const SocketClosedHandler& handler);

    void RegisterDelegate(SocketDelegate* delegate);
    // Removes every socket the delegate still has here, then the delegate. Sockets of the
    // delegate not yet reported as closed are not reported any more.
    void UnregisterDelegate(SocketDelegate* delegate);

    // Watches fd for the delegate (replacing an earlier owner), registering the delegate if
    // needed and starting the thread. fd -1 is ignored. The descriptor stays the caller's.
    void AddSocket(int fd, SocketDelegate* delegate);
    // Stops watching fd and queues it for the closed-socket report when it was watched. fd -1
    // is ignored. The descriptor is not closed here.
    void RemoveSocket(int fd);

    // Queues the task on the task manager; dropped when none is set yet.
    void PostTask(const boost::shared_ptr<Task>& task);

    // Creates and starts the thread unless it exists or a stop was requested.
    void Start();
    // Asks the thread to end; returns at once.
    void RequestStop();
    // Asks the thread to end and waits until it has (on the master's own thread: only asks).
    void Stop();

    bool IsStopRequested() const { return stopRequested_; }
    // True once the thread's loop has ended.
    bool IsStopped() const { return stopped_; }

private:
    struct Watched {
        SocketDelegate* delegate;
        uint64_t generation;  // which registration of the descriptor this is
    };

    int Run();
    // One wait and the dispatch of what became ready.
    void Pass();
    void ReportClosedSockets();
    // Sleeps up to the time unless a stop request wakes it.
    void Idle(int milliseconds);
    void Wake();
    // Reads the wake-up descriptor back to zero.
    static void DrainWake(int fd);
    // Takes the descriptor out of the tables (the caller holds tableLock_); its delegate, or
    // null when it was not watched.
    SocketDelegate* ForgetSocket(int fd);

    mutable std::mutex taskManagerLock_;
    boost::shared_ptr<TaskManager> taskManager_;

    // The delegate table (each delegate with the descriptors it has here) and the socket table
    // share one recursive lock: a dispatch holds it, and what a delegate does from inside its
    // dispatch (removing its own socket) takes it again.
    SV::Mutex tableLock_;
    std::map<SocketDelegate*, std::vector<int>> delegates_;
    std::map<int, Watched> sockets_;
    uint64_t nextGeneration_;

    // The closed list and the handler; never held while anything else is called.
    std::mutex closedLock_;
    std::vector<std::pair<int, SocketDelegate*>> closed_;
    SocketClosedHandler closedHandler_;

    std::mutex threadLock_;
    SV::Thread* thread_;  // owned, under threadLock_
    // Wakes the thread's wait when a stop is requested; -1 until the thread is made.
    std::atomic<int> wakeFd_;
    std::atomic<bool> stopRequested_;
    std::atomic<bool> stopped_;
};

}  // namespace SarvelonMediaKit

#endif
