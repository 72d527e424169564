#include "engine/api/MultiFileLoader.h"

#include <algorithm>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Path/Url.h"
#include "engine/api/PreloadChain.h"
#include "engine/container/MediaTrack.h"
#include "engine/input/SmilManifestReader.h"

namespace SarvelonMediaKit {

namespace {

const char kLoadAborted[] = "Load aborted";
const char kFileScheme[] = "file://";
const size_t kFileSchemeLength = sizeof(kFileScheme) - 1;

}  // namespace

MultiFileLoader::MultiFileLoader(const std::string& location, ByteAmount capacity)
    : location_(location),
      capacity_(capacity),
      fetcher_(SmilManifestReader::kMaxManifestBytes),
      pending_(0),
      status_(SVStatusSuccess),
      aborted_(false) {
    // A file manifest is read, and its relative sources resolved, by its path.
    if (SV::IsUrl(location_) && SV::GetUrlScheme(location_) == "file") {
        location_.erase(0, kFileSchemeLength);
    }
}

MultiFileLoader::~MultiFileLoader() {
    // No event of a preload chain reaches the loader from here on: its members are going.
    StreamInfoMonitor::DetachFromSources();
    ErrorInfoMonitor::DetachFromSources();
    StopSessions();
    chains_.clear();
}

SVStatus MultiFileLoader::GetStatus() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return status_;
}

std::string MultiFileLoader::GetErrorText() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return errorText_;
}

void MultiFileLoader::Fail(SVStatus status, const std::string& text) {
    std::lock_guard<std::mutex> lock(statusLock_);
    // The first failure is the cause; what the others report after it is its consequence
    // (chains stopped early, a wait cut short).
    if (status_ != SVStatusSuccess) return;
    status_ = status;
    errorText_ = text;
}

void MultiFileLoader::SetError(SVStatus status, std::string text) {
    Fail(status, text);
    preloadDone_.Set();
}

void MultiFileLoader::Abort() {
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        // A load that has returned keeps the result it returned.
        if (finished_) return;
        aborted_ = true;
        // Recorded first: what the download and the chains report once they are cut short is
        // the abort's consequence.
        if (status_ == SVStatusSuccess) {
            status_ = SVStatusPreloadTimeout;
            errorText_ = kLoadAborted;
        }
    }
    fetcher_.Abort();
    // Ends the wait for the preloads; Load then stops every session.
    preloadDone_.Set();
}

SVStatus MultiFileLoader::Load(MediaTime timeout) {
    LoadSteps(timeout);
    std::lock_guard<std::mutex> lock(statusLock_);
    finished_ = true;
    return status_;
}

SVStatus MultiFileLoader::LoadSteps(MediaTime timeout) {
    if (aborted_) return GetStatus();
    const SVStatus fetched = fetcher_.Fetch(location_, timeout);
    if (fetched != SVStatusSuccess) {
        Fail(fetched, fetcher_.GetErrorText());
        return GetStatus();
    }
    SmilManifestReader reader(location_);
    if (reader.Read(fetcher_.GetText()) != SVStatusSuccess) {
        Fail(reader.GetStatus(), reader.GetErrorText());
        return GetStatus();
    }
    textTracks_ = reader.GetTextStreamTracks();
    for (const SmilManifestReader::MediaEntry& entry : reader.GetMediaEntries()) {
        chains_.emplace_back(new PreloadChain(entry));
    }
    if (StartChains(timeout)) {
        WaitForPreloads(timeout);
        // Every chain is stopped (and has finished stopping) before any result is read from
        // it.
        for (const std::unique_ptr<PreloadChain>& chain : chains_) chain->Stop();
        CheckDigests();
    }
    // The load hands out tracks only: no preload session outlives it, whatever the result.
    StopSessions();
    return GetStatus();
}

bool MultiFileLoader::StartChains(MediaTime timeout) {
    {
        SV::ScopedLock lock(lock_);
        pending_ = static_cast<uint32_t>(chains_.size());
    }
    for (const std::unique_ptr<PreloadChain>& chain : chains_) {
        // An abort (or a failure) meanwhile: no further chain is made.
        if (GetStatus() != SVStatusSuccess) return false;
        try {
            chain->Build(this, this);
        } catch (const SV::Exception& exception) {
            Fail(SVStatusLibraryException, "Preload chain for " + chain->GetEntry().location +
                                               " refused: " + exception.what());
            return false;
        }
    }
    const uint32_t share =
        chains_.empty() ? 0 : capacity_.Get() / static_cast<uint32_t>(chains_.size());
    for (const std::unique_ptr<PreloadChain>& chain : chains_) {
        // A chain that failed, or an abort, has decided the load: no further preload starts.
        if (GetStatus() != SVStatusSuccess) break;
        try {
            chain->Start(ByteAmount(share), timeout);
        } catch (const SV::Exception& exception) {
            SetError(SVStatusLibraryException, std::string("Preload of ") +
                                                   chain->GetEntry().location +
                                                   " refused: " + exception.what());
            break;
        }
    }
    return true;
}

void MultiFileLoader::WaitForPreloads(MediaTime timeout) {
    const uint64_t milliseconds = timeout.Get() / 1000;
    const uint32_t wait = milliseconds >= SV::kInfiniteWait ? SV::kInfiniteWait - 1
                                                            : static_cast<uint32_t>(milliseconds);
    if (!preloadDone_.Wait(wait)) Fail(SVStatusPreloadTimeout, std::string());
}

void MultiFileLoader::CheckDigests() {
    for (const std::unique_ptr<PreloadChain>& chain : chains_) {
        if (GetStatus() != SVStatusSuccess) return;
        if (!chain->DigestMatches()) {
            Fail(SVStatusDigestMismatch,
                 "Index digest of " + chain->GetEntry().location + " differs from its hash");
        }
    }
}

void MultiFileLoader::StopSessions() {
    for (const std::unique_ptr<PreloadChain>& chain : chains_) chain->Release();
}

void MultiFileLoader::PreloadComplete() {
    SV::ScopedLock lock(lock_);
    if (pending_ > 0 && --pending_ == 0) preloadDone_.Set();
}

void MultiFileLoader::GetMediaTracks(TrackMap& tracks) {
    for (const std::unique_ptr<PreloadChain>& chain : chains_) {
        const PreloadChain::MediaEntry& entry = chain->GetEntry();
        const TrackMap chainTracks = chain->GetTracks();
        for (TrackMap::const_iterator it = chainTracks.begin(); it != chainTracks.end(); ++it) {
            const boost::shared_ptr<MediaTrack>& track = it->second;
            const TrackId id(static_cast<uint32_t>(tracks.size() + 1));
            track->SetId(id);
            track->SetTimingOffset(entry.begin);
            if (!entry.language.empty()) {
                track->GetInfo().SetValue(TrackInfoKey_AudioIdentifier,
                                          SV::SVTypedValue(entry.language));
            }
            tracks[id] = track;
        }
    }
    for (const boost::shared_ptr<MediaTrack>& track : textTracks_) {
        const TrackId id(static_cast<uint32_t>(tracks.size() + 1));
        track->SetId(id);
        tracks[id] = track;
    }
    // The earliest audio or video track starts at 0; the distances between tracks stay.
    float earliest = 0.0f;
    for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
        const MediaTrack& track = *it->second;
        if (track.HasAudio() || track.HasVideo()) {
            earliest = std::min(earliest, track.GetTimingOffset());
        }
    }
    if (earliest < 0.0f) {
        for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
            it->second->SetTimingOffset(it->second->GetTimingOffset() - earliest);
        }
    }
}

}  // namespace SarvelonMediaKit
