#ifndef ENGINE_MUX_MPEG2TSMUX_H
#define ENGINE_MUX_MPEG2TSMUX_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/codecs/MediaTiming.h"
#include "engine/mux/Mux.h"
#include "engine/mux/TsPacketWriter.h"

namespace SarvelonMediaKit {

// Writes the engine's output: an MPEG-2 transport stream (ISO/IEC 13818-1) of 188-byte
// packets carrying one program with one H.264 video stream and one audio stream. Each sample
// becomes one PES packet (audio frames may be joined, below); every video PES carries a PCR
// 200 ms before its DTS; every video key frame is preceded by a group-of-pictures marker, the
// PAT and the PMT. Output leaves in chunks of whole packets (at most 348) of one PES packet or
// one section; every PES packet and section starts a new chunk, so the segmenter can cut at the
// marker without splitting one.
//
// What lies between two key frames depends only on the samples of that stretch, not on where
// the output started: joined audio frames never reach across a key frame (the group is closed
// before it), so a segment cut after a seek holds the very PES packets that a straight read
// gives it. After a reposition, and again at the first key frame after it, the first packet of
// every PID carries the discontinuity_indicator and the counters start again, since what
// follows does not continue what was written before.
class Mpeg2TsMux : public Mux {
public:
    enum : uint16_t {
        kPatPid = 0x0000,
        kPmtPid = 0x0020,
        kVideoPid = 0x0021,  // also the PCR_PID
        kAudioPid = 0x0022,
    };
    enum : uint8_t {
        kVideoStreamId = 0xE0,
        kAudioStreamId = 0xC0,
        kPrivateStream1 = 0xBD,  // E-AC-3 and private-data audio
    };
    // The PCR runs 0.2 s ahead of each video DTS: the decoder's buffer time.
    static constexpr uint64_t kPcrLeadTicks = kTicksPerSecond / 5;
    static constexpr uint64_t kPcrLead = TicksToClock(kPcrLeadTicks);  // 27 MHz
    // Timestamps start no earlier than the PCR lead, so that the first PCR is not negative.
    static constexpr uint32_t kMinimumFirstDts = kPcrLeadTicks;

    explicit Mpeg2TsMux(Session* session);
    ~Mpeg2TsMux() override;

    std::string GetTypeName() const override;
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    void DoSetPosition(BytePosition position, StackId stackId) override;
    // Installs the stream's sample filters by its current format, and notes whether its
    // audio frames are joined.
    void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) override;
    void OnSampleStreamRemoved(const boost::shared_ptr<SampleStream>& stream) override;
    void DoProcessSample(Sample& sample) override;
    // The end of the stream lets out the audio frames still held for joining first.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    using Mux::DoProcessMemoryMarker;
    // Whether the output is a stream of fixed-size packets.
    virtual bool IsPacketised() const;

    // Put a filler-removing filter into video chains.
    void SetRemoveFillerData(bool remove) { removeFillerData_ = remove; }
    // Audio frames joined into one PES (0 and 1: none): AAC and HD DVD E-AC-3 frames, in
    // groups of count, and a shorter group before a video key frame and at the end.
    void SetMergeCount(uint32_t count) { mergeCount_ = count; }

    const std::vector<uint8_t>& GetPat() const { return pat_; }
    const std::vector<uint8_t>& GetPmt() const { return pmt_; }

protected:
    // Rebuilds the PAT (once) and the PMT with the next version.
    void BuildPsi();
    // Marks the start of a group of pictures whose first packet carries the PCR: the marker
    // goes downstream ahead of the tables and the key frame, so that a segmenter can cut
    // there. Nothing when the PCR is TsPacketWriter::kNoPcr.
    void SendGopStart(uint64_t pcr);
    // Writes one audio PES.
    void WriteAudio(Sample& sample, uint64_t pts, uint64_t dts);
    // Writes the audio frames held for joining as one PES, if any.
    void WriteHeldAudio();

    bool removeFillerData_;
    bool psiPending_;
    uint64_t firstDts_;  // 90 kHz; only the 33-bit fields truncate it
    bool trickPlay_;
    std::vector<uint8_t> pat_;
    std::vector<uint8_t> pmt_;
    // A new output chunk of size bytes for the writer (which fills every byte of it before
    // it goes on).
    MemoryChunk MakeOutputChunk(uint32_t size);

    // Lays the tables and PES packets out in transport packets and keeps each PID's
    // continuity counter.
    TsPacketWriter writer_;
    uint8_t pmtVersion_;
    uint32_t mergeCount_;
    // The streams whose frames are joined, by stream reference.
    std::set<uint32_t> joined_;
    // Audio frames held for joining: the first one's sample with the others' bytes behind its
    // own, its times, and how many frames it holds (0: none).
    Sample heldAudio_;
    uint64_t heldPts_;
    uint64_t heldDts_;
    uint32_t heldCount_;
    // A reposition came and no key frame since: the counters start again at the next one.
    bool restartAtKeyFrame_;
    // Without room asked for around the chunks, consecutive chunks are cut one after the other
    // from a shared buffer (slab_, of which slabUsed_ bytes are cut): one block of memory per
    // kSlabBytes of output instead of one per PES packet, and neighbouring chunks lie side by
    // side in memory for whoever reads them on (a socket's copy).
    static const uint32_t kSlabBytes = 1u << 20;
    MemoryChunk slab_;
    uint32_t slabUsed_;
};

}  // namespace SarvelonMediaKit

#endif
