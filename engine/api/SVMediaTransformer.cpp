#include "engine/api/SVMediaTransformer.h"

#include <boost/shared_ptr.hpp>

#include <atomic>

#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/Transformer.h"

namespace SarvelonMediaKit {

namespace {

// Written by initialise and terminate, read by every entry point and by the events on the
// session threads.
std::atomic<SVMediaTransformerCallback> gCallback{nullptr};

// The checks every per-session entry point makes first: the engine is initialised, and the
// handle is registered. On success session holds a counted reference for the whole call.
SVStatus FindSession(SVMediaTransformerSession* handle,
                     boost::shared_ptr<SVMediaTransformerSession>& session) {
    if (gCallback.load() == nullptr) return SVStatusNotInitialised;
    session = SVMediaTransformerSession::Find(handle);
    if (!session) return SVStatusUnknownSession;
    return SVStatusSuccess;
}

}  // namespace

SVMediaTransformerCallback GetMediaTransformerCallback() { return gCallback.load(); }

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
    if (SarvelonMediaKit::gCallback.load() == nullptr) return SVStatusNotInitialised;
    boost::shared_ptr<SVMediaTransformerSession> made =
        SVMediaTransformerSession::Create(url, credentials);
    if (session != nullptr) *session = made.get();
    std::string ignored;
    return made->Setup(mode, localUrl != nullptr ? localUrl : &ignored);
}

SVStatus SV_MediaTransformerTeardown(SVMediaTransformerSession* handle) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    status = session->Teardown();
    // The registry's reference goes here; ours at the end of the call. A call still running on
    // another thread keeps the session until it returns.
    boost::shared_ptr<SVMediaTransformerSession> registered =
        SVMediaTransformerSession::Unregister(handle);
    registered.reset();
    session.reset();
    return status;
}

SVStatus SV_GetVideoTrackInfo(SVMediaTransformerSession* handle, SV::SVDictionary* out) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    SV::SVDictionary ignored;
    return session->GetVideoTrackInfo(out != nullptr ? out : &ignored);
}

SVStatus SV_GetAudioTrackInfo(SVMediaTransformerSession* handle, SV::SVDictionary* out) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    SV::SVDictionary ignored;
    return session->GetAudioTrackInfo(out != nullptr ? out : &ignored);
}

SVStatus SV_QueryAllTracks(SVMediaTransformerSession* handle, std::vector<SV::SVTypedValue>* out) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    std::vector<SV::SVTypedValue> ignored;
    return session->QueryAllTracks(out != nullptr ? out : &ignored);
}

SVStatus SV_QueryChapters(SVMediaTransformerSession* handle, std::vector<SV::SVTypedValue>* out) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    std::vector<SV::SVTypedValue> ignored;
    return session->QueryChapters(out != nullptr ? out : &ignored);
}

SVStatus SV_GetChapterData(SVMediaTransformerSession* handle, uint32_t first, uint32_t last) {
    boost::shared_ptr<SVMediaTransformerSession> session;
    SVStatus status = SarvelonMediaKit::FindSession(handle, session);
    if (status != SVStatusSuccess) return status;
    return session->GetChapterData(first, last);
}
