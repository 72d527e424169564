#ifndef ENGINE_DEMUX_MPEG2PSPARSERLISTENER_H
#define ENGINE_DEMUX_MPEG2PSPARSERLISTENER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

// Receives what a program-stream parser (Mpeg2PsParser) finds: the demultiplexer, the
// out-of-band thumbnail reader, the tools and the tests. The parser calls its one listener and
// the listener never calls back into parsing. Every operation has a default that does nothing
// or gives the parser's own answer, so a listener overrides only what it needs. A result other
// than Ok stops Parse and comes out of it unchanged (a listener may use a number of its own).
class Mpeg2PsParserListener {
public:
    virtual ~Mpeg2PsParserListener();

    // A PES timestamp (low 32 bits, 90 kHz): kind audio or video for the parser's audio or
    // video stream, none for any other; timestamp the DTS, else the PTS; scrBase the pack's SCR
    // base (0 for another stream's packet with a DTS). In trick play: each written key frame, with
    // its PTS and where in the title the output stands.
    virtual void OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase);
    // Pass-through output: the input as it goes on, and the packs trick play writes.
    virtual Mpeg2PsResult OnOutputChunk(const MemoryChunk& chunk);
    // A completed sample (demultiplexing mode), or a silent audio frame of trick play. The
    // listener may take it (move from it): the caller does not use it again.
    virtual Mpeg2PsResult OnSample(Sample& sample);
    // A track read from an index entry of the header section.
    virtual Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track);
    // The stream's program stream map was read (only the first map that names streams is).
    virtual void OnStreamMap(const Mpeg2PsPsm& map);
    // The index is complete: once, at the first media packet (or the program end).
    virtual Mpeg2PsResult MetadataComplete();
    // The image of a thumbnail block with its chapter index.
    virtual void OnThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image);
    // The parser was reset (Mpeg2PsParser::Reset).
    virtual void OnReset();
    // Asked when sync is lost or data precede the first pack; Ok resynchronises, anything else
    // stops Parse with that result. answer is the parser's own: NoPackFirst while no pack
    // header was seen, else Ok; the default returns it.
    virtual Mpeg2PsResult ShouldResync(const uint8_t* current, uint32_t bytesLeft,
                                       Mpeg2PsResult answer);
    // Damaged data: after sync was lost, count bytes from the stream position position (see
    // Mpeg2PsParser::SetStreamPosition) were skipped to reach the next sync point. Told once
    // per stretch: at the sync point, or when Reset or the end of the data (EndOfData) cuts
    // the stretch short. Nothing by default.
    virtual void OnDataSkipped(uint64_t position, uint64_t count);
    // Whether the program end code stops Parse (with ProgramEnd); true by default.
    virtual bool StopAtProgramEnd();
    // The sample that the payload of a media packet (payloadLength bytes) of the stream goes
    // into. type is the parser's media type for the stream: audio or video for its audio or
    // video stream, else none. The default is an empty sample of that type; a payload chunk of
    // exactly payloadLength bytes, when the sample holds one, is filled in place.
    virtual Sample CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type);
};

}  // namespace SarvelonMediaKit

#endif
