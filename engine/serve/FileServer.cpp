#include "engine/serve/FileServer.h"

#include <fcntl.h>
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

namespace {

// Writes every byte the pieces describe, resuming after a partial write or an interrupted
// call; the pieces are consumed on the way. False when the system refuses a write.
bool WriteAll(int fd, struct iovec* pieces, size_t total) {
    size_t first = 0;
    while (first < total) {
        const int count = static_cast<int>(std::min<size_t>(total - first, IOV_MAX));
        const ssize_t written = ::writev(fd, &pieces[first], count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;  // an error, or a file that takes nothing more
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
    return true;
}

}  // namespace

FileServer::FileServer(Session* session)
    : Component(session), fd_(-1), failed_(false), stopped_(false) {}

FileServer::~FileServer() {
    DetachAll();
    CloseFile();
}

void FileServer::DoSetName(const std::string& name, bool) {
    CloseFile();
    failed_ = false;
    // As a C++ output stream opened for writing would: created when missing, truncated when
    // present, the mode left to the umask.
    do {
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
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
    if (!WriteAll(fd_, &piece, chunk.Size() > 0 ? 1 : 0)) {
        Fail("Could not write bytes", true);
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
    if (!WriteAll(fd_, pieces.data(), pieces.size())) {
        Fail("Could not write bytes", true);
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
    return true;
}

ByteAmount FileServer::DoGetBytesWanted() {
    return ByteAmount(std::numeric_limits<uint32_t>::max());
}

std::string FileServer::GetTypeName() const { return "SarvelonMediaKit::FileServer"; }

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
