#ifndef ENGINE_MUX_MPEG2PSMUX_H
#define ENGINE_MUX_MPEG2PSMUX_H

#include <cstdint>
#include <vector>
#include <string>

#include "engine/container/Mpeg2PsPack.h"
#include "engine/mux/Mux.h"

namespace SarvelonMediaKit {

// Writes an MPEG-2 program stream (ISO/IEC 13818-1) instead of a transport stream. Each sample
// becomes one or more PES packets (PTS and DTS on the first); the packets are grouped into
// packs of variable size, and every finished pack leaves as one chunk. A pack is opened by each
// video sample (by every sample when there is no video-and-audio pair, or in trick play), and
// its SCR lies 0.2 s before the DTS of the sample that opened it. The first pack after the
// start or a reposition carries a system header and a program stream map; the end of the
// stream is closed with the program end code.
//
// Runs on its session's task thread; holds no lock.
class Mpeg2PsMux : public Mux {
public:
    // The SCR runs this far ahead of the DTS of the sample that opens a pack: the decoder's
    // buffer time.
    static constexpr uint64_t kScrLeadTicks = 18000;
    // Timestamps start no earlier than the SCR lead, so that the first SCR is not negative.
    static constexpr uint32_t kMinimumFirstDts = 18000;
    // The time a pack is taken to last when the next one starts no later (one picture at 24
    // per second), for its mux rate.
    static constexpr int64_t kDefaultPackDuration = 3750;
    // The end of the stream closes the last pack this long after its start.
    static constexpr uint64_t kLastPackDuration = 9;
    // A pack that has taken in more than this of audio since its last picture is closed at
    // the next sample even where the rules would have it go on (audio behind a finished video
    // stream), so that packs stay of a size a reader buffers. Pictures do not count: a single
    // large picture (an I-frame of HD video) is ordinary and keeps its audio with it.
    static constexpr uint32_t kPackContentBound = 65536;
    // program_mux_rate is a 22-bit field that must not be 0.
    static constexpr uint32_t kMuxRateMax = (1u << 22) - 1;

    enum : uint8_t {
        kVideoStreamId = 0xE0,
        kAudioStreamId = 0xC0,
        kPrivateStream1 = 0xBD,  // E-AC-3 behind HD-DVD private data, private-data audio
        kMapStreamId = 0xBC,
    };

    explicit Mpeg2PsMux(Session* session);
    ~Mpeg2PsMux() override;

    std::string GetTypeName() const override;
    using Mux::DoProcessMemoryMarker;
    // At the end of the stream the last pack is written, then the program end code; the
    // marker then goes on (unless the base holds it back for another chain, in which case
    // this happens when it is let go).
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    // For this stack (or every stack) the next sample opens a new first pack; what the
    // current pack holds is dropped.
    void DoSetPosition(BytePosition position, StackId stackId) override;
    // Installs the filters that bring the stream into a form the program stream carries.
    void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) override;
    void DoProcessSample(Sample& sample) override;
    // Whether the output is made of packs (always).
    virtual bool WritesPacks() const;

    // DVD output (1) or plain program stream (0): recorded for the chain's owner; the packs
    // written are the same.
    void SetDvdMode(int mode) { dvdMode_ = mode; }
    int GetDvdMode() const { return dvdMode_; }
    // Whether raw E-AC-3 goes out behind HD-DVD private data (true, the default) or HD-DVD
    // input is turned back into raw frames. Takes effect for streams added afterwards.
    void SetEac3ToHdDvd(bool on) { eac3ToHdDvd_ = on; }
    bool GetEac3ToHdDvd() const { return eac3ToHdDvd_; }

    // size bytes spread over duration ticks in units of 50 bytes a second, kept inside the
    // 22-bit field and above 0; a duration of 0 or less counts as kDefaultPackDuration.
    static uint32_t MuxRate(uint64_t size, int64_t duration);

private:
    // The system header and stream map of a new first pack; the pack itself replaces the
    // current one and starts at startTime (90 kHz).
    void MakeFirstPack(uint64_t startTime);
    // Sends the current pack and opens an empty one starting at nextStart (90 kHz).
    void WriteCurrentPack(uint64_t nextStart);

    // Drops the current pack and the payloads it borrowed.
    void ClearPack();

    Mpeg2PsPack pack_;
    // The payload chunks whose bytes the current pack's packets point into: the packets borrow
    // the samples' bytes instead of copying them, so they are kept until the pack is written.
    std::vector<MemoryChunk> borrowed_;
    uint64_t packStartTime_;  // 90 kHz
    // The bytes of the PES packets added to the current pack since its last picture (all of
    // them in a pack without one).
    uint64_t bytesSinceVideo_;
    bool bothStreams_;
    bool firstSamplePending_;
    uint64_t firstTime_;  // 90 kHz, offset included; only the 33-bit fields truncate it
    bool trickPlay_;
    bool eac3ToHdDvd_;
    int dvdMode_;
};

}  // namespace SarvelonMediaKit

#endif
