#include "engine/mux/Mux.h"

#include <boost/make_shared.hpp>

#include <limits>

#include "engine/core/Session.h"
#include "engine/core/Pump.h"

namespace SarvelonMediaKit {

namespace {

uint32_t SaturatingAdd(uint32_t a, uint32_t b) {
    const uint64_t sum = uint64_t(a) + b;
    return sum > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                      : static_cast<uint32_t>(sum);
}

}  // namespace

Mux::Mux(Session* session)
    : Component(session),
      mSampleHeadroom(0),
      mSampleTailroom(0),
      mStarted(false),
      mEndOfStream(false),
      mBytesSent(0) {}

Mux::~Mux() {}

std::string Mux::DoGetName() {
    return std::string();
}

void Mux::DoPullData(ByteAmount& amount) {
    if (amount == 0) {
        return;
    }
    mBytesSent = 0;
    bool goOn = true;
    if (mStreams.empty()) {
        // No demultiplexer has announced a stream yet: let it parse further.
        if (boost::shared_ptr<Component> source = mSource) {
            source->PullData(source->BytesReady());
        }
    }
    while (mBytesSent < amount && goOn) {
        // Fill: every connected stream needs a sample to compare, unless the input has ended.
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
             goOn && it != mStreams.end(); ++it) {
            SampleStream& stream = **it;
            if (!stream.IsConnected()) {
                continue;
            }
            while (stream.IsEmpty()) {
                SampleSource* owner = dynamic_cast<SampleSource*>(stream.GetOwner());
                if (owner == nullptr || !owner->PullSamples()) {
                    goOn = mEndOfStream;
                    break;
                }
            }
        }
        if (!goOn) {
            break;
        }
        // Choose the earliest decode time; on a tie the stream nearer the front (video).
        boost::shared_ptr<SampleStream> chosen;
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
             it != mStreams.end(); ++it) {
            const boost::shared_ptr<SampleStream>& stream = *it;
            if (!stream->IsConnected() || stream->IsEmpty()) {
                continue;
            }
            if (!chosen || stream->Front().GetDecodeTime() < chosen->Front().GetDecodeTime()) {
                chosen = stream;
            }
        }
        if (!chosen) {
            goOn = false;
            break;
        }
        // A copy: the subclass may send, and a marker passed on may reach code that changes
        // the queues (a flush) before the sample is popped.
        Sample sample = chosen->Front();
        if (!mStarted) {
            OnFirstDecodeTime(sample.GetDecodeTime());
            mStarted = true;
        }
        chosen->PopFront();
        ProcessSample(sample);
    }
}

void Mux::DoSend(const MemoryChunk& chunk) {
    Component::DoSend(chunk);
    const uint32_t size = chunk.Size();
    mBytesSent = SaturatingAdd(mBytesSent, size);
    if (mSession) {
        if (boost::shared_ptr<Pump> pump = mSession->GetPump()) {
            pump->NoteMuxOutput(size != 0);
        }
    }
}

void Mux::DoTick() {
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->Tick();
        }
    }
}

ByteAmount Mux::DoGetBufferedBytes() {
    uint32_t sum = Component::DoGetBufferedBytes();
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            sum = SaturatingAdd(sum, front->GetBufferedBytes());
        }
    }
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = mStreams.begin();
         it != mStreams.end(); ++it) {
        if ((*it)->IsConnected()) {
            sum = SaturatingAdd(sum, (*it)->GetBytesHeld());
        }
    }
    return ByteAmount(sum);
}

void Mux::DoPeriodicCheck() {
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->PeriodicCheck();
        }
    }
}

void Mux::DoStop() {
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
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
    mDemuxes.push_back(demux);
    demux->SetFirstContext(mSampleHeadroom);
    demux->SetSecondContext(mSampleTailroom);
}

void Mux::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    mDemuxes.clear();
    AdoptDemux(mSource);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        ComponentStack& branch = mSideBranches[i];
        boost::shared_ptr<Component> front = branch.Front();
        if (!front) {
            continue;
        }
        ComponentStack::LinkToConsumer(front, shared_from_this());
        AdoptDemux(front);
        branch.Link();
    }
}

void Mux::DoSeek(BytePosition start, BytePosition second, bool flag) {
    Component::DoSeek(start, second, flag);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->SeekFilePosition(start, second, flag);
        }
    }
}

void Mux::DoSeek(MediaTime time) {
    Component::DoSeek(time);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->Seek(time);
        }
    }
}

bool Mux::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    bool accepted = Component::DoTrickPlay(rate, time);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            if (front->TrickPlay(rate, time)) {
                accepted = true;
            }
        }
    }
    if (accepted) {
        // Audio pauses while pictures are played at another speed.
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
             it != mStreams.end(); ++it) {
            if ((*it)->GetType() == SampleMediaTypeAudio) {
                (*it)->SetConnected(rate == 0);
            }
        }
    }
    return accepted;
}

void Mux::DoSelectTrack(TrackId track) {
    Component::DoSelectTrack(track);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->SelectTrack(track);
        }
    }
}

void Mux::DoSetPosition(BytePosition position, StackId stackId) {
    Component::DoSetPosition(position, stackId);
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->SetPosition(position, stackId);
        }
    }
    if (stackId == mStackId || stackId == StackIdAny) {
        for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
             it != mStreams.end(); ++it) {
            (*it)->Flush();
        }
        mEndOfStream = false;
    }
}

bool Mux::KnowCurrentLoadedFilePosition() {
    return false;
}

bool Mux::KnowEndPosition() {
    return false;
}

BytePosition Mux::DoCurrentLoadedFilePosition() {
    return BytePosition(0);
}

BytePosition Mux::DoEndPosition() {
    return BytePosition(0);
}

void Mux::DoGetStatistics(SV::SVDictionary& statistics) {
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            front->GetStatistics(statistics);
        }
    }
}

bool Mux::IsMux() const {
    return true;
}

std::string Mux::DoDump() {
    // Component::Dump puts this behind the multiplexer's own line and the main chain after it.
    std::string text;
    for (size_t i = 0; i < mSideBranches.size(); ++i) {
        if (boost::shared_ptr<Component> front = mSideBranches[i].Front()) {
            text += "\r\nMUX SIDE BRANCH: " + front->Dump();
        }
    }
    text += "\r\nMUX MAIN BRANCH: ";
    return text;
}

bool Mux::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
         it != mStreams.end(); ++it) {
        if ((*it)->IsConnected() && (*it)->GetStreamInfo(kind, data, size)) {
            return true;
        }
    }
    return false;
}

bool Mux::GetStreamValue(uint32_t kind, uint64_t* value) {
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
         it != mStreams.end(); ++it) {
        if ((*it)->IsConnected() && (*it)->GetStreamValue(kind, value)) {
            return true;
        }
    }
    return false;
}

Mux* Mux::AsMux() {
    return this;
}

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

void Mux::AddSideBranch(const ComponentStack& branch) {
    mSideBranches.push_back(branch);
}

void Mux::AddSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream) {
        return;
    }
    stream->SetConnected(true);
    if (stream->GetType() == SampleMediaTypeVideo) {
        mStreams.push_front(stream);
    } else {
        mStreams.push_back(stream);
    }
    OnSampleStreamAdded(stream);
}

void Mux::RemoveSampleStream(const boost::shared_ptr<SampleStream>& stream) {
    if (stream) {
        stream->SetConnected(false);
    }
    for (std::list<boost::shared_ptr<SampleStream>>::iterator it = mStreams.begin();
         it != mStreams.end(); ++it) {
        if (*it == stream) {
            mStreams.erase(it);
            break;
        }
    }
    OnSampleStreamRemoved(stream);
}

uint32_t Mux::GetStreamFormat(uint32_t mediaType) const {
    for (std::list<boost::shared_ptr<SampleStream>>::const_iterator it = mStreams.begin();
         it != mStreams.end(); ++it) {
        if ((*it)->IsConnected() && (*it)->GetType() == mediaType) {
            return (*it)->GetCurrentFormat();
        }
    }
    return 0;
}

void Mux::ProcessSample(Sample& sample) {
    if (sample.GetFormat() == SampleFormatMarker) {
        DoProcessMemoryMarker(sample);
    } else {
        DoProcessSample(sample);
    }
}

}  // namespace SarvelonMediaKit
