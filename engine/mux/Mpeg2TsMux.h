#ifndef ENGINE_MUX_MPEG2TSMUX_H
#define ENGINE_MUX_MPEG2TSMUX_H

#include <cstdint>
#include <string>
#include <vector>

#include "engine/mux/Mux.h"

namespace SarvelonMediaKit {

// Writes the engine's output: an MPEG-2 transport stream (ISO/IEC 13818-1) of 188-byte
// packets carrying one program with one H.264 video stream and one audio stream. Each sample
// becomes one PES packet; every video PES carries a PCR 200 ms before its DTS; every video key
// frame is preceded by a group-of-pictures marker, the PAT and the PMT. Output leaves in chunks
// of whole packets (at most 348) of one PES packet or one section; every PES packet and
// section starts a new chunk, so the segmenter can cut at the marker without splitting one.
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
    static constexpr uint32_t kPacketSize = 188;
    static constexpr uint32_t kMaxPacketsPerChunk = 348;
    // Timestamps start no earlier than 0.2 s, so that the PCR (0.2 s ahead) is never negative.
    static constexpr uint32_t kMinimumFirstDts = 18000;
    static constexpr uint64_t kPcrLead = 5400000;  // 0.2 s at 27 MHz
    static constexpr uint64_t kNoPcr = ~uint64_t(0);

    explicit Mpeg2TsMux(Session* session);
    ~Mpeg2TsMux() override;

    std::string GetTypeName() const override;
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    void DoSetPosition(BytePosition position, StackId stackId) override;
    // Installs the stream's sample filters by its current format.
    void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) override;
    void DoProcessSample(Sample& sample) override;
    // Whether the output is a stream of fixed-size packets.
    virtual bool IsPacketised() const;

    // Put a filler-removing filter into video chains.
    void SetRemoveFillerData(bool remove) { removeFillerData_ = remove; }
    // Audio samples joined into one PES (0: none).
    void SetMergeCount(uint32_t count) { mergeCount_ = count; }

    const std::vector<uint8_t>& GetPat() const { return pat_; }
    const std::vector<uint8_t>& GetPmt() const { return pmt_; }
    uint32_t GetTimestampOffset() const { return timestampOffset_; }

    // 90 kHz time of a microsecond time, rounded to the nearest tick.
    static uint64_t ToTicks(MediaTime microseconds);

protected:
    // Rebuilds the PAT (once) and the PMT with the next version.
    void BuildPsi();
    // Packetises the payload as one PES packet (with pesHeader) or one section, in chunks of
    // at most 348 packets handed downstream. PID 0 (the PAT) first sends the group-of-pictures
    // marker timed by the PCR and then carries no PCR itself.
    void WritePackets(MemoryChunkList& payload, uint16_t pid, uint8_t& counter, uint64_t pcr,
                      bool pesHeader, uint8_t streamId, uint64_t pts, uint64_t dts);
    void WriteSection(const std::vector<uint8_t>& section, uint16_t pid, uint8_t& counter,
                      uint64_t pcr);

    bool removeFillerData_;
    bool psiPending_;
    uint32_t firstDts_;
    uint32_t timestampOffset_;
    bool trickPlay_;
    std::vector<uint8_t> pat_;
    std::vector<uint8_t> pmt_;
    uint8_t patCounter_;
    uint8_t pmtCounter_;
    uint8_t videoCounter_;
    uint8_t audioCounter_;
    uint8_t pmtVersion_;
    uint32_t mergeCount_;
};

}  // namespace SarvelonMediaKit

#endif
