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
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/demux/Mpeg2PsTrickPlayWriter.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleReceiver.h"

namespace SarvelonMediaKit {

// The byte-level reader of the engine's program-stream container (ISO/IEC 13818-1 program
// stream whose first pack carries the index entries and metadata blocks). Parse takes one
// chunk at a time and runs a resumable state machine over it, one step per byte (header
// fields) or per run of bytes (payloads), so the input may be cut anywhere.
//
// Two modes, fixed at construction:
//   demultiplexing: PES payloads become Samples handed to the listener's OnSample;
//   pass-through:   the input goes on unchanged through the listener's OnOutputChunk (with one
//                   system header and program stream map inserted after the first pack with a
//                   non-zero SCR after each Reset), and the parser only watches it. In trick
//                   play (Mpeg2PsTrickPlayWriter) the key frames are written again at normal
//                   speed instead.
//
// What the parser finds goes to its one listener, which outlives it. A parser is used by one
// thread at a time.
class Mpeg2PsParser : public SampleReceiver {
public:
    typedef Mpeg2PsParserListener::Result Result;
    // The results the parser produces itself; any other non-zero value comes from the listener
    // or a record reader and is passed up unchanged.
    enum : Result {
        ResultOk = 0,
        ResultNoPackFirst = 1,                                     // data before the first pack
        ResultBadStreamMap = Mpeg2PsPsm::ResultBadStreamMap,       // 2: the map does not fit
        ResultEntryIncomplete = Mpeg2PsIndexEntryReader::ResultEntryIncomplete,  // 10: the entry
                                                                   // continues in the next packet
        ResultEntryTooLarge = 0x0D,  // an index entry larger than can be stored
        ResultProgramEnd = 12,
        ResultUnsupportedAudio = Mpeg2PsTrickPlayWriter::ResultUnsupportedAudio,  // 16
        ResultBadMetadata = 17,     // a metadata block failed to read
        ResultNoMetadataItem = 19,  // a header packet ended with no pack-0 map item open
        ResultNoSelectedTrack = Mpeg2PsTrickPlayWriter::ResultNoSelectedTrack,  // 22
        ResultHashFailed = 23,      // the index digest could not be finished
    };

    // Largest metadata block or index entry gathered from the header packets. A length field
    // asking for more is refused instead of buffering without bound.
    static constexpr uint32_t kCollectorLimit = 16u << 20;

    // One chapter of the title, from a kind-3 metadata block: time (90 kHz ticks), title,
    // thumbnail data position and size.
    typedef Mpeg2PsMetadataBlockReader::Chapter Chapter;

    // Where the header records lie in the bytes of the first pack(s), for an owner that keeps
    // them (created with CreatePack0Map).
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

    Mpeg2PsParser(Mpeg2PsParserListener& listener, bool demultiplexing);
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

    // Changes the trick-play rate (0 = normal play); returns the rate (see
    // Mpeg2PsTrickPlayWriter::SetRate).
    int16_t SetTrickPlayRate(int16_t rate, bool restart) {
        return trickPlay_.SetRate(rate, restart);
    }
    // Mpeg2PsTrickPlayWriter::WriteOnce, SilentAudio.
    void SetTrickPlayFlags(uint32_t flags) { trickPlay_.SetFlags(flags); }

    void SetSelectedTrack(const boost::shared_ptr<MediaTrack>& track) { selectedTrack_ = track; }
    const boost::shared_ptr<MediaTrack>& GetSelectedTrack() const { return selectedTrack_; }

    bool IsDemultiplexing() const { return demultiplexing_; }
    uint8_t GetAudioStreamId() const { return audioStreamId_; }
    uint8_t GetAudioStreamType() const { return audioStreamType_; }
    uint8_t GetVideoStreamId() const { return videoStreamId_; }
    // The program stream map read from the stream (empty until one was).
    const Mpeg2PsPsm& GetStreamMap() const { return streamMap_; }
    const std::vector<Mpeg2PsPsm::EsMapEntry>& GetEsMap() const { return streamMap_.GetEsMap(); }
    const std::vector<uint8_t>& GetSystemHeaderBytes() const { return systemHeader_; }
    const std::vector<Chapter>& GetChapters() const { return chapters_; }
    std::vector<Chapter>& MutableChapters() { return chapters_; }
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
    void Reset(bool synced);

    // The sample step run at the start of each media payload; the demultiplexer also calls it
    // to flush the pending sample.
    Result AddPesPayloadToSample();

    // Reads an AudioSpecificConfig for the audio stream from the stream map's initial object
    // descriptor, else from the selected track's ES descriptor. False when none is found or
    // the descriptors do not hold together.
    bool GetAudioDecoderConfig(uint8_t audioId, std::vector<uint8_t>& config) const;

    // SampleReceiver: in trick play the sample is written again as packs; else passed on.
    void DoReceiveSample(Sample& sample) override;

private:
    // Runs the step of the current state at the byte at offset pos of the chunk; advances pos
    // by what the step takes.
    Result Step(uint32_t& pos);
    Result LoseSync(uint32_t pos);
    Result AskToResync(uint32_t pos);
    Result StartCode(uint32_t& pos);
    Result PackStuffingDone(uint32_t& pos);
    void InsertStreamMap(uint32_t& pos);
    Result ProgramEnd(uint32_t& pos);
    Result CompleteIndex();
    Result PesStreamId(uint32_t idOffset);
    void TimestampRead(bool hasDts);
    // pos: offset just past the header (and, for PayloadDone, past the payload) in the chunk.
    Result PesHeaderDone(uint32_t pos);
    Result PayloadBytes(const uint8_t* bytes, uint32_t n);
    Result PayloadDone(uint32_t pos);
    Result ReadStreamMap();
    Result ReadIndexEntry();
    Result MetadataBytesAdded();
    Result ReadMetadataBlock(const Mpeg2PsMetadata& block);
    Result EndMetadataItem(uint32_t pos);
    Result ClosePendingSample();
    Result StartSample();
    Result StartTrickPlay();
    Mpeg2PsTrickPlayWriter::Input TrickPlayInput() const;
    uint32_t Position(uint32_t offsetInChunk) const;
    bool InIdSetA(uint8_t id) const;
    bool IsTrickPlay() const { return trickPlay_.IsActive(); }

    Mpeg2PsParserListener& listener_;
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
    Mpeg2PsPsm streamMap_;
    uint8_t audioStreamId_;
    uint8_t audioStreamType_;
    uint8_t videoStreamId_;

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

    Mpeg2PsTrickPlayWriter trickPlay_;
};

}  // namespace SarvelonMediaKit

#endif
