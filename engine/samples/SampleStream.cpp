#include "engine/samples/SampleStream.h"

#include <utility>

#include "SVLibrary/Util/Saturating.h"

namespace SarvelonMediaKit {

namespace {

// What a queue of markers and empty samples counts as: not nothing, so the accounting does
// not take the stream for drained.
const uint32_t kBytesHeldWithoutData = 1;

}  // namespace

SampleStream::SampleStream(SampleStreamOwner* owner, StreamReference streamRef, uint32_t type,
                           uint32_t inputFormat)
    : MemoryUser(owner ? owner->GetMemoryTracker() : boost::shared_ptr<MemoryTracker>(), false),
      owner_(owner),
      streamRef_(streamRef),
      connected_(false),
      type_(type),
      inputFormat_(inputFormat),
      currentFormat_(SampleFormatNone),
      headroom_(0),
      tailroom_(0),
      bytesHeld_(0),
      queueCount_(0) {
    SetNext(this);
    // Only now is BytesHeld safe to call from the tracker's side.
    JoinTracker();
}

SampleStream::~SampleStream() { LeaveTracker(); }

void SampleStream::SetQueued(uint64_t bytes) {
    bytesHeld_.store(bytes, std::memory_order_relaxed);
    queueCount_.store(queue_.size(), std::memory_order_relaxed);
}

void SampleStream::DoReceiveSample(Sample& sample) {
    sample.SetStreamRef(streamRef_);
    sample.SetType(type_);
    const uint64_t bytes =
        sample.GetFormat() == SampleFormatMarker ? 0 : sample.GetPayload().Size();
    // Moved in: the sample's sender is done with it, and its payload list is not copied.
    queue_.push_back(QueuedSample{std::move(sample), bytes});
    SetQueued(bytesHeld_.load(std::memory_order_relaxed) + bytes);
}

bool SampleStream::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if ((*it)->GetStreamInfo(kind, data, size)) {
            return true;
        }
    }
    return owner_ ? owner_->GetStreamInfo(kind, data, size) : false;
}

bool SampleStream::GetStreamValue(uint32_t kind, uint64_t* value) {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
        if ((*it)->GetStreamValue(kind, value)) {
            return true;
        }
    }
    return owner_ ? owner_->GetStreamValue(kind, value) : false;
}

ByteAmount SampleStream::GetBytesHeld() const {
    const uint64_t bytes = bytesHeld_.load(std::memory_order_relaxed);
    if (bytes != 0) {
        return ByteAmount(SV::SaturatingNarrow<uint32_t>(bytes));
    }
    return ByteAmount(queueCount_.load(std::memory_order_relaxed) != 0 ? kBytesHeldWithoutData : 0);
}

void SampleStream::OnFlush() {}

ByteAmount SampleStream::BytesHeld() const { return GetBytesHeld(); }

Sample SampleStream::MakeSample(uint32_t size) const {
    return Sample(type_, inputFormat_, streamRef_, headroom_, tailroom_, size);
}

void SampleStream::PushSample(Sample& sample) {
    if (!connected_) {
        return;
    }
    if (sample.GetFormat() == SampleFormatMarker) {
        Receive(sample);
    } else {
        SendSampleDownstream(sample);
    }
}

void SampleStream::SendMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (!connected_) {
        return;
    }
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        Drain();
    }
    Sample sample(type_, SampleFormatMarker, streamRef_, 0, 0, 0);
    sample.GetPayload().GetChunks().push_back(MemoryChunk(marker));
    Receive(sample);
}

void SampleStream::AddFilter(const boost::shared_ptr<SampleFilter>& filter) {
    if (!filter) {
        return;
    }
    filter->SetHeadroom(headroom_);
    filter->SetTailroom(tailroom_);
    if (filter->GetOutputFormat() != SampleFormatNone) {
        currentFormat_ = filter->GetOutputFormat();
    }
    SetOutput(filter.get());
    filters_.push_back(filter);
}

void SampleStream::SetOutput(SampleReceiver* receiver) {
    if (!receiver) {
        return;
    }
    SampleReceiver* last =
        filters_.empty() ? static_cast<SampleReceiver*>(this) : filters_.back().get();
    receiver->SetNext(last->GetNext());
    last->SetNext(receiver);
}

void SampleStream::SetHeadroom(uint32_t headroom) {
    headroom_ = headroom;
    for (const auto& filter : filters_) {
        filter->SetHeadroom(headroom);
    }
}

void SampleStream::SetTailroom(uint32_t tailroom) {
    tailroom_ = tailroom;
    for (const auto& filter : filters_) {
        filter->SetTailroom(tailroom);
    }
}

uint64_t SampleStream::GetDroppedSamples() const {
    uint64_t dropped = 0;
    for (const boost::shared_ptr<SampleFilter>& filter : filters_) {
        dropped += filter->GetDroppedSamples();
    }
    return dropped;
}

uint32_t SampleStream::GetCurrentFormat() const {
    return currentFormat_ != SampleFormatNone ? currentFormat_ : inputFormat_;
}

void SampleStream::PopFront() {
    if (queue_.empty()) {
        return;
    }
    // Subtract what the sample was counted with: a multiplexer may have grown or cut its
    // payload in place since.
    const uint64_t counted = queue_.front().countedBytes;
    const uint64_t held = bytesHeld_.load(std::memory_order_relaxed);
    queue_.pop_front();
    SetQueued(held >= counted ? held - counted : 0);
}

void SampleStream::Clear() {
    queue_.clear();
    SetQueued(0);
}

void SampleStream::Flush() {
    Clear();
    for (const auto& filter : filters_) {
        filter->Reset();
    }
    OnFlush();
}

void SampleStream::Drain() {
    for (const auto& filter : filters_) {
        filter->Drain();
    }
}

MediaTime SampleStream::GetBufferedDuration() const {
    if (queue_.empty()) {
        return MediaTime(0);
    }
    const uint64_t first = queue_.front().sample.GetDecodeTime();
    const uint64_t last = queue_.back().sample.GetDecodeTime();
    return MediaTime(last > first ? last - first : 0);
}

}  // namespace SarvelonMediaKit
