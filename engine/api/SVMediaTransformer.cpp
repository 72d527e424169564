#include "engine/api/SVMediaTransformer.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <mutex>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Time/Timer.h"

#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/Transformer.h"

namespace SarvelonMediaKit {

namespace {

// Written by initialise and terminate, read by every entry point and by the events on the
// session threads.
std::atomic<SVMediaTransformerCallback> gCallback{nullptr};

// Lets go of sessions whose last caller was one of their own event handlers. Such a handler
// runs on an engine thread of that session (its pump, its worker) in the middle of the work
// that raised the event; destroying the session there would pull the transformer out from
// under that work, and a thread cannot wait for itself to end. The references are dropped
// on the timer thread instead, where the destruction waits for those threads as usual.
// Made on first use and never destroyed, so nothing runs under a static that is going away.
class SessionReaper : public SV::Timer {
public:
    // Takes the caller's reference away from it: were the caller to keep a copy, the timer
    // could drop its own first and leave the caller's as the last, released on the very
    // thread that must not destroy the session.
    static void Adopt(boost::shared_ptr<SVMediaTransformerSession>& session) {
        SessionReaper& reaper = Instance();
        std::lock_guard<std::mutex> lock(reaper.lock_);
        reaper.sessions_.push_back(boost::shared_ptr<SVMediaTransformerSession>());
        reaper.sessions_.back().swap(session);
        try {
            SV::TimerSet(&reaper, 0, 0, true);
        } catch (const SV::Exception&) {
            // The process is ending: the sessions stay as they are.
        }
    }

    void TimerExpired() override {
        std::vector<boost::shared_ptr<SVMediaTransformerSession>> adopted;
        {
            std::lock_guard<std::mutex> lock(lock_);
            adopted.swap(sessions_);
        }
        // Released outside the lock: each may take a while to stop its threads.
    }

private:
    static SessionReaper& Instance() {
        static SessionReaper* reaper = new SessionReaper;
        return *reaper;
    }

    std::mutex lock_;
    std::vector<boost::shared_ptr<SVMediaTransformerSession>> sessions_;
};

// The counted reference an entry point holds on its session for the whole call. When the
// call comes from that session's own event handler, the reference is handed to the reaper
// rather than dropped, in case it is the last one.
class SessionHold {
public:
    SessionHold() {}
    ~SessionHold() {
        if (session_ && session_->IsInOwnCallback()) SessionReaper::Adopt(session_);
    }
    SessionHold(const SessionHold&) = delete;
    SessionHold& operator=(const SessionHold&) = delete;

    boost::shared_ptr<SVMediaTransformerSession>& Get() { return session_; }
    SVMediaTransformerSession* operator->() const { return session_.get(); }

private:
    boost::shared_ptr<SVMediaTransformerSession> session_;
};

// The checks every per-session entry point makes first: the engine is initialised, and the
// handle is registered. On success session holds a counted reference for the whole call.
SVStatus FindSession(SVMediaTransformerSession* handle, SessionHold& session) {
    if (gCallback.load() == nullptr) return SVStatusNotInitialised;
    session.Get() = SVMediaTransformerSession::Find(handle);
    if (!session.Get()) return SVStatusUnknownSession;
    return SVStatusSuccess;
}

}  // namespace

SVMediaTransformerCallback GetMediaTransformerCallback() { return gCallback.load(); }

SVStatus SetupSession(const std::string& url, const SV::SVDictionary& credentials, unsigned mode,
                      std::string* localUrl, SVMediaTransformerSession** session,
                      const boost::function<void(SVMediaTransformerSession*)>& made) {
    if (gCallback.load() == nullptr) return SVStatusNotInitialised;
    boost::shared_ptr<SVMediaTransformerSession> created =
        SVMediaTransformerSession::Create(url, credentials);
    if (session != nullptr) *session = created.get();
    if (made) made(created.get());
    std::string ignored;
    // Held until the setup returns, however early another thread tears the session down.
    return created->Setup(mode, localUrl != nullptr ? localUrl : &ignored);
}

}  // namespace SarvelonMediaKit

using SarvelonMediaKit::SVMediaTransformerSession;
using SarvelonMediaKit::Transformer;

SVStatus SV_MediaTransformerInitialize(SVMediaTransformerCallback callback) {
    if (SarvelonMediaKit::gCallback.load() != nullptr) return SVStatusAlreadyInitialised;
    if (callback == nullptr) return SVStatusNullCallback;
    SVMediaTransformerCallback expected = nullptr;
    // Two initialisations racing: only the first stores its callback.
    if (!SarvelonMediaKit::gCallback.compare_exchange_strong(expected, callback)) {
        return SVStatusAlreadyInitialised;
    }
    return Transformer::Initialize();
}

SVStatus SV_MediaTransformerTerminate() {
    SVMediaTransformerCallback stored = SarvelonMediaKit::gCallback.exchange(nullptr);
    return stored == nullptr ? SVStatusNotInitialised : SVStatusSuccess;
}

SVStatus SV_MediaTransformerSetup(const std::string& url, const SV::SVDictionary& credentials,
                                  unsigned mode, std::string* localUrl,
                                  SVMediaTransformerSession** session) {
    return SarvelonMediaKit::SetupSession(url, credentials, mode, localUrl, session,
                                          boost::function<void(SVMediaTransformerSession*)>());
}

SVStatus SV_MediaTransformerTeardown(SVMediaTransformerSession* handle) {
    if (SarvelonMediaKit::gCallback.load() == nullptr) return SVStatusNotInitialised;
    // Out of the registry before the stop: a second teardown finds no handle (4200) instead of
    // waiting for a stop that may itself be waiting for the second caller's thread, as when a
    // handler of the session-stopped event the stop delivers tears the session down again.
    // A call already holding the session keeps it until it returns.
    SarvelonMediaKit::SessionHold session;
    session.Get() = SVMediaTransformerSession::Unregister(handle);
    if (!session.Get()) return SVStatusUnknownSession;
    return session->Teardown();
}

SVStatus SV_GetVideoTrackInfo(SVMediaTransformerSession* handle, SV::SVDictionary* out) {
    SarvelonMediaKit::SessionHold session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    SV::SVDictionary ignored;
    return session->GetVideoTrackInfo(out != nullptr ? out : &ignored);
}

SVStatus SV_GetAudioTrackInfo(SVMediaTransformerSession* handle, SV::SVDictionary* out) {
    SarvelonMediaKit::SessionHold session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    SV::SVDictionary ignored;
    return session->GetAudioTrackInfo(out != nullptr ? out : &ignored);
}

SVStatus SV_QueryAllTracks(SVMediaTransformerSession* handle, std::vector<SV::SVTypedValue>* out) {
    SarvelonMediaKit::SessionHold session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    std::vector<SV::SVTypedValue> ignored;
    return session->QueryAllTracks(out != nullptr ? out : &ignored);
}

SVStatus SV_QueryChapters(SVMediaTransformerSession* handle, std::vector<SV::SVTypedValue>* out) {
    SarvelonMediaKit::SessionHold session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    std::vector<SV::SVTypedValue> ignored;
    return session->QueryChapters(out != nullptr ? out : &ignored);
}

SVStatus SV_GetChapterData(SVMediaTransformerSession* handle, uint32_t first, uint32_t last) {
    SarvelonMediaKit::SessionHold session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    return session->GetChapterData(first, last);
}
