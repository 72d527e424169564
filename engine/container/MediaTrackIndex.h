#ifndef ENGINE_CONTAINER_MEDIATRACKINDEX_H
#define ENGINE_CONTAINER_MEDIATRACKINDEX_H

#include <cstdint>
#include <memory>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

// A track's seek index: its byte range in the file, its timing and a table of (time, byte
// position) entries in increasing order, with conversions between media time (microseconds)
// and file position. Times in the table are ticks of the timescale (90 kHz for program-stream
// tracks); ticks and microseconds convert with 64-bit truncating arithmetic, and every
// conversion treats a timescale of 0 as giving 0 rather than dividing by it.
class MediaTrackIndex {
public:
    struct Entry {
        uint32_t time;      // ticks from the track start
        uint64_t position;  // absolute byte position in the file
    };

    MediaTrackIndex();
    MediaTrackIndex(const MediaTrackIndex& other);
    MediaTrackIndex& operator=(const MediaTrackIndex& other);
    ~MediaTrackIndex();

    uint64_t GetOffset() const { return offset_; }
    void SetOffset(uint64_t offset) { offset_ = offset; }
    uint64_t GetSize() const { return size_; }
    void SetSize(uint64_t size) { size_ = size; }
    uint32_t GetTimescale() const { return timescale_; }
    void SetTimescale(uint32_t timescale) { timescale_ = timescale; }
    uint32_t GetDuration() const { return duration_; }
    void SetDuration(uint32_t duration) { duration_ = duration; }
    uint32_t GetFrameDuration() const { return frameDuration_; }
    void SetFrameDuration(uint32_t ticks) { frameDuration_ = ticks; }
    uint32_t GetAdaptationInterval() const { return adaptationInterval_; }
    void SetAdaptationInterval(uint32_t ticks) { adaptationInterval_ = ticks; }
    ByteAmount GetPeakByteRate() const { return peakByteRate_; }

    uint32_t GetCount() const { return count_; }
    uint32_t GetCapacity() const { return capacity_; }
    // The entries in use (null when there are none).
    const Entry* GetEntries() const { return entries_.get(); }

    // Makes room for exactly n entries, keeping the first min(count, n). n equal to the
    // capacity changes nothing. False (and no change) when the memory cannot be had.
    bool Reserve(uint32_t n);
    // Appends an entry; false when the reserved room is used up.
    bool AddEntry(uint32_t time, uint64_t position);
    // Adopts an array of n entries in place of the table.
    void SetEntries(std::unique_ptr<Entry[]> entries, uint32_t n);

    // The position of the entry for a media time: the entry at that time, else the one
    // before it (or the first), or with forward the one after it. time is set to the entry's
    // time. No entries: the offset, time unchanged. A time beyond the duration, or forward
    // past the last entry: offset + size, time set to the duration.
    BytePosition TimeToPosition(MediaTime& time, bool forward) const;
    // The mirror over positions: position is set to the entry's position and its time is
    // returned. Below the offset: the offset and 0; beyond offset + size: offset + size and the
    // duration; no entries: the offset and 0.
    MediaTime PositionToTime(BytePosition& position, bool forward) const;
    // The byte range of the entry holding a position: from the entry at or before it to the
    // next entry (or offset + size). True when the position lies in it.
    bool GetEntryBounds(BytePosition position, BytePosition& start, BytePosition& end) const;
    // Time at a position by linear interpolation between the entries around it.
    MediaTime InterpolateTime(BytePosition position) const;
    // The highest byte rate over any stretch of about window length between entries; the mean
    // rate (size over duration) when there is none.
    void ComputePeakByteRate(MediaTime window);

    uint64_t TicksToMicroseconds(uint64_t ticks) const;
    uint64_t MicrosecondsToTicks(uint64_t microseconds) const;

private:
    // Index of the first entry whose key is not below the given value (count when none).
    uint32_t LowerBoundTime(uint64_t ticks) const;
    uint32_t LowerBoundPosition(uint64_t position) const;

    uint64_t offset_;
    uint64_t size_;
    uint32_t timescale_;
    uint32_t duration_;
    uint32_t frameDuration_;
    uint32_t adaptationInterval_;
    ByteAmount peakByteRate_;
    std::unique_ptr<Entry[]> entries_;
    uint32_t count_;
    uint32_t capacity_;
};

}  // namespace SarvelonMediaKit

#endif
