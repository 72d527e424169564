#ifndef TESTS_SUPPORT_BACKGROUNDCALL_H
#define TESTS_SUPPORT_BACKGROUNDCALL_H

// Header-only: runs a blocking call on a thread of its own, so that the test can act from its
// own thread (deliver, abort, stop) while the call waits. Joined at the latest when it goes.

#include <atomic>
#include <functional>
#include <thread>

#include "SVLibrary/Types/SVStatus.h"

namespace SvTestSupport {

class BackgroundCall {
public:
    explicit BackgroundCall(const std::function<SVStatus()>& call)
        : thread_([this, call] {
              status_ = call();
              done_ = true;
          }) {}
    ~BackgroundCall() { Join(); }
    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    // Waits for the call and returns what it returned.
    SVStatus Join() {
        if (thread_.joinable()) thread_.join();
        return status_;
    }
    bool Done() const { return done_; }

private:
    std::atomic<SVStatus> status_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;  // last: the call may finish before the constructor does
};

}  // namespace SvTestSupport

#endif
