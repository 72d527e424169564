// The bridge's entry points: settings to credentials, one playback at a time, and the events
// SV_Play posts about the title's tracks.

#include "engine/api/SViOsApi.h"

#include <boost/make_shared.hpp>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Util/LibraryVersion.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SViOsApiState.h"
#include "engine/container/MediaTrackFilter.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "platform/core/Device.h"
#include "platform/store/SearchPaths.h"

using SarvelonMediaKit::SViOsApiState;
using SarvelonMediaKit::SVMediaTransformerSession;

namespace {

const char kAssetFsRoot[] = "CredentialsKey_AssetFsRoot";
const char kPda[] = "CredentialsKey_Pda";
const char kPreloadTimeout[] = "CredentialsKey_PreloadTimeout";

// The model whose decoder cannot keep up with more than 2,000,000 bit/s.
const char kCappedModel[] = "iPhone2,1";
const double kCappedBitRate = 2000000.0;

// Mode of the engine's setup for playback through the loopback HLS server.
const unsigned kPlaybackMode = 1;

ns::Dictionary InitializedAttributes(long status) {
    ns::Dictionary attributes;
    attributes.Set("SVVersionKey", ns::Value(SV::GetLibraryVersion()));
    attributes.Set("SVStatusKey", ns::Value(status));
    return attributes;
}

// Marks an SV_Play under way for its whole run.
class StartUnderWay {
public:
    explicit StartUnderWay(SViOsApiState& state) : state_(state) { state_.BeginStart(); }
    ~StartUnderWay() { state_.EndStart(); }
    StartUnderWay(const StartUnderWay&) = delete;
    StartUnderWay& operator=(const StartUnderWay&) = delete;

private:
    SViOsApiState& state_;
};

}  // namespace

boost::shared_ptr<SarvelonMediaKit::SVMKCredentials> SV_Credentials() {
    return SViOsApiState::Instance().GetCredentials();
}

bool SV_CreateDirectory(const std::string& path) { return ns::SearchPaths::CreateDirectory(path); }

std::string SV_DocumentsDirectory() { return ns::SearchPaths::DocumentsDirectory(); }

void SV_CredentialsFromSettings(const ns::Dictionary& settings) {
    boost::shared_ptr<SarvelonMediaKit::SVMKCredentials> credentials =
        SViOsApiState::Instance().EnsureCredentials();
    SV::SVDictionary& entries = credentials->GetEntries();
    if (const ns::Value* root = settings.Find("SVAssetRootKey")) {
        entries.SetValue(kAssetFsRoot, SV::SVTypedValue(root->StringValue()));
    }
    // Absent means false: adaptation stays with the engine unless the player asks for it.
    const ns::Value* pda = settings.Find("SVPlayerDrivenAdaptationKey");
    entries.SetValue(kPda, SV::SVTypedValue(pda != nullptr && pda->BoolValue()));
    if (const ns::Value* timeout = settings.Find("SVPreloadTimeoutKey")) {
        entries.SetValue(kPreloadTimeout,
                         SV::SVTypedValue(static_cast<uint32_t>(timeout->IntValue())));
    }
}

void SV_DefaultStoragePaths() {
    boost::shared_ptr<SarvelonMediaKit::SVMKCredentials> credentials =
        SViOsApiState::Instance().EnsureCredentials();
    SV::SVDictionary& entries = credentials->GetEntries();
    const std::string* root = nullptr;
    if (entries.GetString(kAssetFsRoot, root)) {
        SV_CreateDirectory(*root);
        return;
    }
    const std::string documents = SV_DocumentsDirectory();
    if (documents.empty()) return;
    SV_CreateDirectory(documents);
    entries.SetValue(kAssetFsRoot, SV::SVTypedValue(documents));
}

int SV_Initialize(SViOsApiCallback callback, const ns::Dictionary& settings) {
    SViOsApiState& state = SViOsApiState::Instance();
    if (state.IsInitialized()) {
        SV_PostEvent(SViOsApiEvent_Initialized, InitializedAttributes(9));
        return SVBridgeAlreadyInitialised;
    }
    if (ns::Device::Model() == kCappedModel) {
        SarvelonMediaKit::MediaTrackFilter::Instance().AddRule(
            SarvelonMediaKit::MediaTrackFilter::SelectorBitRate,
            SarvelonMediaKit::MediaTrackFilter::OperatorLess, kCappedBitRate);
    }
    state.SetCallback(callback);
    SV_CredentialsFromSettings(settings);
    SV_DefaultStoragePaths();
    SarvelonMediaKit::SetHTTPClientInterfaceFactory(
        &SarvelonMediaKit::CreateCurlHTTPClientInterface);
    const SVStatus status = SV_MediaTransformerInitialize(&SV_TransformerEventHandler);
    if (status != SVStatusSuccess) {
        DebugPrint("ERROR: SV_MediaTransformerInitialize status %d\n", status);
        return SVBridgeNotInitialised;
    }
    SV_PostEvent(SViOsApiEvent_Initialized, InitializedAttributes(0));
    state.SetInitialized(true);
    return SVBridgeSuccess;
}

void SV_PostTrackListEvents(const std::vector<SV::SVTypedValue>& tracks) {
    using namespace SarvelonMediaKit;
    ns::Array bitRates, subtitleFormats, subtitleIds, mediaSources, audioIds, trackIds;
    for (const SV::SVTypedValue& entry : tracks) {
        const SV::SVDictionary* track = nullptr;
        if (!entry.GetDictionary(track)) {
            DebugPrint("WARNING: SV_QueryAllTracks entry not dictionary\n");
            continue;
        }
        uint32_t bitRate = 0;
        int32_t trickRate = 0;
        uint32_t videoBitRate = 0;
        if (!track->GetUnsignedInt(TrackInfoKey_BitRate, bitRate)) {
            DebugPrint("WARNING: SV_QueryAllTracks bit rate not found in entry\n");
        } else if (!track->GetSignedInt(TrackInfoKey_TrickPlayRate, trickRate) &&
                   track->GetUnsignedInt(TrackInfoKey_VideoBitRate, videoBitRate)) {
            // Bits to bytes per second; trick-play tracks are no choice for normal playback.
            bitRates.push_back(ns::Value(static_cast<long long>(bitRate >> 3)));
        }
        uint32_t subtitleFormat = 0;
        const std::string* subtitleId = nullptr;
        const std::string* source = nullptr;
        if (track->GetUnsignedInt(TrackInfoKey_SubtitleFormat, subtitleFormat) &&
            track->GetString(TrackInfoKey_SubtitleIdentifier, subtitleId) &&
            track->GetString(TrackInfoKey_Source, source)) {
            subtitleFormats.push_back(ns::Value(static_cast<unsigned>(subtitleFormat)));
            subtitleIds.push_back(ns::Value(*subtitleId));
            mediaSources.push_back(ns::Value(*source));
        }
        const std::string* audioId = nullptr;
        uint32_t id = 0;
        if (track->GetString(TrackInfoKey_AudioIdentifier, audioId) &&
            track->GetValue(TrackInfoKey_VideoFormat) == nullptr &&
            track->GetUnsignedInt(TrackInfoKey_Id, id)) {
            audioIds.push_back(ns::Value(*audioId));
            trackIds.push_back(ns::Value(static_cast<unsigned>(id)));
        }
    }
    ns::Dictionary bitRateEvent;
    bitRateEvent.Set("SVBitratesKey", ns::Value(std::move(bitRates)));
    SV_PostEvent(SViOsApiEvent_Bitrates, bitRateEvent);
    ns::Dictionary subtitleEvent;
    subtitleEvent.Set("SVSubtitlesFormatKey", ns::Value(std::move(subtitleFormats)));
    subtitleEvent.Set("SVSubtitlesIdKey", ns::Value(std::move(subtitleIds)));
    subtitleEvent.Set("SVMediaSourceKey", ns::Value(std::move(mediaSources)));
    SV_PostEvent(SViOsApiEvent_Subtitles, subtitleEvent);
    ns::Dictionary audioEvent;
    audioEvent.Set("SVAudioIdKey", ns::Value(std::move(audioIds)));
    audioEvent.Set("SVTrackIdKey", ns::Value(std::move(trackIds)));
    SV_PostEvent(SViOsApiEvent_AudioOnlyTracks, audioEvent);
}

int SV_Play(const std::string& assetUrl, std::string* playbackUrl, int /*unused*/) {
    SViOsApiState& state = SViOsApiState::Instance();
    StartUnderWay start(state);
    if (!state.IsInitialized()) return SVBridgeNotInitialised;
    const boost::shared_ptr<SarvelonMediaKit::SVMKCredentials> credentials = state.GetCredentials();
    if (!credentials) return SVBridgeNoCredentials;
    if (state.GetSession() != nullptr) return SVBridgeSessionExists;

    // Replaces (and so releases) the asset of an earlier setup that left no session behind.
    state.SetCurrentAsset(assetUrl);
    std::string localUrl;
    SVMediaTransformerSession* session = nullptr;
    // The entries are only written by SV_Initialize, which runs on this same thread. The
    // session is set before its setup runs: SV_Stop from another thread (a player that goes
    // while the origin is still slow to answer) stops it there, and the setup returns 408.
    // It is kept also after a failed setup, so SV_Stop releases it.
    const SVStatus setup = SarvelonMediaKit::SetupSession(
        assetUrl, credentials->GetEntries(), kPlaybackMode, &localUrl, &session,
        [&state](SVMediaTransformerSession* made) { state.SetSession(made); });
    if (setup != SVStatusSuccess) return setup;
    if (playbackUrl != nullptr) *playbackUrl = localUrl;

    std::vector<SV::SVTypedValue> tracks;
    SVStatus status = SV_QueryAllTracks(session, &tracks);
    if (status != SVStatusSuccess) return status;
    SV_PostTrackListEvents(tracks);

    // The current tracks, as if the engine had just reported them.
    SV::SVDictionary trackInfo;
    SV_GetVideoTrackInfo(session, &trackInfo);
    const SV::SVTypedValue video(trackInfo);
    SV_TransformerEventHandler(session, SVMediaTransformEvent_VideoTrackChange, &video);
    trackInfo.clear();
    SV_GetAudioTrackInfo(session, &trackInfo);
    if (!trackInfo.empty()) {
        const SV::SVTypedValue audio(trackInfo);
        SV_TransformerEventHandler(session, SVMediaTransformEvent_AudioTrackChange, &audio);
    }

    std::vector<SV::SVTypedValue> chapters;
    status = SV_QueryChapters(session, &chapters);
    if (status != SVStatusSuccess) return status;
    if (chapters.empty()) return SVBridgeSuccess;
    // Titles and thumbnails then arrive as the engine's chapter event.
    status = SV_GetChapterData(session, 0, static_cast<uint32_t>(chapters.size() - 1));
    return status == SVStatusSuccess ? SVBridgeSuccess : status;
}

int SV_Stop() {
    SViOsApiState& state = SViOsApiState::Instance();
    if (!state.IsInitialized()) return SVBridgeNotInitialised;
    if (!state.GetCredentials()) return SVBridgeNoCredentials;
    // Also the session of an SV_Play still under way on another thread.
    SVMediaTransformerSession* session = state.AwaitSession();
    if (session == nullptr) return SVBridgeNoSession;
    const SVStatus status = SV_MediaTransformerTeardown(session);
    state.ClearSession(session);
    if (status != SVStatusSuccess) return status;
    state.ClearCurrentAsset();
    return SVBridgeSuccess;
}

int SV_Terminate() {
    SViOsApiState& state = SViOsApiState::Instance();
    if (!state.IsInitialized()) return SVBridgeNotInitialised;
    if (!state.GetCredentials()) return SVBridgeNoCredentials;
    SV_MediaTransformerTerminate();
    SarvelonMediaKit::ShutdownCurlHTTPClientInterface();
    state.SetInitialized(false);
    SV_PostEvent(SViOsApiEvent_Terminated, ns::Dictionary());
    return SVBridgeSuccess;
}
