#include "tests/support/HlsTestChain.h"

#include <boost/make_shared.hpp>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"
#include "tests/support/ChainBuilder.h"

namespace SvTestSupport {

using namespace SarvelonMediaKit;

namespace {

// What playback gives its chain: 8 MiB of which 512 KiB stay free for an audio branch, a pump
// pass every 2 ms pulling 128 KiB, 15 s to read the index.
const uint32_t kCacheSize = 8u << 20;
const uint32_t kAudioBranchReserve = 512u << 10;
const uint64_t kMainPumpInterval = 2000;
const uint64_t kServingPumpInterval = 5000;
const uint32_t kPullAmount = 131072;
const uint64_t kPreloadTimeout = 15000000;
const uint32_t kLoopbackAddress = 0x7F000001;
const uint32_t kAudioFramesPerPes = 4;

// The title's base name with its extension replaced by "m3u8".
std::string PlaylistNameOf(const std::string& title) {
    const size_t slash = title.rfind('/');
    std::string base = slash == std::string::npos ? title : title.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.erase(dot);
    return base + ".m3u8";
}

}  // namespace

CountingFileClient::CountingFileClient(Session* session) : FileClient(session) {}

void CountingFileClient::DoSeek(BytePosition start, BytePosition end, bool flag) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seeks_.push_back(start.Get());
    }
    FileClient::DoSeek(start, end, flag);
}

std::vector<uint64_t> CountingFileClient::Seeks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seeks_;
}

size_t CountingFileClient::SeekCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seeks_.size();
}

HlsTestChain::HlsTestChain(const std::string& title, uint16_t port)
    : title_(title),
      requestedPort_(port),
      playlistName_(PlaylistNameOf(title)),
      accepting_(false),
      started_(false),
      stopped_(false) {}

HlsTestChain::~HlsTestChain() {
    Stop();
    // Before the members that SetError writes go.
    DetachFromSources();
}

void HlsTestChain::Start() {
    if (started_) return;
    started_ = true;
    session_ = Session::Create();
    Session* session = session_.get();
    static_cast<ErrorInfoSource&>(*session_).AddMonitor(this);

    // Built from the output end back to the source, as the stack lists them.
    segmenter_ = boost::make_shared<LiveHttpSegmenter>(session);
    static_cast<ErrorInfoSource&>(*segmenter_).AddMonitor(this);
    segmenter_->SetOnDemand(true);
    segmenter_->SetAdaptive(false);
    mux_ = boost::make_shared<Mpeg2TsMux>(session);
    // Four audio frames to a PES, as playback has it for HLS.
    mux_->SetMergeCount(kAudioFramesPerPes);
    demux_ = boost::make_shared<Mpeg2PsDemux>(session);
    static_cast<ErrorInfoSource&>(*demux_).AddMonitor(this);
    static_cast<StreamInfoSource&>(*demux_).AddMonitor(segmenter_.get());
    seeker_ = boost::make_shared<MediaSeeker>(session);
    static_cast<StreamInfoSource&>(*demux_).AddMonitor(seeker_.get());
    client_ = boost::make_shared<CountingFileClient>(session);
    static_cast<ErrorInfoSource&>(*client_).AddMonitor(this);

    ComponentStack stack =
        SvTestSupport::BuildChain(StackIdMain, {segmenter_, mux_, demux_, seeker_, client_});
    client_->SetName(title_, true);
    demux_->SetName(title_, true);
    segmenter_->SetName(playlistName_, false);

    session_->SetCapacity(ByteAmount(kCacheSize - kAudioBranchReserve));
    session_->SetComponentStack(stack);
    session_->StartPump(MediaTime(kMainPumpInterval));
    session_->SetPullAmount(ByteAmount(kPullAmount));
    session_->Start();
    session_->PreLoad(MediaTime(kPreloadTimeout));

    // The front door watches its listening socket on the main session's socket thread.
    front_.reset(new MultiSocketDelegateServer(
        session, nullptr, [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
            return Serve(accepted);
        }));
    accepting_ = true;
    front_->Listen(requestedPort_, kLoopbackAddress);
}

uint16_t HlsTestChain::Port() const { return front_ ? front_->GetListeningPort() : 0; }

std::string HlsTestChain::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(Port()) + "/";
}

std::string HlsTestChain::PlaylistUrl() const { return BaseUrl() + segmenter_->GetUrlName(); }

SocketDelegate* HlsTestChain::Serve(SV::PilSocketHolder& accepted) {
    if (!accepting_) return nullptr;
    Reap();
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<LiveHttpServer> server = boost::make_shared<LiveHttpServer>(session.get());
    server->SetFileSource(segmenter_.get());
    ComponentStack stack = SvTestSupport::BuildChain(StackIdServing, {server});
    session->SetComponentStack(stack);
    static_cast<ErrorInfoSource&>(*session).AddMonitor(this);
    session->StartPump(MediaTime(kServingPumpInterval));
    session->SetPullAmount(ByteAmount(kPullAmount));
    session->Start();
    server->SwapSocket(accepted);
    server->SetSocketMaster(session.get());
    std::lock_guard<std::mutex> lock(servingLock_);
    serving_.push_back(session);
    return server.get();
}

void HlsTestChain::Reap() {
    std::vector<boost::shared_ptr<Session>> stopped;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        for (size_t i = 0; i < serving_.size();) {
            if (serving_[i]->WaitForStop(0)) {
                stopped.push_back(serving_[i]);
                serving_.erase(serving_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    // Destroyed here, outside the lock: a session waits for its threads as it goes.
}

size_t HlsTestChain::ServingSessions() {
    Reap();
    std::lock_guard<std::mutex> lock(servingLock_);
    return serving_.size();
}

void HlsTestChain::Stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    // No new connection, then no connection: the servers read the segmenter's files and must
    // be gone before the chain that makes them.
    accepting_ = false;
    front_.reset();
    std::vector<boost::shared_ptr<Session>> serving;
    {
        std::lock_guard<std::mutex> lock(servingLock_);
        serving.swap(serving_);
    }
    for (const boost::shared_ptr<Session>& session : serving) session->Stop(true);
    serving.clear();
    session_->Stop(true);
}

std::vector<std::pair<SVStatus, std::string>> HlsTestChain::Errors() const {
    std::lock_guard<std::mutex> lock(errorLock_);
    return errors_;
}

void HlsTestChain::SetError(SVStatus status, std::string text) {
    std::lock_guard<std::mutex> lock(errorLock_);
    errors_.push_back(std::make_pair(status, text));
}

}  // namespace SvTestSupport
