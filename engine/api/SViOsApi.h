#ifndef ENGINE_API_SVIOSAPI_H
#define ENGINE_API_SVIOSAPI_H
// The bridge between the player screen and the engine's C interface. The player screen calls
// SV_Initialize and SV_Play when it opens and SV_Stop and SV_Terminate when it goes away (all
// four from its main thread, one at a time); it hears about the playback through bridge events
// that reach its callback on the thread draining the main queue (ns::MainQueue()).
//
// Results of the entry points: 0 success, 1 not initialised (also the engine refusing to
// initialise), 2 already initialised, 15 no current session, 16 a session already exists,
// 20 no credentials record; any other value is an engine status passed through unchanged.
//
// Attribute values are ns::Value: "number (long)" is a signed integer, "number (unsigned
// long)" an unsigned integer, "number (float)" a double holding a float's value, texts are
// UTF-8 strings. A chapter image (event 17, "SVChapterImageKey") is an ns::Data of the image's
// bytes, since a value has no image kind: the bridge posts it only after the bytes passed the
// image check (platform/store/Image.h); bytes that are no PNG or JPEG image give an event 17
// with "SVChapterIndexKey" alone.

#include <boost/shared_ptr.hpp>

#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "engine/core/SVMKCredentials.h"
#include "platform/Value.h"

namespace SarvelonMediaKit {
class SVMediaTransformerSession;
}

// Bridge event numbers. Only 3, 5, 8, 10 and 14 to 23 are ever posted; the other numbers
// belong to the enumeration for the player screen's sake.
enum SViOsApiEvent {
    SViOsApiEvent_NullEvent = 0,
    SViOsApiEvent_Opening = 1,
    SViOsApiEvent_Opened = 2,
    SViOsApiEvent_Playing = 3,
    SViOsApiEvent_Paused = 4,
    SViOsApiEvent_Stopped = 5,
    SViOsApiEvent_Seeking = 6,
    SViOsApiEvent_Buffering = 7,
    SViOsApiEvent_Initialized = 8,
    SViOsApiEvent_Initializing = 9,
    SViOsApiEvent_Terminated = 10,
    SViOsApiEvent_Terminating = 11,
    SViOsApiEvent_Warning = 12,
    SViOsApiEvent_BufferingDone = 13,
    SViOsApiEvent_SetCurrentBitrate = 14,
    SViOsApiEvent_Bitrates = 15,
    SViOsApiEvent_ChapterTitle = 16,
    SViOsApiEvent_ChapterImage = 17,
    SViOsApiEvent_ChapterSetup = 18,
    SViOsApiEvent_StoppingOnError = 19,
    SViOsApiEvent_VideoParams = 20,
    SViOsApiEvent_AudioParams = 21,
    SViOsApiEvent_Subtitles = 22,
    SViOsApiEvent_AudioOnlyTracks = 23
};

// The application's function. Called on the thread that drains the main queue
// (ns::RunLoop::Main()); its result is ignored.
typedef int (*SViOsApiCallback)(SViOsApiEvent event, const ns::Dictionary& attributes);

// Entry points (main thread, one at a time). The one exception: SV_Stop from another thread
// while SV_Play waits for a slow origin stops that start, and SV_Play then returns 408.
// Settings keys read: "SVAssetRootKey" (text), "SVPlayerDrivenAdaptationKey" (boolean after
// the platform's conversion), "SVPreloadTimeoutKey" (integer after the platform's conversion).
int SV_Initialize(SViOsApiCallback callback, const ns::Dictionary& settings);
// Fills *playbackUrl with the loopback playlist URL on success; the third argument is unused.
int SV_Play(const std::string& assetUrl, std::string* playbackUrl, int unused);
int SV_Stop();
int SV_Terminate();

// "SViOsApiEvent_<name>" for 0 to 23, "Unknown Event" for any other number.
std::string SV_EventToString(int event);
// {"SVAssetPathKey": current asset URL, "SVAssetTypeKey": its type}; empty without a current
// asset. Any thread.
ns::Dictionary SV_AssetDescriptor();
// 2 when the path begins with "http://" or "https://", else 1.
unsigned long SV_GetAssetType(const std::string& path);

// Queues the event for the application's callback on the main queue and returns 0. With no
// callback stored the event is dropped. Any thread.
int SV_PostEvent(int event, const ns::Dictionary& attributes);
// The engine's event callback: turns engine events into bridge events. Any thread; the payload
// is only read during the call.
void SV_TransformerEventHandler(SarvelonMediaKit::SVMediaTransformerSession* session, int event,
                                const SV::SVTypedValue* data);

// The steps of the credentials set-up, exposed for the tools and the tests.
// Maps the settings onto the credentials record (made on first use and kept for the life of
// the process); a mapped key replaces its earlier value, other entries stay.
void SV_CredentialsFromSettings(const ns::Dictionary& settings);
// Makes sure "CredentialsKey_AssetFsRoot" names an existing directory: the one given, else the
// documents directory (stored under the key when there is one).
void SV_DefaultStoragePaths();
// The credentials record, empty before the first mapping.
boost::shared_ptr<SarvelonMediaKit::SVMKCredentials> SV_Credentials();
// Creates the directory with any missing parents; true when it exists afterwards.
bool SV_CreateDirectory(const std::string& path);
// The user's documents directory (platform/store/SearchPaths.h); empty when there is none.
std::string SV_DocumentsDirectory();
// Walks an engine track list and posts the Bitrates, Subtitles and AudioOnlyTracks events with
// the parallel arrays it gathers (what SV_Play does with the list of all tracks).
void SV_PostTrackListEvents(const std::vector<SV::SVTypedValue>& tracks);

#endif  // ENGINE_API_SVIOSAPI_H
