#ifndef TOOLS_SVREMUX_RENDITIONCUT_H
#define TOOLS_SVREMUX_RENDITIONCUT_H

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

// The stage between a download and the demultiplexer that lets only the title's first
// rendition through. The renditions of a multi-rate title follow one another in the file with
// the same stream ids, so reading on would put the next rendition's pictures behind those of
// the first: once the index has told where the first rendition ends (SetEnd), nothing past that
// byte goes on, and an end-of-stream follows the last byte. Until then each pull takes at most
// kProbeBytes, so that the pull which completes the index runs only a little into the media.
//
// A download marks the end of what it fetched with an end-of-data marker; here that is the end
// of the media (the rendition runs to the end of the resource, or the resource was shorter than
// its index says, which the caller tells from Position()). The marker itself stops here: the
// file sink would take it for the end of the whole output and stop before the multiplexer has
// handed on what it holds.
//
// Runs on the session's task thread, as every stage does; Position() may be read anywhere.
class RenditionCut : public Component {
public:
    static constexpr uint32_t kProbeBytes = 16384;
    static constexpr uint64_t kUnknown = ~uint64_t(0);

    explicit RenditionCut(Session* session) : Component(session) {}

    // The byte after the first rendition; kUnknown when the index does not tell (the media then
    // run to the end of the download).
    void SetEnd(uint64_t end) {
        end_ = end;
        endKnown_ = true;
        if (end_ != kUnknown && position_ >= end_) Finish();
    }
    // Bytes passed on so far.
    uint64_t Position() const { return position_.load(); }
    bool Ended() const { return ended_.load(); }

    std::string GetTypeName() const override { return "SarvelonMediaKit::RenditionCut"; }

    void PrePullData(ByteAmount& amount) override {
        if (ended_) {
            amount = ByteAmount(0);
        } else if (!endKnown_) {
            amount = std::min<uint32_t>(amount, kProbeBytes);
        } else if (end_ != kUnknown) {
            amount = ByteAmount(uint32_t(std::min<uint64_t>(amount, Left())));
        }
    }

    ByteAmount DoGetBufferedBytes() override {
        if (ended_) return ByteAmount(0);
        const ByteAmount buffered = Component::DoGetBufferedBytes();
        if (!endKnown_ || end_ == kUnknown) return buffered;
        return ByteAmount(uint32_t(std::min<uint64_t>(buffered, Left())));
    }

    void DoAdd(const MemoryChunk& chunk) override {
        if (ended_) return;
        if (endKnown_ && end_ != kUnknown && chunk.Size() > Left()) {
            // The chunk runs into the next rendition: only its front goes on, as a chunk of its
            // own (copies of a chunk share its payload range with whoever else holds it).
            const uint32_t front = uint32_t(Left());
            if (front != 0) Pass(MemoryChunk::CopyOf(chunk.Data(0), front));
            Finish();
            return;
        }
        Pass(chunk);
        if (endKnown_ && end_ != kUnknown && position_ >= end_) Finish();
    }

    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (ended_) return false;
        if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
            Finish();
            return false;
        }
        if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) ended_ = true;
        return true;
    }

private:
    uint64_t Left() const { return position_ < end_ ? end_ - position_ : 0; }

    void Pass(const MemoryChunk& chunk) {
        position_ += chunk.Size();
        DoSend(chunk);
    }

    void Finish() {
        if (ended_) return;
        ended_ = true;
        DoSend(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    }

    uint64_t end_ = kUnknown;
    bool endKnown_ = false;
    std::atomic<uint64_t> position_{0};
    std::atomic<bool> ended_{false};
};

}  // namespace SarvelonMediaKit

#endif  // TOOLS_SVREMUX_RENDITIONCUT_H
