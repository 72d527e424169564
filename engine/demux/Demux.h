#ifndef ENGINE_DEMUX_DEMUX_H
#define ENGINE_DEMUX_DEMUX_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/Component.h"
#include "engine/samples/SampleSource.h"
#include "engine/samples/SampleStream.h"
#include "engine/samples/SampleStreamOwner.h"

namespace SarvelonMediaKit {

class MemoryTracker;
class SampleConsumer;

// Base of the demultiplexers: the stage between the byte source and a multiplexer. It keeps
// one SampleStream per elementary stream (made by the subclass), hands each to the multiplexer
// found on its consumer side when the stack is linked, and lets that multiplexer pull: a pull
// parses what the source side holds ready, and the subclass pushes the samples it finds into
// the streams. Samples never travel through Component::Add. An end-of-stream marker from the
// source side is put into the sample flow behind the latest queued sample; one that finds no
// queued sample to follow goes straight on to the consumer, never into this stage's own cache
// (a demultiplexer parses what arrives at once, so its cache holds no data for a marker to wait
// behind, and a pull that ends there may never come).
//
// Everything runs on the session's task thread; no lock is taken.
class Demux : public Component, public SampleStreamOwner, public SampleSource {
public:
    typedef std::map<StreamReference, boost::shared_ptr<SampleStream>> SampleStreamMap;

    explicit Demux(Session* session);
    // Releases the streams without telling the multiplexer (which may itself be going away),
    // but disconnects them first so that a multiplexer that outlives this demultiplexer never
    // asks it for samples again.
    ~Demux() override;

    // ---- Component ----

    // Only notes that bytes arrived; the subclass parses them.
    void DoAdd(const MemoryChunk& chunk) override;
    // End of stream (and track changes 4 and 5) first complete the pending sample; with a
    // multiplexer linked the marker then follows the stream whose newest sample is latest.
    // Without a carrier it passes on: straight to the consumer when this stage has a cache
    // (after the markers already waiting there), else through Component::Add as usual.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    // Takes the consumer as the multiplexer when it is one; once set the link stays.
    void DoLinked(bool firstTime) override;
    // With a multiplexer linked the source's bytes are parsed here, so the pull is not limited
    // by what the consumer wants; without one the bytes pass on and the usual pull applies.
    void DoPullData(ByteAmount& amount) override;
    // For this stack (or every stack) the streams are flushed as well.
    void DoSetPosition(BytePosition position, StackId stackId) override;
    // "StatsKey_VideoTimeBuffered" (stack 1) or "StatsKey_AudioTimeBuffered" (stack 2), when
    // asked for: the time spanned by the first connected stream of that kind, in seconds.
    // "StatsKey_SamplesDropped" (any stack), when asked for: the samples its streams' filters
    // threw away as unusable, added to the value there (an unsigned 64-bit count).
    void DoGetStatistics(SV::SVDictionary& statistics) override;
    bool IsDemux() const override;

    // ---- Operations of the demultiplexers ----

    // Completes the sample being assembled; 0 on success.
    virtual uint32_t DoFlushPendingSample();
    // Duration in microseconds; all bits set when the demultiplexer cannot tell.
    virtual MediaTime GetDuration();
    // Codec set-up bytes of a kind (StreamInfoKind); false when there are none.
    virtual bool GetDecoderConfig(uint32_t kind, const uint8_t** data, uint32_t* size);
    // A query of two arguments that no demultiplexer answers (false); nothing depends on it.
    virtual bool DoQuery(uint32_t first, uint32_t second);

    // ---- SampleSource ----

    // Pulls what the source side holds ready; true when bytes arrived meanwhile.
    bool PullSamples() override;
    void SetFirstContext(uint32_t headroom) override;
    void SetSecondContext(uint32_t tailroom) override;

    // ---- SampleStreamOwner ----

    boost::shared_ptr<MemoryTracker> GetMemoryTracker() const override;
    // The tracker the streams' samples are counted on (the session's main one by default); a
    // side branch buffers under a tracker of its own.
    void SetMemoryTracker(const boost::shared_ptr<MemoryTracker>& tracker) {
        memoryTracker_ = tracker;
    }
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override;

    // ---- Streams ----

    boost::shared_ptr<SampleStream> FindSampleStream(StreamReference reference) const;
    // Nothing without a multiplexer linked (or for an empty pointer). Otherwise the stream
    // replaces any under its reference, gets the sample headroom and tailroom, and is handed
    // to the multiplexer.
    void AddSampleStream(const boost::shared_ptr<SampleStream>& stream);
    void RemoveSampleStream(StreamReference reference);
    void RemoveAllSampleStreams();
    void FlushSampleStreams();
    const SampleStreamMap& GetSampleStreams() const { return sampleStreams_; }
    SampleConsumer* GetMux() const { return mux_; }
    uint32_t GetFirstContext() const { return sampleHeadroom_; }
    uint32_t GetSecondContext() const { return sampleTailroom_; }

protected:
    // Hands the markers waiting in this stage's cache, then this one, to the consumer.
    void PassMarkerOn(const boost::shared_ptr<MemoryMarker>& marker);

    SampleConsumer* mux_;  // not owned: the consumer, which holds this stage
    boost::shared_ptr<MemoryTracker> memoryTracker_;
    SampleStreamMap sampleStreams_;
    uint32_t sampleHeadroom_;
    uint32_t sampleTailroom_;
    bool dataArrived_;
};

}  // namespace SarvelonMediaKit

#endif
