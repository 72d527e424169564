#include "engine/demux/Mpeg2PsParserListener.h"

namespace SarvelonMediaKit {

Mpeg2PsParserListener::~Mpeg2PsParserListener() {}

void Mpeg2PsParserListener::OnTimestamp(SampleMediaType, uint32_t, uint32_t) {}

Mpeg2PsResult Mpeg2PsParserListener::OnOutputChunk(const MemoryChunk&) { return Mpeg2PsResult::Ok; }

Mpeg2PsResult Mpeg2PsParserListener::OnSample(Sample&) { return Mpeg2PsResult::Ok; }

Mpeg2PsResult Mpeg2PsParserListener::OnNewTrack(const boost::shared_ptr<MediaTrack>&) {
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParserListener::OnStreamMap(const Mpeg2PsPsm&) {}

Mpeg2PsResult Mpeg2PsParserListener::MetadataComplete() { return Mpeg2PsResult::Ok; }

void Mpeg2PsParserListener::OnThumbnail(uint32_t, const std::vector<uint8_t>&) {}

void Mpeg2PsParserListener::OnReset() {}

Mpeg2PsResult Mpeg2PsParserListener::ShouldResync(const uint8_t*, uint32_t, Mpeg2PsResult answer) {
    return answer;
}

void Mpeg2PsParserListener::OnDataSkipped(uint64_t, uint64_t) {}

bool Mpeg2PsParserListener::StopAtProgramEnd() { return true; }

Sample Mpeg2PsParserListener::CreateSample(uint8_t, uint32_t, SampleMediaType type) {
    Sample sample;
    sample.SetType(type);
    return sample;
}

}  // namespace SarvelonMediaKit
