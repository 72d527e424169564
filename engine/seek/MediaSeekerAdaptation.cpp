// Bit-rate adaptation of the media seeker: the periodic decision and the switch in the byte
// stream.
#include <boost/make_shared.hpp>

#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/Session.h"
#include "engine/core/TaskManager.h"
#include "engine/seek/MediaSeeker.h"

namespace SarvelonMediaKit {
namespace {

const uint64_t kUnknownPosition = std::numeric_limits<uint64_t>::max();
// A drain whose source hands over nothing this many times in a row stops short rather than
// spinning; the bytes it asks for are loaded, so this only guards a source that misreports.
const int kMostIdlePulls = 4;

// The step of the switch-point search on a track without pictures: its longest group, or,
// when its index records none (an audio index keeps no adaptation interval), the longest span
// between two of its entries (else the whole track) plus one search step. Zero would end the
// search before it starts and leave a chosen language owed for good; the span alone can fall
// a tick short of the next entry (entries sit on audio frames, not on whole seconds) and
// snap back behind the read position, so the search starts half a second further on and
// walks back onto that entry.
uint64_t AudioSwitchStep(const MediaTrack& track, uint64_t longestGop, uint64_t searchStep) {
    if (longestGop != 0) return longestGop;
    const MediaTrackIndex& index = track.GetIndex();
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    uint32_t widest = 0;
    for (uint32_t i = 1; entries && i < index.GetCount(); ++i) {
        if (entries[i].time > entries[i - 1].time && entries[i].time - entries[i - 1].time > widest)
            widest = entries[i].time - entries[i - 1].time;
    }
    if (widest == 0) widest = index.GetDuration();
    return index.TicksToMicroseconds(widest) + searchStep;
}

}  // namespace

ByteAmount MediaSeeker::EffectiveBandwidth(uint64_t bufferedDuration) const {
    const uint32_t measured = bandwidth_.load();
    const float low = static_cast<float>(adaptationBufferTime_) * lowBufferFraction_;
    if (!adapted_ || !(static_cast<float>(bufferedDuration) < low)) return ByteAmount(measured);
    // After a switch a thin buffer counts against the measurement: with the defaults half the
    // bandwidth with nothing buffered, all of it at half the adaptation buffer.
    const float scale =
        (1.0f - lowBufferWeight_) + lowBufferWeight_ * static_cast<float>(bufferedDuration) / low;
    const float scaled = static_cast<float>(measured) * scale;
    // Single precision cannot hold every 32-bit value: the largest ones round up past it.
    if (!(scaled < 4294967040.0f)) return ByteAmount(measured);
    return ByteAmount(scaled > 0.0f ? static_cast<uint32_t>(scaled) : 0u);
}

void MediaSeeker::Adapt() {
    if (!currentTrack_ || tracks_.size() < 2) return;
    if (bandwidth_.load() == 0) bandwidth_ = GetDefaultBandwidth().Get();
    const boost::shared_ptr<Component> source = source_;
    const uint32_t buffered = source ? source->GetBufferedBytes().Get() : 0;
    // A drain in progress, a chain whose pull is held while a seek settles, trick play, or a
    // stream that has ended: nothing to decide now.
    if (memoryCache_) return;
    if (session_ && session_->GetTaskManager() && session_->GetTaskManager()->IsDroppingDataTasks())
        return;
    if (trickRate_ != 0 || ended_) return;

    const MediaTrackIndex& index = currentTrack_->GetIndex();
    const uint32_t rate = index.GetPeakByteRate().Get();
    if (rate == 0) {
        // An empty or zero-length index has no rate to size the buffer by.
        DebugPrint("MediaSeeker::Adapt: track %u has no byte rate\n", currentTrack_->GetId().Get());
        return;
    }
    const uint64_t limit = memoryTracker_ ? memoryTracker_->Limit().Get() : 0;
    const uint64_t longestGop = LongestGopOf(*currentTrack_);
    adaptationBufferTime_ = limit * kMicrosecondsPerSecond / rate;
    switchWindow_ = kSwitchWindowBase + longestGop;
    if (adaptationBufferTime_ > switchWindow_) adaptationBufferTime_ = switchWindow_;
    if (adaptationBufferTime_ < longestGop) {
        DebugPrint("MediaSeeker::Adapt: the adaptation buffer cannot hold one GOP\n");
    }

    if (selectedTrackId_ != 0) {
        if (currentTrack_->GetId() != selectedTrackId_) {
            SwitchToTrack(SelectTrackAtLoadedPosition(ByteAmount(bandwidth_.load()), 0));
        }
        return;
    }

    const BytePosition loaded = CurrentLoadedFilePosition();
    if (loaded == kUnknownPosition) return;
    const uint64_t last = lastMediaTime_.load();
    MediaTime bufferTime(last + adaptationBufferTime_);
    const BytePosition bufferPos = index.TimeToPosition(bufferTime, false);
    MediaTime windowTime(last + switchWindow_);
    const BytePosition windowPos = index.TimeToPosition(windowTime, false);
    const uint64_t front = index.InterpolateTime(loaded).Get();
    const uint64_t back =
        index.InterpolateTime(BytePosition(loaded > buffered ? loaded - buffered : 0)).Get();
    const uint64_t bufferedDuration = front > back ? front - back : 0;

    const boost::shared_ptr<MediaTrack> choice =
        SelectTrackAtLoadedPosition(EffectiveBandwidth(bufferedDuration), 0);
    if (!choice) return;
    const uint32_t choiceRate = choice->GetIndex().GetPeakByteRate().Get();
    // Up: the download front is a whole adaptation buffer past what the demultiplexer has
    // reached, and a faster track fits.
    const bool up = bufferPos < loaded && bufferTime.Get() > last && choiceRate > rate;
    // Down: less than a switch window is loaded ahead and the buffer is not growing (or a
    // switch is already owed), and the bandwidth fits only a slower track.
    const bool down = !up && windowPos > loaded &&
                      (buffered <= lastBufferedBytes_.Get() || switchPending_) && choiceRate < rate;
    lastBufferedBytes_ = buffered;
    if (!up && !down) {
        switchPending_ = false;
        return;
    }
    SwitchToTrack(choice);
}

void MediaSeeker::SwitchToTrack(const boost::shared_ptr<MediaTrack>& track) {
    const boost::shared_ptr<Component> source = source_;
    if (!track || !currentTrack_ || !source || track == currentTrack_) return;
    const BytePosition loaded = CurrentLoadedFilePosition();
    if (loaded == kUnknownPosition) return;
    const MediaTrackIndex& index = currentTrack_->GetIndex();

    // Walk back from one switch window after the last reported time, half a second at a
    // time, to the latest switch point the download has reached. A time past the last entry
    // snaps to the track's end, which is no switch point (no group of pictures starts there
    // in the other tracks): the walk goes on past it.
    const uint64_t trackEnd = index.GetOffset() + index.GetSize();
    const bool bounded = index.GetSize() != 0;
    uint64_t step =
        currentTrack_->HasVideo()
            ? switchWindow_
            : AudioSwitchStep(*currentTrack_, LongestGopOf(*currentTrack_), kSwitchSearchStep);
    uint64_t switchPos = kUnknownPosition;
    MediaTime switchTime(0);
    const uint64_t last = lastMediaTime_.load();
    while ((switchPos > loaded || (bounded && switchPos >= trackEnd)) && step > 0) {
        switchTime = MediaTime(last + step);
        switchPos = index.TimeToPosition(switchTime, false).Get();
        step = step <= kSwitchSearchStep ? 0 : step - kSwitchSearchStep;
    }
    if (bounded && switchPos >= trackEnd) switchPos = kUnknownPosition;

    const uint32_t held = GetBufferedBytes().Get();
    const uint64_t next = loaded.Get() >= held ? loaded.Get() - held : 0;
    // A count at its ceiling hides how far back the next byte lies: a drain counted from it
    // would stop short of the switch point. The switch waits for an exact count.
    const bool nextKnown = held != 0xFFFFFFFFu;
    if (nextKnown && next <= switchPos && switchPos <= loaded.Get()) {
        FlushToSwitchPoint(ByteAmount(static_cast<uint32_t>(switchPos - next)), track->GetId());
        SetCurrentTrack(track, ChangeNone);
        const BytePosition position = track->GetIndex().TimeToPosition(switchTime, false);
        SeekFilePosition(position, BytePosition(0), true);
        adapted_ = true;
        switchPending_ = false;
        return;
    }
    // No switch point between the next byte to reach the demultiplexer and the download
    // front: the switch is owed, and the partly loaded group of pictures waits for it. On
    // the lowest track, chosen by hand, there is nowhere lower to go.
    switchPending_ =
        !(currentTrack_->GetId() == lowestTrackId_ && selectedTrackId_ == lowestTrackId_);
}

void MediaSeeker::FlushToSwitchPoint(ByteAmount amount, TrackId newTrack) {
    const bool manual = selectedTrackId_ != 0;
    // Ahead of everything still to come: the old track's bytes that follow belong to the
    // switch.
    DoSend(MemoryChunk(boost::make_shared<MemoryMarkerTrackChange>(
        newTrack,
        static_cast<int32_t>(manual ? ChangeSwitchBeginManual : ChangeSwitchBeginAutomatic))));

    const boost::shared_ptr<MemoryCache> cache = DequeMemoryCache::CreateForSession(this);
    SetMemoryCache(cache);
    flushing_ = true;
    flushAmount_ = amount;
    if (const boost::shared_ptr<Component> source = source_) {
        uint32_t remaining = amount.Get();
        int idle = 0;
        while (remaining != 0 && idle < kMostIdlePulls) {
            const uint32_t ready = source->GetBufferedBytes().Get();
            const uint32_t n = ready < remaining ? ready : remaining;
            if (n == 0) break;
            const uint32_t before = cache->BytesReady().Get();
            source->PullData(ByteAmount(n));
            const uint32_t after = cache->BytesReady().Get();
            idle = after == before ? idle + 1 : 0;
            remaining = amount.Get() > after ? amount.Get() - after : 0;
        }
        if (remaining != 0) {
            DebugPrint("MediaSeeker::FlushToSwitchPoint: %u bytes short of the switch point\n",
                       remaining);
        }
    }
    // Behind the drained bytes: the new track's bytes start here.
    Add(MemoryChunk(boost::make_shared<MemoryMarkerTrackChange>(
        newTrack, static_cast<int32_t>(manual ? ChangeStartManual : ChangeStartAutomatic))));
    flushing_ = false;
}

}  // namespace SarvelonMediaKit
