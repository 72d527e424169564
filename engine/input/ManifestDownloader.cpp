#include "engine/input/ManifestDownloader.h"

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>

#include <chrono>
#include <limits>
#include <mutex>
#include <thread>

#include "SVLibrary/PilThread/Event.h"
#include "engine/input/HTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"

namespace SarvelonMediaKit {

// What the transport's handlers write and the owner reads.
struct ManifestDownloader::State {
    explicit State(size_t cap) : maxBytes(cap) {}

    bool OnData(const signed char* bytes, unsigned length) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (overflowed) return false;
            if (length <= maxBytes - data.size()) {
                data.append(reinterpret_cast<const char*>(bytes), length);
                return true;
            }
            overflowed = true;
            data.clear();
            status = SVStatusManifest;
            text = "Manifest larger than " + std::to_string(maxBytes) + " bytes";
        }
        done.Set();
        return false;
    }

    void OnDone() { done.Set(); }

    void Abort() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            aborted = true;
            // An outcome already decided (a failure, or the result Download returned) stands.
            if (!settled && status == SVStatusSuccess) {
                status = SVStatusPreloadTimeout;
                text = "Download aborted";
            }
        }
        done.Set();
    }

    void OnError(SVStatus code, const std::string& errorText) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            // The cap's refusal stands: the transport's later complaint about the transfer
            // being cut is its consequence, not its cause. Once Download has returned, its
            // result stays what the owner was told.
            if (!overflowed && !settled) {
                status = code;
                text = errorText;
            }
        }
        done.Set();
    }

    const size_t maxBytes;
    SV::Event done;
    mutable std::mutex mutex;  // guards everything below
    std::string data;
    SVStatus status = SVStatusSuccess;
    std::string text;
    bool overflowed = false;
    bool settled = false;  // Download has returned
    bool aborted = false;  // Abort was called: a transfer not yet started is not started
};

namespace {

bool ForwardData(const boost::shared_ptr<ManifestDownloader::State>& state,
                 const signed char* bytes, unsigned length) {
    return state->OnData(bytes, length);
}

void ForwardDone(const boost::shared_ptr<ManifestDownloader::State>& state, bool) {
    state->OnDone();
}

}  // namespace

ManifestDownloader::ManifestDownloader(size_t maxBytes)
    : state_(boost::make_shared<State>(maxBytes)) {}

ManifestDownloader::~ManifestDownloader() {
    // No error event may arrive while the members go.
    DetachFromSources();
    if (!transport_) return;
    // A transfer may still run (time-out, refused body, an error body not read to its end):
    // abort it so the connection is given up rather than left to finish, then close.
    transport_->Abort();
    transport_->AbortDownload();
    transport_->Close();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMilliseconds);
    while (!transport_->IsClosed() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Should the wait give up, the handlers still hold only the shared state.
}

void ManifestDownloader::Abort() { state_->Abort(); }

SVStatus ManifestDownloader::Download(const std::string& url, MediaTime timeout) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->aborted) {
            state_->settled = true;
            return state_->status;
        }
    }
    HTTPClientInterfaceFactory factory = GetHTTPClientInterfaceFactory();
    factory(transport_, url, nullptr, nullptr, std::string(), 0);
    if (!transport_) {
        state_->OnError(SVStatusTransportStream, "No transport for " + url);
        return GetStatus();
    }
    transport_->AddMonitor(this);
    transport_->SetPost(false);
    transport_->SetDataHandler(
        boost::bind(&ForwardData, state_, boost::placeholders::_1, boost::placeholders::_2));
    transport_->SetDoneHandler(boost::bind(&ForwardDone, state_, boost::placeholders::_1));
    transport_->StartDownload(0, 0);

    const uint64_t milliseconds = timeout.Get() / 1000;
    const uint32_t wait = milliseconds >= SV::kInfiniteWait ? SV::kInfiniteWait - 1
                                                            : static_cast<uint32_t>(milliseconds);
    const bool ended = state_->done.Wait(wait);
    std::lock_guard<std::mutex> lock(state_->mutex);
    // Decided under the lock: an error that raced the time-out keeps its code.
    if (!ended && state_->status == SVStatusSuccess) state_->status = SVStatusPreloadTimeout;
    state_->settled = true;
    return state_->status;
}

std::string ManifestDownloader::GetData() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->data;
}

SVStatus ManifestDownloader::GetStatus() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->status;
}

std::string ManifestDownloader::GetErrorText() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->text;
}

bool ManifestDownloader::OnData(const signed char* bytes, unsigned length) {
    return state_->OnData(bytes, length);
}

void ManifestDownloader::OnDone(bool) { state_->OnDone(); }

void ManifestDownloader::SetError(SVStatus status, std::string text) {
    state_->OnError(status, text);
}

}  // namespace SarvelonMediaKit
