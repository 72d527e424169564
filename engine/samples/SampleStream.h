#ifndef ENGINE_SAMPLES_SAMPLESTREAM_H
#define ENGINE_SAMPLES_SAMPLESTREAM_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/MemoryUser.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleFilter.h"
#include "engine/samples/SampleReceiver.h"
#include "engine/samples/SampleStreamOwner.h"

namespace SarvelonMediaKit {

class SampleSource;

// The queue of one elementary stream between the demultiplexer and a multiplexer, with the
// stream's chain of sample filters in front of it.
//
// The receivers form a ring that starts and ends at the stream: stream, filter 1 ... filter n,
// the optional output receiver (linked with SetOutput before any filter), stream. A pushed
// sample goes round the ring once and lands in the queue; markers skip the filters. The
// stream counts the payload bytes it holds against its owner's memory tracker, which may sum
// them on another thread.
//
// Everything except BytesHeld runs on the session's task thread, without locks.
class SampleStream : public SampleReceiver, public MemoryUser {
public:
    // type: SampleMediaType; inputFormat: the SampleFormat the owner delivers. owner may be
    // null (a stream on its own counts against nothing and is asked nothing).
    SampleStream(SampleStreamOwner* owner, StreamReference streamRef, uint32_t type,
                 uint32_t inputFormat);
    ~SampleStream() override;

    // The end of the ring: stamps the stream's reference and type and queues the sample,
    // taking its contents (the sample handed in is left empty: its sender is done with it).
    void DoReceiveSample(Sample& sample) override;
    // Asks the filters from the last to the first, then the owner; the first answer counts.
    // False (arguments untouched) when nobody knows.
    virtual bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size);
    virtual bool GetStreamValue(uint32_t kind, uint64_t* value);
    // Payload bytes of the queued data samples (saturated at 32 bits); 1 when the queue holds
    // only markers or empty samples, so that it never looks empty to the accounting.
    virtual ByteAmount GetBytesHeld() const;
    // Called at the end of Flush.
    virtual void OnFlush();

    // MemoryUser: GetBytesHeld. Safe on any thread.
    ByteAmount BytesHeld() const override;

    // A sample of this stream's type, input format and reference with a payload of size bytes
    // made with the stream's headroom and tailroom.
    Sample MakeSample(uint32_t size) const;
    // Entry point of the demultiplexer. Dropped while the stream is not connected; a marker
    // sample is queued at once, any other goes to the first filter (or round the ring). What
    // reaches the queue is taken out of the sample handed in.
    void PushSample(Sample& sample);
    void PushSample(Sample&& sample) { PushSample(sample); }
    // Queues the marker as a marker sample behind what is queued, past the filters (so ahead
    // of samples a filter still holds). An end-of-stream marker first drains the filters
    // (Drain): nothing will come after it to complete what they hold, and what they hold
    // belongs ahead of the end. Dropped while not connected.
    void SendMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker);

    // Installs a filter at the end of the chain (before an output receiver linked earlier);
    // it gets the stream's headroom and tailroom, and its non-zero output format becomes the
    // stream's current format.
    void AddFilter(const boost::shared_ptr<SampleFilter>& filter);
    // Links a receiver after the last filter, or after the stream when there is none.
    void SetOutput(SampleReceiver* receiver);
    // Store the room in the stream and in every installed filter.
    void SetHeadroom(uint32_t headroom);
    void SetTailroom(uint32_t tailroom);
    uint32_t GetHeadroom() const { return headroom_; }
    uint32_t GetTailroom() const { return tailroom_; }

    SampleStreamOwner* GetOwner() const { return owner_; }
    // The producer the stream was handed to its consumer by, which a multiplexer asks for more
    // samples when the stream runs dry; null when it has none. Set by that producer.
    SampleSource* GetSource() const { return source_; }
    void SetSource(SampleSource* source) { source_ = source; }
    StreamReference GetStreamRef() const { return streamRef_; }
    uint32_t GetType() const { return type_; }
    uint32_t GetInputFormat() const { return inputFormat_; }
    // The format that leaves the filter chain: the last non-zero output format of the
    // filters, else the input format.
    uint32_t GetCurrentFormat() const;
    const std::vector<boost::shared_ptr<SampleFilter>>& GetFilters() const { return filters_; }
    // What the filters threw away as unusable (SampleFilter::GetDroppedSamples), summed.
    uint64_t GetDroppedSamples() const;

    // Set by the multiplexer that takes the stream, cleared when it lets it go.
    bool IsConnected() const { return connected_; }
    void SetConnected(bool connected) { connected_ = connected; }

    // The queue, oldest first.
    bool IsEmpty() const { return queue_.empty(); }
    size_t GetQueueSize() const { return queue_.size(); }
    // The oldest and the newest queued sample; the queue must not be empty.
    Sample& Front() { return queue_.front().sample; }
    Sample& Back() { return queue_.back().sample; }
    // Removes the oldest sample and the bytes it was counted with.
    void PopFront();
    // Empties the queue.
    void Clear();
    // Clear, then every filter's Reset (first to last), then OnFlush.
    void Flush();
    // At the end of the stream: every filter's Drain, first to last, so that what one filter
    // passes on still goes through the filters behind it into the queue.
    void Drain();
    // Decode time of the newest queued sample minus that of the oldest (markers included);
    // 0 when the queue is empty or the newest is not later.
    MediaTime GetBufferedDuration() const;

private:
    struct QueuedSample {
        Sample sample;
        uint64_t countedBytes;  // what the sample added to the bytes held when queued
    };

    void SetQueued(uint64_t bytes);

    SampleStreamOwner* owner_;
    SampleSource* source_ = nullptr;
    StreamReference streamRef_;
    bool connected_;
    std::deque<QueuedSample> queue_;
    uint32_t type_;
    uint32_t inputFormat_;
    uint32_t currentFormat_;
    uint32_t headroom_;
    uint32_t tailroom_;
    std::vector<boost::shared_ptr<SampleFilter>> filters_;
    // Written on the task thread, read by the tracker on any thread.
    std::atomic<uint64_t> bytesHeld_;
    std::atomic<uint64_t> queueCount_;
};

}  // namespace SarvelonMediaKit

#endif
