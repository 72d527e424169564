#ifndef ENGINE_DEMUX_MPEG2PSTIMESTAMPBATCH_H
#define ENGINE_DEMUX_MPEG2PSTIMESTAMPBATCH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core/StreamInfoSource.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

// The media times the parser meets, on their way to the monitors of a StreamInfoSource. A parse
// meets one at every packet: those met within one parse are held and published together when
// the parse ends (or once kHeld are held, or when something else is published from within the
// parse, which they must precede). Outside a parse a time is published at once: trick play
// also writes (and times) pictures its stream hands on outside one, when the stream drains at
// the end for one, and no parse end would publish those.
class Mpeg2PsTimestampBatch {
public:
    static constexpr size_t kHeld = 64;

    explicit Mpeg2PsTimestampBatch(StreamInfoSource& source) : source_(source) {}

    // Marks a parse under way for as long as it lives. Cleared however the parse ends (the
    // pump drops what a pass throws), so that times met later are not held for a parse that
    // is over.
    class Parse {
    public:
        explicit Parse(Mpeg2PsTimestampBatch& batch) : batch_(batch) { batch_.parsing_ = true; }
        ~Parse() { batch_.parsing_ = false; }
        Parse(const Parse&) = delete;
        Parse& operator=(const Parse&) = delete;

    private:
        Mpeg2PsTimestampBatch& batch_;
    };

    // A media time of the stream kind; both times in ticks of the 90 kHz clock.
    void Add(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase);
    // Publishes the media times met and not yet published.
    void Publish();

private:
    StreamInfoSource& source_;
    std::vector<StreamInfoSource::Timestamp> held_;  // at most kHeld
    bool parsing_ = false;
};

}  // namespace SarvelonMediaKit

#endif
