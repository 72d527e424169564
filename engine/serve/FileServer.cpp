#include "engine/serve/FileServer.h"

#include <fcntl.h>
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
// (ECANCELED once the owner has given the writes up).
int FileServer::WriteAll(struct iovec* pieces, size_t total) {
    size_t first = 0;
    while (first < total) {
        if (WritingCancelled()) {
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

FileServer::FileServer(Session* session)
    : Component(session),
      fd_(-1),
      failed_(false),
      stopped_(false),
      failureReason_(0),
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
    // present, the mode left to the umask. An open that waits (a FIFO nobody reads yet) and is
    // interrupted by a signal is tried again, unless the owner says its signals end it.
    //
    // A file that is already empty (an owner made it just before) is not truncated again: on
    // ext4 a truncation to nothing marks the file for a flush of everything written when it is
    // closed, which makes the close wait for the disk (a fifth of a second per few hundred MB).
    do {
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR && !OpenEndsOnSignal());
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
