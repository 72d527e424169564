#ifndef ENGINE_API_SVMEDIATRANSFORMERSESSION_H
#define ENGINE_API_SVMEDIATRANSFORMERSESSION_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ChapterInfoMonitor.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/SessionInfoMonitor.h"
#include "engine/core/StreamInfoMonitor.h"

namespace SarvelonMediaKit {

class Transformer;

// Keys of the engine events' dictionaries.
inline constexpr char ErrorKey_SVStatus[] = "ErrorKey_SVStatus";                          // u32
inline constexpr char ErrorKey_AdditionalInfo[] = "ErrorKey_AdditionalInfo";              // string
inline constexpr char ChapterInfoKey_SeqNum[] = "ChapterInfoKey_SeqNum";                  // u32
inline constexpr char ChapterInfoKey_StartTimeIndex[] = "ChapterInfoKey_StartTimeIndex";  // u32 ms
inline constexpr char ChapterInfoKey_Title[] = "ChapterInfoKey_Title";                    // string
inline constexpr char ChapterInfoKey_Thumbnail[] = "ChapterInfoKey_Thumbnail";            // data

// One playback as the engine's caller sees it: owns the Transformer that does the work, watches
// it (errors, tracks, session life, chapters) and turns what it hears into numbered events for
// the process-wide callback, keeping the track and chapter state the queries answer from.
//
// Sessions live in a process-wide registry of shared pointers: Create registers, Unregister
// forgets, Find hands out a counted reference, so a session stays alive across any call that
// found it even while another thread tears it down.
//
// Thread use: Setup, Teardown and the queries on the caller's threads; the monitor events on the
// threads that publish them. The track info, the chapters, the chapter range and the
// transformer pointer are guarded by mutex_; the callback always runs with it released.
class SVMediaTransformerSession : public ErrorInfoMonitor,
                                  public StreamInfoMonitor,
                                  public SessionInfoMonitor,
                                  public ChapterInfoMonitor {
public:
    // Makes a session and registers it.
    static boost::shared_ptr<SVMediaTransformerSession> Create(const std::string& url,
                                                               const SV::SVDictionary& credentials);
    // The registered session behind handle, null when the handle is not registered.
    static boost::shared_ptr<SVMediaTransformerSession> Find(SVMediaTransformerSession* handle);
    // Takes the handle out of the registry and returns the registry's reference (null when it
    // was not registered). The caller drops it outside any lock.
    static boost::shared_ptr<SVMediaTransformerSession> Unregister(
        SVMediaTransformerSession* handle);
    // Sessions in the registry.
    static size_t RegisteredCount();

    ~SVMediaTransformerSession() override;
    SVMediaTransformerSession(const SVMediaTransformerSession&) = delete;
    SVMediaTransformerSession& operator=(const SVMediaTransformerSession&) = delete;

    // Builds and starts the transformer for mode (1: HLS on the loopback server for the
    // program-stream family; 0: FLV for the RTMP server; other: nothing) and hands back the
    // playback URL.
    SVStatus Setup(unsigned mode, std::string* localUrl);
    // Stops the transformer; without one, posts event 8 and returns 200. Only the first call
    // stops anything: a later one (from another thread, or from an event the stop itself
    // delivers) returns 200 at once rather than wait for a stop that may be waiting for it.
    // From another thread while Setup runs, it abandons the setup: a preload waiting for a
    // slow origin ends at once, nothing more is started, and Setup returns 408.
    SVStatus Teardown();
    SVStatus GetVideoTrackInfo(SV::SVDictionary* out);
    SVStatus GetAudioTrackInfo(SV::SVDictionary* out);
    SVStatus QueryAllTracks(std::vector<SV::SVTypedValue>* out);
    SVStatus QueryChapters(std::vector<SV::SVTypedValue>* out);
    SVStatus GetChapterData(uint32_t first, uint32_t last);

    // True while this session's event callback runs on the calling thread: an engine thread
    // of this very session, which must not be the one that destroys it.
    bool IsInOwnCallback() const;

    const std::string& GetUrl() const { return url_; }
    boost::shared_ptr<Transformer> GetTransformer() const;

    // Monitor events (SVMediaTransformerSessionEvents.cpp).
    void SetError(SVStatus status, std::string text) override;
    void SetWarning(SVStatus status, std::string text) override;
    void TrackChanged(const boost::shared_ptr<MediaTrack>& track) override;
    void SessionStopped() override;
    void ChapterReceived(unsigned sequenceNumber, MediaTime startTime,
                         const std::string& title) override;
    void ThumbnailReceived(unsigned index, const std::vector<unsigned char>& image) override;

private:
    SVMediaTransformerSession(const std::string& url, const SV::SVDictionary& credentials);

    // Calls the stored callback, if any, with this session's handle; no lock may be held.
    void PostEvent(int event, const SV::SVTypedValue& data);

    const std::string url_;
    const SV::SVDictionary credentials_;
    // Held by Setup while it installs its transformer and while it starts it, and by Teardown
    // while it reads the transformer to stop: a teardown from another thread never overlaps
    // those steps, and a setup never starts what a teardown stopped. Taken before mutex_.
    SV::Mutex startLock_;
    mutable SV::Mutex mutex_;
    // Null until Setup builds it; guarded by mutex_ (a call copies it, keeping it alive).
    boost::shared_ptr<Transformer> transformer_;
    SV::SVDictionary videoInfo_;
    SV::SVDictionary audioInfo_;
    uint32_t firstChapter_;
    uint32_t lastChapter_;
    std::list<SV::SVDictionary> chapters_;
    // Set by the first teardown; no lock is held across the stop, which waits for the
    // session's threads while they deliver events whose handlers may call back in.
    std::atomic<bool> teardownStarted_;
};

}  // namespace SarvelonMediaKit

#endif
