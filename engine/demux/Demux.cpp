#include "engine/demux/Demux.h"

#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/core/Session.h"
#include "engine/core/MemoryTracker.h"
#include "engine/samples/SampleConsumer.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

namespace {

const char kVideoTimeBuffered[] = "StatsKey_VideoTimeBuffered";
const char kAudioTimeBuffered[] = "StatsKey_AudioTimeBuffered";

}  // namespace

Demux::Demux(Session* session)
    : Component(session),
      mMux(nullptr),
      mSampleHeadroom(0),
      mSampleTailroom(0),
      mDataArrived(false) {
    if (session) {
        mMemoryTracker = session->GetMemoryTracker();
    }
}

Demux::~Demux() {
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        it->second->SetConnected(false);
    }
    mSampleStreams.clear();
    mMemoryTracker.reset();
}

// ---- Component ----

void Demux::DoAdd(const MemoryChunk& chunk) {
    if (chunk.Size() != 0) {
        mDataArrived = true;
    }
}

bool Demux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (!mMux || !marker) {
        return true;
    }
    if (marker->GetType() == MemoryMarkerTypeEndOfStream) {
        DebugPrint("stack %hu: Demux::DoProcessMemoryMarker: EndOfStream\n", GetStackId());
        mMux->SetEndOfStream(true);
        DoFlushPendingSample();
    } else if (marker->GetType() == MemoryMarkerTypeTrackChange) {
        const MemoryMarkerTrackChange* change =
            static_cast<const MemoryMarkerTrackChange*>(marker.get());
        if (change->GetChangeType() == 4 || change->GetChangeType() == 5) {
            DoFlushPendingSample();
        }
    }
    // The marker rides behind the latest queued sample; on equal times the smaller reference.
    boost::shared_ptr<SampleStream> carrier;
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        const boost::shared_ptr<SampleStream>& stream = it->second;
        if (!stream->IsConnected() || stream->IsEmpty()) {
            continue;
        }
        if (!carrier || stream->Back().GetDecodeTime() > carrier->Back().GetDecodeTime()) {
            carrier = stream;
        }
    }
    if (!carrier) {
        return true;
    }
    carrier->SendMemoryMarker(marker);
    return false;
}

void Demux::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    boost::shared_ptr<Component> consumer = GetConsumer();
    if (consumer && consumer->IsMux()) {
        if (SampleConsumer* mux = dynamic_cast<SampleConsumer*>(consumer.get())) {
            mMux = mux;
        }
    }
}

void Demux::DoPullData(ByteAmount& amount) {
    if (!mMux) {
        Component::DoPullData(amount);
        return;
    }
    boost::shared_ptr<Component> source = mSource;
    if (source) {
        source->PullData(amount);  // the bytes come back through Add and are parsed there
    }
    // Markers that found no carrier wait in a preload cache; they go on in their place.
    boost::shared_ptr<MemoryCache> cache = mMemoryCache;
    if (cache) {
        boost::shared_ptr<Component> consumer = GetConsumer();
        while (consumer && !cache->IsEmpty() && cache->BytesReady() == 0) {
            consumer->Add(cache->ReadAll());
        }
        // A finished preload gives its cache and tracker back.
        if (mPreloadState == PreloadStateDone && cache->IsEmpty()) {
            mMemoryCache.reset();
            mPreloadState = PreloadStateNone;
        }
    }
}

void Demux::DoSetPosition(BytePosition position, StackId stackId) {
    Component::DoSetPosition(position, stackId);
    if (stackId == GetStackId() || stackId == StackIdAny) {
        FlushSampleStreams();
    }
}

void Demux::DoGetStatistics(SV::SVDictionary& statistics) {
    const char* key = nullptr;
    uint32_t type = 0;
    if (GetStackId() == StackIdMain) {
        key = kVideoTimeBuffered;
        type = SampleMediaTypeVideo;
    } else if (GetStackId() == StackIdAudioBranch) {
        key = kAudioTimeBuffered;
        type = SampleMediaTypeAudio;
    } else {
        return;
    }
    if (statistics.GetValue(key) == nullptr) {
        return;
    }
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        const boost::shared_ptr<SampleStream>& stream = it->second;
        if (stream->GetType() == type && stream->IsConnected()) {
            const float seconds =
                static_cast<float>(stream->GetBufferedDuration().Get()) / 1000000.0f;
            statistics.SetValue(key, SV::SVTypedValue(seconds));
            return;
        }
    }
}

bool Demux::IsDemux() const {
    return true;
}

// ---- Operations of the demultiplexers ----

uint32_t Demux::DoFlushPendingSample() {
    return 0;
}

MediaTime Demux::GetDuration() {
    return MediaTime(std::numeric_limits<uint64_t>::max());
}

bool Demux::GetDecoderConfig(uint32_t, const uint8_t**, uint32_t*) {
    return false;
}

// ---- SampleSource ----

bool Demux::PullSamples() {
    mDataArrived = false;
    if (boost::shared_ptr<Component> source = mSource) {
        PullData(source->BytesReady());
    }
    return mDataArrived;
}

void Demux::SetFirstContext(uint32_t headroom) {
    mSampleHeadroom = headroom;
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        it->second->SetHeadroom(headroom);
    }
}

void Demux::SetSecondContext(uint32_t tailroom) {
    mSampleTailroom = tailroom;
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        it->second->SetTailroom(tailroom);
    }
}

// ---- SampleStreamOwner ----

boost::shared_ptr<MemoryTracker> Demux::GetMemoryTracker() const {
    return mMemoryTracker;
}

bool Demux::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    return GetDecoderConfig(kind, data, size);
}

// ---- Streams ----

boost::shared_ptr<SampleStream> Demux::FindSampleStream(StreamReference reference) const {
    SampleStreamMap::const_iterator found = mSampleStreams.find(reference);
    return found != mSampleStreams.end() ? found->second : boost::shared_ptr<SampleStream>();
}

void Demux::AddSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream || !mMux) {
        return;
    }
    mSampleStreams[stream->GetStreamRef()] = stream;
    stream->SetHeadroom(mSampleHeadroom);
    stream->SetTailroom(mSampleTailroom);
    mMux->AddSampleStream(stream);
}

void Demux::RemoveSampleStream(StreamReference reference) {
    SampleStreamMap::iterator found = mSampleStreams.find(reference);
    if (found == mSampleStreams.end()) {
        return;
    }
    boost::shared_ptr<SampleStream> stream = found->second;
    if (mMux) {
        mMux->RemoveSampleStream(stream);
    }
    mSampleStreams.erase(reference);
}

void Demux::RemoveAllSampleStreams() {
    while (!mSampleStreams.empty()) {
        RemoveSampleStream(mSampleStreams.begin()->first);
    }
}

void Demux::FlushSampleStreams() {
    for (SampleStreamMap::iterator it = mSampleStreams.begin(); it != mSampleStreams.end(); ++it) {
        it->second->Flush();
    }
}

}  // namespace SarvelonMediaKit
