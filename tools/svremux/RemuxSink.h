#ifndef TOOLS_SVREMUX_REMUXSINK_H
#define TOOLS_SVREMUX_REMUXSINK_H

#include <atomic>
#include <cstdint>
#include <cstring>
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
// The multiplexer hands on one chunk per PES packet (a few KiB) and the file sink writes and
// flushes each chunk it is given: gathered into writes of about 1 MiB, the output costs a few
// hundred system calls instead of one per audio frame and picture.
class RemuxSink : public FileServer {
public:
    static constexpr size_t kWriteBytes = 1u << 20;

    RemuxSink(Session* session, FileClient* client) : FileServer(session), client_(client) {
        pending_.reserve(2 * kWriteBytes);
    }

    void DoAdd(const MemoryChunk& chunk) override {
        const uint32_t size = chunk.Size();
        if (size == 0) {
            return;
        }
        pending_.insert(pending_.end(), chunk.Data(0), chunk.Data(0) + size);
        written_ += size;
        writtenSinceTick_ = true;
        if (pending_.size() >= kWriteBytes) {
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
        MemoryChunk chunk = CreateMemoryChunk(uint32_t(pending_.size()), 0, 0);
        std::memcpy(chunk.Data(0), pending_.data(), pending_.size());
        pending_.clear();
        FileServer::DoAdd(chunk);
    }

    FileClient* client_;
    std::vector<unsigned char> pending_;
    bool endOfStream_ = false;
    bool writtenSinceTick_ = false;
};

}  // namespace SarvelonMediaKit

#endif  // TOOLS_SVREMUX_REMUXSINK_H
