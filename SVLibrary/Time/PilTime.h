#ifndef SVLIBRARY_TIME_PILTIME_H
#define SVLIBRARY_TIME_PILTIME_H

#include <cstdint>

namespace SV {

// Milliseconds: since the Unix epoch when it holds a point in time, a plain count when it
// holds a span. A default-constructed PilTime holds the current time.
class PilTime {
public:
    PilTime() { SetNow(); }
    // A plain value; 0 means "not set" for the stamps that use it.
    explicit PilTime(uint64_t milliseconds) : value_(milliseconds) {}

    static PilTime Now() { return PilTime(); }

    void SetNow();
    void Set(uint64_t milliseconds) { value_ = milliseconds; }
    uint64_t Get() const { return value_; }

    // Checked addition of a signed delta: throws SVLibraryException 0x34 on overflow and 0x35
    // on underflow, leaving the value unchanged.
    PilTime& operator+=(int64_t deltaMilliseconds);

    // Unchecked difference; callers read it as a signed count.
    int64_t operator-(const PilTime& other) const {
        return static_cast<int64_t>(value_ - other.value_);
    }

    bool operator==(const PilTime& other) const { return value_ == other.value_; }
    bool operator!=(const PilTime& other) const { return value_ != other.value_; }
    bool operator<(const PilTime& other) const { return value_ < other.value_; }
    bool operator<=(const PilTime& other) const { return value_ <= other.value_; }
    bool operator>(const PilTime& other) const { return value_ > other.value_; }
    bool operator>=(const PilTime& other) const { return value_ >= other.value_; }

private:
    uint64_t value_ = 0;
};

}  // namespace SV

#endif
