// The Transformer's settings from the credentials, its preload stage (the title's own index,
// or a manifest's files through the multi-file loader) and the audio side branch: when the title
// holds tracks that carry audio only next to tracks with video, a second demultiplexer, seeker and
// client fetch the audio-only tracks from the same source and feed them to the same multiplexer.

#include <boost/make_shared.hpp>

#include <atomic>
#include <string>

#include "SVLibrary/Exception/Exception.h"
#include "engine/api/Transformer.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/SVMKCredentials.h"
#include "engine/core/Session.h"
#include "engine/core/Task.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/api/MultiFileLoader.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

const char kCacheSizeKey[] = "CredentialsKey_CacheSize";
const char kPdaKey[] = "CredentialsKey_Pda";
const char kPreloadTimeoutKey[] = "CredentialsKey_PreloadTimeout";

// The preload stage is woken by every change it waits for; it also looks again after this
// long (milliseconds), whatever woke it.
const uint32_t kPreloadLookInterval = 10;

// Track 1 is where a player that chooses among variants starts.
const uint32_t kFirstTrack = 1;

// Records a step's failure unless an error is recorded already: SetError may have put one
// there (with its text) from another thread meanwhile. The first error stands, and a step's
// success never replaces it.
void RecordFailure(std::atomic<SVStatus>& status, SVStatus result) {
    if (result == SVStatusSuccess) return;
    SVStatus expected = SVStatusSuccess;
    status.compare_exchange_strong(expected, result);
}

// Sets the session's capacity; a refusal (less than the session holds or has handed to its
// trackers) comes back as the text of an error, empty when the size was applied.
std::string ApplyCapacity(Session& session, uint32_t bytes) {
    try {
        session.SetCapacity(ByteAmount(bytes));
        return std::string();
    } catch (const SV::Exception& exception) {
        return "Cache size " + std::to_string(bytes) + " refused: " + exception.what() + " (" +
               exception.GetDetail() + ")";
    }
}

// Keeps a session's pump paused for its lifetime: the pump runs again however the scope is
// left, or the session could never shut down.
class PumpPause {
public:
    explicit PumpPause(Session& session) : session_(session) { session_.PausePump(); }
    ~PumpPause() { session_.ResumePump(); }
    PumpPause(const PumpPause&) = delete;
    PumpPause& operator=(const PumpPause&) = delete;

private:
    Session& session_;
};

}  // namespace

SVStatus Transformer::SetCredentials(const SV::SVDictionary& credentials) {
    if (!session_) return SVStatusNoSession;
    if (credentials_) {
        // The record is made once: later dictionaries change nothing, but the pump is given a
        // pause so that whatever reads the record sees it settled.
        session_->PausePump();
        session_->ResumePump();
        return status_;
    }
    credentials_ = boost::make_shared<SVMKCredentials>(credentials);
    const SV::SVDictionary& entries = credentials_->GetEntries();
    uint64_t cacheSize = 0;
    if (entries.GetUnsignedLong(kCacheSizeKey, cacheSize)) {
        SetCacheSize(static_cast<uint32_t>(cacheSize));
    }
    SetPda(entries.GetBooleanOrDefault(kPdaKey, false));
    session_->SetCredentials(credentials_);
    return status_;
}

void Transformer::SetCacheSize(uint32_t bytes) {
    const uint32_t previous = cacheSize_;
    cacheSize_ = bytes;
    if (!session_) return;
    // While a preload is pending the stage itself applies the size once it is done.
    if (hasDemux_ && pendingPreloads_ >= 1) return;
    const std::string refused = ApplyCapacity(*session_, bytes);
    if (refused.empty()) return;
    // The size in force stays the one the session has.
    cacheSize_ = previous;
    SetError(SVStatusLibraryException, refused);
}

void Transformer::SetPda(bool playerDrivenAdaptation) {
    if (segmenter_ != nullptr) segmenter_->SetAdaptive(playerDrivenAdaptation);
    // The player chooses the variant: the seeker must not switch on its own.
    if (seeker_ != nullptr) {
        seeker_->SetAlignSwitchPoints(!playerDrivenAdaptation);
        seeker_->SetAdaptation(!playerDrivenAdaptation);
    }
    if (playerDrivenAdaptation) SelectTrack(TrackId(kFirstTrack), false);
}

SVStatus Transformer::SelectTrack(TrackId track, bool mustExist) {
    SampleSource* sound = nullptr;
    const TrackMap tracks = titleInfo_.GetTracks();
    const TrackMap::const_iterator found = tracks.find(track);
    if (mustExist && found == tracks.end()) return SVStatusChapterRange;
    if (found != tracks.end() && found->second) sound = SoundSource(*found->second);
    if (!session_) return status_;
    session_->SelectTrack(track);
    if (sound != nullptr && mux_ != nullptr) {
        // On the task thread, behind the seekers' choice; the task keeps the multiplexer.
        typedef TaskTemplate1<boost::shared_ptr<Mux>, void (Mux::*)(SampleSource*), SampleSource*>
            SoundTask;
        session_->AddTask(boost::make_shared<SoundTask>(
            Session::TaskCategorySession, StackIdMain, "Mux::SetAudioSource",
            boost::static_pointer_cast<Mux>(mux_->shared_from_this()), &Mux::SetAudioSource,
            sound));
    }
    return status_;
}

SampleSource* Transformer::SoundSource(const MediaTrack& track) const {
    // The branch keeps the audio-only tracks, the main chain every other one.
    Mpeg2PsDemux* const branch = audioBranchDemux_;
    if (branch == nullptr || !track.HasAudio()) return nullptr;
    if (track.HasVideo()) return demux_;
    return branch;
}

SVStatus Transformer::PreLoad() {
    if (!hasDemux_ || pendingPreloads_ < 1) return status_;
    // A stop that came first (from another thread) leaves nothing to wait for.
    if (abortRequested_) return CutShort();
    MediaTime timeout(kDefaultPreloadTimeout);
    if (credentials_) {
        timeout = MediaTime(credentials_->GetEntries().GetUnsignedIntOrDefault(
            kPreloadTimeoutKey, static_cast<uint32_t>(kDefaultPreloadTimeout)));
    }
    if (mediaFormat_ == MediaFormatSmil) {
        const SVStatus loaded = LoadManifest(timeout);
        RecordFailure(status_, loaded);
        if (loaded != SVStatusSuccess) return loaded;
    } else {
        const SVStatus named = NameSource();
        if (named != SVStatusSuccess) {
            RecordFailure(status_, named);
            return named;
        }
        session_->PreLoad(timeout);
        while (pendingPreloads_ > 0 && status_ == SVStatusSuccess && !abortRequested_) {
            preloadChanged_.Wait(kPreloadLookInterval);
            // A change made before this is seen by the look that follows; one made after it
            // sets the event again.
            preloadChanged_.Reset();
        }
        if (status_ != SVStatusSuccess) return status_;
        // Stopped, whether or not the index came meanwhile: nothing more is built.
        if (abortRequested_) return CutShort();
    }
    if (status_ != SVStatusSuccess) return status_;
    std::string refused;
    {
        PumpPause pause(*session_);
        // The full size now.
        refused = ApplyCapacity(*session_, cacheSize_);
        // The first rendition alone is written with the sound it carries itself.
        if (refused.empty() && demux_ != nullptr && cut_ == nullptr &&
            demux_->HasAudioOnlyTracks()) {
            const SVStatus branch = AddAudioBranch();
            if (branch != SVStatusSuccess) {
                RecordFailure(status_, branch);
                return branch;
            }
        }
        if (refused.empty()) pendingPreloads_ = 0;
    }
    // Reported once the pump runs again: SetError stops the session, which needs the pump to
    // shut down.
    if (!refused.empty()) SetError(SVStatusLibraryException, refused);
    return status_;
}

SVStatus Transformer::CutShort() {
    // Asked for by the owner: the status alone tells it, no error is published.
    RecordFailure(status_, SVStatusPreloadTimeout);
    return SVStatusPreloadTimeout;
}

SVStatus Transformer::LoadManifest(MediaTime timeout) {
    // The manifest's files are preloaded by the loader in sessions of its own; this chain only
    // takes the joined track map, whose tracks name the file each one is read from.
    StreamInfoMonitor::TrackMap tracks;
    {
        MultiFileLoader loader(url_, ByteAmount(cacheSize_));
        // Stop, on another thread, reaches the loader through loader_ while the load runs;
        // the pointer is cleared (under the lock Stop holds while it aborts) before the loader
        // goes, however this scope is left.
        struct Registration {
            Registration(Transformer& owner, MultiFileLoader& loader) : owner_(owner) {
                std::lock_guard<std::mutex> lock(owner_.loaderLock_);
                owner_.loader_ = &loader;
                // A stop that came before the load began ends it at once.
                if (owner_.abortRequested_) loader.Abort();
            }
            ~Registration() {
                std::lock_guard<std::mutex> lock(owner_.loaderLock_);
                owner_.loader_ = nullptr;
            }
            Transformer& owner_;
        } registration(*this, loader);
        const SVStatus loaded = loader.Load(timeout);
        if (loaded != SVStatusSuccess) {
            // A stop the owner asked for is no error to report: the status alone tells it.
            if (abortRequested_) return loaded;
            // Reported as the Transformer's own failure, with the loader's reason when it
            // gave one ("Missing src attribute", the download's error).
            SetError(loaded, loader.GetErrorText());
            return loaded;
        }
        loader.GetMediaTracks(tracks);
    }
    // A manifest's graph always has its demultiplexer (hasDemux_ got the stage here).
    if (demux_ == nullptr) return SVStatusUnsupported;
    PumpPause pause(*session_);
    demux_->SetTracks(tracks);
    // Subtitles are shown by the application from their own files, not carried in the stream.
    demux_->RemoveTextStreamTracks();
    return SVStatusSuccess;
}

SVStatus Transformer::NameSource() {
    const ComponentStack stack = session_ ? session_->GetComponentStack() : ComponentStack();
    if (stack.IsEmpty()) return SVStatusNoTransformer;
    // A file whose first rendition alone is written was opened with the chain.
    if (cut_ != nullptr && fileClient_ != nullptr) return SVStatusSuccess;
    stack.GetComponents().back()->SetName(url_, true);
    return SVStatusSuccess;
}

SVStatus Transformer::AddAudioBranch() {
    if (mux_ == nullptr) {
        // A chain without multiplexer needs one between the demultiplexer and the output for
        // the two chains to meet in.
        boost::shared_ptr<Mux> mux = PlaybackChainBuilder::MakePsMux(session_.get(), false);
        if (!mux) return SVStatusUnsupported;
        ComponentStack stack = session_->GetComponentStack();
        stack.InsertComponent(
            mux, demux_ != nullptr ? demux_->shared_from_this() : boost::shared_ptr<Component>());
        mux->SetStackId(StackIdMain);
        session_->SetComponentStack(stack);
        mux_ = mux.get();
    }
    boost::shared_ptr<MemoryTracker> tracker;
    try {
        tracker = session_->AllocateTracker(ByteAmount(kAudioBranchReserve));
    } catch (const SV::SVLibraryException&) {
        // The session's budget has no room left for the branch.
    }
    if (!tracker) return SVStatusNoTracker;
    if (httpClient_ == nullptr && fileClient_ == nullptr) return SVStatusNoClientForBranch;

    Session* session = session_.get();
    ComponentStack branch(StackIdAudioBranch);
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session, *demux_);
    demux->SetMemoryTracker(tracker);
    static_cast<ErrorInfoSource&>(*demux).AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    StreamInfoSource& streams = *demux;
    streams.AddMonitor(static_cast<StreamInfoMonitor*>(this));
    streams.AddMonitor(static_cast<StreamInfoMonitor*>(&titleInfo_));
    for (StreamInfoMonitor* monitor : streamMonitors_) streams.AddMonitor(monitor);
    branch.AddComponent(demux);

    boost::shared_ptr<MediaSeeker> seeker = boost::make_shared<MediaSeeker>(session);
    seeker->SetMemoryTracker(tracker);
    streams.AddMonitor(seeker.get());
    branch.AddComponent(seeker);

    boost::shared_ptr<Component> client;
    if (httpClient_ != nullptr) {
        Component* raw = nullptr;
        // The branch's download is too small a share of the bandwidth to steer by.
        client = PlaybackChainBuilder::MakeHttpClient(session, *this, nullptr, &raw);
        client->SetMemoryCache(DequeMemoryCache::Create(tracker, client.get()));
    } else {
        FileClient* raw = nullptr;
        client = CreateFileClient(session, &raw);
        static_cast<ErrorInfoSource&>(*raw).AddMonitor(static_cast<ErrorInfoMonitor*>(this));
    }
    branch.AddComponent(client);
    client->SetName(url_, false);

    mux_->AddSideBranch(branch);
    // Each chain keeps its share of the tracks.
    demux->RemoveVideoTracks();
    demux_->RemoveAudioOnlyTracks();
    seeker->StartSelectedTrack();
    // Links the branch into the running chain. Session::Start would do the same but would
    // announce the session's set-up a second time to its monitors.
    session_->GetComponentStack().Link();
    // Both chains may carry sound (the pictures' own and an audio rendition in another
    // language), but one audio stream carries one language: the title's first track with
    // sound is heard until another is chosen.
    boost::shared_ptr<MediaTrack> first;
    for (const TrackMap* tracks : {&demux_->GetTracks(), &demux->GetTracks()}) {
        for (TrackMap::const_iterator it = tracks->begin(); it != tracks->end(); ++it) {
            if (it->second && it->second->HasAudio() && (!first || it->first < first->GetId())) {
                first = it->second;
            }
        }
    }
    audioBranchDemux_ = demux.get();
    mux_->SetAudioSource(first ? SoundSource(*first) : nullptr);
    return SVStatusSuccess;
}

}  // namespace SarvelonMediaKit
