#ifndef TOOLS_SVREMUX_REMUXSINK_H
#define TOOLS_SVREMUX_REMUXSINK_H

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/core/Session.h"
#include "engine/input/FileClient.h"
#include "engine/serve/FileServer.h"

namespace SarvelonMediaKit {

// The file sink of the chain, which also tells when the stream is complete: after the end of
// the stream, a whole pump pass that writes nothing more means the multiplexer has handed on
// everything it held. It samples the input position for the progress line on the pump thread,
// where the chain lives.
//
// The multiplexer hands on one chunk per PES packet (a few KiB), and the plain file sink
// writes every chunk the moment it comes. Here the chunks are held back until about 1 MiB has
// come and then written in one gathered write: the output costs a few hundred system calls
// instead of one per audio frame and picture. The chunks are kept, not copied: the multiplexer
// makes a new one for every PES packet and never touches it again.
class RemuxSink : public FileServer {
public:
    static constexpr size_t kWriteBytes = 1u << 20;

    RemuxSink(Session* session, FileClient* client) : FileServer(session), client_(client) {}

    void DoAdd(const MemoryChunk& chunk) override {
        const uint32_t size = chunk.Size();
        if (size == 0) {
            return;
        }
        pending_.push_back(chunk);
        pendingBytes_ += size;
        written_ += size;
        writtenSinceTick_ = true;
        if (pendingBytes_ >= kWriteBytes) {
            WritePending();
        }
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        WritePending();  // whatever came before a marker is on disk before it acts
        if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
            endOfStream_ = true;
        }
        return FileServer::DoProcessMemoryMarker(marker);
    }
    void DoTick() override {
        FileServer::DoTick();
        read_ = client_->GetReadPosition();
        if (endOfStream_ && !writtenSinceTick_ && !complete_) {
            WritePending();
            complete_ = !HasFailed();
            session_->Stop(false);
        }
        writtenSinceTick_ = false;
    }

    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> read_{0};
    std::atomic<bool> complete_{false};

private:
    void WritePending() {
        if (pending_.empty()) {
            return;
        }
        WriteChunks(pending_);
        pending_.clear();
        pendingBytes_ = 0;
    }

    FileClient* client_;
    std::vector<MemoryChunk> pending_;
    size_t pendingBytes_ = 0;
    bool endOfStream_ = false;
    bool writtenSinceTick_ = false;
};

}  // namespace SarvelonMediaKit

#endif  // TOOLS_SVREMUX_REMUXSINK_H
