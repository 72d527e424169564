#include "engine/container/MediaTrackIndex.h"

#include <algorithm>
#include <new>

#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {
namespace {

typedef unsigned __int128 Wide;

uint64_t Saturate64(Wide value) {
    return value > static_cast<Wide>(UINT64_MAX) ? UINT64_MAX : static_cast<uint64_t>(value);
}

uint32_t Saturate32(Wide value) {
    return value > static_cast<Wide>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(value);
}

}  // namespace

MediaTrackIndex::MediaTrackIndex()
    : offset_(0),
      size_(0),
      timescale_(0),
      duration_(0),
      frameDuration_(0),
      adaptationInterval_(0),
      peakByteRate_(0),
      count_(0),
      capacity_(0) {}

MediaTrackIndex::MediaTrackIndex(const MediaTrackIndex& other)
    : offset_(other.offset_),
      size_(other.size_),
      timescale_(other.timescale_),
      duration_(other.duration_),
      frameDuration_(other.frameDuration_),
      adaptationInterval_(other.adaptationInterval_),
      peakByteRate_(other.peakByteRate_),
      count_(0),
      capacity_(0) {
    if (other.entries_) {
        entries_.reset(new Entry[other.capacity_]);
        std::copy(other.entries_.get(), other.entries_.get() + other.count_, entries_.get());
        count_ = other.count_;
        capacity_ = other.capacity_;
    }
}

MediaTrackIndex& MediaTrackIndex::operator=(const MediaTrackIndex& other) {
    if (this != &other) {
        MediaTrackIndex copy(other);
        offset_ = copy.offset_;
        size_ = copy.size_;
        timescale_ = copy.timescale_;
        duration_ = copy.duration_;
        frameDuration_ = copy.frameDuration_;
        adaptationInterval_ = copy.adaptationInterval_;
        peakByteRate_ = copy.peakByteRate_;
        entries_ = std::move(copy.entries_);
        count_ = copy.count_;
        capacity_ = copy.capacity_;
    }
    return *this;
}

MediaTrackIndex::~MediaTrackIndex() {}

uint64_t MediaTrackIndex::TicksToMicroseconds(uint64_t ticks) const {
    if (timescale_ == 0) return 0;
    return Saturate64(static_cast<Wide>(ticks) * kMicrosecondsPerSecond / timescale_);
}

uint64_t MediaTrackIndex::MicrosecondsToTicks(uint64_t microseconds) const {
    return Saturate64(static_cast<Wide>(microseconds) * timescale_ / kMicrosecondsPerSecond);
}

bool MediaTrackIndex::Reserve(uint32_t n) {
    if (n == capacity_) return true;
    // A table whose byte count does not fit 32 bits is refused rather than allocated short.
    if (static_cast<uint64_t>(n) * sizeof(Entry) > UINT32_MAX) return false;
    std::unique_ptr<Entry[]> fresh(new (std::nothrow) Entry[n]);
    if (!fresh) return false;
    const uint32_t keep = std::min(count_, n);
    if (entries_) std::copy(entries_.get(), entries_.get() + keep, fresh.get());
    entries_ = std::move(fresh);
    capacity_ = n;
    count_ = keep;
    return true;
}

bool MediaTrackIndex::AddEntry(uint32_t time, uint64_t position) {
    if (count_ >= capacity_) return false;
    entries_[count_].time = time;
    entries_[count_].position = position;
    ++count_;
    return true;
}

void MediaTrackIndex::SetEntries(std::unique_ptr<Entry[]> entries, uint32_t n) {
    entries_ = std::move(entries);
    count_ = capacity_ = entries_ ? n : 0;
}

// The standard binary search over [first, first + count): it never probes outside the table.
uint32_t MediaTrackIndex::LowerBoundTime(uint64_t ticks) const {
    const Entry* first = entries_.get();
    return static_cast<uint32_t>(
        std::lower_bound(first, first + count_, ticks,
                         [](const Entry& e, uint64_t t) { return e.time < t; }) -
        first);
}

uint32_t MediaTrackIndex::LowerBoundPosition(uint64_t position) const {
    const Entry* first = entries_.get();
    return static_cast<uint32_t>(
        std::lower_bound(first, first + count_, position,
                         [](const Entry& e, uint64_t p) { return e.position < p; }) -
        first);
}

BytePosition MediaTrackIndex::TimeToPosition(MediaTime& time, bool forward) const {
    if (count_ == 0) return offset_;
    const uint64_t end = offset_ + size_;
    // One microsecond more, so that a time made from an entry's ticks finds that entry again
    // despite the truncation of the conversion.
    const uint64_t ticks =
        Saturate64((static_cast<Wide>(time.Get()) + 1) * timescale_ / kMicrosecondsPerSecond);
    if (ticks > duration_) {
        time = TicksToMicroseconds(duration_);
        return end;
    }
    const uint32_t i = LowerBoundTime(ticks);
    uint32_t chosen;
    if (i < count_ && entries_[i].time == ticks) {
        chosen = i;
    } else if (!forward) {
        chosen = i > 0 ? i - 1 : 0;  // round down, or the first entry
    } else if (i < count_) {
        chosen = i;  // round up
    } else {
        time = TicksToMicroseconds(duration_);
        return end;
    }
    time = TicksToMicroseconds(entries_[chosen].time);
    return entries_[chosen].position;
}

MediaTime MediaTrackIndex::PositionToTime(BytePosition& position, bool forward) const {
    const uint64_t end = offset_ + size_;
    if (position < offset_) {
        position = offset_;
        return 0;
    }
    if (position > end) {
        position = end;
        return TicksToMicroseconds(duration_);
    }
    if (count_ == 0) {
        position = offset_;
        return 0;
    }
    const uint32_t i = LowerBoundPosition(position);
    uint32_t chosen;
    if (i < count_ && entries_[i].position == position) {
        chosen = i;
    } else if (!forward) {
        chosen = i > 0 ? i - 1 : 0;
    } else if (i < count_) {
        chosen = i;
    } else {
        position = end;
        return TicksToMicroseconds(duration_);
    }
    position = entries_[chosen].position;
    return TicksToMicroseconds(entries_[chosen].time);
}

bool MediaTrackIndex::GetEntryBounds(BytePosition position, BytePosition& start,
                                     BytePosition& end) const {
    const uint64_t trackEnd = offset_ + size_;
    if (count_ == 0 || position < offset_ || position > trackEnd) return false;
    const uint32_t i = LowerBoundPosition(position);
    const uint32_t e = (i < count_ && entries_[i].position == position) ? i : (i > 0 ? i - 1 : 0);
    start = entries_[e].position;
    end = e + 1 < count_ ? entries_[e + 1].position : trackEnd;
    return start <= position && position <= end;
}

MediaTime MediaTrackIndex::InterpolateTime(BytePosition position) const {
    const uint64_t trackEnd = offset_ + size_;
    if (count_ == 0 || position < offset_) return 0;
    if (position > trackEnd) return TicksToMicroseconds(duration_);
    const uint32_t i = LowerBoundPosition(position);
    if (i == 0 && entries_[0].position != position) {
        // Before the first entry: nothing to interpolate from.
        return TicksToMicroseconds(entries_[0].time);
    }
    const uint32_t e = (i < count_ && entries_[i].position == position) ? i : i - 1;
    const Entry& from = entries_[e];
    Entry to;
    if (e + 1 < count_) {
        to = entries_[e + 1];
    } else {
        to.time = duration_;
        to.position = trackEnd;
    }
    // Equal positions (a zero byte delta) or times that do not increase leave nothing to
    // divide by: the earlier entry's time.
    if (to.position <= from.position || to.time <= from.time) return TicksToMicroseconds(from.time);
    const uint64_t ticks =
        from.time + Saturate64(static_cast<Wide>(position - from.position) * (to.time - from.time) /
                               (to.position - from.position));
    return TicksToMicroseconds(ticks);
}

void MediaTrackIndex::ComputePeakByteRate(MediaTime window) {
    peakByteRate_ = 0;
    uint32_t peak = 0;
    if (window != 0 && count_ > 0) {
        const int64_t windowTicks =
            static_cast<int64_t>(std::min<uint64_t>(MicrosecondsToTicks(window), INT64_MAX));
        uint32_t e = 1;
        for (uint32_t s = 0; s < count_ && e < count_; ++s) {
            if (e <= s) e = s + 1;  // the end entry always lies after the start entry
            while (e < count_ &&
                   static_cast<int64_t>(entries_[e].time) - entries_[s].time < windowTicks)
                ++e;
            if (e >= count_) break;
            const Entry& from = entries_[s];
            const Entry& to = entries_[e];
            // Equal times (possible when the window is shorter than a tick) give no rate.
            if (to.time <= from.time || to.position < from.position) continue;
            const uint32_t rate = Saturate32(static_cast<Wide>(to.position - from.position) *
                                             timescale_ / (to.time - from.time));
            peak = std::max(peak, rate);
        }
    }
    if (peak == 0 && duration_ != 0)
        peak = Saturate32(static_cast<Wide>(size_) * timescale_ / duration_);
    peakByteRate_ = peak;
}

}  // namespace SarvelonMediaKit
