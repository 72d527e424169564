#include "engine/demux/Demux.h"

#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/core/Session.h"
#include "engine/core/MemoryTracker.h"
#include "engine/samples/SampleConsumer.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

namespace {

const char kVideoTimeBuffered[] = "StatsKey_VideoTimeBuffered";
const char kAudioTimeBuffered[] = "StatsKey_AudioTimeBuffered";
const char kSamplesDropped[] = "StatsKey_SamplesDropped";

}  // namespace

Demux::Demux(Session* session)
    : Component(session),
      mux_(nullptr),
      sampleHeadroom_(0),
      sampleTailroom_(0),
      dataArrived_(false) {
    if (session) {
        memoryTracker_ = session->GetMemoryTracker();
    }
}

Demux::~Demux() {
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        it->second->SetConnected(false);
    }
    sampleStreams_.clear();
    memoryTracker_.reset();
}

// ---- Component ----

void Demux::DoAdd(const MemoryChunk& chunk) {
    if (chunk.Size() != 0) {
        dataArrived_ = true;
    }
}

bool Demux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (!marker) {
        return true;
    }
    if (!mux_) {
        boost::shared_ptr<MemoryCache> cache = memoryCache_;
        if (cache && cache->BytesReady() == 0) {
            PassMarkerOn(marker);
            return false;
        }
        // Behind the data the preload cache holds (a pass-through demultiplexer keeps what it
        // read during the preload there): an end of stream ahead of it would tell the output
        // it is whole while the title's bytes are still to come.
        return true;
    }
    if (marker->GetType() == MemoryMarkerTypeEndOfStream) {
        DebugPrint("stack %hu: Demux::DoProcessMemoryMarker: EndOfStream\n", GetStackId());
        mux_->SourceEnded(this);
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
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        const boost::shared_ptr<SampleStream>& stream = it->second;
        if (!stream->IsConnected() || stream->IsEmpty()) {
            continue;
        }
        if (!carrier || stream->Back().GetDecodeTime() > carrier->Back().GetDecodeTime()) {
            carrier = stream;
        }
    }
    if (carrier) {
        carrier->SendMemoryMarker(marker);
        return false;
    }
    if (memoryCache_) {
        // A preload cache would keep it until a pull reads it out, and after the end of the
        // media no pull reaches this stage: the multiplexer would wait for it for ever.
        PassMarkerOn(marker);
        return false;
    }
    return true;
}

void Demux::PassMarkerOn(const boost::shared_ptr<MemoryMarker>& marker) {
    boost::shared_ptr<Component> consumer = GetConsumer();
    if (!consumer) {
        return;
    }
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        while (!cache->IsEmpty() && cache->BytesReady() == 0) {
            consumer->Add(cache->ReadAll());
        }
    }
    consumer->Add(MemoryChunk(marker));
}

void Demux::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    boost::shared_ptr<Component> consumer = GetConsumer();
    if (consumer && consumer->IsMux()) {
        if (SampleConsumer* mux = dynamic_cast<SampleConsumer*>(consumer.get())) {
            mux_ = mux;
        }
    }
}

void Demux::DoPullData(ByteAmount& amount) {
    if (!mux_) {
        Component::DoPullData(amount);
    } else if (boost::shared_ptr<Component> source = source_) {
        source->PullData(amount);  // the bytes come back through Add and are parsed there
    }
    // Markers that found no carrier (or waited behind passed-through data) wait in a preload
    // cache; they go on in their place, since no pull would come for them alone.
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (cache) {
        boost::shared_ptr<Component> consumer = GetConsumer();
        while (consumer && !cache->IsEmpty() && cache->BytesReady() == 0) {
            consumer->Add(cache->ReadAll());
        }
        // A finished preload gives its cache and tracker back.
        if (preloadState_ == PreloadStateDone && cache->IsEmpty()) {
            memoryCache_.reset();
            preloadState_ = PreloadStateNone;
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
    if (statistics.GetValue(kSamplesDropped) != nullptr) {
        // Added to what the chain's other demultiplexers (a side branch's) counted before.
        uint64_t dropped = 0;
        statistics.GetUnsignedLong(kSamplesDropped, dropped);
        for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end();
             ++it) {
            dropped += it->second->GetDroppedSamples();
        }
        statistics.SetValue(kSamplesDropped, SV::SVTypedValue(dropped));
    }
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
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        const boost::shared_ptr<SampleStream>& stream = it->second;
        if (stream->GetType() == type && stream->IsConnected()) {
            const float seconds = static_cast<float>(stream->GetBufferedDuration().Get()) /
                                  static_cast<float>(kMicrosecondsPerSecond);
            statistics.SetValue(key, SV::SVTypedValue(seconds));
            return;
        }
    }
}

bool Demux::IsDemux() const { return true; }

// ---- Operations of the demultiplexers ----

uint32_t Demux::DoFlushPendingSample() { return 0; }

MediaTime Demux::GetDuration() { return MediaTime(std::numeric_limits<uint64_t>::max()); }

bool Demux::GetDecoderConfig(uint32_t, const uint8_t**, uint32_t*) { return false; }

bool Demux::DoQuery(uint32_t, uint32_t) { return false; }

// ---- SampleSource ----

bool Demux::PullSamples() {
    dataArrived_ = false;
    if (boost::shared_ptr<Component> source = source_) {
        PullData(source->BytesReady());
    }
    return dataArrived_;
}

void Demux::SetFirstContext(uint32_t headroom) {
    sampleHeadroom_ = headroom;
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        it->second->SetHeadroom(headroom);
    }
}

void Demux::SetSecondContext(uint32_t tailroom) {
    sampleTailroom_ = tailroom;
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        it->second->SetTailroom(tailroom);
    }
}

// ---- SampleStreamOwner ----

boost::shared_ptr<MemoryTracker> Demux::GetMemoryTracker() const { return memoryTracker_; }

bool Demux::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    return GetDecoderConfig(kind, data, size);
}

// ---- Streams ----

boost::shared_ptr<SampleStream> Demux::FindSampleStream(StreamReference reference) const {
    SampleStreamMap::const_iterator found = sampleStreams_.find(reference);
    return found != sampleStreams_.end() ? found->second : boost::shared_ptr<SampleStream>();
}

void Demux::AddSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream || !mux_) {
        return;
    }
    sampleStreams_[stream->GetStreamRef()] = stream;
    stream->SetHeadroom(sampleHeadroom_);
    stream->SetTailroom(sampleTailroom_);
    // The multiplexer asks this demultiplexer for more when the stream runs dry.
    stream->SetSource(this);
    mux_->AddSampleStream(stream);
}

void Demux::RemoveSampleStream(StreamReference reference) {
    SampleStreamMap::iterator found = sampleStreams_.find(reference);
    if (found == sampleStreams_.end()) {
        return;
    }
    boost::shared_ptr<SampleStream> stream = found->second;
    if (mux_) {
        mux_->RemoveSampleStream(stream);
    }
    sampleStreams_.erase(reference);
}

void Demux::RemoveAllSampleStreams() {
    while (!sampleStreams_.empty()) {
        RemoveSampleStream(sampleStreams_.begin()->first);
    }
}

void Demux::FlushSampleStreams() {
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        it->second->Flush();
    }
}

}  // namespace SarvelonMediaKit
