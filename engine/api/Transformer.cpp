#include "engine/api/Transformer.h"

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Path/Url.h"
#include "engine/api/TransformerWorkerThread.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/ExternalClient.h"
#include "engine/core/SVMKCredentials.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/input/HTTPClient.h"
#include "engine/mux/Mpeg2PsMux.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/FileServer.h"
#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

const uint32_t Transformer::kDefaultCacheSize;
const uint32_t Transformer::kAudioBranchReserve;
const uint64_t Transformer::kMainPumpInterval;
const uint64_t Transformer::kDefaultPreloadTimeout;

namespace {

// Audio samples the transport multiplexer joins into one PES packet for the segmenter.
const uint32_t kSegmentedMergeCount = 4;

bool IsProgramStream(MediaFormat format) {
    return format == MediaFormatMpeg2Ps || format == MediaFormatDvd || format == MediaFormatSmil;
}

}  // namespace

SVStatus Transformer::Initialize() { return SVStatusSuccess; }

// ---- Construction --------------------------------------------------------------------------

Transformer::Transformer(const std::string& url, MediaFormat outputFormat, OutputKind outputKind,
                         const std::string& outputName)
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

void Transformer::MonitorErrors(ErrorInfoSource& source) {
    source.AddMonitor(static_cast<ErrorInfoMonitor*>(this));
}

bool Transformer::BuildGraph() {
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
    const bool sparse = outputFormat_ != MediaFormatNone && IsSparse(url_);

    // Built from the output end back to the source; each component becomes the source of
    // the one appended before it.
    ComponentStack stack(StackIdMain);
    if (!BuildOutput(stack)) return false;
    if (!BuildMux(stack)) return false;
    BuildDemux(stack);
    if (!BuildSource(stack, sparse)) return false;

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
    FormPlaybackName();
    return true;
}

bool Transformer::BuildOutput(ComponentStack& stack) {
    Session* session = session_.get();
    switch (outputKind_) {
        case OutputKindNone:
        case OutputKindPassThrough: return true;
        case OutputKindFile: {
            if (outputFormat_ == MediaFormatRaw5 || outputFormat_ == MediaFormatRaw6) return true;
            if (outputName_.empty()) outputName_ = "output";
            boost::shared_ptr<FileServer> server = boost::make_shared<FileServer>(session);
            // A file that cannot be written must not pass for a finished output.
            MonitorErrors(*server);
            stack.AddComponent(server);
            server->SetName(outputName_, true);
            return true;
        }
        case OutputKindRtmpServer:
            SV::WriteLine("RTMPServer is not loaded");
            status_ = SVStatusUnrecognisedScheme;
            return true;
        case OutputKindHls: {
            if (mediaFormat_ == MediaFormatHls) return true;
            boost::shared_ptr<LiveHttpSegmenter> segmenter =
                boost::make_shared<LiveHttpSegmenter>(session);
            stack.AddComponent(segmenter);
            segmenter_ = segmenter.get();
            MonitorErrors(*segmenter);
            // Titles whose whole media exists get complete playlists.
            segmenter->SetOnDemand(IsProgramStream(mediaFormat_) || mediaFormat_ == MediaFormatMp4);
            return true;
        }
    }
    status_ = SVStatusUnrecognisedScheme;
    return false;
}

bool Transformer::BuildMux(ComponentStack& stack) {
    if (outputFormat_ == mediaFormat_ || outputFormat_ == MediaFormatNone) return true;
    Session* session = session_.get();
    switch (outputFormat_) {
        case MediaFormatMpeg2Ps:
        case MediaFormatDvd: {
            boost::shared_ptr<Mux> mux = MakePsMux(session, outputFormat_ == MediaFormatDvd);
            if (!mux) {
                status_ = SVStatusUnsupported;
                return false;
            }
            stack.AddComponent(mux);
            mux_ = mux.get();
            break;
        }
        case MediaFormatFlv:
            SV::WriteLine("libSVMKFlvMux not loaded");
            status_ = SVStatusUnsupported;
            break;
        case MediaFormatRaw5:
        case MediaFormatRaw6:
            SV::WriteLine("libSVMKRawMux not loaded");
            status_ = SVStatusUnsupported;
            break;
        case MediaFormatMpeg2Ts:
        case MediaFormatHls: {
            boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(session);
            stack.AddComponent(mux);
            mux_ = mux.get();
            // A transport-stream source may carry filler the output does not need.
            if (mediaFormat_ == MediaFormatMpeg2Ts) mux->SetRemoveFillerData(true);
            if (segmenter_ != nullptr) mux->SetMergeCount(kSegmentedMergeCount);
            break;
        }
        default: status_ = SVStatusUnsupported; return false;
    }
    switch (mediaFormat_) {
        case MediaFormatMpeg2Ps:
        case MediaFormatDvd:
        case MediaFormatSmil: return true;
        case MediaFormatFlv:
            SV::WriteLine("libSVMKFlvDemux not loaded");
            status_ = SVStatusUnsupported;
            return true;
        case MediaFormatMpeg2Ts:
        case MediaFormatHls:
            SV::WriteLine("libSVMKMpeg2TsDemux not loaded");
            status_ = SVStatusUnsupported;
            return true;
        case MediaFormatMp4:
            SV::WriteLine("libSVMKMP4Demux not loaded");
            status_ = SVStatusUnsupported;
            return true;
        default: status_ = SVStatusUnsupported; return false;
    }
}

void Transformer::BuildDemux(ComponentStack& stack) {
    if (!IsProgramStream(mediaFormat_)) return;
    Session* session = session_.get();
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session);
    stack.AddComponent(demux);
    demux_ = demux.get();
    static_cast<StreamInfoSource&>(*demux).AddMonitor(static_cast<StreamInfoMonitor*>(this));
    static_cast<StreamInfoSource&>(*demux).AddMonitor(static_cast<StreamInfoMonitor*>(&titleInfo_));
    MonitorErrors(*demux);
    static_cast<ChapterInfoSource&>(*demux).AddMonitor(
        static_cast<ChapterInfoMonitor*>(&titleInfo_));
    if (segmenter_ != nullptr) static_cast<StreamInfoSource&>(*demux).AddMonitor(segmenter_);

    boost::shared_ptr<MediaSeeker> seeker = boost::make_shared<MediaSeeker>(session);
    stack.AddComponent(seeker);
    seeker_ = seeker.get();
    // The seeker steers the download by the predicted bandwidth.
    seeker->SetUsePrediction(true);
    static_cast<StreamInfoSource&>(*demux).AddMonitor(seeker_);
    ++pendingPreloads_;
}

bool Transformer::BuildSource(ComponentStack& stack, bool sparse) {
    Session* session = session_.get();
    const SourceKind kind = sparse ? SourceKindHttp : sourceKind_;
    switch (kind) {
        case SourceKindLocalPath: {
            boost::shared_ptr<Component> client = CreateFileClient(session, &fileClient_);
            stack.AddComponent(client);
            MonitorErrors(*fileClient_);
            return true;
        }
        case SourceKindHttp: {
            Component* raw = nullptr;
            boost::shared_ptr<Component> client = MakeHttpClient(session, true, &raw);
            stack.AddComponent(client);
            httpClient_ = raw;
            // A sparse title is fetched piece by piece where it is read: nothing to buffer ahead.
            if (!sparse) client->SetMemoryCache(DequeMemoryCache::CreateForSession(client.get()));
            return true;
        }
        case SourceKindHttpLive:
            // An HLS playlist on HTTP is played by the system player directly.
            if (outputKind_ != OutputKindHls) {
                SV::WriteLine("libSVMKHttpLiveClient not loaded");
                status_ = SVStatusUnsupported;
            }
            return true;
        case SourceKindMemory:
            stack.AddComponent(boost::make_shared<ExternalClient>(session));
            return true;
        default: break;
    }
    status_ = SVStatusUnsupported;
    std::lock_guard<std::mutex> lock(errorTextLock_);
    errorText_.clear();
    return false;
}

boost::shared_ptr<Component> Transformer::MakeHttpClient(Session* session, bool mainChain,
                                                         Component** raw) {
    HTTPClient* client = nullptr;
    boost::shared_ptr<Component> made = CreateHTTPClient(session, &client);
    // A download that fails (a refused request, an error status) ends the playback as any
    // other component's error does.
    MonitorErrors(*client);
    // The seeker chooses the rendition from the rate the main download achieves; the audio
    // branch's download is too small a share to steer by.
    if (mainChain && seeker_ != nullptr) {
        static_cast<BandwidthInfoSource&>(*client).AddMonitor(
            static_cast<BandwidthInfoMonitor*>(seeker_));
    }
    *raw = client;
    return made;
}

boost::shared_ptr<Mux> Transformer::MakePsMux(Session* session, bool dvd) {
    boost::shared_ptr<Mpeg2PsMux> mux = boost::make_shared<Mpeg2PsMux>(session);
    if (dvd) {
        mux->SetDvdMode(1);
    }
    return mux;
}

void Transformer::ForgetChain() {
    // The stack that held them is gone with its components.
    httpClient_ = nullptr;
    fileClient_ = nullptr;
    seeker_ = nullptr;
    demux_ = nullptr;
    mux_ = nullptr;
    segmenter_ = nullptr;
    hasDemux_ = false;
    pendingPreloads_ = 0;
}

void Transformer::FormPlaybackName() {
    switch (outputKind_) {
        case OutputKindNone:
        case OutputKindPassThrough: outputName_.clear(); return;
        case OutputKindFile: return;
        case OutputKindRtmpServer:
        case OutputKindHls: break;
    }
    if (mediaFormat_ == MediaFormatHls) {
        // The remote playlist is played as it is.
        outputName_ = url_;
        return;
    }
    if (segmenter_ == nullptr) {
        outputName_.clear();
        return;
    }
    // The name comes from the path alone: a query (an "itag" that named the format, a
    // token) would otherwise end up in the playlist's name, and the player's request for it
    // would carry it as a query of its own and find nothing.
    std::string base;
    if (SV::IsUrl(url_)) {
        base = SV::GetUrlFileName(url_);
    } else {
        const size_t slash = url_.rfind('/');
        base = slash == std::string::npos ? url_ : url_.substr(slash + 1);
    }
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.erase(dot);
    base += ".m3u8";
    // The segmenter serves its top playlist under that name; the URL carries it encoded
    // where a path cannot carry it as it is.
    segmenter_->SetName(base, false);
    outputName_ =
        (boost::format("http://localhost:%u/%s") % GetLoopbackPort() % segmenter_->GetUrlName())
            .str();
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
