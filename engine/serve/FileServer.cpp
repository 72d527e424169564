#include "engine/serve/FileServer.h"

#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {

FileServer::FileServer(Session* session) : Component(session), failed_(false), stopped_(false) {}

FileServer::~FileServer() { DetachAll(); }

void FileServer::DoSetName(const std::string& name, bool) {
    if (file_.is_open()) {
        file_.close();
    }
    file_.clear();
    failed_ = false;
    file_.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file_.is_open()) {
        // Reported now; the session is stopped when the first chunk finds no file, so that a
        // chain still being set up is not torn down under its maker.
        Fail(name, false);
    }
}

void FileServer::DoAdd(const MemoryChunk& chunk) {
    if (failed_ || !file_.is_open()) {
        // Nothing can be stored: whatever arrives now would be lost.
        if (!failed_) {
            Fail("Could not write bytes", true);
        } else {
            StopSession();
        }
        return;
    }
    const uint32_t size = chunk.Size();
    if (size > 0) {
        file_.write(reinterpret_cast<const char*>(chunk.Data(0)), size);
    }
    file_.flush();
    if (!file_) {
        Fail("Could not write bytes", true);
    }
}

bool FileServer::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
        if (file_.is_open()) {
            file_.flush();
        }
        StopSession();
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
        if (file_.is_open()) {
            file_.close();
        }
        PublishError(SVStatusFileInput, text);
    }
    if (stopSession) {
        StopSession();
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
