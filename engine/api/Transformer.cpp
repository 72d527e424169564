#include "engine/api/Transformer.h"

#include <boost/make_shared.hpp>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Path/Url.h"
#include "engine/api/TransformerWorkerThread.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/SVMKCredentials.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

const uint32_t Transformer::kDefaultCacheSize;
const uint32_t Transformer::kAudioBranchReserve;
const uint64_t Transformer::kMainPumpInterval;
const uint64_t Transformer::kDefaultPreloadTimeout;

SVStatus Transformer::Initialize() { return SVStatusSuccess; }

// ---- Construction --------------------------------------------------------------------------

Transformer::Transformer(const std::string& url, MediaFormat outputFormat, OutputKind outputKind,
                         const std::string& outputName, const FileOutputOptions& fileOptions)
    : mediaFormat_(MediaFormatUnknown),
      sourceKind_(SourceKindUnknown),
      outputFormat_(outputFormat),
      outputKind_(outputKind),
      url_(url),
      outputName_(outputName),
      cacheSize_(kDefaultCacheSize),
      httpClient_(nullptr),
      fileClient_(nullptr),
      seeker_(nullptr),
      demux_(nullptr),
      mux_(nullptr),
      audioBranchDemux_(nullptr),
      segmenter_(nullptr),
      fileOptions_(fileOptions),
      status_(SVStatusSuccess),
      abortRequested_(false),
      hasDemux_(false),
      pendingPreloads_(0) {
    session_ = Session::Create();
    session_->AddMonitor(static_cast<SessionInfoMonitor*>(this));
    // Only segmented output has files to serve to a connection.
    serving_.reset(new ServingSessions(*session_, *this, outputKind_ == OutputKindHls));
    session_->AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    if (!BuildGraph()) ForgetChain();
    serving_->SetFileSource(segmenter_);
}

bool Transformer::BuildGraph() {
    if (fileOptions_.firstRenditionOnly && outputKind_ == OutputKindFile) {
        // A title of the engine's container whatever its name says, read whole: downloaded
        // for an http(s) URL, read from the file of that path otherwise.
        mediaFormat_ = MediaFormatMpeg2Ps;
        const std::string scheme = SV::IsUrl(url_) ? SV::GetUrlScheme(url_) : std::string();
        sourceKind_ = scheme == "http" || scheme == "https" ? SourceKindHttp : SourceKindLocalPath;
        return BuildChain(false);
    }
    mediaFormat_ = ClassifyMedia(url_);
    if (mediaFormat_ == MediaFormatUnknown) {
        status_ = SVStatusUnsupported;
        return false;
    }
    sourceKind_ = ClassifySource(url_);
    if (sourceKind_ == SourceKindUnknown) {
        status_ = SVStatusUnrecognisedScheme;
        return false;
    }
    return BuildChain(outputFormat_ != MediaFormatNone && IsSparse(url_));
}

bool Transformer::BuildChain(bool sparse) {
    ComponentStack stack(StackIdMain);
    PlaybackChainBuilder builder(*session_, *this, *this, titleInfo_, url_, mediaFormat_,
                                 sourceKind_, outputFormat_, outputKind_, outputName_,
                                 fileOptions_);
    const bool built = builder.Build(stack, sparse);
    // Set by a step that failed, or by one that goes on without what it could not load.
    if (builder.GetStatus() != SVStatusSuccess) status_ = builder.GetStatus();
    const PlaybackChain& chain = builder.GetChain();
    httpClient_ = chain.httpClient;
    fileClient_ = chain.fileClient;
    seeker_ = chain.seeker;
    demux_ = chain.demux;
    mux_ = chain.mux;
    segmenter_ = chain.segmenter;
    fileServer_ = chain.fileServer;
    cut_ = chain.cut;
    batchedFileServer_ = chain.batchedFileServer;
    pendingPreloads_ = chain.demuxCount;
    // A file output without a name is given one even when the chain stops short of it.
    outputName_ = builder.GetOutputName();
    if (!built) return false;

    hasDemux_ = pendingPreloads_ > 0;
    if (sparse) {
        session_->SetCapacity(ByteAmount(0xFFFFFFFFu));
    } else if (hasDemux_) {
        session_->SetCapacity(ByteAmount(cacheSize_ - kAudioBranchReserve));
    } else {
        session_->SetCapacity(ByteAmount(cacheSize_));
    }
    session_->SetComponentStack(stack);
    session_->StartPump(MediaTime(kMainPumpInterval));
    session_->Start();
    builder.NamePlayback();
    outputName_ = builder.GetOutputName();
    return true;
}

void Transformer::ForgetChain() {
    // The stack that held them is gone with its components.
    httpClient_ = nullptr;
    fileClient_ = nullptr;
    seeker_ = nullptr;
    demux_ = nullptr;
    mux_ = nullptr;
    segmenter_ = nullptr;
    fileServer_ = nullptr;
    cut_ = nullptr;
    batchedFileServer_ = nullptr;
    hasDemux_ = false;
    pendingPreloads_ = 0;
}

// ---- Destruction ---------------------------------------------------------------------------

Transformer::~Transformer() {
    SV::WriteLine("~Transformer");
    Stop();
    // No event may reach a half-destroyed object.
    StreamInfoMonitor::DetachFromSources();
    SessionInfoMonitor::DetachFromSources();
    ErrorInfoMonitor::DetachFromSources();
    titleInfo_.StreamInfoMonitor::DetachFromSources();
    titleInfo_.ChapterInfoMonitor::DetachFromSources();
    // Out of the main session's socket master before the session goes.
    serving_.reset();
    session_.reset();
    ForgetChain();
    SV::WriteLine("~Transformer done");
}

// ---- Monitors and accessors ----------------------------------------------------------------

void Transformer::AddStreamInfoMonitor(StreamInfoMonitor* monitor) {
    if (monitor == nullptr) return;
    if (demux_ != nullptr) static_cast<StreamInfoSource&>(*demux_).AddMonitor(monitor);
    streamMonitors_.push_back(monitor);
}

void Transformer::AddSessionInfoMonitor(SessionInfoMonitor* monitor) {
    if (monitor != nullptr && session_) session_->AddMonitor(monitor);
}

void Transformer::AddChapterInfoMonitor(ChapterInfoMonitor* monitor) {
    if (monitor != nullptr && demux_ != nullptr) {
        static_cast<ChapterInfoSource&>(*demux_).AddMonitor(monitor);
    }
}

SVStatus Transformer::StopSession() {
    if (session_) session_->Stop(false);
    return status_;
}

std::string Transformer::GetErrorText() const {
    std::lock_guard<std::mutex> lock(errorTextLock_);
    return errorText_;
}

}  // namespace SarvelonMediaKit
