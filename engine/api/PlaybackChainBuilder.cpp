#include "engine/api/PlaybackChainBuilder.h"

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Path/Url.h"
#include "engine/api/TitleInfoCache.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/ExternalClient.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/input/HTTPClient.h"
#include "engine/mux/Mpeg2PsMux.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/seek/FirstRenditionCut.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/BatchedFileServer.h"
#include "engine/serve/FileServer.h"
#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

// Audio samples the transport multiplexer joins into one PES packet for the segmenter.
const uint32_t kSegmentedMergeCount = 4;

bool IsProgramStream(MediaFormat format) {
    return format == MediaFormatMpeg2Ps || format == MediaFormatDvd || format == MediaFormatSmil;
}

}  // namespace

PlaybackChainBuilder::PlaybackChainBuilder(Session& session, ErrorInfoMonitor& errors,
                                           StreamInfoMonitor& streams, TitleInfoCache& titleInfo,
                                           const std::string& url, MediaFormat mediaFormat,
                                           SourceKind sourceKind, MediaFormat outputFormat,
                                           OutputKind outputKind, const std::string& outputName,
                                           const FileOutputOptions& fileOptions)
    : session_(session),
      errors_(errors),
      streams_(streams),
      titleInfo_(titleInfo),
      url_(url),
      mediaFormat_(mediaFormat),
      sourceKind_(sourceKind),
      outputFormat_(outputFormat),
      outputKind_(outputKind),
      outputName_(outputName),
      fileOptions_(fileOptions) {}

bool PlaybackChainBuilder::FirstRenditionOnly() const {
    // A manifest's tracks come from files of their own, each read by its own chain.
    return fileOptions_.firstRenditionOnly && outputKind_ == OutputKindFile &&
           mediaFormat_ == MediaFormatMpeg2Ps;
}

void PlaybackChainBuilder::MonitorErrors(ErrorInfoSource& source) { source.AddMonitor(&errors_); }

PlaybackChain PlaybackChainBuilder::GetChain() const {
    PlaybackChain chain;
    chain.httpClient = httpClient_;
    chain.fileClient = fileClient_;
    chain.seeker = seeker_;
    chain.demux = demux_;
    chain.mux = mux_;
    chain.segmenter = segmenter_;
    chain.fileServer = fileServer_;
    chain.cut = cut_;
    chain.batchedFileServer = batchedFileServer_;
    chain.demuxCount = pendingPreloads_;
    return chain;
}

bool PlaybackChainBuilder::Build(ComponentStack& stack, bool sparse) {
    // Built from the output end back to the source; each component becomes the source of
    // the one appended before it.
    if (!BuildOutput(stack)) return false;
    if (!BuildMux(stack)) return false;
    BuildDemux(stack);
    if (!BuildSource(stack, sparse)) return false;
    if (FirstRenditionOnly()) {
        // The title is opened before the output, as a copy would open them: a file is read as
        // far as its size when the run began, also while an output waits for its reader (a
        // FIFO). A download starts once the session runs.
        if (fileClient_ != nullptr) fileClient_->SetName(url_, true);
        fileServer_->SetName(outputName_, true);
    }
    return true;
}

bool PlaybackChainBuilder::BuildOutput(ComponentStack& stack) {
    Session* session = &session_;
    switch (outputKind_) {
        case OutputKindNone:
        case OutputKindPassThrough: return true;
        case OutputKindFile: {
            if (outputFormat_ == MediaFormatRaw5 || outputFormat_ == MediaFormatRaw6) return true;
            if (outputName_.empty()) outputName_ = "output";
            boost::shared_ptr<FileServer> server;
            if (FirstRenditionOnly()) {
                boost::shared_ptr<BatchedFileServer> batched =
                    boost::make_shared<BatchedFileServer>(session);
                // Before the open: a signal then also ends an open that waits for a reader.
                batched->SetWakeSignal(fileOptions_.wakeSignal);
                batchedFileServer_ = batched.get();
                server = batched;
            } else {
                server = boost::make_shared<FileServer>(session);
            }
            // A file that cannot be written must not pass for a finished output.
            MonitorErrors(*server);
            stack.AddComponent(server);
            fileServer_ = server.get();
            if (!FirstRenditionOnly()) server->SetName(outputName_, true);
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

bool PlaybackChainBuilder::BuildMux(ComponentStack& stack) {
    if (outputFormat_ == MediaFormatNone) return true;
    // The container is copied as it is, unless its first rendition alone is to be written.
    if (outputFormat_ == mediaFormat_ && !FirstRenditionOnly()) return true;
    Session* session = &session_;
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

void PlaybackChainBuilder::BuildDemux(ComponentStack& stack) {
    if (!IsProgramStream(mediaFormat_)) return;
    Session* session = &session_;
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session);
    stack.AddComponent(demux);
    demux_ = demux.get();
    static_cast<StreamInfoSource&>(*demux).AddMonitor(&streams_);
    static_cast<StreamInfoSource&>(*demux).AddMonitor(static_cast<StreamInfoMonitor*>(&titleInfo_));
    MonitorErrors(*demux);
    static_cast<ChapterInfoSource&>(*demux).AddMonitor(
        static_cast<ChapterInfoMonitor*>(&titleInfo_));
    if (segmenter_ != nullptr) static_cast<StreamInfoSource&>(*demux).AddMonitor(segmenter_);

    if (FirstRenditionOnly()) {
        // Read straight through: nothing to seek or adapt, only the end of the first rendition
        // to keep to, which the cut learns from the track list.
        boost::shared_ptr<FirstRenditionCut> cut = boost::make_shared<FirstRenditionCut>(session);
        stack.AddComponent(cut);
        cut_ = cut.get();
        static_cast<StreamInfoSource&>(*demux).AddMonitor(cut_);
        ++pendingPreloads_;
        return;
    }
    boost::shared_ptr<MediaSeeker> seeker = boost::make_shared<MediaSeeker>(session);
    stack.AddComponent(seeker);
    seeker_ = seeker.get();
    // The seeker steers the download by the predicted bandwidth.
    seeker->SetUsePrediction(true);
    static_cast<StreamInfoSource&>(*demux).AddMonitor(seeker_);
    ++pendingPreloads_;
}

bool PlaybackChainBuilder::BuildSource(ComponentStack& stack, bool sparse) {
    Session* session = &session_;
    const SourceKind kind = sparse ? SourceKindHttp : sourceKind_;
    switch (kind) {
        case SourceKindLocalPath: {
            boost::shared_ptr<Component> client = CreateFileClient(session, &fileClient_);
            stack.AddComponent(client);
            MonitorErrors(*fileClient_);
            if (fileOptions_.sourceMonitor != nullptr) {
                static_cast<ErrorInfoSource&>(*fileClient_).AddMonitor(fileOptions_.sourceMonitor);
            }
            return true;
        }
        case SourceKindHttp: {
            Component* raw = nullptr;
            // The seeker chooses the rendition from the rate the main download achieves.
            boost::shared_ptr<Component> client = MakeHttpClient(session, errors_, seeker_, &raw);
            stack.AddComponent(client);
            httpClient_ = raw;
            if (fileOptions_.sourceMonitor != nullptr) {
                // MakeHttpClient made it as an HTTPClient.
                static_cast<ErrorInfoSource&>(*static_cast<HTTPClient*>(raw))
                    .AddMonitor(fileOptions_.sourceMonitor);
            }
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
    return false;
}

boost::shared_ptr<Component> PlaybackChainBuilder::MakeHttpClient(Session* session,
                                                                  ErrorInfoMonitor& errors,
                                                                  MediaSeeker* steered,
                                                                  Component** raw) {
    HTTPClient* client = nullptr;
    boost::shared_ptr<Component> made = CreateHTTPClient(session, &client);
    // A download that fails (a refused request, an error status) ends the playback as any
    // other component's error does.
    static_cast<ErrorInfoSource&>(*client).AddMonitor(&errors);
    if (steered != nullptr) {
        static_cast<BandwidthInfoSource&>(*client).AddMonitor(
            static_cast<BandwidthInfoMonitor*>(steered));
    }
    *raw = client;
    return made;
}

boost::shared_ptr<Mux> PlaybackChainBuilder::MakePsMux(Session* session, bool dvd) {
    boost::shared_ptr<Mpeg2PsMux> mux = boost::make_shared<Mpeg2PsMux>(session);
    if (dvd) {
        mux->SetDvdMode(1);
    }
    return mux;
}

void PlaybackChainBuilder::NamePlayback() {
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

}  // namespace SarvelonMediaKit
