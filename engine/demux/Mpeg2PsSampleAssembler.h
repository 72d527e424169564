#ifndef ENGINE_DEMUX_MPEG2PSSAMPLEASSEMBLER_H
#define ENGINE_DEMUX_MPEG2PSSAMPLEASSEMBLER_H

#include <boost/function.hpp>

#include <cstdint>

#include "engine/container/Mpeg2PsResult.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

// Gathers the payloads of a program stream's media packets into samples. A packet with a PTS
// starts a sample; the packets without one that follow it (whatever their stream) add their
// payloads to it, each as a chunk of its own. A sample is handed on when the next packet with a
// PTS starts (or when Finish is called), and only whole: one whose packet ended before all its
// bytes came (a cut, lost sync) is replaced by the next sample, never handed on.
//
// A packet's payload becomes a slice of the input chunk it lies in (no copy; a stage that puts
// a header in front of it copies it then), also when it runs on into the next input chunk cut
// from the same buffer; a payload split across buffers, or given without its chunk, is copied
// once into a chunk of the sample sized to the packet's payload. The
// listener makes each new sample (CreateSample, asked for no payload); finished samples go to
// the handler given at construction.
class Mpeg2PsSampleAssembler {
public:
    // A media packet whose PES header has just been read; its payload follows through Add.
    struct Packet {
        uint8_t streamId = 0;
        uint16_t payloadLength = 0;  // the packet's bytes after its header
        uint8_t flags1 = 0;          // PES flags byte 1: scrambling (bits 5-4), alignment (bit 2)
        uint8_t flags2 = 0;          // PES flags byte 2: PTS present 0x80, DTS present 0x40
        uint64_t pts = 0;            // 90 kHz
        uint64_t dts = 0;            // 90 kHz
        uint64_t scr = 0;            // of the packet's pack, 27 MHz
        SampleMediaType type = SampleMediaTypeNone;
        uint64_t timingOffset = 0;  // microseconds added to every decode time (the track's)
    };
    // Receives each finished sample; a result other than Ok is returned to the caller unchanged.
    typedef boost::function<Mpeg2PsResult(Sample&)> FinishedHandler;

    Mpeg2PsSampleAssembler(Mpeg2PsParserListener& listener, const FinishedHandler& finished);
    Mpeg2PsSampleAssembler(const Mpeg2PsSampleAssembler&) = delete;
    Mpeg2PsSampleAssembler& operator=(const Mpeg2PsSampleAssembler&) = delete;

    // The packet's payload follows: it replaces an open sample that was never filled, starts a
    // new sample after handing on the open one (a packet with a PTS), or continues it.
    Mpeg2PsResult PacketStarts(const Packet& packet);
    // Starts a sample for the packet, dropping any open one; with no payload there is none.
    void Start(const Packet& packet);
    // Hands on the open sample when all its bytes have come; nothing otherwise.
    Mpeg2PsResult Finish();
    // Payload bytes of the current packet; beyond the packet's length they are not kept.
    // source, when given, is the chunk the bytes lie in, which a slice may be cut from.
    void Add(const MemoryChunk* source, const uint8_t* bytes, uint32_t n);
    // The current packet's payload goes nowhere from here, and the packets without a PTS that
    // follow do not continue the open sample (a pack or a sync point came between).
    void StopCopying() { copyInProgress_ = false; }
    // Drops the open sample.
    void Reset();

    // The clocks of the pack (27 MHz) and packet (90 kHz) that started the last sample; kept
    // after it was handed on.
    uint64_t GetStartScr() const { return startScr_; }
    uint64_t GetStartPts() const { return startPts_; }

private:
    void Drop();

    Mpeg2PsParserListener& listener_;
    const FinishedHandler finished_;
    Sample sample_;
    // Where the next payload byte goes in the sample's last chunk; null before the current
    // packet's first bytes came (its chunk is made or cut then) and once it is whole.
    uint8_t* write_ = nullptr;
    // The current packet's first bytes came as a slice, which the rest is to lengthen.
    bool slicing_ = false;
    // Payload bytes of the current packet still to come; a sample is whole only at 0.
    uint32_t left_ = 0;
    bool copyInProgress_ = false;
    uint64_t startScr_ = 0;
    uint64_t startPts_ = 0;
};

}  // namespace SarvelonMediaKit

#endif
