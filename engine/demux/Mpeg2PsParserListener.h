#ifndef ENGINE_DEMUX_MPEG2PSPARSERLISTENER_H
#define ENGINE_DEMUX_MPEG2PSPARSERLISTENER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/Sample.h"

namespace SarvelonMediaKit {

// Receives what a program-stream parser (Mpeg2PsParser) finds: the demultiplexer, the
// out-of-band thumbnail reader, the tools and the tests. The parser calls its one listener and
// the listener never calls back into parsing. Every operation has a default that does nothing
// or gives the parser's own answer, so a listener overrides only what it needs. A non-zero
// Result stops Parse and comes out of it unchanged.
class Mpeg2PsParserListener {
public:
    typedef uint32_t Result;

    virtual ~Mpeg2PsParserListener();

    // A PES timestamp (low 32 bits, 90 kHz): kind 1 for the audio stream, 2 for the video
    // stream, 0 for any other; timestamp the DTS, else the PTS; scrBase the pack's SCR base
    // (0 for another stream's packet with a DTS). In trick play: each written key frame, with
    // its PTS and where in the title the output stands.
    virtual void OnTimestamp(uint32_t kind, uint32_t timestamp, uint32_t scrBase);
    // Pass-through output: the input as it goes on, and the packs trick play writes.
    virtual Result OnOutputChunk(const MemoryChunk& chunk);
    // A completed sample (demultiplexing mode), or a silent audio frame of trick play.
    virtual Result OnSample(const Sample& sample);
    // A track read from an index entry of the header section.
    virtual Result OnNewTrack(const boost::shared_ptr<MediaTrack>& track);
    // The stream's program stream map was read (only the first map that names streams is).
    virtual void OnStreamMap(const Mpeg2PsPsm& map);
    // The index is complete: once, at the first media packet (or the program end).
    virtual Result MetadataComplete();
    // The image of a thumbnail block with its chapter index.
    virtual void OnThumbnail(uint32_t chapterIndex, const std::vector<uint8_t>& image);
    // The parser was reset (Mpeg2PsParser::Reset).
    virtual void OnReset();
    // Asked when sync is lost or data precede the first pack; 0 resynchronises, anything else
    // stops Parse with that result. answer is the parser's own: 1 (data before the first pack)
    // while no pack header was seen, else 0; the default returns it.
    virtual Result ShouldResync(const uint8_t* current, uint32_t bytesLeft, Result answer);
    // Damaged data: after sync was lost, count bytes from the stream position position (see
    // Mpeg2PsParser::SetStreamPosition) were skipped to reach the next sync point. Told once
    // per stretch: at the sync point, or when Reset or the end of the data (EndOfData) cuts
    // the stretch short. Nothing by default.
    virtual void OnDataSkipped(uint64_t position, uint64_t count);
    // Whether the program end code stops Parse (with 12); true by default.
    virtual bool StopAtProgramEnd();
    // The sample that the payload of a media packet (payloadLength bytes) of the stream goes
    // into. type is the parser's media type for the stream: 1 for its audio stream, 2 for its
    // video stream, else 0. The default is an empty sample of that type; a payload chunk of
    // exactly payloadLength bytes, when the sample holds one, is filled in place.
    virtual Sample CreateSample(uint8_t streamId, uint32_t payloadLength, uint32_t type);
};

}  // namespace SarvelonMediaKit

#endif
