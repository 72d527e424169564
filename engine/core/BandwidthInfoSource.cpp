#include "engine/core/BandwidthInfoSource.h"

#include <boost/bind/bind.hpp>

#include "engine/core/DefaultBandwidth.h"

namespace SarvelonMediaKit {

using boost::placeholders::_1;

namespace {

const int64_t kWindowMilliseconds = 5000;
const uint64_t kWindowBytes = 10485760;       // 10 MiB
const int64_t kReportInterval = 500;          // ms between reports, and the shortest span
const uint64_t kEnoughForShortSpan = 819200;  // bytes that make a shorter span meaningful

int64_t Signed(const SV::PilTime& time) { return static_cast<int64_t>(time.Get()); }

}  // namespace

BandwidthInfoSource::BandwidthEvent::BandwidthEvent(const SV::PilTime& eventTime, uint32_t bytes)
    : isStart(bytes == 0), time(eventTime), amount(bytes) {}

BandwidthInfoSource::BandwidthInfoSource() : BandwidthInfoSource(Clock(&SV::PilTime::Now)) {}

BandwidthInfoSource::BandwidthInfoSource(const Clock& clock)
    : totalBytes_(0),
      idleTime_(0),
      skipBytes_(0),
      lastReport_(0),
      lastBandwidth_(0),
      clock_(clock ? clock : Clock(&SV::PilTime::Now)) {
    lastReport_ = clock_();
}

BandwidthInfoSource::~BandwidthInfoSource() {
    // Detach before the measurement state goes.
    DetachAll();
}

void BandwidthInfoSource::RecordStart(const SV::PilTime& time, unsigned skip) {
    if (!HasMonitors()) return;
    if (events_.empty() || !events_.back().isStart) {
        events_.push_back(BandwidthEvent(time, 0));
        Prune(time);
    }
    skipBytes_ = skip;
}

void BandwidthInfoSource::RecordData(const SV::PilTime& time, unsigned bytes) {
    if (!HasMonitors()) return;
    if (!events_.empty() && events_.back().isStart) {
        BandwidthEvent& start = events_.back();
        if (start.time > time) return;
        if (skipBytes_ != 0) {
            skipBytes_ = bytes < skipBytes_ ? skipBytes_ - bytes : 0;
            return;
        }
        start.amount = static_cast<uint32_t>(time.Get() - start.time.Get());
        idleTime_ += start.amount;
    }
    events_.push_back(BandwidthEvent(time, bytes));
    totalBytes_ += bytes;
    Prune(time);
}

int64_t BandwidthInfoSource::IdleAt(int64_t now) const {
    int64_t idle = idleTime_;
    if (!events_.empty() && events_.back().isStart) {
        const int64_t waiting = now - Signed(events_.back().time);
        if (waiting > 0) idle += waiting;
    }
    return idle;
}

void BandwidthInfoSource::Prune(const SV::PilTime& now) {
    // Signed: with small times an unsigned cut-off would wrap past every event and empty the
    // window.
    const int64_t cutoff = Signed(now) - kWindowMilliseconds - IdleAt(Signed(now));
    while (!events_.empty()) {
        const BandwidthEvent& first = events_.front();
        if (Signed(first.time) >= cutoff && totalBytes_ <= kWindowBytes) break;
        if (first.isStart) {
            idleTime_ -= first.amount;
        } else {
            totalBytes_ -= first.amount;
        }
        events_.pop_front();
    }
}

void BandwidthInfoSource::Publish() {
    if (!HasMonitors()) return;
    if (events_.empty() || totalBytes_ == 0) return;

    const SV::PilTime now = clock_();
    if (now - lastReport_ < kReportInterval) return;

    const int64_t idle = IdleAt(Signed(now));
    const int64_t span = Signed(now) - Signed(events_.front().time);
    if (!(idle < span)) return;
    const uint64_t rate = totalBytes_ * 1000 / static_cast<uint64_t>(span - idle);
    if (!(span > kReportInterval || totalBytes_ > kEnoughForShortSpan)) return;

    const uint32_t value = rate >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
    Notify(value, true);
    lastReport_ = now;
}

void BandwidthInfoSource::Notify(ByteAmount bandwidth, bool measured) {
    lastBandwidth_ = bandwidth.Get();
    SetDefaultBandwidth(bandwidth);
    PublishToMonitors(boost::bind(&BandwidthInfoMonitor::BandwidthUpdate, _1, bandwidth, measured));
}

}  // namespace SarvelonMediaKit
