#include "engine/serve/FileServer.h"

#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {

FileServer::FileServer(Session* session)
    : Component(session), mFailed(false), mStopped(false) {}

FileServer::~FileServer() {
    DetachAll();
}

void FileServer::DoSetName(const std::string& name, bool) {
    if (mFile.is_open()) {
        mFile.close();
    }
    mFile.clear();
    mFailed = false;
    mFile.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!mFile.is_open()) {
        // Reported now; the session is stopped when the first chunk finds no file, so that a
        // chain still being set up is not torn down under its maker.
        Fail(name, false);
    }
}

void FileServer::DoAdd(const MemoryChunk& chunk) {
    if (mFailed || !mFile.is_open()) {
        // Nothing can be stored: whatever arrives now would be lost.
        if (!mFailed) {
            Fail("Could not write bytes", true);
        } else {
            StopSession();
        }
        return;
    }
    const uint32_t size = chunk.Size();
    if (size > 0) {
        mFile.write(reinterpret_cast<const char*>(chunk.Data(0)), size);
    }
    mFile.flush();
    if (!mFile) {
        Fail("Could not write bytes", true);
    }
}

bool FileServer::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
        if (mFile.is_open()) {
            mFile.flush();
        }
        StopSession();
    }
    return true;
}

ByteAmount FileServer::DoGetBytesWanted() {
    return ByteAmount(std::numeric_limits<uint32_t>::max());
}

std::string FileServer::GetTypeName() const {
    return "SarvelonMediaKit::FileServer";
}

void FileServer::Fail(const std::string& text, bool stopSession) {
    if (!mFailed) {
        mFailed = true;
        DebugPrint("FileServer: %s\n", text.c_str());
        if (mFile.is_open()) {
            mFile.close();
        }
        PublishError(SVStatusFileInput, text);
    }
    if (stopSession) {
        StopSession();
    }
}

void FileServer::StopSession() {
    if (mStopped) {
        return;
    }
    mStopped = true;
    if (mSession) {
        mSession->Stop(false);
    }
}

}  // namespace SarvelonMediaKit
