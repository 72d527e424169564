// Feeds arbitrary bytes to the program-stream parser's stream-map reader, then looks up the
// audio decoder configuration through what it read (the initial object descriptor in
// program_stream_info) and through the same bytes taken as a track's ES descriptor. Every
// length in them must be checked before it is used.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/demux/Mpeg2PsParser.h"
#include "engine/container/TrackInfoKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace SarvelonMediaKit;
    if (size > 0x10000) {
        return 0;  // a map payload fits one PES packet
    }
    Mpeg2PsParser parser(true);
    const Mpeg2PsParser::Result result =
        parser.ReadProgramStreamMap(data, static_cast<uint32_t>(size));
    if (result != Mpeg2PsParser::ResultOk && !parser.GetEsMap().empty()) {
        std::abort();  // a refused map leaves the map empty
    }
    std::vector<uint8_t> config;
    for (const Mpeg2PsParser::PSM::EsMapEntry& entry : parser.GetEsMap()) {
        parser.GetAudioDecoderConfig(entry.elementary_stream_id, config);
    }
    parser.GetAudioDecoderConfig(parser.GetAudioStreamId(), config);

    boost::shared_ptr<MediaTrack> track(new MediaTrack);
    track->GetInfo().SetValue(TrackInfoKey_AudioEsDescriptor,
                              SV::SVTypedValue(std::vector<uint8_t>(data, data + size)));
    parser.SetSelectedTrack(track);
    for (uint32_t id = 0; id < 256; id += 0x40) {
        parser.GetAudioDecoderConfig(static_cast<uint8_t>(id | (size ? data[0] & 0x3F : 0)),
                                     config);
    }
    if (config.size() > size) {
        std::abort();  // what is found lies inside the input
    }
    return 0;
}
