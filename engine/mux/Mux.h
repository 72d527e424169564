#ifndef ENGINE_MUX_MUX_H
#define ENGINE_MUX_MUX_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/Component.h"
#include "engine/core/ComponentStack.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleConsumer.h"
#include "engine/samples/SampleSource.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

// The stage that turns the per-track sample queues of one or more demultiplexers into one
// interleaved output: it always emits the queued sample with the earliest decode time next and
// passes in-band markers on in their place. It consumes the demultiplexer of its own stack and
// the output ends of any side branches (extra stacks, such as a separate audio chain) that it
// adopts when it is linked. The container format is left to the subclasses.
//
// Runs on its session's task thread; holds no lock.
class Mux : public Component, public SampleConsumer {
public:
    explicit Mux(Session* session);
    ~Mux() override;

    // ---- Component operations ----
    std::string DoGetName() override;
    void DoPullData(ByteAmount& amount) override;
    // Hands the chunk on, counts it into the running pull and tells the pump's watchdog of
    // data (at the end of the pull, during one).
    void DoSend(const MemoryChunk& chunk) override;
    void DoTick() override;
    // The own cache and the main source, the side branches and the queued sample bytes.
    ByteAmount DoGetBufferedBytes() override;
    void DoPeriodicCheck() override;
    void DoStop() override;
    // Collects the demultiplexers of the main stack and of the side branches, adopts and
    // links the side branches.
    void DoLinked(bool firstTime) override;
    void DoSeek(BytePosition start, BytePosition second, bool flag) override;
    void DoSeek(MediaTime time) override;
    // True when the main source or a side branch accepts the rate; then audio streams are
    // connected only at normal speed.
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    void DoSelectTrack(TrackId track) override;
    // For this stack (or every stack) the stream queues are flushed and the end of stream is
    // forgotten.
    void DoSetPosition(BytePosition position, StackId stackId) override;
    bool KnowCurrentLoadedFilePosition() override;
    bool KnowEndPosition() override;
    BytePosition DoCurrentLoadedFilePosition() override;
    BytePosition DoEndPosition() override;
    // Only the side branches: Component::GetStatistics walks the main source itself.
    void DoGetStatistics(SV::SVDictionary& statistics) override;
    bool IsMux() const override;
    std::string DoDump() override;

    // ---- Operations of the multiplexers ----

    // The first connected stream (in list order) that answers.
    virtual bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size);
    virtual bool GetStreamValue(uint32_t kind, uint64_t* value);
    virtual Mux* AsMux();
    // Hooks run after a stream has been added or removed (the stream-added hook installs
    // the stream's sample filters).
    virtual void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream);
    virtual void OnSampleStreamRemoved(const boost::shared_ptr<SampleStream>& stream);
    // One data sample in decode-time order: the subclass writes it out.
    virtual void DoProcessSample(Sample& sample) = 0;
    // One marker sample in its place: passes the marker on downstream.
    virtual void DoProcessMemoryMarker(Sample& sample);
    // The decode time of the first sample ever emitted.
    virtual void OnFirstDecodeTime(MediaTime decodeTime);
    // The Component marker hook: an end-of-stream marker first lets out everything the
    // streams still hold (see FinishStreams); with several demultiplexers it is then held back
    // until every one has ended and every stream is empty, and passed on once. Every other
    // marker goes on.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;

    // An extra stack whose output end this multiplexer consumes; before the session links.
    void AddSideBranch(const ComponentStack& branch);
    // Called by a demultiplexer for each stream it creates or removes.
    void AddSampleStream(const boost::shared_ptr<SampleStream>& stream) override;
    void RemoveSampleStream(const boost::shared_ptr<SampleStream>& stream) override;
    void SetEndOfStream(bool endOfStream) override { endOfStream_ = endOfStream; }
    void SourceEnded(SampleSource* source) override;
    // The current format of the first written stream of the media type; 0 when none.
    uint32_t GetStreamFormat(uint32_t mediaType) const;
    // One audio stream carries one language: when several demultiplexers carry sound (a
    // title's own sound beside an audio rendition read by a side branch), only the audio of
    // this one is written. The others are still read and ordered with the rest, so that the
    // chains keep pace and a later choice continues at once; their audio samples are dropped
    // where they would be written. null (the default): every audio stream is written. A source
    // that is not one of this multiplexer's demultiplexers is ignored. On the task thread.
    void SetAudioSource(SampleSource* source);
    SampleSource* GetAudioSource() const { return audioSource_; }

    uint32_t GetSampleHeadroom() const { return sampleHeadroom_; }
    uint32_t GetSampleTailroom() const { return sampleTailroom_; }
    const std::vector<SampleSource*>& GetDemuxes() const { return demuxes_; }
    const std::list<boost::shared_ptr<SampleStream>>& GetSampleStreams() const { return streams_; }
    bool IsEndOfStream() const { return endOfStream_; }
    // 0, or the ticks added to every timestamp once a first sample came too early (below);
    // kept for the multiplexer's life.
    uint32_t GetTimestampOffset() const { return timestampOffset_; }

protected:
    // A sample's times in 90 kHz ticks, the offset included.
    struct Timestamps {
        uint64_t dts;
        uint64_t pts;
        uint64_t first;  // a first sample's decode time, truncated, without the offset
    };
    // first: the sample opens the output (after the start or a reposition). A first decode
    // time below minimum (the lead of the output's clock reference) sets the offset to
    // minimum, once for the multiplexer's life: a later first sample already carries it, and
    // adding it twice would put that sample behind the ones that follow it.
    Timestamps StampSample(const Sample& sample, bool first, uint32_t minimum);

    // Marker or data sample to the matching hook.
    void ProcessSample(Sample& sample);
    // The connected, non-empty stream other than except whose oldest sample has the earliest
    // decode time (on a tie the one nearer the front: video); empty when there is none.
    boost::shared_ptr<SampleStream> ChooseNextStream(const SampleStream* except = nullptr) const;
    // Pops the chosen stream's oldest sample and processes it; an end-of-stream marker only
    // after FinishStreams.
    void EmitNext(const boost::shared_ptr<SampleStream>& chosen);
    // The end of the media: the filters of every connected stream give up what they hold (the
    // last frames of a merged group), and every queued sample is processed in decode-time
    // order, so that the whole title is written before the end-of-stream marker goes on.
    // carrier is the stream the marker came from (null: it came past the queues): what is
    // queued behind the marker came after the end and stays, and its filters were drained
    // when the marker was queued. Further end-of-stream markers met are dropped: one end goes
    // on.
    void FinishStreams(const SampleStream* carrier);
    void AdoptDemux(const boost::shared_ptr<Component>& component);
    // Whether the stream's samples are written: false for the audio of a demultiplexer other
    // than the chosen audio source.
    bool IsWritten(const SampleStream& stream) const;
    // Whether the source's media has ended (any source when only one feeds this multiplexer).
    bool HasEnded(SampleSource* source) const;
    // Sends the end of stream held back, once every source has ended and every stream is empty.
    void SendHeldEndOfStream();

    // The demultiplexers of the main stack and of the side branches (not owned).
    std::vector<SampleSource*> demuxes_;
    std::vector<ComponentStack> sideBranches_;
    // Room every new sample payload chunk keeps in front of and behind its bytes, handed to
    // the demultiplexers and through them to their streams and filters.
    uint32_t sampleHeadroom_;
    uint32_t sampleTailroom_;
    uint32_t timestampOffset_;
    std::list<boost::shared_ptr<SampleStream>> streams_;  // video streams first
    SampleSource* audioSource_;  // whose audio is written; null: every source's
    bool started_;
    bool endOfStream_;
    bool finishing_;   // FinishStreams is running
    bool passingEnd_;  // an end-of-stream marker is being passed on after FinishStreams
    // The demultiplexers whose media has ended since the last reposition of their stack.
    std::set<SampleSource*> endedSources_;
    bool endOfStreamHeld_;     // an end of stream arrived while another source still runs
    bool sendingEndOfStream_;  // the held end of stream is on its way out
    ByteAmount bytesSent_;     // during the current pull
    bool pulling_;             // DoPullData runs
    bool producedInPull_;      // data went on during the current pull
};

}  // namespace SarvelonMediaKit

#endif
