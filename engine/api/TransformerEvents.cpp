// What the Transformer does with the events of its sources: errors from every session and
// component it monitors, the preload and time events of the demultiplexers and the life cycle
// of the main session.
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

// The stream type whose media times the Transformer keeps in its time map.
const uint32_t kMappedStreamType = 2;

}  // namespace

void Transformer::SetError(SVStatus status, std::string text) {
    DebugPrint("Transformer::SetError: %d - %s\n", status, text.c_str());
    {
        std::lock_guard<std::mutex> lock(errorTextLock_);
        errorText_ = text;
        status_ = status;
    }
    // An RTMP server keeps serving its other clients after one error.
    if (outputKind_ != OutputKindRtmpServer) {
        if (session_) session_->Stop(false);
        abortRequested_ = true;
        // The stopped chain cuts no more segments: players are refused what they would
        // otherwise wait for, or be given as an empty stretch of a whole title.
        if (segmenter_ != nullptr) segmenter_->EndOnError();
    }
    preloadChanged_.Set();
    PublishError(status, text);
}

void Transformer::SetWarning(SVStatus status, std::string text) {
    if (status != SVStatusParserError) return;
    {
        // A damaged stretch is read again each time the playback seeks across it: it is
        // told once. The texts name the place, so a few hundred cover any title.
        std::lock_guard<std::mutex> lock(errorTextLock_);
        if (warningsTold_.count(text) != 0 || warningsTold_.size() >= kMaxWarningsTold) return;
        warningsTold_.insert(text);
    }
    SV::WriteLine(url_ + ": " + text + " (" + std::to_string(status) + ")");
    PublishWarning(status, text);
}

void Transformer::PreloadComplete() {
    --pendingPreloads_;
    preloadChanged_.Set();
}

void Transformer::MediaTimeAvailable(uint32_t streamType, MediaTime firstTime,
                                     MediaTime secondTime) {
    if (streamType == kMappedStreamType) SetCurrentTime(firstTime, secondTime);
}

void Transformer::SessionSetupCompleted() { SV::WriteLine("SessionSetupCompleted"); }

void Transformer::SessionStopped() { SV::WriteLine("SessionStopped"); }

}  // namespace SarvelonMediaKit
