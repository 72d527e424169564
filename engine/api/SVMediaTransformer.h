#ifndef ENGINE_API_SVMEDIATRANSFORMER_H
#define ENGINE_API_SVMEDIATRANSFORMER_H

// The engine's public entry points: one process-wide event callback and a registry of playback
// sessions. A session handle is valid from the setup that returned it until its teardown; any
// other pointer is refused with SVStatusUnknownSession (4200), so a stale handle is harmless.

#include <boost/function.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "SVLibrary/Types/SVStatus.h"

namespace SarvelonMediaKit {
class SVMediaTransformerSession;
}

// Engine event numbers.
enum SVMediaTransformEvent {
    SVMediaTransformEvent_SetupCompleted = 0,
    SVMediaTransformEvent_VideoTrackChange = 2,
    SVMediaTransformEvent_AudioTrackChange = 3,
    SVMediaTransformEvent_ChapterData = 6,
    SVMediaTransformEvent_SessionStopped = 8,
    SVMediaTransformEvent_Error = 9,
    // Damaged media the playback goes on past (the payload as for an error).
    SVMediaTransformEvent_Warning = 10
};

// Called on the thread that publishes the event (normally a session's "Pump" thread) with no
// engine lock held, so it may call the query entry points of the same session. `data` lives only
// during the call: the callback copies what it keeps.
typedef void (*SVMediaTransformerCallback)(SarvelonMediaKit::SVMediaTransformerSession* session,
                                           int event, const SV::SVTypedValue* data);

// 1021 when a callback is stored already (it stays), 451 for a null callback, else 200.
SVStatus SV_MediaTransformerInitialize(SVMediaTransformerCallback callback);
// 1022 when no callback is stored, else clears it (sessions are left alone) and 200.
SVStatus SV_MediaTransformerTerminate();
// Makes and registers a session even when its setup then fails (the caller tears it down);
// 1022 when not initialised (no session is made).
SVStatus SV_MediaTransformerSetup(const std::string& url, const SV::SVDictionary& credentials,
                                  unsigned mode, std::string* localUrl,
                                  SarvelonMediaKit::SVMediaTransformerSession** session);
// Stops the session and forgets the handle; the session is destroyed once no entry-point call
// on another thread is still using it.
SVStatus SV_MediaTransformerTeardown(SarvelonMediaKit::SVMediaTransformerSession* session);
SVStatus SV_GetVideoTrackInfo(SarvelonMediaKit::SVMediaTransformerSession* s,
                              SV::SVDictionary* out);
SVStatus SV_GetAudioTrackInfo(SarvelonMediaKit::SVMediaTransformerSession* s,
                              SV::SVDictionary* out);
SVStatus SV_QueryAllTracks(SarvelonMediaKit::SVMediaTransformerSession* s,
                           std::vector<SV::SVTypedValue>* out);
SVStatus SV_QueryChapters(SarvelonMediaKit::SVMediaTransformerSession* s,
                          std::vector<SV::SVTypedValue>* out);
SVStatus SV_GetChapterData(SarvelonMediaKit::SVMediaTransformerSession* s, uint32_t first,
                           uint32_t last);

namespace SarvelonMediaKit {

// The stored callback, null when the engine is not initialised. Read by the session's events.
SVMediaTransformerCallback GetMediaTransformerCallback();

// SV_MediaTransformerSetup for a caller that may tear the session down from another thread
// while its setup still waits for the origin (the bridge): `made`, when given, hears the
// handle once the session is registered, before its setup begins.
SVStatus SetupSession(const std::string& url, const SV::SVDictionary& credentials, unsigned mode,
                      std::string* localUrl, SVMediaTransformerSession** session,
                      const boost::function<void(SVMediaTransformerSession*)>& made);

}  // namespace SarvelonMediaKit

#endif
