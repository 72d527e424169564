#include "engine/core/ConnectionSlot.h"

#include <sys/socket.h>

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
    : count_(count), fd_(-1), counted_(true), busy_(false), idleSince_(NextIdleStamp()) {
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
    if (busy_ && !busy) idleSince_ = NextIdleStamp();
    busy_ = busy;
}

bool ConnectionSlot::CutIfIdle() {
    std::lock_guard<std::mutex> lock(lock_);
    if (fd_ < 0 || busy_ || !counted_) return false;
    // Not closed here: the descriptor stays its delegate's, which reads the end and closes it.
    shutdown(fd_, SHUT_RDWR);
    counted_ = false;
    --*count_;
    return true;
}

}  // namespace SarvelonMediaKit
