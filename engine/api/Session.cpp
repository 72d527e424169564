#include "engine/api/Session.h"

#include <vector>

#include "SVLibrary/Exception/Exception.h"

namespace SarvelonMediaKit {

namespace {

const char kBelowAllocatedTrackers[] =
    "Cannot set session capacity to less than that of allocated trackers";
const char kBelowBytesHeld[] = "Session capacity cannot be set to less than current bytes held";
const char kTrackerTooLarge[] = "Cannot allocate Tracker that large";

}  // namespace

boost::shared_ptr<Session> Session::Create() {
    boost::shared_ptr<Session> session(new Session);
    session->Initialise();
    return session;
}

Session::Session()
    : stack_(StackIdServing), taskManager_(new TaskManager), capacity_(0), unallocated_(0) {}

void Session::Initialise() {
    boost::shared_ptr<MemoryTracker> main(new MemoryTracker(weak_from_this(), 0));
    std::lock_guard<std::mutex> lock(memoryLock_);
    trackers_.push_back(main);
}

Session::~Session() {
    // Its error events reach into the session: stop them before any member goes.
    ErrorInfoMonitor::DetachFromSources();
}

void Session::SetComponentStack(const ComponentStack& stack) {
    stack_ = stack;
}

ComponentStack Session::GetComponentStack() const {
    return stack_;
}

void Session::SetCapacity(ByteAmount bytes) {
    std::vector<boost::shared_ptr<MemoryTracker>> trackers;
    {
        std::lock_guard<std::mutex> lock(memoryLock_);
        if (bytes < capacity_ - unallocated_) {
            throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowAllocatedTrackers);
        }
        trackers.assign(trackers_.begin(), trackers_.end());
    }

    // Asked outside the lock: a tracker asks its users, and a user may hold a lock of its own
    // while it asks the session for room.
    uint64_t held = 0;
    for (size_t i = 0; i < trackers.size(); ++i) held += trackers[i]->BytesUsed();
    if (bytes < held) throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowBytesHeld);

    std::lock_guard<std::mutex> lock(memoryLock_);
    // Trackers may have been allocated meanwhile.
    const uint32_t allocated = capacity_ - unallocated_;
    if (bytes < allocated) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowAllocatedTrackers);
    }
    unallocated_ = bytes - allocated;
    capacity_ = bytes;
}

boost::shared_ptr<MemoryTracker> Session::AllocateTracker(ByteAmount bytes) {
    std::lock_guard<std::mutex> lock(memoryLock_);
    if (unallocated_ < bytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, kTrackerTooLarge);
    }
    boost::shared_ptr<MemoryTracker> tracker(new MemoryTracker(weak_from_this(), bytes));
    trackers_.push_back(tracker);
    unallocated_ -= bytes;
    return tracker;
}

void Session::ReleaseTracker(MemoryTracker* tracker) {
    // Declared before the lock, so the session's share goes only after the lock is given up.
    boost::shared_ptr<MemoryTracker> released;
    std::lock_guard<std::mutex> lock(memoryLock_);
    if (trackers_.empty()) return;
    std::list<boost::shared_ptr<MemoryTracker>>::iterator it = trackers_.begin();
    for (++it; it != trackers_.end(); ++it) {
        if (it->get() == tracker) {
            unallocated_ += tracker->GetOwnLimit();
            released.swap(*it);
            trackers_.erase(it);
            break;
        }
    }
}

boost::shared_ptr<MemoryTracker> Session::GetMemoryTracker() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return trackers_.empty() ? boost::shared_ptr<MemoryTracker>() : trackers_.front();
}

ByteAmount Session::GetUnallocatedCapacity() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return unallocated_;
}

ByteAmount Session::GetCapacity() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return capacity_;
}

void Session::AddTask(const boost::shared_ptr<Task>& task) {
    taskManager_->AddTask(task);
}

void Session::RemoveTasks(uint32_t categoryMask, StackId stackId) {
    taskManager_->RemoveTasks(categoryMask, stackId);
}

void Session::SetDropDataTasks() {
    taskManager_->SetDropDataTasks();
}

void Session::ClearDropDataTasks() {
    taskManager_->ClearDropDataTasks();
}

boost::shared_ptr<TaskManager> Session::GetTaskManager() const {
    return taskManager_;
}

}  // namespace SarvelonMediaKit
