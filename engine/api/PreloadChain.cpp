#include "engine/api/PreloadChain.h"

#include <algorithm>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Path/Url.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/MultiFileMpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/input/HTTPClient.h"

namespace SarvelonMediaKit {

namespace {

// Time between two passes of a preload session's pump, in microseconds.
const uint64_t kPreloadPumpInterval = 2000;

bool IsHttpLocation(const std::string& location) {
    return SV::GetUrlScheme(location).compare(0, 4, "http") == 0;
}

}  // namespace

PreloadChain::PreloadChain(const MediaEntry& entry) : entry_(entry), demux_(nullptr) {}

PreloadChain::~PreloadChain() {
    DetachFromSources();
    Release();
}

void PreloadChain::Build(StreamInfoMonitor* streamOwner, ErrorInfoMonitor* errorOwner) {
    const std::string& location = entry_.location;
    boost::shared_ptr<Session> session = Session::Create();
    ComponentStack stack{StackId(StackIdServing)};
    MultiFileMpeg2PsDemux* demux = nullptr;
    boost::shared_ptr<Component> front = CreateMultiFileMpeg2PsDemux(session.get(), &demux);
    stack.AddComponent(front);
    demux->StreamInfoSource::AddMonitor(streamOwner);
    demux->StreamInfoSource::AddMonitor(this);
    demux->ErrorInfoSource::AddMonitor(errorOwner);
    demux->SetHashEnabled(entry_.hashGiven);
    demux->SetName(location, true);

    boost::shared_ptr<Component> client;
    if (IsHttpLocation(location)) {
        HTTPClient* http = nullptr;
        client = CreateHTTPClient(session.get(), &http);
        http->ErrorInfoSource::AddMonitor(errorOwner);
    } else {
        FileClient* file = nullptr;
        client = CreateFileClient(session.get(), &file);
        file->ErrorInfoSource::AddMonitor(errorOwner);
    }
    stack.AddComponent(client);
    client->SetName(location, true);
    session->SetComponentStack(stack);
    session->GetComponentStack().Front()->SetName(location, true);
    session_ = session;
    demux_ = demux;
}

void PreloadChain::Start(ByteAmount capacity, MediaTime timeout) {
    session_->SetCapacity(capacity);
    session_->StartPump(MediaTime(kPreloadPumpInterval));
    session_->Start();
    session_->PreLoad(timeout);
}

void PreloadChain::Stop() {
    if (session_) session_->Stop(true);
}

void PreloadChain::Release() {
    Stop();
    session_.reset();
    demux_ = nullptr;
}

bool PreloadChain::DigestMatches() const {
    if (!entry_.hashGiven || demux_ == nullptr) return true;
    const std::vector<uint8_t> digest = demux_->GetIndexDigest();
    const std::vector<unsigned char>& hash = entry_.hash;
    return digest.size() == hash.size() && std::equal(hash.begin(), hash.end(), digest.begin());
}

PreloadChain::TrackMap PreloadChain::GetTracks() const {
    std::lock_guard<std::mutex> lock(tracksLock_);
    return tracks_;
}

void PreloadChain::TracksAvailable(const TrackMap& tracks, bool) {
    std::lock_guard<std::mutex> lock(tracksLock_);
    if (tracks.empty() || !tracks_.empty()) return;
    tracks_ = tracks;
    DebugPrint("Completed preload %s\n", entry_.location.c_str());
}

// The session's own pump thread: the stop is only requested.
void PreloadChain::PreloadComplete() {
    if (session_) session_->Stop(false);
}

}  // namespace SarvelonMediaKit
