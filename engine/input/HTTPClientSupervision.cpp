// The supervision side of the HTTP client: resuming a transport that paused for lack of room,
// the stall check with its retry, failed transfers resumed a bounded number of times with the
// seam of each resume checked, the bandwidth samples and the buffer statistics.

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Session.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterface.h"

namespace SarvelonMediaKit {

namespace {

const char kStallText[] = "Data stopped arriving, will retry";

// The process-wide first pause of a held failure; negative until first read.
std::atomic<int64_t> gRetryPauseMs(-1);

// Server answers that say the server cannot serve now rather than never.
bool IsPassingServerStatus(SVStatus status) {
    return status == 500 || status == 502 || status == 503 || status == 504;
}

// Overwrites the key's value when the caller asked for it (put the key in).
void SetIfAsked(SV::SVDictionary& statistics, const char* key, uint32_t value) {
    if (statistics.GetValue(key) != nullptr) statistics.SetValue(key, SV::SVTypedValue(value));
}

}  // namespace

bool HTTPClient::DataExpected(BytePosition loaded) const {
    // A requested end bounds the transfer: once it is reached nothing more comes, however
    // large the resource (retrying an empty range would go on for ever).
    if (requestedEnd_ != 0) return loaded < requestedEnd_;
    if (totalEnd_ != 0) return loaded < totalEnd_;
    // Neither end known: no response head has told the size yet (perhaps none ever came).
    // Until the transfer ends, everything is still owed, so a request that never answers is
    // counted as a stall like any other.
    return !endOfDataSent_;
}

void HTTPClient::DoTick() {
    if (transportIdle_.load() && DataExpected(CurrentLoadedFilePosition())) UpdateAllowance();
    BandwidthInfoSource::Publish();
}

void HTTPClient::DoPeriodicCheck() {
    // Nothing to supervise before the first download or after a stop.
    if (!mainTransport_ && !restartNeeded_) return;
    // A refusal that asking again cannot mend was reported once; nothing is retried.
    if (refused_) return;
    const BytePosition loaded = CurrentLoadedFilePosition();
    if (!restartNeeded_ && !transportIdle_.load() && !endOfDataSent_ && DataExpected(loaded)) {
        if (++stallCount_ > kStallChecks) restartNeeded_ = true;
    }
    if (!restartNeeded_) return;

    if (!endOfDataSent_ && !DataExpected(loaded)) {
        // The transfer failed, but every byte it owed has arrived (a range that starts at the
        // end of the resource is even refused outright): asking again would fail again, every
        // second for ever. The download ends as a complete one does.
        restartNeeded_ = false;
        stallCount_ = 0;
        SendEndOfData();
        return;
    }
    // A held failure waits out its pause (the stall check's own second is the shortest).
    if (errorHeld_ && Now().Get() < retryAt_.Get()) return;
    if (!Retry()) return;  // reported; restart needed stays for the next check
    ErrorInfoSource::PublishWarning(SVStatusDataStalled, kStallText);
    warningShown_ = true;
}

bool HTTPClient::Retry() {
    const BytePosition loaded = CurrentLoadedFilePosition();
    try {
        if (loaded != 0 || requestedEnd_ != 0) {
            Resume(loaded);
        } else {
            Restart();
        }
    } catch (const SV::SVLibraryException& exception) {
        // Nothing leaves the check: a throw here would end the pump's pass and come back at
        // every pass after it.
        restartNeeded_ = true;
        PublishFailure(exception);
    }
    // A range request or fresh start clears restart needed, and sets it again when it could
    // not make its transport.
    return !restartNeeded_;
}

void HTTPClient::Resume(BytePosition loaded) {
    // What the chain has of the bytes before the loaded position is asked for again, as far
    // as this client still holds them, and compared as it arrives. Not while the size of the
    // resource is unknown: a resume from the byte reached is then how its end is found (a
    // server refuses it with 416 when nothing follows), and an overlap would always be
    // answered.
    const bool sized = requestedEnd_ != 0 || totalEnd_ != 0;
    uint32_t overlap = 0;
    if (sized && loaded == currentPosition_) {
        overlap = static_cast<uint32_t>(std::min<uint64_t>(tail_.size(), loaded.Get()));
    } else {
        tail_.clear();
    }
    currentPosition_ = loaded;
    stallCount_ = 0;
    endOfDataSent_ = false;
    refused_ = false;
    RecordStart(Now(), 0);
    RetireMainTransport();
    restartNeeded_ = false;
    seamLeft_ = overlap;
    StartTransport(loaded.Get() - overlap, requestedEnd_.Get());
}

void HTTPClient::SeamBroken() {
    const uint64_t at = currentPosition_.Get();
    DebugPrint("HTTPClient: the resumed body does not continue the bytes held before %llu\n",
               static_cast<unsigned long long>(at));
    // Nothing more of this transfer is taken; the next resume asks and compares again.
    RetireMainTransport();
    seamLeft_ = 0;
    errorHeld_ = true;
    heldStatus_ = SVStatusResumeMismatch;
    heldText_ = "Resumed download does not continue the data already received (at byte " +
                std::to_string(at) + ")";
    TransferFailed();
}

void HTTPClient::TransferFailed() {
    restartNeeded_ = true;
    // A failure that was published (or had no error) is retried at the next check, as a
    // stall is.
    if (!errorHeld_) return;
    if (++failedAttempts_ > kResumeRetries) {
        // Used up: the failure was no passing one. The session hears it now, and this download
        // is left alone until a new range request or fresh start.
        restartNeeded_ = false;
        refused_ = true;
        errorHeld_ = false;
        ErrorInfoSource::PublishError(heldStatus_, heldText_);
        return;
    }
    uint64_t pause = uint64_t(retryPauseMs_) << std::min<uint32_t>(failedAttempts_ - 1, 16);
    pause = std::min<uint64_t>(pause, std::max(kMaxRetryPauseMs, retryPauseMs_));
    retryAt_ = SV::PilTime(Now().Get() + pause);
}

bool HTTPClient::MayPass(SVStatus status) const {
    if (IsPassingServerStatus(status)) return true;
    // A connection that could not be made before any byte came is an origin that is not
    // there, told at once; once data has come (or while resuming), a dropped or reset
    // connection is resumed from where it stopped.
    return status == SVStatusTransportStream && (delivered_ || failedAttempts_ != 0);
}

void HTTPClient::TransportError(SVStatus status, std::string text) {
    if (MayPass(status)) {
        DebugPrint("HTTPClient: held back while resuming: %d %s\n", int(status), text.c_str());
        errorHeld_ = true;
        heldStatus_ = status;
        heldText_ = text;
        return;
    }
    // Published as it is; the transfer's end is then retried as before, without a bound.
    errorHeld_ = false;
    ErrorInfoSource::PublishError(status, text);
}

void HTTPClient::ForgetFailures() {
    failedAttempts_ = 0;
    errorHeld_ = false;
    tail_.clear();
    seamLeft_ = 0;
}

void HTTPClient::BandwidthHandlerInTask(const SV::PilTime& time, unsigned bytes) {
    transportIdle_ = bytes == 0;
    if (!BandwidthInfoSource::HasMonitors()) return;
    // Data samples belong to their transfer and go with it; an idle sample stays.
    Post(bytes > 0 ? Session::TaskCategoryDownload : Session::TaskCategorySession,
         "HTTPClient::BandwidthHandlerInTask", &HTTPClient::RecordBandwidthSample, time, bytes);
}

void HTTPClient::RecordBandwidthSample(const SV::PilTime& time, unsigned bytes) {
    if (bytes == 0) {
        // What the transport reads ahead on resuming arrives in a burst that says nothing of
        // the network's rate.
        RecordStart(time, reportedReadAhead_.load());
    } else {
        RecordData(time, bytes);
    }
}

void HTTPClient::DoGetStatistics(SV::SVDictionary& statistics) {
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (!cache) return;
    boost::shared_ptr<MemoryTracker> tracker = cache->GetTracker();
    if (!tracker) return;
    if (stackId_ == StackIdMain) {
        SetIfAsked(statistics, "StatsKey_VideoStreamingBufferSize", tracker->Limit());
        SetIfAsked(statistics, "StatsKey_VideoStreamingBufferUsed", tracker->BytesUsed());
        SetIfAsked(statistics, "StatsKey_MeasuredBandwidth",
                   uint32_t(MeasuredBandwidth().Get() * 8u));
    } else if (stackId_ == StackIdAudioBranch) {
        SetIfAsked(statistics, "StatsKey_AudioStreamingBufferSize", tracker->Limit());
        SetIfAsked(statistics, "StatsKey_AudioStreamingBufferUsed", tracker->BytesUsed());
    }
}

uint32_t GetHTTPRetryPauseMs() {
    int64_t ms = gRetryPauseMs.load();
    if (ms >= 0) return static_cast<uint32_t>(ms);
    ms = HTTPClient::kRetryPauseMs;
    if (const char* value = std::getenv("SV_HTTP_RETRY_PAUSE_MS")) {
        char* end = nullptr;
        const unsigned long parsed = std::strtoul(value, &end, 10);
        if (end != value && *end == '\0' && parsed <= 600000) ms = static_cast<int64_t>(parsed);
    }
    int64_t unset = -1;
    gRetryPauseMs.compare_exchange_strong(unset, ms);
    return static_cast<uint32_t>(gRetryPauseMs.load());
}

void SetHTTPRetryPauseMs(uint32_t ms) { gRetryPauseMs = ms; }

}  // namespace SarvelonMediaKit
