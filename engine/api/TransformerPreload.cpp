// The Transformer's settings from the credentials, its preload stage and the audio side
// branch: when the title holds tracks that carry audio only next to tracks with video, a
// second demultiplexer, seeker and client fetch the audio-only tracks from the same source and
// feed them to the same multiplexer.
#include <unistd.h>

#include <boost/make_shared.hpp>

#include "engine/api/Transformer.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/SVMKCredentials.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

const char kCacheSizeKey[] = "CredentialsKey_CacheSize";
const char kPdaKey[] = "CredentialsKey_Pda";
const char kPreloadTimeoutKey[] = "CredentialsKey_PreloadTimeout";

// The preload stage looks at the demultiplexers' progress this often (microseconds).
const useconds_t kPreloadPollInterval = 10000;

// Track 1 is where a player that chooses among variants starts.
const uint32_t kFirstTrack = 1;

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
    cacheSize_ = bytes;
    if (!session_) return;
    // While a preload is pending the stage itself applies the size once it is done.
    if (hasDemux_ && pendingPreloads_ >= 1) return;
    session_->SetCapacity(ByteAmount(bytes));
}

void Transformer::SetPda(bool playerDrivenAdaptation) {
    if (segmenter_ != nullptr) segmenter_->SetAdaptive(playerDrivenAdaptation);
    // The player chooses the variant: the seeker must not switch on its own.
    if (seeker_ != nullptr) seeker_->SetAlignSwitchPoints(!playerDrivenAdaptation);
    if (playerDrivenAdaptation) SelectTrack(TrackId(kFirstTrack), false);
}

SVStatus Transformer::SelectTrack(TrackId track, bool mustExist) {
    if (mustExist) {
        std::lock_guard<std::mutex> lock(trackLock_);
        if (tracks_.find(track) == tracks_.end()) return SVStatusChapterRange;
    }
    if (session_) session_->SelectTrack(track);
    return status_;
}

SVStatus Transformer::PreLoad() {
    if (!hasDemux_ || pendingPreloads_ < 1) return status_;
    MediaTime timeout(kDefaultPreloadTimeout);
    if (credentials_) {
        timeout = MediaTime(credentials_->GetEntries().GetUnsignedIntOrDefault(
            kPreloadTimeoutKey, static_cast<uint32_t>(kDefaultPreloadTimeout)));
    }
    if (mediaFormat_ == MediaFormatSmil) {
        const SVStatus loaded = LoadManifest(timeout);
        status_ = loaded;
        if (loaded != SVStatusSuccess) return loaded;
    } else {
        const SVStatus named = NameSource();
        if (named != SVStatusSuccess) {
            status_ = named;
            return named;
        }
        session_->PreLoad(timeout);
        while (pendingPreloads_ > 0 && status_ == SVStatusSuccess && !abortRequested_) {
            usleep(kPreloadPollInterval);
        }
        if (status_ != SVStatusSuccess) return status_;
    }
    if (status_ == SVStatusSuccess) {
        session_->PausePump();
        session_->SetCapacity(ByteAmount(cacheSize_));
        if (demux_ != nullptr && demux_->HasAudioOnlyTracks()) {
            const SVStatus branch = AddAudioBranch();
            status_ = branch;
            if (branch != SVStatusSuccess) {
                session_->ResumePump();
                return branch;
            }
        }
        session_->ResumePump();
        pendingPreloads_ = 0;
    }
    return status_;
}

SVStatus Transformer::LoadManifest(MediaTime) {
    // The multi-file loader is not part of this engine yet: once it is, it is made here with
    // the URL and the cache size, loads within the time-out, and its tracks are installed on
    // the demultiplexer (text-stream tracks removed) while the pump is paused.
    return SVStatusUnsupported;
}

SVStatus Transformer::NameSource() {
    const ComponentStack stack = session_ ? session_->GetComponentStack() : ComponentStack();
    if (stack.IsEmpty()) return SVStatusNoTransformer;
    stack.GetComponents().back()->SetName(url_, true);
    return SVStatusSuccess;
}

SVStatus Transformer::AddAudioBranch() {
    // Placeholder until the branch is built.
    return SVStatusSuccess;
}

}  // namespace SarvelonMediaKit
