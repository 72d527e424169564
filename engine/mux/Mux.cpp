#include "engine/mux/Mux.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <limits>
#include <utility>

#include "SVLibrary/Util/Saturating.h"
#include "engine/core/Session.h"
#include "engine/core/Pump.h"
#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

Mux::Mux(Session* session)
    : Component(session),
      sampleHeadroom_(0),
      sampleTailroom_(0),
      timestampOffset_(0),
      audioSource_(nullptr),
      started_(false),
      endOfStream_(false),
      finishing_(false),
      passingEnd_(false),
      endOfStreamHeld_(false),
      sendingEndOfStream_(false),
      bytesSent_(0),
      pulling_(false),
      producedInPull_(false) {}

Mux::~Mux() {}

std::string Mux::DoGetName() { return std::string(); }

void Mux::DoPullData(ByteAmount& amount) {
    if (amount == 0) {
        return;
    }
    // The pump's watchdog hears of the output once per pull, after it: a pull sends many
    // chunks, and each would take the pump's clock and lock.
    struct PullScope {
        explicit PullScope(Mux& mux) : mux_(mux) {
            mux_.pulling_ = true;
            mux_.producedInPull_ = false;
        }
        ~PullScope() {
            mux_.pulling_ = false;
            if (!mux_.producedInPull_) return;
            if (boost::shared_ptr<Pump> pump = mux_.GetSessionPump()) pump->NoteMuxOutput(true);
        }
        Mux& mux_;
    } scope(*this);
    bytesSent_ = 0;
    bool goOn = true;
    if (streams_.empty()) {
        // No demultiplexer has announced a stream yet: let it parse further.
        if (boost::shared_ptr<Component> source = source_) {
            source->PullData(source->BytesReady());
        }
    }
    while (bytesSent_ < amount && goOn) {
        // Fill: every connected stream needs a sample to compare, unless the input has ended.
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
             goOn && it != streams_.end(); ++it) {
            SampleStream& stream = **it;
            if (!stream.IsConnected()) {
                continue;
            }
            while (stream.IsEmpty()) {
                SampleSource* owner = stream.GetSource();
                if (owner == nullptr || !owner->PullSamples()) {
                    // The end of another chain's media does not end this stream's.
                    goOn = endOfStream_ && HasEnded(owner);
                    break;
                }
            }
        }
        if (!goOn) {
            break;
        }
        boost::shared_ptr<SampleStream> chosen = ChooseNextStream();
        if (!chosen) {
            goOn = false;
            break;
        }
        EmitNext(chosen);
    }
    SendHeldEndOfStream();
}

void Mux::SourceEnded(SampleSource* source) {
    endOfStream_ = true;
    endedSources_.insert(source);
}

bool Mux::HasEnded(SampleSource* source) const {
    return demuxes_.size() < 2 || endedSources_.count(source) != 0;
}

void Mux::SendHeldEndOfStream() {
    if (!endOfStreamHeld_) {
        return;
    }
    for (SampleSource* source : demuxes_) {
        if (endedSources_.count(source) == 0) {
            return;
        }
    }
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if ((*it)->IsConnected() && !(*it)->IsEmpty()) {
            return;
        }
    }
    endOfStreamHeld_ = false;
    sendingEndOfStream_ = true;
    Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    sendingEndOfStream_ = false;
}

namespace {

bool IsEndOfStreamMarker(const Sample& sample) {
    if (sample.GetFormat() != SampleFormatMarker) {
        return false;
    }
    const boost::shared_ptr<MemoryMarker> marker = sample.GetMemoryMarker();
    return marker && marker->GetType() == MemoryMarkerTypeEndOfStream;
}

}  // namespace

boost::shared_ptr<SampleStream> Mux::ChooseNextStream(const SampleStream* except) const {
    boost::shared_ptr<SampleStream> chosen;
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        const boost::shared_ptr<SampleStream>& stream = *it;
        if (stream.get() == except || !stream->IsConnected() || stream->IsEmpty()) {
            continue;
        }
        if (!chosen || stream->Front().GetDecodeTime() < chosen->Front().GetDecodeTime()) {
            chosen = stream;
        }
    }
    return chosen;
}

void Mux::EmitNext(const boost::shared_ptr<SampleStream>& chosen) {
    // Taken out of the queue (moved, its payload list is not copied) and popped before it goes
    // on: the subclass may send, and a marker passed on may reach code that changes the queues
    // (a flush). Nothing reads the emptied front before the pop.
    Sample sample = std::move(chosen->Front());
    if (sample.GetFormat() != SampleFormatMarker && !IsWritten(*chosen)) {
        // The other language: taken in its turn and dropped, markers still go on.
        chosen->PopFront();
        return;
    }
    if (!started_) {
        OnFirstDecodeTime(sample.GetDecodeTime());
        started_ = true;
    }
    chosen->PopFront();
    if (IsEndOfStreamMarker(sample)) {
        FinishStreams(chosen.get());
        passingEnd_ = true;
        ProcessSample(sample);
        passingEnd_ = false;
        return;
    }
    ProcessSample(sample);
}

void Mux::FinishStreams(const SampleStream* carrier) {
    if (finishing_) {
        return;
    }
    finishing_ = true;
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if (it->get() != carrier && (*it)->IsConnected()) {
            (*it)->Drain();
        }
    }
    while (boost::shared_ptr<SampleStream> chosen = ChooseNextStream(carrier)) {
        if (IsEndOfStreamMarker(chosen->Front())) {
            chosen->PopFront();
            continue;
        }
        EmitNext(chosen);
    }
    finishing_ = false;
}

void Mux::DoSend(const MemoryChunk& chunk) {
    Component::DoSend(chunk);
    const uint32_t size = chunk.Size();
    bytesSent_ = SV::SaturatingAdd<uint32_t>(bytesSent_, size);
    if (size == 0) return;
    if (pulling_) {
        producedInPull_ = true;
    } else if (boost::shared_ptr<Pump> pump = GetSessionPump()) {
        pump->NoteMuxOutput(true);
    }
}

void Mux::DoTick() {
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->Tick();
        }
    }
}

ByteAmount Mux::DoGetBufferedBytes() {
    uint32_t sum = Component::DoGetBufferedBytes();
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            sum = SV::SaturatingAdd<uint32_t>(sum, front->GetBufferedBytes());
        }
    }
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if ((*it)->IsConnected()) {
            sum = SV::SaturatingAdd<uint32_t>(sum, (*it)->GetBytesHeld());
        }
    }
    return ByteAmount(sum);
}

void Mux::DoPeriodicCheck() {
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->PeriodicCheck();
        }
    }
}

void Mux::DoStop() {
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->Stop();
        }
    }
}

void Mux::AdoptDemux(const boost::shared_ptr<Component>& component) {
    if (!component || !component->IsDemux()) {
        return;
    }
    SampleSource* demux = dynamic_cast<SampleSource*>(component.get());
    if (demux == nullptr) {
        return;
    }
    demuxes_.push_back(demux);
    demux->SetFirstContext(sampleHeadroom_);
    demux->SetSecondContext(sampleTailroom_);
}

void Mux::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    demuxes_.clear();
    AdoptDemux(source_);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        ComponentStack& branch = sideBranches_[i];
        boost::shared_ptr<Component> front = branch.Front();
        if (!front) {
            continue;
        }
        ComponentStack::LinkToConsumer(front, shared_from_this());
        AdoptDemux(front);
        branch.Link();
    }
    // A chosen source that no longer feeds this multiplexer chooses nothing.
    if (std::find(demuxes_.begin(), demuxes_.end(), audioSource_) == demuxes_.end()) {
        audioSource_ = nullptr;
    }
}

void Mux::DoSeek(BytePosition start, BytePosition second, bool flag) {
    Component::DoSeek(start, second, flag);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->SeekFilePosition(start, second, flag);
        }
    }
}

void Mux::DoSeek(MediaTime time) {
    Component::DoSeek(time);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->Seek(time);
        }
    }
}

bool Mux::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    bool accepted = Component::DoTrickPlay(rate, time);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            if (front->TrickPlay(rate, time)) {
                accepted = true;
            }
        }
    }
    if (accepted) {
        // Audio pauses while pictures are played at another speed.
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
             it != streams_.end(); ++it) {
            if ((*it)->GetType() == SampleMediaTypeAudio) {
                (*it)->SetConnected(rate == 0);
            }
        }
    }
    return accepted;
}

void Mux::DoSelectTrack(TrackId track) {
    Component::DoSelectTrack(track);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->SelectTrack(track);
        }
    }
}

void Mux::DoSetPosition(BytePosition position, StackId stackId) {
    Component::DoSetPosition(position, stackId);
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->SetPosition(position, stackId);
        }
    }
    if (stackId == stackId_ || stackId == StackIdAny) {
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
             it != streams_.end(); ++it) {
            (*it)->Flush();
        }
        endOfStream_ = false;
        endedSources_.clear();
        endOfStreamHeld_ = false;
    } else {
        // A side branch repositioned on its own reads on: its end is still to come.
        for (std::set<SampleSource*>::iterator it = endedSources_.begin();
             it != endedSources_.end();) {
            Component* component = dynamic_cast<Component*>(*it);
            if (component != nullptr && component->GetStackId() == stackId) {
                it = endedSources_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

bool Mux::KnowCurrentLoadedFilePosition() { return false; }

bool Mux::KnowEndPosition() { return false; }

BytePosition Mux::DoCurrentLoadedFilePosition() { return BytePosition(0); }

BytePosition Mux::DoEndPosition() { return BytePosition(0); }

void Mux::DoGetStatistics(SV::SVDictionary& statistics) {
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            front->GetStatistics(statistics);
        }
    }
}

bool Mux::IsMux() const { return true; }

std::string Mux::DoDump() {
    // The main branch's label, then each side branch. Component::Dump puts this behind the
    // multiplexer's own line; the main branch's stages follow it there.
    std::string text = "MUX MAIN BRANCH: " + Component::DoDump();
    for (size_t i = 0; i < sideBranches_.size(); ++i) {
        if (boost::shared_ptr<Component> front = sideBranches_[i].Front()) {
            text += "\r\nMUX SIDE BRANCH: " + front->Dump();
        }
    }
    return text;
}

bool Mux::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    // A demultiplexer answers for any of its streams: a set-up of one kind of media is asked
    // of that media's streams only, so that the pictures' chain does not answer for the sound
    // of another chain.
    uint32_t type = 0;
    if (kind == StreamInfoKindAvcDecoderConfigurationRecord) type = SampleMediaTypeVideo;
    if (kind == StreamInfoKindAudioSpecificConfig || kind == StreamInfoKindEsDescriptor) {
        type = SampleMediaTypeAudio;
    }
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if (type != 0 && (*it)->GetType() != type) continue;
        if ((*it)->IsConnected() && IsWritten(**it) && (*it)->GetStreamInfo(kind, data, size)) {
            return true;
        }
    }
    return false;
}

bool Mux::GetStreamValue(uint32_t kind, uint64_t* value) {
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if ((*it)->IsConnected() && IsWritten(**it) && (*it)->GetStreamValue(kind, value)) {
            return true;
        }
    }
    return false;
}

Mux* Mux::AsMux() { return this; }

void Mux::OnSampleStreamAdded(const boost::shared_ptr<SampleStream>&) {}

void Mux::OnSampleStreamRemoved(const boost::shared_ptr<SampleStream>&) {}

void Mux::DoProcessMemoryMarker(Sample& sample) {
    boost::shared_ptr<MemoryMarker> marker = sample.GetMemoryMarker();
    if (!marker) {
        return;
    }
    Add(MemoryChunk(marker));
}

void Mux::OnFirstDecodeTime(MediaTime) {}

void Mux::SetAudioSource(SampleSource* source) {
    if (source != nullptr &&
        std::find(demuxes_.begin(), demuxes_.end(), source) == demuxes_.end()) {
        return;
    }
    audioSource_ = source;
}

bool Mux::IsWritten(const SampleStream& stream) const {
    if (audioSource_ == nullptr || stream.GetType() != SampleMediaTypeAudio) {
        return true;
    }
    return stream.GetSource() == audioSource_;
}

void Mux::AddSideBranch(const ComponentStack& branch) { sideBranches_.push_back(branch); }

void Mux::AddSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream) {
        return;
    }
    stream->SetConnected(true);
    if (stream->GetType() == SampleMediaTypeVideo) {
        streams_.push_front(stream);
    } else {
        streams_.push_back(stream);
    }
    OnSampleStreamAdded(stream);
}

void Mux::RemoveSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (stream) {
        stream->SetConnected(false);
    }
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if (*it == stream) {
            streams_.erase(it);
            break;
        }
    }
    OnSampleStreamRemoved(stream);
}

uint32_t Mux::GetStreamFormat(uint32_t mediaType) const {
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = streams_.begin();
         it != streams_.end(); ++it) {
        if ((*it)->IsConnected() && (*it)->GetType() == mediaType && IsWritten(**it)) {
            return (*it)->GetCurrentFormat();
        }
    }
    return 0;
}

bool Mux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    // Reached by a marker that a demultiplexer passed on past its (empty) queues, and by the
    // markers this multiplexer passes on itself.
    const bool endOfStream = marker && marker->GetType() == MemoryMarkerTypeEndOfStream;
    if (endOfStream && !passingEnd_ && !sendingEndOfStream_) {
        FinishStreams(nullptr);
    }
    if (!endOfStream || demuxes_.size() < 2 || sendingEndOfStream_) {
        return Component::DoProcessMemoryMarker(marker);
    }
    // One chain's end (the audio branch's rendition is often shorter than the pictures) is not
    // the program's: passed on, it would end the output ahead of the other chain's samples.
    endOfStreamHeld_ = true;
    SendHeldEndOfStream();
    return false;
}

void Mux::ProcessSample(Sample& sample) {
    if (sample.GetFormat() == SampleFormatMarker) {
        DoProcessMemoryMarker(sample);
    } else {
        DoProcessSample(sample);
    }
}

Mux::Timestamps Mux::StampSample(const Sample& sample, bool first, uint32_t minimum) {
    const uint64_t decodeTime = sample.GetDecodeTime();
    Timestamps t;
    t.dts = MicrosecondsToTicksRounded(decodeTime) + timestampOffset_;
    t.pts = MicrosecondsToTicksRounded(decodeTime + sample.GetPresentationOffset().Get()) +
            timestampOffset_;
    t.first = first ? MicrosecondsToTicksTruncated(decodeTime) : 0;
    if (first && t.first < minimum && timestampOffset_ == 0) {
        timestampOffset_ = minimum;
        t.dts += minimum;
        t.pts += minimum;
    }
    return t;
}

}  // namespace SarvelonMediaKit
