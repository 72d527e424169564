#include "engine/demux/Mpeg2PsParserListener.h"

namespace SarvelonMediaKit {

Mpeg2PsParserListener::~Mpeg2PsParserListener() {}

void Mpeg2PsParserListener::OnTimestamp(uint32_t, uint32_t, uint32_t) {}

Mpeg2PsParserListener::Result Mpeg2PsParserListener::OnOutputChunk(const MemoryChunk&) { return 0; }

Mpeg2PsParserListener::Result Mpeg2PsParserListener::OnSample(const Sample&) { return 0; }

Mpeg2PsParserListener::Result Mpeg2PsParserListener::OnNewTrack(
    const boost::shared_ptr<MediaTrack>&) {
    return 0;
}

void Mpeg2PsParserListener::OnStreamMap(const Mpeg2PsPsm&) {}

Mpeg2PsParserListener::Result Mpeg2PsParserListener::MetadataComplete() { return 0; }

void Mpeg2PsParserListener::OnThumbnail(uint32_t, const std::vector<uint8_t>&) {}

void Mpeg2PsParserListener::OnReset() {}

Mpeg2PsParserListener::Result Mpeg2PsParserListener::ShouldResync(const uint8_t*, uint32_t,
                                                                  Result answer) {
    return answer;
}

void Mpeg2PsParserListener::OnDataSkipped(uint64_t, uint64_t) {}

bool Mpeg2PsParserListener::StopAtProgramEnd() { return true; }

Sample Mpeg2PsParserListener::CreateSample(uint8_t, uint32_t, uint32_t type) {
    Sample sample;
    sample.SetType(type);
    return sample;
}

}  // namespace SarvelonMediaKit
