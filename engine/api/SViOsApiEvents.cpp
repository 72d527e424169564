// Bridge events: delivery on the main queue and the translation of engine events.

#include <string>
#include <utility>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Util/LibraryVersion.h"
#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/container/TrackInfoKeys.h"
#include "platform/core/OperationQueue.h"
#include "platform/store/Image.h"

using SarvelonMediaKit::SViOsApiState;

namespace {

// The engine's event numbers this handler understands.
enum EngineEvent {
    kSetupCompleted = 0,
    kVideoTrackChange = 2,
    kAudioTrackChange = 3,
    kChapterData = 6,
    kSessionStopped = 8,
    kError = 9,
    kWarning = 10,
};

const char* const kEventNames[24] = {
    "NullEvent",   "Opening",      "Opened",       "Playing",         "Paused",
    "Stopped",     "Seeking",      "Buffering",    "Initialized",     "Initializing",
    "Terminated",  "Terminating",  "Warning",      "BufferingDone",   "SetCurrentBitrate",
    "Bitrates",    "ChapterTitle", "ChapterImage", "ChapterSetup",    "StoppingOnError",
    "VideoParams", "AudioParams",  "Subtitles",    "AudioOnlyTracks",
};

// Each copies one engine key into the attributes when it holds a value of the expected kind.
void CopyUnsigned(const SV::SVDictionary& from, const char* key, ns::Dictionary& to,
                  const char* attribute) {
    uint32_t value = 0;
    if (from.GetUnsignedInt(key, value))
        to.Set(attribute, ns::Value(static_cast<unsigned long>(value)));
}

void CopyFloat(const SV::SVDictionary& from, const char* key, ns::Dictionary& to,
               const char* attribute) {
    float value = 0;
    if (from.GetFloat(key, value)) to.Set(attribute, ns::Value(static_cast<double>(value)));
}

void HandleVideoTrack(const SV::SVTypedValue* data) {
    using namespace SarvelonMediaKit;
    const SV::SVDictionary* track = nullptr;
    if (data == nullptr || !data->GetDictionary(track)) {
        DebugPrint("WARNING: SVMediaTransformEvent_VideoTrackChange event data not dictionary\n");
        return;
    }
    ns::Dictionary params;
    CopyUnsigned(*track, TrackInfoKey_VideoFormat, params, "SVVideoType");
    CopyUnsigned(*track, TrackInfoKey_VideoProfile, params, "SVProfile");
    CopyUnsigned(*track, TrackInfoKey_VideoLevel, params, "SVLevel");
    CopyUnsigned(*track, TrackInfoKey_VideoWidth, params, "SVWidth");
    CopyUnsigned(*track, TrackInfoKey_VideoHeight, params, "SVHeight");
    uint32_t pixelHeight = 0;
    if (track->GetUnsignedInt(TrackInfoKey_VideoPixelHeight, pixelHeight) && pixelHeight != 0) {
        const uint32_t pixelWidth = track->GetUnsignedIntOrDefault(TrackInfoKey_VideoPixelWidth, 0);
        const float ratio = static_cast<float>(pixelWidth) / static_cast<float>(pixelHeight);
        params.Set("SVPixelAspectRatio", ns::Value(static_cast<double>(ratio)));
    }
    CopyFloat(*track, TrackInfoKey_VideoFrameRate, params, "SVFrameRate");
    CopyUnsigned(*track, TrackInfoKey_VideoBitRate, params, "SVBitrate");
    SV_PostEvent(SViOsApiEvent_VideoParams, params);

    uint32_t bitRate = 0;
    if (track->GetUnsignedInt(TrackInfoKey_BitRate, bitRate)) {
        ns::Dictionary current;
        // Bits to bytes per second.
        current.Set("SVCurrentBitrate", ns::Value(static_cast<unsigned long>(bitRate >> 3)));
        SV_PostEvent(SViOsApiEvent_SetCurrentBitrate, current);
    }
}

void HandleAudioTrack(const SV::SVTypedValue* data) {
    using namespace SarvelonMediaKit;
    const SV::SVDictionary* track = nullptr;
    if (data == nullptr || !data->GetDictionary(track)) {
        DebugPrint("WARNING: SVMediaTransformEvent_AudioTrackChange event data not dictionary\n");
        return;
    }
    ns::Dictionary params;
    CopyUnsigned(*track, TrackInfoKey_AudioFormat, params, "SVAudioType");
    CopyUnsigned(*track, TrackInfoKey_AudioProfile, params, "SVProfile");
    CopyUnsigned(*track, TrackInfoKey_AudioNumChannels, params, "SVNumChannels");
    CopyUnsigned(*track, TrackInfoKey_AudioSampleFrequency, params, "SVSampleFrequency");
    CopyUnsigned(*track, TrackInfoKey_AudioBitRate, params, "SVBitrate");
    SV_PostEvent(SViOsApiEvent_AudioParams, params);
}

void HandleChapter(const SV::SVTypedValue& entry) {
    const SV::SVDictionary* chapter = nullptr;
    if (!entry.GetDictionary(chapter)) {
        DebugPrint(
            "WARNING: SVMediaTransformEvent_ChapterData event chapter entry not "
            "dictionary\n");
        return;
    }
    uint32_t index = 0;
    if (!chapter->GetUnsignedInt("ChapterInfoKey_SeqNum", index)) {
        DebugPrint(
            "WARNING: SVMediaTransformEvent_ChapterData event chapter sequence number "
            "retrieval problem\n");
        return;
    }
    ns::Dictionary title;
    title.Set("SVChapterIndexKey", ns::Value(static_cast<long>(index)));
    const std::string* text = nullptr;
    if (chapter->GetString("ChapterInfoKey_Title", text)) {
        title.Set("SVChapterTitleKey", ns::Value(*text));
    }
    uint32_t startTime = 0;
    if (chapter->GetUnsignedInt("ChapterInfoKey_StartTimeIndex", startTime)) {
        title.Set("SVChapterTimeIndexKey", ns::Value(static_cast<long>(startTime)));
    }
    SV_PostEvent(SViOsApiEvent_ChapterTitle, title);

    const SV::SVDataBlob* thumbnail = nullptr;
    if (chapter->GetDataBlob("ChapterInfoKey_Thumbnail", thumbnail)) {
        ns::Dictionary image;
        ns::Image made;
        // Bytes that make no image still announce the chapter's image slot, without an image.
        if (ns::Image::FromBytes(*thumbnail, made)) image.Set("SVChapterImageKey", made.ToData());
        image.Set("SVChapterIndexKey", ns::Value(static_cast<long>(index)));
        SV_PostEvent(SViOsApiEvent_ChapterImage, image);
    }
}

void HandleChapters(const SV::SVTypedValue* data) {
    const SV::SVTypedValueArray* chapters = nullptr;
    if (data == nullptr || !data->GetArray(chapters)) {
        DebugPrint("WARNING: SVMediaTransformEvent_ChapterData event data not typed value array\n");
        return;
    }
    ns::Dictionary setup;
    setup.Set("SVNumChaptersKey", ns::Value(static_cast<long>(chapters->size())));
    SV_PostEvent(SViOsApiEvent_ChapterSetup, setup);
    for (const SV::SVTypedValue& entry : *chapters) HandleChapter(entry);
}

// An error stops the playback; a warning tells of damage the playback goes on past. Both
// carry the status and the text.
void HandleError(const SV::SVTypedValue* data, int event) {
    const SV::SVDictionary* error = nullptr;
    if (data == nullptr || !data->GetDictionary(error)) {
        DebugPrint("WARNING: SVMediaTransformEvent_Error event data not dictionary\n");
        return;
    }
    ns::Dictionary attributes = SV_AssetDescriptor();
    attributes.Set("SVVersionKey", ns::Value(SV::GetLibraryVersion()));
    uint32_t status = 0;
    if (error->GetUnsignedInt("ErrorKey_SVStatus", status)) {
        attributes.Set("SVErrorKey", ns::Value(static_cast<unsigned long>(status)));
    }
    const std::string* text = nullptr;
    if (error->GetString("ErrorKey_AdditionalInfo", text)) {
        attributes.Set("SVDescriptionKey", ns::Value(*text));
    }
    SV_PostEvent(event, attributes);
}

}  // namespace

int SV_PostEvent(int event, const ns::Dictionary& attributes) {
    if (SViOsApiState::Instance().GetCallback() == nullptr) return 0;
    ns::MainQueue().AddOperation([event, attributes] {
        // The callback stored when the operation runs, not when it was queued.
        const SViOsApiCallback callback = SViOsApiState::Instance().GetCallback();
        if (callback != nullptr) callback(static_cast<SViOsApiEvent>(event), attributes);
    });
    return 0;
}

void SV_TransformerEventHandler(SarvelonMediaKit::SVMediaTransformerSession* /*session*/, int event,
                                const SV::SVTypedValue* data) {
    switch (event) {
        case kSetupCompleted:
            if (data != nullptr && data->GetKind() == SV::SVTypedValueKind::Dictionary) {
                SV_PostEvent(SViOsApiEvent_Playing, SV_AssetDescriptor());
            } else {
                DebugPrint("WARNING: Event %d event data not dictionary\n", event);
            }
            break;
        case kVideoTrackChange: HandleVideoTrack(data); break;
        case kAudioTrackChange: HandleAudioTrack(data); break;
        case kChapterData: HandleChapters(data); break;
        case kSessionStopped: SV_PostEvent(SViOsApiEvent_Stopped, SV_AssetDescriptor()); break;
        case kError: HandleError(data, SViOsApiEvent_StoppingOnError); break;
        case kWarning: HandleError(data, SViOsApiEvent_Warning); break;
        default: break;
    }
}

std::string SV_EventToString(int event) {
    if (event < 0 || event > 23) return "Unknown Event";
    return std::string("SViOsApiEvent_") + kEventNames[event];
}
