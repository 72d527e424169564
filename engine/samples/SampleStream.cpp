#include "engine/samples/SampleStream.h"

#include <algorithm>
#include <limits>

namespace SarvelonMediaKit {

SampleStream::SampleStream(SampleStreamOwner* owner, StreamReference streamRef, uint32_t type,
                           uint32_t inputFormat)
    : MemoryUser(owner ? owner->GetMemoryTracker() : boost::shared_ptr<MemoryTracker>(), false),
      mOwner(owner),
      mStreamRef(streamRef),
      mConnected(false),
      mType(type),
      mInputFormat(inputFormat),
      mCurrentFormat(SampleFormatNone),
      mHeadroom(0),
      mTailroom(0),
      mBytesHeld(0),
      mQueueCount(0) {
    SetNext(this);
    // Only now is BytesHeld safe to call from the tracker's side.
    JoinTracker();
}

SampleStream::~SampleStream() {
    LeaveTracker();
}

void SampleStream::SetQueued(uint64_t bytes) {
    mBytesHeld.store(bytes, std::memory_order_relaxed);
    mQueueCount.store(mQueue.size(), std::memory_order_relaxed);
}

void SampleStream::DoReceiveSample(Sample& sample) {
    sample.SetStreamRef(mStreamRef);
    sample.SetType(mType);
    const uint64_t bytes =
        sample.GetFormat() == SampleFormatMarker ? 0 : sample.GetPayload().Size();
    mQueue.push_back(QueuedSample{sample, bytes});
    SetQueued(mBytesHeld.load(std::memory_order_relaxed) + bytes);
}

bool SampleStream::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    for (auto it = mFilters.rbegin(); it != mFilters.rend(); ++it) {
        if ((*it)->GetStreamInfo(kind, data, size)) {
            return true;
        }
    }
    return mOwner ? mOwner->GetStreamInfo(kind, data, size) : false;
}

bool SampleStream::GetStreamValue(uint32_t kind, uint64_t* value) {
    for (auto it = mFilters.rbegin(); it != mFilters.rend(); ++it) {
        if ((*it)->GetStreamValue(kind, value)) {
            return true;
        }
    }
    return mOwner ? mOwner->GetStreamValue(kind, value) : false;
}

ByteAmount SampleStream::GetBytesHeld() const {
    const uint64_t bytes = mBytesHeld.load(std::memory_order_relaxed);
    if (bytes != 0) {
        return ByteAmount(static_cast<uint32_t>(
            std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max())));
    }
    return ByteAmount(mQueueCount.load(std::memory_order_relaxed) != 0 ? 1 : 0);
}

void SampleStream::OnFlush() {}

ByteAmount SampleStream::BytesHeld() const {
    return GetBytesHeld();
}

Sample SampleStream::MakeSample(uint32_t size) const {
    return Sample(mType, mInputFormat, mStreamRef, mHeadroom, mTailroom, size);
}

void SampleStream::PushSample(Sample& sample) {
    if (!mConnected) {
        return;
    }
    if (sample.GetFormat() == SampleFormatMarker) {
        Receive(sample);
    } else {
        SendSampleDownstream(sample);
    }
}

void SampleStream::SendMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (!mConnected) {
        return;
    }
    Sample sample(mType, SampleFormatMarker, mStreamRef, 0, 0, 0);
    sample.GetPayload().GetChunks().push_back(MemoryChunk(marker));
    Receive(sample);
}

void SampleStream::AddFilter(const boost::shared_ptr<SampleFilter>& filter) {
    if (!filter) {
        return;
    }
    filter->SetHeadroom(mHeadroom);
    filter->SetTailroom(mTailroom);
    if (filter->GetOutputFormat() != SampleFormatNone) {
        mCurrentFormat = filter->GetOutputFormat();
    }
    SetOutput(filter.get());
    mFilters.push_back(filter);
}

void SampleStream::SetOutput(SampleReceiver* receiver) {
    if (!receiver) {
        return;
    }
    SampleReceiver* last = mFilters.empty() ? static_cast<SampleReceiver*>(this)
                                            : mFilters.back().get();
    receiver->SetNext(last->GetNext());
    last->SetNext(receiver);
}

void SampleStream::SetHeadroom(uint32_t headroom) {
    mHeadroom = headroom;
    for (const auto& filter : mFilters) {
        filter->SetHeadroom(headroom);
    }
}

void SampleStream::SetTailroom(uint32_t tailroom) {
    mTailroom = tailroom;
    for (const auto& filter : mFilters) {
        filter->SetTailroom(tailroom);
    }
}

uint32_t SampleStream::GetCurrentFormat() const {
    return mCurrentFormat != SampleFormatNone ? mCurrentFormat : mInputFormat;
}

void SampleStream::PopFront() {
    if (mQueue.empty()) {
        return;
    }
    // Subtract what the sample was counted with: a multiplexer may have grown or cut its
    // payload in place since.
    const uint64_t counted = mQueue.front().countedBytes;
    const uint64_t held = mBytesHeld.load(std::memory_order_relaxed);
    mQueue.pop_front();
    SetQueued(held >= counted ? held - counted : 0);
}

void SampleStream::Clear() {
    mQueue.clear();
    SetQueued(0);
}

void SampleStream::Flush() {
    Clear();
    for (const auto& filter : mFilters) {
        filter->Reset();
    }
    OnFlush();
}

MediaTime SampleStream::GetBufferedDuration() const {
    if (mQueue.empty()) {
        return MediaTime(0);
    }
    const uint64_t first = mQueue.front().sample.GetDecodeTime();
    const uint64_t last = mQueue.back().sample.GetDecodeTime();
    return MediaTime(last > first ? last - first : 0);
}

}  // namespace SarvelonMediaKit
