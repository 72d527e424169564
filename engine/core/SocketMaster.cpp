#include "engine/core/SocketMaster.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/SocketDelegate.h"

namespace SarvelonMediaKit {

namespace {

// The longest wait of one pass without a wake-up descriptor, and the pause after a failed one.
const int kPassMilliseconds = 100;

// The master whose thread this is, so Stop does not wait for itself.
thread_local const SocketMaster* tCurrentMaster = nullptr;

}  // namespace

SocketMaster::SocketMaster(const boost::shared_ptr<TaskManager>& taskManager)
    : taskManager_(taskManager),
      nextGeneration_(0),
      thread_(nullptr),
      wakeFd_(-1),
      stopRequested_(false),
      stopped_(false) {}

SocketMaster::~SocketMaster() {
    Stop();
    // When the thread was left to finish on its own (Stop on its own thread), the descriptor
    // is still its; that thread has been joined here in every other case.
    SV::Thread* thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(threadLock_);
        thread = thread_;
        thread_ = nullptr;
    }
    delete thread;
    const int fd = wakeFd_.exchange(-1);
    if (fd >= 0) close(fd);
}

void SocketMaster::SetTaskManager(const boost::shared_ptr<TaskManager>& taskManager) {
    std::lock_guard<std::mutex> lock(taskManagerLock_);
    taskManager_ = taskManager;
}

boost::shared_ptr<TaskManager> SocketMaster::GetTaskManager() const {
    std::lock_guard<std::mutex> lock(taskManagerLock_);
    return taskManager_;
}

void SocketMaster::SetSocketClosedHandler(const SocketClosedHandler& handler) {
    std::lock_guard<std::mutex> lock(closedLock_);
    closedHandler_ = handler;
}

void SocketMaster::RegisterDelegate(SocketDelegate* delegate) {
    if (delegate == nullptr) return;
    SV::ScopedLock lock(tableLock_);
    delegates_[delegate];  // an empty list unless present
}

void SocketMaster::UnregisterDelegate(SocketDelegate* delegate) {
    SV::ScopedLock lock(tableLock_);
    std::map<SocketDelegate*, std::vector<int>>::iterator entry = delegates_.find(delegate);
    if (entry == delegates_.end()) return;
    const std::vector<int> fds = entry->second;
    // Its sockets go unreported: queued as closed, the socket thread could hand one to the
    // closed-socket handler before the purge below, naming a delegate that may be gone.
    for (size_t i = 0; i < fds.size(); ++i) ForgetSocket(fds[i]);
    delegates_.erase(delegate);
    // A delegate that has left may be destroyed at any time: it is not handed out any more.
    std::lock_guard<std::mutex> closedLock(closedLock_);
    closed_.erase(std::remove_if(closed_.begin(), closed_.end(),
                                 [delegate](const std::pair<int, SocketDelegate*>& c) {
                                     return c.second == delegate;
                                 }),
                  closed_.end());
    if (!fds.empty()) Wake();
}

void SocketMaster::AddSocket(int fd, SocketDelegate* delegate) {
    if (fd < 0 || delegate == nullptr) return;
    Start();
    SV::ScopedLock lock(tableLock_);
    std::map<int, Watched>::iterator existing = sockets_.find(fd);
    if (existing != sockets_.end() && existing->second.delegate != delegate) {
        std::vector<int>& previous = delegates_[existing->second.delegate];
        previous.erase(std::remove(previous.begin(), previous.end(), fd), previous.end());
    }
    // A new generation: a readiness seen for an earlier registration of the same number is
    // not handed to this one.
    Watched watched = {delegate, ++nextGeneration_};
    sockets_[fd] = watched;
    std::vector<int>& list = delegates_[delegate];
    if (std::find(list.begin(), list.end(), fd) == list.end()) list.push_back(fd);
    // The wait has no time-out: it starts over with the new socket in it.
    Wake();
}

SocketDelegate* SocketMaster::ForgetSocket(int fd) {
    std::map<int, Watched>::iterator entry = sockets_.find(fd);
    if (entry == sockets_.end()) return nullptr;
    SocketDelegate* delegate = entry->second.delegate;
    sockets_.erase(entry);
    std::map<SocketDelegate*, std::vector<int>>::iterator owner = delegates_.find(delegate);
    if (owner != delegates_.end()) {
        std::vector<int>& list = owner->second;
        list.erase(std::remove(list.begin(), list.end(), fd), list.end());
    }
    return delegate;
}

void SocketMaster::RemoveSocket(int fd) {
    if (fd < 0) return;
    SV::ScopedLock lock(tableLock_);
    SocketDelegate* delegate = ForgetSocket(fd);
    if (delegate == nullptr) return;
    {
        std::lock_guard<std::mutex> closedLock(closedLock_);
        closed_.push_back(std::make_pair(fd, delegate));
    }
    // A socket being polled stays alive in the kernel until the poll returns, even once its
    // descriptor is closed: a listening socket would go on taking connections for up to a
    // whole wait. Cut the wait short so the socket goes when its owner closes it.
    Wake();
}

void SocketMaster::PostTask(const boost::shared_ptr<Task>& task) {
    boost::shared_ptr<TaskManager> taskManager = SocketMaster::GetTaskManager();
    if (taskManager) {
        taskManager->AddTask(task);
    } else {
        DebugPrint("SocketMaster::PostTask: no task queue, task dropped\n");
    }
}

void SocketMaster::Start() {
    if (stopRequested_) return;
    std::lock_guard<std::mutex> lock(threadLock_);
    // Checked again under the lock: Stop sets the flag before it takes the lock, so either we
    // see it here or Stop finds the thread we make.
    if (thread_ != nullptr || stopRequested_) return;
    // Without it a stop is still seen, only at the end of the current wait.
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = new SV::Thread("SocketMaster",
                             new SV::CppFunctorNoP<SocketMaster>(&SocketMaster::Run, this), true,
                             false, 3);
    thread_->Start();
}

void SocketMaster::RequestStop() {
    stopRequested_ = true;
    Wake();
}

void SocketMaster::Stop() {
    RequestStop();
    if (tCurrentMaster == this) return;
    SV::Thread* thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(threadLock_);
        thread = thread_;
        thread_ = nullptr;
    }
    // Its destructor waits until the loop has returned.
    delete thread;
    stopped_ = true;
}

void SocketMaster::Wake() {
    const int fd = wakeFd_;
    if (fd < 0) return;
    const uint64_t one = 1;
    ssize_t written = write(fd, &one, sizeof one);
    (void)written;  // a full counter already wakes the thread
}

void SocketMaster::Idle(int milliseconds) {
    pollfd wake = {wakeFd_, POLLIN, 0};
    if (wake.fd < 0 || poll(&wake, 1, milliseconds) < 0) usleep(milliseconds * 1000);
    if (wake.fd >= 0 && (wake.revents & POLLIN) != 0) DrainWake(wake.fd);
}

void SocketMaster::DrainWake(int fd) {
    // Read back to zero, or every later wait would end at once.
    uint64_t count = 0;
    ssize_t got = read(fd, &count, sizeof count);
    (void)got;  // nothing to read: another pass drained it
}

int SocketMaster::Run() {
    tCurrentMaster = this;
    while (!stopRequested_) {
        bool completed = false;
        try {
            Pass();
            completed = true;
        } catch (...) {
            // Whatever a delegate threw ends its pass; the closed sockets are reported after
            // the next one. The pause keeps a failure that repeats (an accept that keeps
            // failing) from spinning.
            DebugPrint("SocketMaster::Run: exception in a pass\n");
        }
        if (completed) {
            ReportClosedSockets();
        } else {
            Idle(kPassMilliseconds);
        }
    }
    stopped_ = true;
    tCurrentMaster = nullptr;
    return 0;
}

void SocketMaster::Pass() {
    // poll() over a snapshot of the table taken under its lock: any descriptor number works,
    // and registrations may change the table while we wait.
    std::vector<pollfd> fds;
    std::vector<uint64_t> generations;
    {
        SV::ScopedLock lock(tableLock_);
        fds.reserve(sockets_.size() + 1);
        for (std::map<int, Watched>::const_iterator it = sockets_.begin(); it != sockets_.end();
             ++it) {
            pollfd p = {it->first, POLLIN, 0};
            fds.push_back(p);
            generations.push_back(it->second.generation);
        }
    }
    const size_t watchedCount = fds.size();
    const int wakeFd = wakeFd_;
    if (wakeFd >= 0) {
        pollfd p = {wakeFd, POLLIN, 0};
        fds.push_back(p);
    }

    // Every change that matters wakes the wait (a socket added or removed, a stop), and the
    // master has nothing timed to do: without a wake-up descriptor it looks every pass's time.
    const int result = poll(fds.data(), fds.size(), wakeFd >= 0 ? -1 : kPassMilliseconds);
    if (result < 0) {
        if (errno != EINTR) Idle(kPassMilliseconds);
        return;
    }
    if (result == 0) return;
    if (wakeFd >= 0 && (fds[watchedCount].revents & POLLIN) != 0) DrainWake(wakeFd);

    bool invalid = false;
    for (size_t i = 0; i < watchedCount && !stopRequested_; ++i) {
        const short events = fds[i].revents;
        if ((events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) continue;
        if (events & POLLNVAL) invalid = true;
        const int fd = fds[i].fd;
        SV::ScopedLock lock(tableLock_);
        std::map<int, Watched>::iterator entry = sockets_.find(fd);
        // Gone, or registered anew since the snapshot: not this readiness's owner.
        if (entry == sockets_.end() || entry->second.generation != generations[i]) continue;
        entry->second.delegate->DoSocketReadable(fd);
    }
    // A descriptor closed behind our back stays invalid until its owner removes it.
    if (invalid) Idle(kPassMilliseconds);
}

void SocketMaster::ReportClosedSockets() {
    std::vector<std::pair<int, SocketDelegate*>> closed;
    SocketClosedHandler handler;
    {
        std::lock_guard<std::mutex> lock(closedLock_);
        closed.swap(closed_);
        handler = closedHandler_;
    }
    // No lock is held here: the handler may stop the session, which waits for threads that
    // take these locks.
    if (!handler) return;
    for (size_t i = 0; i < closed.size(); ++i) {
        try {
            handler(closed[i].first, closed[i].second);
        } catch (...) {
            DebugPrint("SocketMaster: closed-socket handler threw\n");
        }
    }
}

}  // namespace SarvelonMediaKit
