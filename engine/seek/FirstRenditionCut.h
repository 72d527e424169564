#ifndef ENGINE_SEEK_FIRSTRENDITIONCUT_H
#define ENGINE_SEEK_FIRSTRENDITIONCUT_H

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/core/Component.h"
#include "engine/core/StreamInfoMonitor.h"

namespace SarvelonMediaKit {

// The stage between any byte source (file client, HTTP client) and the demultiplexer of a chain
// that reads a title straight through from its first byte, and writes only the title's first
// rendition. The renditions of a multi-rate title follow one another in the container with the
// same stream ids, so reading on would put the next rendition's pictures behind those of the
// first: once the end of the first rendition is known, nothing past that byte goes on, and an
// end-of-stream follows its last byte. Until then each pull takes at most kProbeBytes, so that
// the pull which completes the index runs only a little into the media.
//
// The end is learnt from the demultiplexer's track list (attach the cut to it as a stream
// monitor): the byte after the first track's range (its offset plus its size), or no end when
// the index does not give both. SetEnd sets it directly.
//
// A download marks the end of what it fetched with an end-of-data marker; here that is the end
// of the media (the rendition runs to the end of the resource, or the resource was shorter than
// its index says, which the owner tells from Position()). The marker itself stops here: the
// file sink takes it for the end of the whole output and would stop before the multiplexer has
// handed on what it holds. A file client's own end-of-stream goes on as it is.
//
// Runs on the session's pump thread, as every stage and the demultiplexer's events do;
// Position() and Ended() may be read on any thread.
class FirstRenditionCut : public Component, public StreamInfoMonitor {
public:
    static constexpr uint32_t kProbeBytes = 16384;
    static constexpr uint64_t kUnknown = ~uint64_t(0);

    explicit FirstRenditionCut(Session* session);
    ~FirstRenditionCut() override;

    // The byte after the first rendition; kUnknown when the index does not tell (the media then
    // run to the end of the source).
    void SetEnd(uint64_t end);
    // Bytes passed on so far: the read position of a chain read from the start.
    uint64_t Position() const { return position_.load(); }
    // The end set or learnt; kUnknown until then, or when the index does not tell.
    uint64_t End() const { return end_.load(); }
    // True once the end-of-stream has gone on.
    bool Ended() const { return ended_.load(); }

    std::string GetTypeName() const override;
    void PrePullData(ByteAmount& amount) override;
    ByteAmount DoGetBufferedBytes() override;
    void DoAdd(const MemoryChunk& chunk) override;
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;

    // Takes the end of the first track from the track list.
    void TracksAvailable(const TrackMap& tracks, bool complete) override;

private:
    bool Limited() const { return endKnown_ && end_ != kUnknown; }
    uint64_t Left() const;
    void Pass(const MemoryChunk& chunk);
    void Finish();

    std::atomic<uint64_t> end_{kUnknown};
    std::atomic<bool> endKnown_{false};
    std::atomic<uint64_t> position_{0};
    std::atomic<bool> ended_{false};
};

}  // namespace SarvelonMediaKit

#endif
