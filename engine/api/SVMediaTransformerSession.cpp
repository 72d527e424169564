#include "engine/api/SVMediaTransformerSession.h"

#include <boost/make_shared.hpp>

#include <map>

#include "SVLibrary/File/FileSystem.h"
#include "SVLibrary/Output/LineWriter.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/Transformer.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {

namespace {

typedef std::map<SVMediaTransformerSession*, boost::shared_ptr<SVMediaTransformerSession>>
    SessionMap;

// The process-wide registry, made on first use and never destroyed, so that nothing touches a
// destroyed static while a session is torn down at exit.
SV::MutexedVariable<SessionMap>& Registry() {
    static SV::MutexedVariable<SessionMap>* registry = new SV::MutexedVariable<SessionMap>();
    return *registry;
}

// Mode 1 picks the output from the source's format.
constexpr unsigned kModeHls = 1;
constexpr unsigned kModeFlv = 0;

enum class AssetPlace { Inside, Outside, Missing };

// Where the file a plain path names under the asset root lies; path gets the file, resolved.
// Outside: the path leads out of the root (".." steps, a symbolic link that points elsewhere);
// the portal that named it may not have the engine open and parse any file on the machine.
// Missing: the path does not resolve (nothing there, or a step is not a folder); it is not
// handed on joined, since what it would name once something appears there was never checked.
// The path is resolved as the system would open it and handed on resolved, so what is opened
// is what was checked.
AssetPlace PlaceAssetPath(const std::string& root, const std::string& name, std::string& path) {
    path = root;
    if (path[path.size() - 1] != '/') path += '/';
    path += name;
    std::string resolved;
    if (!SV::ResolvePath(path, resolved)) return AssetPlace::Missing;
    std::string folder;
    if (!SV::ResolvePath(root, folder) || !SV::IsPathInside(folder, resolved)) {
        return AssetPlace::Outside;
    }
    path = resolved;
    return AssetPlace::Inside;
}

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

boost::shared_ptr<SVMediaTransformerSession> SVMediaTransformerSession::Create(
    const std::string& url, const SV::SVDictionary& credentials) {
    boost::shared_ptr<SVMediaTransformerSession> session(
        new SVMediaTransformerSession(url, credentials));
    SV::MutexedVariable<SessionMap>& registry = Registry();
    SV::ScopedLock lock(registry);
    registry.Value()[session.get()] = session;
    return session;
}

boost::shared_ptr<SVMediaTransformerSession> SVMediaTransformerSession::Find(
    SVMediaTransformerSession* handle) {
    SV::MutexedVariable<SessionMap>& registry = Registry();
    SV::ScopedLock lock(registry);
    SessionMap::const_iterator it = registry.Value().find(handle);
    if (it == registry.Value().end()) return boost::shared_ptr<SVMediaTransformerSession>();
    return it->second;
}

boost::shared_ptr<SVMediaTransformerSession> SVMediaTransformerSession::Unregister(
    SVMediaTransformerSession* handle) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SV::MutexedVariable<SessionMap>& registry = Registry();
    SV::ScopedLock lock(registry);
    SessionMap::iterator it = registry.Value().find(handle);
    if (it != registry.Value().end()) {
        session.swap(it->second);
        registry.Value().erase(it);
    }
    return session;
}

size_t SVMediaTransformerSession::RegisteredCount() {
    SV::MutexedVariable<SessionMap>& registry = Registry();
    SV::ScopedLock lock(registry);
    return registry.Value().size();
}

SVMediaTransformerSession::SVMediaTransformerSession(const std::string& url,
                                                     const SV::SVDictionary& credentials)
    : url_(url),
      credentials_(credentials),
      firstChapter_(0),
      lastChapter_(0),
      teardownStarted_(false) {}

SVMediaTransformerSession::~SVMediaTransformerSession() {
    // No event may reach the members below once their destruction has begun; an event already
    // running on another thread is waited for.
    ErrorInfoMonitor::DetachFromSources();
    StreamInfoMonitor::DetachFromSources();
    SessionInfoMonitor::DetachFromSources();
    ChapterInfoMonitor::DetachFromSources();
    boost::shared_ptr<Transformer> transformer;
    {
        SV::ScopedLock lock(mutex_);
        transformer.swap(transformer_);
    }
    // The transformer stops its threads in its destructor: no lock of ours is held meanwhile.
    transformer.reset();
}

boost::shared_ptr<Transformer> SVMediaTransformerSession::GetTransformer() const {
    SV::ScopedLock lock(mutex_);
    return transformer_;
}

SVStatus SVMediaTransformerSession::Setup(unsigned mode, std::string* localUrl) {
    // The system reads a path or URL only up to a NUL: what was checked would not be what is
    // opened or fetched.
    const std::string* root = nullptr;
    const bool hasRoot = credentials_.GetString("CredentialsKey_AssetFsRoot", root);
    if (HasNul(url_) || (hasRoot && HasNul(*root))) {
        SV::WriteLine("a title's path or URL with a NUL in it is refused");
        return SVStatusSetupRefused;
    }

    MediaFormat outputFormat = MediaFormatUnknown;
    OutputKind outputKind = static_cast<OutputKind>(0);
    if (mode == kModeHls) {
        MediaFormat format = ClassifyMedia(url_);
        if (format == MediaFormatFlv || format == MediaFormatMp4) {
            outputFormat = format;
            outputKind = OutputKindPassThrough;
        } else if (format == MediaFormatUnknown || format == MediaFormatNone) {
            return SVStatusSetupRefused;
        } else {
            outputFormat = MediaFormatHls;
            outputKind = OutputKindHls;
        }
    } else if (mode == kModeFlv) {
        outputFormat = MediaFormatFlv;
        outputKind = OutputKindRtmpServer;
    }

    // A plain path is taken relative to the asset root when the caller names one, and must
    // stay inside it. An empty root names no folder: the path is the caller's own, as given.
    std::string path = url_;
    if (ClassifySource(url_) == SourceKindLocalPath && hasRoot && !root->empty()) {
        switch (PlaceAssetPath(*root, url_, path)) {
            case AssetPlace::Inside: break;
            case AssetPlace::Outside:
                SV::WriteLine(url_ + ": the title's path leads out of the titles' folder " + *root);
                return SVStatusSetupRefused;
            case AssetPlace::Missing:
                // As for a title that cannot be opened.
                SV::WriteLine(url_ + ": no title at this path in the titles' folder " + *root);
                return SVStatusFileInput;
        }
    }

    boost::shared_ptr<Transformer> transformer(
        new Transformer(path, outputFormat, outputKind, std::string()));
    {
        SV::ScopedLock start(startLock_);
        // Torn down already (from another thread): nothing is started.
        if (teardownStarted_) return SVStatusPreloadTimeout;
        SV::ScopedLock lock(mutex_);
        transformer_ = transformer;
    }
    SVStatus status = transformer->GetStatus();
    if (status != SVStatusSuccess) return status;
    *localUrl = transformer->GetOutputName();

    transformer->ErrorInfoSource::AddMonitor(this);
    transformer->AddStreamInfoMonitor(this);
    transformer->AddSessionInfoMonitor(this);
    transformer->AddChapterInfoMonitor(this);
    transformer->SetCredentials(credentials_);

    // The wait for a slow origin: a teardown from another thread cuts it short (408).
    status = transformer->PreLoad();
    if (status != SVStatusSuccess) return status;

    {
        SV::ScopedLock start(startLock_);
        // The teardown came once the preload was done: the stopped transformer starts nothing.
        if (teardownStarted_) return SVStatusPreloadTimeout;
        // From the start, with player-driven adaptation too: the seek gives the chain the byte
        // range of its track, and without it the chain read on past the track's end through
        // the other renditions, so the last segment of the track the player reads never ended.
        status = transformer->Transform(MediaTime(0), TrickPlayRate(0), true);
    }
    // The playback URL is the caller's to hand to a player at once: it must lead to this
    // engine, so the setup ends only once the engine listens on its port (or could not).
    if (status == SVStatusSuccess) status = transformer->WaitUntilListening();
    if (status == SVStatusSuccess) {
        PostEvent(SVMediaTransformEvent_SetupCompleted, SV::SVTypedValue(SV::SVDictionary()));
    }
    return status;
}

SVStatus SVMediaTransformerSession::Teardown() {
    if (teardownStarted_.exchange(true)) return SVStatusSuccess;
    boost::shared_ptr<Transformer> transformer;
    {
        // A setup on another thread has either not built its transformer yet (it sees the
        // teardown and starts nothing) or has: the stop then comes after any start step under
        // way, none of which waits for the origin.
        SV::ScopedLock start(startLock_);
        transformer = GetTransformer();
    }
    if (!transformer) {
        PostEvent(SVMediaTransformEvent_SessionStopped, SV::SVTypedValue());
        return SVStatusSuccess;
    }
    return transformer->Stop();
}

SVStatus SVMediaTransformerSession::GetVideoTrackInfo(SV::SVDictionary* out) {
    SV::ScopedLock lock(mutex_);
    if (!transformer_) return SVStatusNoTransformer;
    *out = videoInfo_;
    return SVStatusSuccess;
}

SVStatus SVMediaTransformerSession::GetAudioTrackInfo(SV::SVDictionary* out) {
    SV::ScopedLock lock(mutex_);
    if (!transformer_) return SVStatusNoTransformer;
    if (!audioInfo_.empty()) {
        *out = audioInfo_;
    } else if (videoInfo_.GetValue(TrackInfoKey_AudioFormat) != nullptr) {
        // The video track carries the audio (a muxed rendition).
        *out = videoInfo_;
    } else {
        out->clear();
    }
    return SVStatusSuccess;
}

SVStatus SVMediaTransformerSession::QueryAllTracks(std::vector<SV::SVTypedValue>* out) {
    boost::shared_ptr<Transformer> transformer = GetTransformer();
    if (!transformer) return SVStatusNoTransformer;
    // A copy taken under the transformer's own lock; the map is ordered by track identifier.
    Transformer::TrackMap tracks = transformer->GetTitleInfo().GetTracks();
    for (Transformer::TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
        if (!it->second) continue;
        out->push_back(SV::SVTypedValue(it->second->GetInfo()));
    }
    return SVStatusSuccess;
}

SVStatus SVMediaTransformerSession::QueryChapters(std::vector<SV::SVTypedValue>* out) {
    SV::ScopedLock lock(mutex_);
    if (!transformer_) return SVStatusNoTransformer;
    for (std::list<SV::SVDictionary>::const_iterator it = chapters_.begin(); it != chapters_.end();
         ++it) {
        out->push_back(SV::SVTypedValue(*it));
    }
    return SVStatusSuccess;
}

SVStatus SVMediaTransformerSession::GetChapterData(uint32_t first, uint32_t last) {
    boost::shared_ptr<Transformer> transformer;
    {
        SV::ScopedLock lock(mutex_);
        if (!transformer_) return SVStatusNoTransformer;
        transformer = transformer_;
        firstChapter_ = first;
        lastChapter_ = last;
    }
    return transformer->GetChapterData(first, last);
}

}  // namespace SarvelonMediaKit
