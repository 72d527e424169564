#ifndef ENGINE_DEMUX_MPEG2PSPARSER_H
#define ENGINE_DEMUX_MPEG2PSPARSER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/core/MemoryChunk.h"
#include "engine/demux/Mpeg2PsHeaderSectionReader.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/demux/Mpeg2PsSampleAssembler.h"
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
    typedef Mpeg2PsHeaderSectionReader Header;
    typedef Mpeg2PsTrickPlayWriter TrickPlay;
    static constexpr uint32_t kCollectorLimit = Header::kCollectorLimit;

    // One chapter of the title, from a kind-3 metadata block: time (90 kHz ticks), title,
    // thumbnail data position and size.
    typedef Header::Chapter Chapter;
    // Where the header records lie in the bytes of the first pack(s), for an owner that keeps
    // them (created with GetHeaderSection().CreatePack0Map()).
    typedef Header::Pack0Map Pack0Map;

    Mpeg2PsParser(Mpeg2PsParserListener& listener, bool demultiplexing);
    ~Mpeg2PsParser() override;
    Mpeg2PsParser(const Mpeg2PsParser&) = delete;
    Mpeg2PsParser& operator=(const Mpeg2PsParser&) = delete;

    // Parses the chunk's bytes (from the resume offset when resume is set). Returns the first
    // result other than Ok (a listener's own code among them, unchanged), or Ok when the chunk
    // was consumed. The caller's chunk is never changed: what pass-through mode inserts or
    // cuts goes into a chunk of the parser's own.
    Mpeg2PsResult Parse(MemoryChunk chunk, bool resume);

    // The reader of the header section: index entries, chapters, the index digest
    // (SetHashEnabled) and the pack-0 map (CreatePack0Map).
    Header& GetHeaderSection() { return header_; }
    const Header& GetHeaderSection() const { return header_; }
    // The trick-play writer: its rate (0 = normal play) and flags.
    TrickPlay& GetTrickPlay() { return trickPlay_; }

    void SetSelectedTrack(const boost::shared_ptr<MediaTrack>& track) { selectedTrack_ = track; }
    const boost::shared_ptr<MediaTrack>& GetSelectedTrack() const { return selectedTrack_; }

    bool IsDemultiplexing() const { return demultiplexing_; }
    uint8_t GetAudioStreamId() const { return audioStreamId_; }
    uint8_t GetAudioStreamType() const { return audioStreamType_; }
    uint8_t GetVideoStreamId() const { return videoStreamId_; }
    // The demultiplexer names its tracks' streams here, so timestamps and samples are classed
    // as audio or video even in a title without a stream map; a map read later replaces them.
    void SetAudioStreamId(uint8_t id) { audioStreamId_ = id; }
    void SetAudioStreamType(uint8_t type) { audioStreamType_ = type; }
    void SetVideoStreamId(uint8_t id) { videoStreamId_ = id; }
    // The DTS of the last PES header read (its PTS when it had none), all 33 bits, 90 kHz; 0
    // until a timestamp has been read since the last Reset.
    uint64_t GetDecodeTime() const { return dts_; }
    // The program stream map read from the stream (empty until one was).
    const Mpeg2PsPsm& GetStreamMap() const { return streamMap_; }
    const std::vector<uint8_t>& GetSystemHeaderBytes() const { return systemHeader_; }
    // SCR of the last pack, 27 MHz.
    uint64_t GetScr() const { return scr_; }

    // Returns the machine to its start (state 0): drops the partial payloads and the pending
    // sample but keeps what describes the stream (stream map, ids, system header, index
    // flags, digest). With synced false the next data must start with a pack header. A damaged
    // stretch being skipped is told as far as it went.
    void Reset(bool synced);

    // Where in the title the next byte given to Parse lies (0 at first); each Parse moves it
    // on by the chunk's size. Damaged stretches are told at these positions.
    void SetStreamPosition(uint64_t position);
    uint64_t GetStreamPosition() const { return streamPosition_; }
    // The data have ended: a damaged stretch still being skipped is told as far as it went.
    void EndOfData();

    // The sample step run at the start of each media payload; the demultiplexer also calls it
    // to flush the pending sample.
    Mpeg2PsResult AddPesPayloadToSample();
    // What the demultiplexer calls at the end of the stream (or of a track): in trick play the
    // pending picture is closed and written, since no later packet will; else the sample step.
    Mpeg2PsResult FlushPendingSample();

    // Reads an AudioSpecificConfig for the audio stream from the stream map's initial object
    // descriptor, else from the ES descriptor of the track given (the selected track when
    // none is). False when none is found or the descriptors do not hold together.
    bool GetAudioDecoderConfig(uint8_t audioId, std::vector<uint8_t>& config,
                               const MediaTrack* track = nullptr) const;

    // SampleReceiver: in trick play the sample is written again as packs; else passed on.
    void DoReceiveSample(Sample& sample) override;

private:
    // Runs the step of the current state at the byte at offset pos of the chunk; advances pos
    // by what the step takes.
    Mpeg2PsResult Step(uint32_t& pos);
    // stretchStart: where the damaged data begin (the first byte that is no start code, or
    // the zeros of a prefix that led to none).
    Mpeg2PsResult LoseSync(uint32_t pos, uint64_t stretchStart);
    // At a sync point (the 00 00 01 of a packet start found while resyncing).
    void SyncFound();
    // Tells the stretch skipped from damageStart_ up to end, if any.
    void TellSkipped(uint64_t end);
    Mpeg2PsResult AskToResync(uint32_t pos);
    Mpeg2PsResult StartCode(uint32_t& pos);
    Mpeg2PsResult PackStuffingDone(uint32_t& pos);
    void InsertStreamMap(uint32_t& pos);
    Mpeg2PsResult ProgramEnd(uint32_t& pos);
    Mpeg2PsResult PesStreamId(uint32_t idOffset);
    void TimestampRead(bool hasDts);
    // pos: offset just past the header (and, for PayloadDone, past the payload) in the chunk.
    Mpeg2PsResult PesHeaderDone(uint32_t pos);
    Mpeg2PsResult PayloadBytes(const uint8_t* bytes, uint32_t n);
    Mpeg2PsResult PayloadDone(uint32_t pos);
    Mpeg2PsResult ReadStreamMap();
    // The packet being read, as the sample assembly takes it.
    Mpeg2PsSampleAssembler::Packet CurrentPacket() const;
    // A whole sample: to the listener, or in trick play to the trick-play writer.
    Mpeg2PsResult SampleFinished(Sample& sample);
    Mpeg2PsResult StartTrickPlay();
    Mpeg2PsTrickPlayWriter::Input TrickPlayInput() const;
    uint32_t Position(uint32_t offsetInChunk) const;
    // The stream position of the byte at the offset in the (possibly grown) chunk.
    uint64_t StreamPosition(uint32_t offsetInChunk) const {
        return chunkStart_ + offsetInChunk - inserted_;
    }
    bool InIdSetA(uint8_t id) const;
    // Audio or video for the stream ids named for them, else none.
    SampleMediaType MediaTypeOf(uint8_t streamId) const;
    bool IsTrickPlay() const { return trickPlay_.IsActive(); }

    Mpeg2PsParserListener& listener_;
    const bool demultiplexing_;
    boost::shared_ptr<MediaTrack> selectedTrack_;

    // The machine.
    uint32_t state_ = 0;  // at the first zero of a start code
    bool resyncing_ = false;
    uint32_t counter_ = 0;
    bool awaitingFirstPack_ = true;
    bool insertStreamMap_;
    uint32_t resumeOffset_ = 0;

    // The chunk being parsed (possibly the parser's own grown copy) and its bytes.
    MemoryChunk chunk_;
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t pack0Before_ = 0;  // pack-0 bytes before this call

    // Stream positions: of the next chunk, of this chunk's first byte (bytes the parser
    // inserted into it do not count), of the first zero of the start-code prefix being read,
    // and of the first byte of the damaged stretch being skipped (while resyncing_).
    uint64_t streamPosition_ = 0;
    uint64_t chunkStart_ = 0;
    uint32_t inserted_ = 0;
    uint64_t prefixStart_ = 0;
    uint64_t damageStart_ = 0;

    // From the program stream map.
    Mpeg2PsPsm streamMap_;
    uint8_t audioStreamId_ = 0;
    uint8_t audioStreamType_ = 0;
    uint8_t videoStreamId_ = 0;

    // Pack header.
    uint64_t scr_ = 0;
    uint64_t scrBase_ = 0;
    uint16_t scrExtension_ = 0;

    // PES being read.
    uint8_t streamId_ = 0;
    uint16_t packetLeft_ = 0;
    uint8_t flags1_ = 0;
    uint8_t flags2_ = 0;
    uint8_t headerLeft_ = 0;
    uint64_t timestamp_ = 0;
    uint64_t pts_ = 0;
    uint64_t dts_ = 0;

    std::vector<uint8_t> systemHeader_;
    std::vector<uint8_t> psmCollector_;

    Mpeg2PsSampleAssembler samples_;
    bool closingLastPicture_ = false;  // trick play: the pending picture is the stream's last

    Mpeg2PsHeaderSectionReader header_;  // index entries, metadata blocks, pack-0 map
    Mpeg2PsTrickPlayWriter trickPlay_;
};

}  // namespace SarvelonMediaKit

#endif
