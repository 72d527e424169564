#include "engine/core/ConnectionSlot.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <boost/weak_ptr.hpp>

namespace SarvelonMediaKit {

namespace {

// One count for every connection of the process: the order in which idle times began. Only
// the order matters, so no clock is read.
uint64_t NextIdleStamp() {
    static std::atomic<uint64_t> stamp(0);
    return ++stamp;
}

}  // namespace

ConnectionSlot::ConnectionSlot(const boost::shared_ptr<std::atomic<int>>& count)
    : count_(count),
      fd_(-1),
      counted_(true),
      busy_(false),
      unread_(0),
      idleSince_(NextIdleStamp()),
      answered_(false) {
    ++*count_;
}

ConnectionSlot::~ConnectionSlot() {
    if (counted_) --*count_;
}

void ConnectionSlot::Attach(int fd) {
    std::lock_guard<std::mutex> lock(lock_);
    fd_ = fd;
}

void ConnectionSlot::SetBusy(bool busy) {
    std::lock_guard<std::mutex> lock(lock_);
    if (busy_ && !busy) {
        idleSince_ = NextIdleStamp();
        answered_ = true;
    }
    busy_ = busy;
}

boost::shared_ptr<void> ConnectionSlot::MarkUnread(const boost::shared_ptr<ConnectionSlot>& slot) {
    if (!slot) return boost::shared_ptr<void>();
    ++slot->unread_;
    const boost::weak_ptr<ConnectionSlot> weak(slot);
    return boost::shared_ptr<void>(static_cast<void*>(nullptr), [weak](void*) {
        if (boost::shared_ptr<ConnectionSlot> held = weak.lock()) --held->unread_;
    });
}

bool ConnectionSlot::CutIfIdle() {
    std::lock_guard<std::mutex> lock(lock_);
    if (fd_ < 0 || !counted_) return false;
    // In this order: bytes that have left the socket were marked before they left, and the
    // mark goes only once the protocol has taken them (and marked a request in progress).
    int readable = 0;
    if (ioctl(fd_, FIONREAD, &readable) == 0 && readable > 0) return false;
    if (unread_ > 0 || busy_) return false;
    // Not closed here: the descriptor stays its delegate's, which reads the end and closes it.
    shutdown(fd_, SHUT_RDWR);
    counted_ = false;
    --*count_;
    return true;
}

}  // namespace SarvelonMediaKit
