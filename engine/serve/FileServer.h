#ifndef ENGINE_SERVE_FILESERVER_H
#define ENGINE_SERVE_FILESERVER_H

#include <sys/uio.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/ErrorInfoSource.h"

namespace SarvelonMediaKit {

// The output end of a chain that writes the produced stream to a file: every chunk that
// reaches it is appended to the file named by SetName, and the end-of-data marker ends the
// session. The end-of-stream marker does not end it (an owner may still have work to finish
// after it); it is recorded, so that the owner can tell when the whole stream is written.
//
// A file that cannot be opened or written is published as error 1013 through this
// component's error source (the path, or "Could not write bytes"), once; nothing more is
// written after that, and the session is stopped at the first chunk that cannot be stored, so
// a truncated output never passes for a complete one.
class FileServer : public Component, public ErrorInfoSource {
public:
    explicit FileServer(Session* session);
    ~FileServer() override;

    // Opens the path for writing in binary mode, truncating an existing file. The flag is
    // not used.
    void DoSetName(const std::string& name, bool flag) override;
    // Appends the chunk's bytes to the file. Nothing is buffered in the process: the bytes are
    // with the system when the call returns.
    void DoAdd(const MemoryChunk& chunk) override;
    // Appends the bytes of the chunks in their order, as adding them one by one would, but in
    // as few system calls as the system takes (a gathered write), without copying them
    // together first. Markers and empty chunks among them are skipped.
    void WriteChunks(const std::vector<MemoryChunk>& chunks);
    // Stops the session on end of data, notes the end of the stream; every marker goes on.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    // A reposition of this stack forgets the end of the stream: more data will come.
    void DoSetPosition(BytePosition position, StackId stackId) override;
    // The sink never limits its source.
    ByteAmount DoGetBytesWanted() override;
    std::string GetTypeName() const override;

    // True once an open or a write has failed.
    bool HasFailed() const { return failed_; }
    // True once the end-of-stream marker has arrived since the file was named or the stack
    // last repositioned: the multiplexer hands it on behind everything it held, so every byte
    // of the stream has reached the file by then (unless HasFailed). Safe on any thread.
    bool HasReachedEndOfStream() const { return endOfStream_; }
    // The system's reason (an errno value) for the failed open or write, taken right after
    // the failing call; ECANCELED for writes given up (WritingCancelled), ENOSPC for a file that
    // took no byte, 0 while nothing has failed. Read it once the writing thread has stopped.
    int FailureReason() const { return failureReason_; }

protected:
    // Asked before every write call and after one that a signal interrupted: true once an owner
    // that interrupts blocked writes on purpose (a pipe or FIFO whose reader stopped reading)
    // has given them up. The write then fails with ECANCELED. Never, by default.
    virtual bool WritingCancelled() const { return false; }
    // True when a signal that interrupts the open ends it instead of its being tried again (an
    // owner whose signals stop a wait for a FIFO's reader). No, by default.
    virtual bool OpenEndsOnSignal() const { return false; }

private:
    int WriteAll(struct iovec* pieces, size_t total);
    void WriteFailed(int reason);
    // Publishes the error once, closes the file and stops the session.
    void Fail(const std::string& text, bool stopSession);
    void StopSession();
    void CloseFile();
    // True when there is a file to write to; otherwise fails (once) and stops the session.
    bool CanWrite();

    int fd_;  // -1 when no file is open
    bool failed_;
    bool stopped_;
    std::atomic<int> failureReason_;
    std::atomic<bool> endOfStream_;
};

}  // namespace SarvelonMediaKit

#endif
