#ifndef ENGINE_DEMUX_MPEG2PSPARSER_H
#define ENGINE_DEMUX_MPEG2PSPARSER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SVLibrary/Util/Sha256.h"
#include "engine/core/MemoryChunk.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleReceiver.h"

namespace SarvelonMediaKit {

// The byte-level reader of the engine's program-stream container (ISO/IEC 13818-1 program
// stream whose first pack carries the index entries and metadata blocks). Parse takes one
// chunk at a time and runs a resumable state machine over it, one step per byte (header
// fields) or per run of bytes (payloads), so the input may be cut anywhere.
//
// Two modes, fixed at construction:
//   demultiplexing: PES payloads become Samples handed to OnSample;
//   pass-through:   the input goes on unchanged through OnOutputChunk (with one system header
//                   and program stream map inserted after the first pack with a non-zero SCR
//                   after each Reset), and the parser only watches it. In trick play the key
//                   frames are written again as packs of their own at normal speed.
//
// Derived classes (the demultiplexers) receive what the parser finds through the virtual
// operations. A parser is used by one thread at a time.
class Mpeg2PsParser : public SampleReceiver {
public:
    typedef uint32_t Result;
    // The results the parser produces itself; any other non-zero value comes from a virtual
    // operation and is passed up unchanged.
    enum : Result {
        ResultOk = 0,
        ResultNoPackFirst = 1,       // data before the first pack header
        ResultBadStreamMap = 2,      // the program stream map does not fit its bytes
        ResultEntryIncomplete = 10,  // index entry continues in the next private stream 2 packet
        ResultEntryTooLarge = 0x0D,  // an index entry larger than can be stored
        ResultProgramEnd = 12,
        ResultUnsupportedAudio = 16,  // trick play: no silence for this audio configuration
        ResultBadMetadata = 17,       // a metadata block failed to read
        ResultNoMetadataItem = 19,    // a header packet ended with no pack-0 map item open
        ResultNoSelectedTrack = 22,   // trick play without a selected track
        ResultHashFailed = 23,        // the index digest could not be finished
    };

    // Largest metadata block or index entry gathered from the header packets. A length field
    // asking for more is refused instead of buffering without bound.
    static constexpr uint32_t kCollectorLimit = 16u << 20;

    // Trick-play flags given by the derived class.
    enum : uint32_t {
        TrickPlayWriteOnce = 1,    // write each key frame once; the clock jumps to the target
        TrickPlaySilentAudio = 2,  // fill the audio stream with silent AAC frames
    };

    // The parser's view of the program stream map.
    struct PSM {
        struct EsMapEntry {
            uint8_t elementary_stream_id = 0;
            uint8_t stream_type = 0;
            std::vector<uint8_t> descriptors;  // elementary_stream_info
        };
    };

    // One chapter of the title, from a kind-3 metadata block: time (90 kHz ticks), title,
    // thumbnail data position and size.
    typedef Mpeg2PsMetadataBlockReader::Chapter Chapter;

    // Where the header records lie in the bytes of the first pack(s), for a derived class
    // that keeps them (created by it with CreatePack0Map).
    struct Pack0Map {
        struct MetaDataInfo {
            uint32_t start = 0;       // position of the packet's 00 00 01
            uint32_t end = 0;         // position just past its payload
            bool isMetadata = false;  // stream 0xF1 (true) or private stream 2 (false)
        };
        MemoryChunk bytes;  // every chunk parsed while the map exists
        uint32_t packStart = 0;
        std::vector<MetaDataInfo> metadataItems;
        uint32_t firstMediaPes = 0;
    };

    explicit Mpeg2PsParser(bool demultiplexing);
    ~Mpeg2PsParser() override;
    Mpeg2PsParser(const Mpeg2PsParser&) = delete;
    Mpeg2PsParser& operator=(const Mpeg2PsParser&) = delete;

    // Parses the chunk's bytes (from the resume offset when resume is set). Returns the first
    // non-zero result, or 0 when the chunk was consumed. The caller's chunk is never changed:
    // what pass-through mode inserts or cuts goes into a chunk of the parser's own.
    Result Parse(MemoryChunk chunk, bool resume);

    // The index digest: true starts a SHA-256 over the index entries (unless one runs), false
    // drops it. GetIndexDigest is 32 bytes once the index is complete with a digest running.
    void SetHashEnabled(bool enabled);
    const std::vector<uint8_t>& GetIndexDigest() const { return digest_; }

    // Changes the trick-play rate (0 = normal play); returns the rate.
    int16_t SetTrickPlayRate(int16_t rate, bool restart);
    void SetTrickPlayFlags(uint32_t flags) { trickPlayFlags_ = flags; }

    void SetSelectedTrack(const boost::shared_ptr<MediaTrack>& track) { selectedTrack_ = track; }
    const boost::shared_ptr<MediaTrack>& GetSelectedTrack() const { return selectedTrack_; }

    bool IsDemultiplexing() const { return demultiplexing_; }
    uint8_t GetAudioStreamId() const { return audioStreamId_; }
    uint8_t GetAudioStreamType() const { return audioStreamType_; }
    uint8_t GetVideoStreamId() const { return videoStreamId_; }
    const std::vector<uint8_t>& GetProgramStreamInfo() const { return programStreamInfo_; }
    const std::vector<PSM::EsMapEntry>& GetEsMap() const { return esMap_; }
    const std::vector<uint8_t>& GetSystemHeaderBytes() const { return systemHeader_; }
    const std::vector<Chapter>& GetChapters() const { return chapters_; }
    uint32_t GetLongestDuration() const { return longestDuration_; }
    bool IsIndexComplete() const { return indexComplete_; }
    bool IsIndexMagicSeen() const { return indexMagicSeen_; }
    // SCR of the last pack, 27 MHz.
    uint64_t GetScr() const { return scr_; }

    // Keeps the first pack(s) from now on; the map lives as long as the parser.
    Pack0Map& CreatePack0Map();
    const Pack0Map* GetPack0Map() const { return pack0Map_.get(); }

    // Returns the machine to its start (state 0): drops the partial payloads and the pending
    // sample but keeps what describes the stream (stream map, ids, system header, index
    // flags, digest). With synced false the next data must start with a pack header.
    virtual void Reset(bool synced);

    // Runs once at the first media PES (or program end) before it: finishes the digest, marks
    // the index complete and returns MetadataComplete.
    Result CompleteIndex();

    // The sample step run at the start of each media payload; the derived demultiplexer also
    // calls it to flush the pending sample.
    Result AddPesPayloadToSample();

    // Reads an AudioSpecificConfig for the audio stream from the stream map's initial object
    // descriptor, else from the selected track's ES descriptor. False when none is found or
    // the descriptors do not hold together.
    bool GetAudioDecoderConfig(uint8_t audioId, std::vector<uint8_t>& config) const;

    // Finds the ES_Descriptor of the audio stream in the stream map's initial object
    // descriptor; es points into the parser's copy of program_stream_info and stays valid
    // until the next stream map is read.
    bool FindEsDescriptor(uint8_t audioId, const uint8_t*& es, uint32_t& size) const;

    // Parses one program stream map payload (the bytes after PES_packet_length). 0, or 2 when
    // it does not fit (the elementary-stream map is then left as it was).
    Result ReadProgramStreamMap(const uint8_t* data, uint32_t size);

    // SampleReceiver: in trick play the sample is written again as packs; else passed on.
    void DoReceiveSample(Sample& sample) override;

protected:
    virtual void OnTimestamp(uint32_t kind, uint32_t timestamp, uint32_t scrBase);
    virtual Result OnOutputChunk(const MemoryChunk& chunk);
    virtual Result OnSample(const Sample& sample);
    virtual Result OnNewTrack(const boost::shared_ptr<MediaTrack>& track);
    // A hook that none of the parser's own steps calls.
    virtual Result OnUnused();
    virtual void OnReset();
    // Asked when sync is lost or data precede the first pack; 0 resynchronises, anything else
    // stops Parse with that result. The base refuses data until a pack header was seen.
    virtual Result ShouldResync(const uint8_t* current, uint32_t bytesLeft);
    virtual bool StopAtProgramEnd();
    virtual Result ParseProgramStreamMap();
    virtual Result ParseIndexEntry();
    virtual Result ParseMetadataBlock(const Mpeg2PsMetadata& block);
    virtual void OnThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image);
    virtual Result MetadataComplete();
    virtual Sample CreateSample(uint8_t streamId, uint32_t payloadLength);

    // Collectors for the derived class's readers.
    std::vector<uint8_t>& GetIndexBuffer() { return privateStream2_; }
    std::vector<Chapter>& MutableChapters() { return chapters_; }

private:
    // Runs the step of the current state at the byte at offset pos of the chunk; advances pos
    // by what the step takes.
    Result Step(uint32_t& pos);
    Result LoseSync(uint32_t pos);
    Result StartCode(uint32_t& pos);
    Result PackStuffingDone(uint32_t& pos);
    void InsertStreamMap(uint32_t& pos);
    void BuildStreamMap(Mpeg2PsPsm& psm, uint8_t version, bool onlyVideo,
                        bool withSilentAudio) const;
    Result ProgramEnd(uint32_t& pos);
    Result PesStreamId(uint32_t idOffset);
    void TimestampRead(bool hasDts);
    // pos: offset just past the header (and, for PayloadDone, past the payload) in the chunk.
    Result PesHeaderDone(uint32_t pos);
    Result PayloadBytes(const uint8_t* bytes, uint32_t n);
    Result PayloadDone(uint32_t pos);
    Result MetadataBytesAdded();
    Result EndMetadataItem(uint32_t pos);
    Result ClosePendingSample();
    Result StartSample();
    Result StartTrickPlay();
    Result PrepareSilentAudio();
    Result RepacketiseSample(Sample& sample);
    Result WriteTrickPlayPack(Sample& sample, uint64_t pts, uint64_t step,
                              std::vector<MemoryChunk>& packets, uint64_t& muxRate);
    Result WriteSilentAudio(int64_t ptsBase);
    uint32_t Position(uint32_t offsetInChunk) const;
    bool InIdSetA(uint8_t id) const;
    bool IsTrickPlay() const { return trickPlayMagnitude_ != 0; }
    uint32_t FrameStepTicks() const;

    const bool demultiplexing_;
    boost::shared_ptr<MediaTrack> selectedTrack_;

    // The machine.
    uint32_t state_;
    bool resyncing_;
    uint32_t counter_;
    bool awaitingFirstPack_;
    bool insertStreamMap_;
    uint32_t resumeOffset_;

    // The chunk being parsed (possibly the parser's own grown copy) and its bytes.
    MemoryChunk chunk_;
    uint8_t* data_;
    uint32_t size_;
    uint32_t pack0Before_;  // pack-0 bytes before this call

    // From the program stream map.
    uint8_t audioStreamId_;
    uint8_t audioStreamType_;
    uint8_t videoStreamId_;
    std::vector<uint8_t> programStreamInfo_;
    std::vector<PSM::EsMapEntry> esMap_;

    // Index and metadata.
    bool indexMagicSeen_;
    bool indexComplete_;
    uint32_t longestDuration_;
    std::vector<Chapter> chapters_;
    Mpeg2PsMetadataBlockReader metadataReader_;
    std::unique_ptr<SV::Sha256Context> hash_;
    std::vector<uint8_t> digest_;
    std::unique_ptr<Pack0Map> pack0Map_;

    // Pack header.
    uint64_t scr_;
    uint64_t scrBase_;
    uint16_t scrExtension_;

    // PES being read.
    uint8_t streamId_;
    uint16_t packetLeft_;
    uint8_t flags1_;
    uint8_t flags2_;
    uint8_t headerLeft_;
    uint64_t timestamp_;
    uint64_t pts_;
    uint64_t dts_;

    std::vector<uint8_t> systemHeader_;
    std::vector<uint8_t> psmCollector_;
    std::vector<uint8_t> privateStream2_;
    std::vector<uint8_t> metadataCollector_;
    bool metadataDropRest_;  // a block was read from this 0xF1 packet: skip the rest of it

    // The sample being filled.
    Sample sample_;
    uint8_t* write_;
    uint8_t* end_;
    bool copyInProgress_;

    // Trick play (27 MHz clocks).
    uint16_t trickPlayMagnitude_;
    bool trickPlayStarted_;
    uint32_t trickPlayFlags_;
    uint64_t origin_;
    uint64_t outputClock_;
    uint64_t lastInputScr_;
    uint64_t accumulatedOffset_;
    uint32_t audioFrameLength_;
    uint32_t audioFrequency_;
    uint64_t audioClock_;
    std::vector<uint8_t> silentFrame_;
};

}  // namespace SarvelonMediaKit

#endif
