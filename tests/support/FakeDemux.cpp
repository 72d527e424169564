#include "tests/support/FakeDemux.h"

#include <boost/make_shared.hpp>

#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <stdexcept>

#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsParserTestSupport.h"
#include "engine/mux/Mux.h"
#include "engine/samples/SampleFormat.h"
#include "engine/codecs/Aac.h"
#include "engine/codecs/H264.h"
#include "engine/codecs/MediaTiming.h"
#include "common/TsReader.h"

namespace SvTestSupport {

using namespace SarvelonMediaKit;

FakeDemux::FakeDemux(Session* session)
    : Component(session),
      mux_(nullptr),
      scriptBytes_(0),
      sampleHeadroom_(0),
      sampleTailroom_(0),
      samplesPerPull_(1),
      endOfStreamAtEnd_(false),
      endOfDataAtEnd_(false),
      endSent_(false),
      pulls_(0) {
    if (session) {
        tracker_ = session->GetMemoryTracker();
    }
}

FakeDemux::~FakeDemux() {}

size_t FakeDemux::AddStream(uint32_t streamRef, uint32_t type, uint32_t format) {
    StreamSpec spec;
    spec.streamRef = streamRef;
    spec.type = type;
    spec.format = format;
    specs_.push_back(spec);
    return specs_.size() - 1;
}

void FakeDemux::AddSample(size_t stream, const std::vector<uint8_t>& payload, uint64_t decodeTime,
                          uint64_t presentationOffset, bool keyFrame) {
    Item item;
    item.stream = stream;
    item.payload = payload;
    item.decodeTime = decodeTime;
    item.presentationOffset = presentationOffset;
    item.keyFrame = keyFrame;
    script_.push_back(item);
    scriptBytes_ += payload.size();
}

void FakeDemux::AddMarker(size_t stream, const boost::shared_ptr<MemoryMarker>& marker) {
    Item item;
    item.stream = stream;
    item.decodeTime = 0;
    item.presentationOffset = 0;
    item.keyFrame = false;
    item.marker = marker;
    script_.push_back(item);
}

void FakeDemux::SetStreamInfo(size_t stream, uint32_t kind, const std::vector<uint8_t>& bytes) {
    if (stream < specs_.size() && kind < 8) {
        specs_[stream].info[kind] = bytes;
    }
}

void FakeDemux::LoadTransportStream(const std::string& path) {
    SvTools::TsReader reader = SvTools::TsReader::ReadFile(path);
    std::map<uint16_t, size_t> byPid;
    for (SvTools::TsPes& pes : reader.Pes()) {
        if (!pes.hasPts || pes.payload.empty()) {
            continue;
        }
        std::map<uint16_t, size_t>::iterator found = byPid.find(pes.pid);
        if (found == byPid.end()) {
            uint32_t type = 0;
            uint32_t format = 0;
            switch (pes.streamType) {
                case 0x1B:
                    type = SampleMediaTypeVideo;
                    format = SampleFormatH264AnnexB;
                    break;
                case 0x0F:
                    type = SampleMediaTypeAudio;
                    format = SampleFormatAacAdts;
                    break;
                case 0x87:
                    type = SampleMediaTypeAudio;
                    format = SampleFormatEac3;
                    break;
                default: break;
            }
            if (type == 0) {
                continue;
            }
            found = byPid.insert(std::make_pair(pes.pid, AddStream(pes.pid, type, format))).first;
            if (format == SampleFormatAacAdts) {
                const SarvelonMediaKit::AdtsHeader adts =
                    SarvelonMediaKit::ParseAdtsHeader(pes.payload.data(), pes.payload.size());
                SetStreamInfo(found->second, StreamInfoKindAudioSpecificConfig,
                              SarvelonMediaKit::BuildAudioSpecificConfig(
                                  adts.audioObjectType, adts.samplingFrequencyIndex,
                                  adts.channelConfiguration));
            }
        }
        const StreamSpec& spec = specs_[found->second];
        const uint64_t decodeTime = TicksToMicrosecondsTruncated(pes.dts);
        const uint64_t offset =
            pes.pts > pes.dts ? TicksToMicrosecondsTruncated(pes.pts - pes.dts) : 0;
        const bool key =
            spec.type == SampleMediaTypeVideo
                ? SarvelonMediaKit::ContainsIdrSlice(pes.payload.data(), pes.payload.size())
                : pes.dataAlignment;
        AddSample(found->second, pes.payload, decodeTime, offset, key);
    }
    if (specs_.empty()) {
        throw std::runtime_error("no stream of a known type in " + path);
    }
}

namespace {

// Keeps every sample the parser makes, tagged with its stream id.
class CollectingParser : public SarvelonMediaKit::ParserTest::StreamIdParser {
public:
    CollectingParser() : StreamIdParser(true) {}
    std::vector<Sample> samples;

protected:
    Mpeg2PsResult OnSample(Sample& sample) override {
        samples.push_back(sample);
        return Mpeg2PsResult::Ok;
    }
};

}  // namespace

void FakeDemux::LoadTitle(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot open " + path);
    }
    CollectingParser parser;
    std::vector<char> buffer(65536);
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const size_t n = static_cast<size_t>(file.gcount());
        if (n == 0) {
            break;
        }
        MemoryChunk chunk(static_cast<uint32_t>(n), 0, 0);
        std::memcpy(chunk.Data(0), buffer.data(), n);
        const Mpeg2PsResult result = parser.Parse(chunk, false);
        if (result == Mpeg2PsResult::ProgramEnd) {
            break;
        }
        if (result != Mpeg2PsResult::Ok) {
            throw std::runtime_error("parse error " + std::to_string(Mpeg2PsResultNumber(result)) +
                                     " in " + path);
        }
    }
    // The last sample is complete once no more payload can follow.
    parser.AddPesPayloadToSample();

    std::map<uint8_t, size_t> byId;
    for (const Mpeg2PsPsm::EsMapEntry& entry : parser.GetStreamMap().GetEsMap()) {
        const uint8_t id = entry.elementary_stream_id;
        uint32_t type = SampleMediaTypeAudio;
        uint32_t format = 0;
        switch (entry.stream_type) {
            case 0x1B:
                type = SampleMediaTypeVideo;
                format = SampleFormatH264AnnexB;
                break;
            case 0x0F: format = SampleFormatAacAdts; break;
            case 0x87: format = SampleFormatEac3HdDvd; break;
            case 0x06: format = id == 0xBD ? uint32_t(SampleFormatPesPrivate) : 0u; break;
            default: break;
        }
        if (format == 0 || byId.count(id)) {
            continue;
        }
        byId[id] = AddStream(id, type, format);
        std::vector<uint8_t> config;
        if (type == SampleMediaTypeAudio && parser.GetAudioDecoderConfig(id, config)) {
            SetStreamInfo(byId[id], StreamInfoKindAudioSpecificConfig, config);
        }
    }
    for (const Sample& sample : parser.samples) {
        std::map<uint8_t, size_t>::const_iterator found =
            byId.find(static_cast<uint8_t>(sample.GetStreamRef().Get()));
        if (found == byId.end()) {
            continue;
        }
        std::vector<uint8_t> payload;
        payload.reserve(sample.GetPayload().Size());
        for (MemoryChunkList::ConstIterator it = sample.GetPayload().Begin();
             it != sample.GetPayload().End(); ++it) {
            payload.insert(payload.end(), it->Data(0), it->Data(0) + it->Size());
        }
        AddSample(found->second, payload, sample.GetDecodeTime().Get(),
                  sample.GetPresentationOffset().Get(), sample.IsKeyFrame());
    }
    if (specs_.empty()) {
        throw std::runtime_error("no stream of a known type in " + path);
    }
}

boost::shared_ptr<SampleStream> FakeDemux::GetStream(size_t stream) const {
    return stream < streams_.size() ? streams_[stream] : boost::shared_ptr<SampleStream>();
}

bool FakeDemux::PullSamples() {
    ++pulls_;
    MakeStreams();
    return PushNext();
}

void FakeDemux::SetFirstContext(uint32_t headroom) {
    sampleHeadroom_ = headroom;
    for (size_t i = 0; i < streams_.size(); ++i) {
        streams_[i]->SetHeadroom(headroom);
    }
}

void FakeDemux::SetSecondContext(uint32_t tailroom) {
    sampleTailroom_ = tailroom;
    for (size_t i = 0; i < streams_.size(); ++i) {
        streams_[i]->SetTailroom(tailroom);
    }
}

boost::shared_ptr<MemoryTracker> FakeDemux::GetMemoryTracker() const { return tracker_; }

bool FakeDemux::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    if (kind >= 8) {
        return false;
    }
    for (size_t i = 0; i < specs_.size(); ++i) {
        const std::vector<uint8_t>& info = specs_[i].info[kind];
        if (!info.empty()) {
            *data = info.data();
            *size = static_cast<uint32_t>(info.size());
            return true;
        }
    }
    return false;
}

std::string FakeDemux::GetTypeName() const { return "SvTestSupport::FakeDemux"; }

bool FakeDemux::IsDemux() const { return true; }

void FakeDemux::DoLinked(bool firstTime) {
    Component::DoLinked(firstTime);
    if (boost::shared_ptr<Component> consumer = GetConsumer()) {
        if (consumer->IsMux()) {
            mux_ = dynamic_cast<Mux*>(consumer.get());
        }
    }
}

void FakeDemux::DoPullData(ByteAmount&) {
    ++pulls_;
    MakeStreams();
    PushNext();
}

ByteAmount FakeDemux::DoGetBufferedBytes() {
    const uint64_t max = std::numeric_limits<uint32_t>::max();
    return ByteAmount(static_cast<uint32_t>(scriptBytes_ > max ? max : scriptBytes_));
}

void FakeDemux::DoSetPosition(BytePosition position, StackId stackId) {
    Component::DoSetPosition(position, stackId);
    if (stackId == GetStackId() || stackId == StackIdAny) {
        for (size_t i = 0; i < streams_.size(); ++i) {
            streams_[i]->Flush();
        }
        endSent_ = false;
    }
}

void FakeDemux::MakeStreams() {
    if (!streams_.empty() || mux_ == nullptr) {
        return;
    }
    for (size_t i = 0; i < specs_.size(); ++i) {
        boost::shared_ptr<SampleStream> stream = boost::make_shared<SampleStream>(
            this, StreamReference(specs_[i].streamRef), specs_[i].type, specs_[i].format);
        stream->SetHeadroom(sampleHeadroom_);
        stream->SetTailroom(sampleTailroom_);
        stream->SetSource(this);
        streams_.push_back(stream);
        mux_->AddSampleStream(stream);
    }
}

bool FakeDemux::PushNext() {
    if (streams_.empty()) {
        return false;
    }
    size_t pushed = 0;
    while (pushed < samplesPerPull_ && !script_.empty()) {
        Item item = script_.front();
        script_.pop_front();
        scriptBytes_ -= item.payload.size();
        const boost::shared_ptr<SampleStream>& stream = streams_[item.stream];
        if (item.marker) {
            stream->SendMemoryMarker(item.marker);
        } else {
            Sample sample = stream->MakeSample(static_cast<uint32_t>(item.payload.size()));
            if (!item.payload.empty()) {
                std::memcpy(sample.GetPayload().Begin()->Data(0), item.payload.data(),
                            item.payload.size());
            }
            sample.SetDecodeTime(MediaTime(item.decodeTime));
            sample.SetPresentationOffset(MediaTime(item.presentationOffset));
            sample.SetDataAlignment(item.keyFrame);
            stream->PushSample(sample);
        }
        ++pushed;
    }
    if (pushed > 0) {
        return true;
    }
    if (!endSent_ && (endOfStreamAtEnd_ || endOfDataAtEnd_)) {
        SendEnd();
        return true;
    }
    return false;
}

void FakeDemux::SendEnd() {
    endSent_ = true;
    if (endOfStreamAtEnd_ && mux_) {
        mux_->SourceEnded(this);
    }
    // The carrier is the connected stream whose last queued sample is latest, so that the
    // markers arrive behind every sample; without one they go down the component chain.
    boost::shared_ptr<SampleStream> carrier;
    for (size_t i = 0; i < streams_.size(); ++i) {
        const boost::shared_ptr<SampleStream>& stream = streams_[i];
        if (!stream->IsConnected() || stream->IsEmpty()) {
            continue;
        }
        if (!carrier || stream->Back().GetDecodeTime() > carrier->Back().GetDecodeTime()) {
            carrier = stream;
        }
    }
    std::vector<boost::shared_ptr<MemoryMarker>> markers;
    if (endOfStreamAtEnd_) {
        markers.push_back(boost::make_shared<MemoryMarkerEndOfStream>());
    }
    if (endOfDataAtEnd_) {
        markers.push_back(boost::make_shared<MemoryMarkerEndOfData>());
    }
    for (size_t i = 0; i < markers.size(); ++i) {
        if (carrier) {
            carrier->SendMemoryMarker(markers[i]);
        } else {
            Add(MemoryChunk(markers[i]));
        }
    }
}

}  // namespace SvTestSupport
