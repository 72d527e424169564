// The supervision side of the HTTP client: resuming a transport that paused for lack of room,
// the stall check with its retry, the bandwidth samples and the buffer statistics.

#include <boost/make_shared.hpp>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Session.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterface.h"

namespace SarvelonMediaKit {

namespace {

const char kStallText[] = "Data stopped arriving, will retry";

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
    if (!Retry()) return;  // reported; restart needed stays for the next check
    ErrorInfoSource::PublishWarning(SVStatusDataStalled, kStallText);
    warningShown_ = true;
}

bool HTTPClient::Retry() {
    const BytePosition loaded = CurrentLoadedFilePosition();
    try {
        if (loaded != 0 || requestedEnd_ != 0) {
            SeekFilePosition(loaded, requestedEnd_, false);
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

}  // namespace SarvelonMediaKit
