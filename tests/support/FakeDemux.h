#ifndef TESTS_SUPPORT_FAKEDEMUX_H
#define TESTS_SUPPORT_FAKEDEMUX_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/core/Component.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleSource.h"
#include "engine/samples/SampleStream.h"
#include "engine/samples/SampleStreamOwner.h"

namespace SarvelonMediaKit {
class Mux;
}

namespace SvTestSupport {

// A stand-in for the demultiplexer in front of a multiplexer: a component that answers
// IsDemux, owns sample streams and hands them to the multiplexer it finds on its consumer side
// when the stack is linked, and pushes prepared samples into them, a few at a time, each time
// the multiplexer asks for more (PullSamples, or a pull through the chain).
//
// Samples come from a script (AddStream, AddSample), from a transport stream that ffmpeg
// wrote (LoadTransportStream: one sample per PES packet with the times of its header, H.264
// as format 24, ADTS AAC as format 8, E-AC-3 as format 15), or from a title read by the
// program-stream parser (LoadTitle). Once everything is pushed it can
// end the input as a demultiplexer does: the end-of-stream marker (which also sets the
// multiplexer's end of stream) behind the last sample, and an end-of-data marker after it.
class FakeDemux : public SarvelonMediaKit::Component,
                  public SarvelonMediaKit::SampleStreamOwner,
                  public SarvelonMediaKit::SampleSource {
public:
    explicit FakeDemux(SarvelonMediaKit::Session* session);
    ~FakeDemux() override;

    // ---- Script ----

    // A stream for the reference; returns its index. The stream is made and announced to the
    // multiplexer at the first pull.
    size_t AddStream(uint32_t streamRef, uint32_t type, uint32_t format);
    // A sample of the stream (payload copied), pushed in the order added.
    void AddSample(size_t stream, const std::vector<uint8_t>& payload, uint64_t decodeTime,
                   uint64_t presentationOffset = 0, bool keyFrame = false);
    // A marker queued in its place among the samples (it bypasses the filters).
    void AddMarker(size_t stream, const boost::shared_ptr<SarvelonMediaKit::MemoryMarker>& marker);
    // Reads a transport stream; raises std::runtime_error when it cannot be read or holds no
    // stream of a known type.
    void LoadTransportStream(const std::string& path);
    // Reads a title of the engine's container with the program-stream parser: the samples as
    // the parser makes them, with the formats the program-stream demultiplexer gives its
    // streams (stream_type 0x1B: 24, 0x0F: 8, 0x87: 16, 0x06 on 0xBD: 17) and the audio
    // configuration of the stream map as stream information. Raises std::runtime_error when
    // the title cannot be read or parsed.
    void LoadTitle(const std::string& path);
    // Decoder configuration answered as stream information of the kind for the stream.
    void SetStreamInfo(size_t stream, uint32_t kind, const std::vector<uint8_t>& bytes);
    // What happens when the script is exhausted (both off by default).
    void SetEndOfStreamAtEnd(bool on) { endOfStreamAtEnd_ = on; }
    void SetEndOfDataAtEnd(bool on) { endOfDataAtEnd_ = on; }
    // Samples pushed per pull (1 by default).
    void SetSamplesPerPull(size_t count) { samplesPerPull_ = count; }

    // ---- What the tests look at ----

    // The streams once made (empty pointers before the first pull).
    boost::shared_ptr<SarvelonMediaKit::SampleStream> GetStream(size_t stream) const;
    size_t StreamCount() const { return streams_.size(); }
    size_t PendingSamples() const { return script_.size(); }
    uint32_t GetFirstContext() const { return sampleHeadroom_; }
    uint32_t GetSecondContext() const { return sampleTailroom_; }
    int PullCount() const { return pulls_; }
    SarvelonMediaKit::Mux* GetMux() const { return mux_; }

    // ---- SampleSource ----
    bool PullSamples() override;
    void SetFirstContext(uint32_t headroom) override;
    void SetSecondContext(uint32_t tailroom) override;

    // ---- SampleStreamOwner ----
    boost::shared_ptr<SarvelonMediaKit::MemoryTracker> GetMemoryTracker() const override;
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override;

    // ---- Component ----
    std::string GetTypeName() const override;
    bool IsDemux() const override;
    void DoLinked(bool firstTime) override;
    // A pull through the chain pushes the next samples (as parsing would).
    void DoPullData(SarvelonMediaKit::ByteAmount& amount) override;
    // The payload bytes not pushed yet (saturated), so that a sink pulling by buffered bytes
    // keeps pulling.
    SarvelonMediaKit::ByteAmount DoGetBufferedBytes() override;
    // A reposition of its stack flushes the streams, and samples added afterwards end with
    // the end markers again.
    void DoSetPosition(SarvelonMediaKit::BytePosition position,
                       SarvelonMediaKit::StackId stackId) override;

private:
    struct StreamSpec {
        uint32_t streamRef;
        uint32_t type;
        uint32_t format;
        std::vector<uint8_t> info[8];  // by stream-information kind
    };
    struct Item {
        size_t stream;
        std::vector<uint8_t> payload;
        uint64_t decodeTime;
        uint64_t presentationOffset;
        bool keyFrame;
        boost::shared_ptr<SarvelonMediaKit::MemoryMarker> marker;
    };

    void MakeStreams();
    // Pushes up to samplesPerPull_ items; true when something was pushed or the end was sent.
    bool PushNext();
    void SendEnd();

    SarvelonMediaKit::Mux* mux_;
    boost::shared_ptr<SarvelonMediaKit::MemoryTracker> tracker_;
    std::vector<StreamSpec> specs_;
    std::vector<boost::shared_ptr<SarvelonMediaKit::SampleStream>> streams_;
    std::deque<Item> script_;
    uint64_t scriptBytes_;
    uint32_t sampleHeadroom_;
    uint32_t sampleTailroom_;
    size_t samplesPerPull_;
    bool endOfStreamAtEnd_;
    bool endOfDataAtEnd_;
    bool endSent_;
    int pulls_;
};

}  // namespace SvTestSupport

#endif
