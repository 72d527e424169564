#include "engine/serve/FileServer.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {

// Writes every byte the pieces describe, resuming after a partial write or an interrupted
// call; the pieces are consumed on the way. 0 when all is written, else the system's reason
// (ECANCELED once CancelWrites has been called).
int FileServer::WriteAll(struct iovec* pieces, size_t total) {
    size_t first = 0;
    writer_ = pthread_self();
    // The wake signal reaches this thread while it writes, and only then.
    struct Writing {
        std::atomic<bool>& flag;
        sigset_t old;
        bool restore;
        ~Writing() {
            flag = false;
            if (restore) {
                pthread_sigmask(SIG_SETMASK, &old, nullptr);
            }
        }
    } writing{writing_, sigset_t(), false};
    const int wake = wakeSignal_;
    if (wake != 0) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, wake);
        writing.restore = pthread_sigmask(SIG_UNBLOCK, &set, &writing.old) == 0;
    }
    writing_ = true;
    while (first < total) {
        // Checked after writing_ is set: a canceller that missed this check sees the flag and
        // keeps waking the thread until it leaves.
        if (cancelled_) {
            return ECANCELED;
        }
        const int count = static_cast<int>(std::min<size_t>(total - first, IOV_MAX));
        const ssize_t written = ::writev(fd_, &pieces[first], count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return errno != 0 ? errno : EIO;
        }
        if (written == 0) {
            return ENOSPC;  // a file that takes nothing more
        }
        size_t left = static_cast<size_t>(written);
        while (left > 0) {
            struct iovec& piece = pieces[first];
            if (left < piece.iov_len) {
                piece.iov_base = static_cast<char*>(piece.iov_base) + left;
                piece.iov_len -= left;
                break;
            }
            left -= piece.iov_len;
            ++first;
        }
    }
    return 0;
}

void FileServer::CancelWrites() {
    cancelled_ = true;
    const int wakeSignal = wakeSignal_;
    // A thread blocked in a write (a pipe nobody reads) returns from it only when a signal
    // interrupts it. The signal may come just before the thread enters the call, so it is sent
    // again until the thread has left the write.
    while (writing_ && wakeSignal != 0) {
        pthread_kill(writer_, wakeSignal);
        usleep(kWakeIntervalMicroseconds);
    }
}

FileServer::FileServer(Session* session)
    : Component(session),
      fd_(-1),
      failed_(false),
      stopped_(false),
      failureReason_(0),
      cancelled_(false),
      writing_(false),
      writer_(pthread_t()),
      wakeSignal_(0),
      endOfStream_(false) {}

FileServer::~FileServer() {
    DetachAll();
    CloseFile();
}

void FileServer::DoSetName(const std::string& name, bool) {
    CloseFile();
    failed_ = false;
    failureReason_ = 0;
    endOfStream_ = false;
    // As a C++ output stream opened for writing would: created when missing, truncated when
    // present, the mode left to the umask. An owner that set a wake signal handles its own
    // signals without restarting calls: an open that waits (a FIFO nobody reads yet) then fails
    // on the first signal instead of waiting again, so that the owner can stop.
    //
    // A file that is already empty (an owner made it just before) is not truncated again: on
    // ext4 a truncation to nothing marks the file for a flush of everything written when it is
    // closed, which makes the close wait for the disk (a fifth of a second per few hundred MB).
    do {
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR && wakeSignal_ == 0);
    struct stat info;
    if (fd_ >= 0 && fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        ftruncate(fd_, 0) != 0) {
        const int reason = errno;
        ::close(fd_);
        fd_ = -1;
        errno = reason;
    }
    if (fd_ < 0) {
        failureReason_ = errno;
        // Reported now; the session is stopped when the first chunk finds no file, so that a
        // chain still being set up is not torn down under its maker.
        Fail(name, false);
    }
}

void FileServer::DoAdd(const MemoryChunk& chunk) {
    if (!CanWrite()) {
        return;
    }
    struct iovec piece = {chunk.Data(0), chunk.Size()};
    const int reason = WriteAll(&piece, chunk.Size() > 0 ? 1 : 0);
    if (reason != 0) {
        WriteFailed(reason);
    }
}

void FileServer::WriteChunks(const std::vector<MemoryChunk>& chunks) {
    if (!CanWrite()) {
        return;
    }
    std::vector<struct iovec> pieces;
    pieces.reserve(chunks.size());
    for (const MemoryChunk& chunk : chunks) {
        if (chunk.Size() > 0) {
            pieces.push_back(iovec{chunk.Data(0), chunk.Size()});
        }
    }
    const int reason = WriteAll(pieces.data(), pieces.size());
    if (reason != 0) {
        WriteFailed(reason);
    }
}

bool FileServer::CanWrite() {
    if (!failed_ && fd_ >= 0) {
        return true;
    }
    // Nothing can be stored: whatever arrives now would be lost.
    if (!failed_) {
        Fail("Could not write bytes", true);
    } else {
        StopSession();
    }
    return false;
}

bool FileServer::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
        StopSession();  // every byte is already with the system
    }
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        endOfStream_ = true;
    }
    return true;
}

void FileServer::DoSetPosition(BytePosition position, StackId stackId) {
    Component::DoSetPosition(position, stackId);
    if (stackId == GetStackId() || stackId == StackIdAny) {
        endOfStream_ = false;
    }
}

ByteAmount FileServer::DoGetBytesWanted() {
    return ByteAmount(std::numeric_limits<uint32_t>::max());
}

std::string FileServer::GetTypeName() const { return "SarvelonMediaKit::FileServer"; }

void FileServer::WriteFailed(int reason) {
    if (!failed_) {
        failureReason_ = reason;  // before anything else can change errno
    }
    Fail("Could not write bytes", true);
}

void FileServer::Fail(const std::string& text, bool stopSession) {
    if (!failed_) {
        failed_ = true;
        DebugPrint("FileServer: %s\n", text.c_str());
        CloseFile();
        PublishError(SVStatusFileInput, text);
    }
    if (stopSession) {
        StopSession();
    }
}

void FileServer::CloseFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void FileServer::StopSession() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    if (session_) {
        session_->Stop(false);
    }
}

}  // namespace SarvelonMediaKit
