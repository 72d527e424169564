#include "platform/core/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "SVLibrary/Socket/CurlCloseOnExec.h"
#include "platform/core/SteadyClock.h"

namespace ns {

namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Whole milliseconds, rounded up so that a wait for a timer never ends just before it is due.
long CeilMillis(RunLoop::Duration d) {
    if (d <= RunLoop::Duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return ms > INT_MAX ? INT_MAX : static_cast<long>(ms);
}

// t + d, held at the ends of the clock's range instead of overflowing.
RunLoop::TimePoint SaturatingAdd(RunLoop::TimePoint t, RunLoop::Duration d) {
    if (d > RunLoop::Duration::zero() && t > RunLoop::TimePoint::max() - d) {
        return RunLoop::TimePoint::max();
    }
    if (d < RunLoop::Duration::zero() && t < RunLoop::TimePoint::min() - d) {
        return RunLoop::TimePoint::min();
    }
    return t + d;
}

}  // namespace

RunLoop::RunLoop(std::shared_ptr<Clock> clock)
    : clock_(clock ? std::move(clock) : std::make_shared<SteadyClock>()),
      loopThread_(std::this_thread::get_id()) {
    InitCurlOnce();
    multi_ = SV::CurlMultiInitCloseOnExec();
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

RunLoop::~RunLoop() {
    // The easy handles belong to their owners: take them out, never free them here.
    if (multi_ != nullptr) {
        for (auto& entry : transfers_) curl_multi_remove_handle(multi_, entry.first);
        for (auto& op : pendingOps_) curl_multi_remove_handle(multi_, op.second);
        curl_multi_cleanup(multi_);
    }
    if (wakeFd_ >= 0) close(wakeFd_);
}

RunLoop& RunLoop::Main() {
    static RunLoop* main = [] {
        auto* loop = new RunLoop();
        // Whichever thread happens to touch the main loop first (an engine thread posting an
        // event, say) must not pass for the loop's thread: the first thread to step it does.
        loop->loopThread_.store(std::thread::id());
        return loop;
    }();
    return *main;
}

void RunLoop::Post(std::function<void()> fn) {
    if (!fn) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.push_back(std::move(fn));
    }
    Wake();
}

void RunLoop::Wake() {
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        // A full counter only means a wake-up is already pending.
        ssize_t ignored = write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }
}

void RunLoop::WaitForPost(std::chrono::milliseconds wait) {
    if (wait.count() <= 0 || wakeFd_ < 0) return;
    pollfd wake{wakeFd_, POLLIN, 0};
    const int waitMs = static_cast<int>(std::min<long long>(wait.count(), INT_MAX));
    if (poll(&wake, 1, waitMs) > 0) DrainWakeFd();
}

void RunLoop::DrainWakeFd() {
    if (wakeFd_ < 0) return;
    uint64_t count = 0;
    ssize_t ignored = read(wakeFd_, &count, sizeof count);
    (void)ignored;
}

uint64_t RunLoop::AddTimer(Duration delay, bool repeats, std::function<void()> fn) {
    if (delay < Duration::zero()) delay = Duration::zero();
    Duration interval = delay;
    if (repeats && interval < std::chrono::milliseconds(1)) interval = std::chrono::milliseconds(1);
    TimePoint due = SaturatingAdd(clock_->Now(), delay);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t id = nextTimerId_++;
    timers_.emplace(id, TimerEntry{due, interval, repeats,
                                   std::make_shared<std::function<void()>>(std::move(fn))});
    dueOrder_.emplace(due, id);
    return id;
}

void RunLoop::CancelTimer(uint64_t id) {
    std::shared_ptr<std::function<void()>> doomed;  // destroyed after the lock is released
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    dueOrder_.erase({it->second.due, id});
    doomed = std::move(it->second.fn);
    timers_.erase(it);
}

size_t RunLoop::TimerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.size();
}

CURLM* RunLoop::Multi() { return multi_; }

void RunLoop::AddTransfer(CURL* easy, std::function<void(CURLcode)> done) {
    if (easy == nullptr) return;
    uint64_t serial = nextTransferSerial_++;
    auto fn = std::make_shared<std::function<void(CURLcode)>>(std::move(done));
    auto it = transfers_.find(easy);
    bool alreadyAdded = it != transfers_.end();
    transfers_[easy] = TransferEntry{serial, fn};
    if (alreadyAdded) return;
    if (performDepth_ > 0) {
        pendingOps_.emplace_back(PendingOp::Add, easy);
        return;
    }
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        // Report the failure like any other end of a transfer, on a later step, unless the
        // caller removes the handle first.
        Post([this, easy, serial] {
            auto found = transfers_.find(easy);
            if (found == transfers_.end() || found->second.serial != serial) return;
            auto cb = found->second.done;
            transfers_.erase(found);
            if (*cb) (*cb)(CURLE_FAILED_INIT);
        });
    }
}

void RunLoop::RemoveTransfer(CURL* easy) {
    auto it = transfers_.find(easy);
    if (it == transfers_.end()) return;
    transfers_.erase(it);
    if (performDepth_ > 0) {
        pendingOps_.emplace_back(PendingOp::Remove, easy);
        return;
    }
    curl_multi_remove_handle(multi_, easy);
}

size_t RunLoop::TransferCount() const { return transfers_.size(); }

void RunLoop::RunPosts() {
    // Only what was posted before this step began: a closure that posts again runs next step.
    size_t count;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        count = posts_.size();
    }
    for (size_t i = 0; i < count; ++i) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (posts_.empty()) return;
            fn = std::move(posts_.front());
            posts_.pop_front();
        }
        fn();
    }
}

void RunLoop::RunTimers() {
    const TimePoint now = clock_->Now();
    std::vector<uint64_t> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : dueOrder_) {
            if (entry.first > now) break;
            due.push_back(entry.second);
        }
    }
    for (uint64_t id : due) {
        std::shared_ptr<std::function<void()>> fn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) continue;  // cancelled by an earlier handler
            TimerEntry& timer = it->second;
            if (timer.due > now) continue;
            dueOrder_.erase({timer.due, id});
            fn = timer.fn;
            if (timer.repeats) {
                // Next firing strictly after now: the ones that were missed are skipped.
                // due + interval * missed is at most now; only the last interval can overflow.
                auto missed = (now - timer.due) / timer.interval;
                timer.due = SaturatingAdd(timer.due + timer.interval * missed, timer.interval);
                dueOrder_.emplace(timer.due, id);
            } else {
                timers_.erase(it);
            }
        }
        if (*fn) (*fn)();
    }
}

void RunLoop::PollAndPerform(std::chrono::milliseconds wait) {
    int ready = 0;
    int waitMs = static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX));
    curl_multi_poll(multi_, nullptr, 0, waitMs, &ready);
    int running = 0;
    ++performDepth_;
    curl_multi_perform(multi_, &running);
    --performDepth_;
    std::vector<std::pair<PendingOp, CURL*>> ops;
    ops.swap(pendingOps_);
    for (const auto& op : ops) {
        if (op.first == PendingOp::Remove) {
            curl_multi_remove_handle(multi_, op.second);
            continue;
        }
        auto it = transfers_.find(op.second);
        if (it == transfers_.end()) continue;
        if (curl_multi_add_handle(multi_, op.second) != CURLM_OK) {
            auto cb = it->second.done;
            transfers_.erase(it);
            if (*cb) (*cb)(CURLE_FAILED_INIT);
        }
    }
}

void RunLoop::DispatchCompletions() {
    // Collect first: a completion may remove or re-add other handles, and the serial tells a
    // finished transfer from a new one started on the same easy handle.
    std::vector<std::tuple<CURL*, uint64_t, CURLcode>> finished;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        auto it = transfers_.find(msg->easy_handle);
        if (it == transfers_.end()) continue;
        finished.emplace_back(msg->easy_handle, it->second.serial, msg->data.result);
    }
    for (const auto& [easy, serial, result] : finished) {
        auto it = transfers_.find(easy);
        if (it == transfers_.end() || it->second.serial != serial) continue;
        auto cb = it->second.done;
        transfers_.erase(it);
        curl_multi_remove_handle(multi_, easy);
        if (*cb) (*cb)(result);
    }
}

void RunLoop::RunOnce(std::chrono::milliseconds maxWait) {
    loopThread_.store(std::this_thread::get_id());
    DrainWakeFd();
    RunPosts();
    RunTimers();

    long waitMs = std::max<long long>(0, maxWait.count());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!posts_.empty() || (runDepth_ > 0 && stop_.load())) {
            waitMs = 0;
        } else if (!dueOrder_.empty()) {
            waitMs = std::min(waitMs, CeilMillis(dueOrder_.begin()->first - clock_->Now()));
        }
    }
    if (performDepth_ > 0) {
        // Inside libcurl's callback: the multi handle refuses to be driven again, and handles
        // may not leave it, so only a post can end this wait.
        WaitForPost(std::chrono::milliseconds(waitMs));
    } else {
        PollAndPerform(std::chrono::milliseconds(waitMs));
        DispatchCompletions();
    }

    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = layoutHook_;
    }
    if (hook) hook();
}

bool RunLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // Short steps, so a condition another thread makes true without posting is seen soon.
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        RunOnce(std::min(left, std::chrono::milliseconds(50)));
    }
}

void RunLoop::Run() {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } running(runDepth_);
    do {
        RunOnce(std::chrono::milliseconds(1000));
    } while (!stop_.exchange(false));
}

void RunLoop::Stop() {
    stop_.store(true);
    Wake();
}

void RunLoop::SetLayoutHook(std::function<void()> hook) {
    std::function<void()> old;
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(layoutHook_);
    layoutHook_ = std::move(hook);
}

std::vector<RunLoop::Descriptor> RunLoop::Descriptors() const {
    std::vector<Descriptor> out;
    if (wakeFd_ >= 0) out.push_back({wakeFd_, true, false});
    fd_set readSet, writeSet, errorSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&errorSet);
    int maxFd = -1;
    // libcurl leaves out descriptors at or past FD_SETSIZE; their transfers still move on
    // the deadline that NextDeadline() reports.
    curl_multi_fdset(multi_, &readSet, &writeSet, &errorSet, &maxFd);
    for (int fd = 0; fd <= maxFd && fd < FD_SETSIZE; ++fd) {
        bool r = FD_ISSET(fd, &readSet) || FD_ISSET(fd, &errorSet);
        bool w = FD_ISSET(fd, &writeSet);
        if (r || w) out.push_back({fd, r, w});
    }
    return out;
}

std::optional<RunLoop::TimePoint> RunLoop::NextDeadline() const {
    const TimePoint now = clock_->Now();
    std::optional<TimePoint> next;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!posts_.empty() || (runDepth_ > 0 && stop_.load())) return now;
        if (!dueOrder_.empty()) next = dueOrder_.begin()->first;
    }
    long curlMs = -1;
    if (!transfers_.empty() && curl_multi_timeout(multi_, &curlMs) == CURLM_OK && curlMs >= 0) {
        TimePoint curlDue = now + std::chrono::milliseconds(curlMs);
        if (!next || curlDue < *next) next = curlDue;
    }
    return next;
}

void RunLoop::Dispatch() { RunOnce(std::chrono::milliseconds(0)); }

RunLoop::TimePoint RunLoop::Now() const { return clock_->Now(); }

bool RunLoop::IsLoopThread() const { return loopThread_.load() == std::this_thread::get_id(); }

}  // namespace ns
