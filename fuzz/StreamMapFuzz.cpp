// Feeds arbitrary bytes to the program stream map reader, then looks up the audio decoder
// configuration through what it read (the initial object descriptor in program_stream_info)
// and through the same bytes taken as an ES descriptor. Every length in them must be checked
// before it is used. A map that was read is written again and must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/container/Mpeg2PsPsm.h"

namespace {

using namespace SarvelonMediaKit;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool SameMap(const Mpeg2PsPsm& a, const Mpeg2PsPsm& b) {
    if (a.GetProgramStreamInfo() != b.GetProgramStreamInfo() ||
        a.GetEsMap().size() != b.GetEsMap().size() || a.GetVersion() != b.GetVersion() ||
        a.GetCurrentNextIndicator() != b.GetCurrentNextIndicator()) {
        return false;
    }
    for (size_t i = 0; i < a.GetEsMap().size(); ++i) {
        const Mpeg2PsPsm::EsMapEntry& x = a.GetEsMap()[i];
        const Mpeg2PsPsm::EsMapEntry& y = b.GetEsMap()[i];
        if (x.elementary_stream_id != y.elementary_stream_id || x.stream_type != y.stream_type ||
            x.descriptors != y.descriptors) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFF) {
        return 0;  // a map payload fits one PES packet
    }
    Mpeg2PsPsm psm;
    const Mpeg2PsResult result = psm.Read(data, static_cast<uint32_t>(size));
    // A refused map leaves the map as it was: empty.
    Check(result == Mpeg2PsResult::Ok || psm.GetEsMap().empty());
    Check(result == Mpeg2PsResult::Ok || psm.GetProgramStreamInfo().empty());

    std::vector<uint8_t> config;
    for (const Mpeg2PsPsm::EsMapEntry& entry : psm.GetEsMap()) {
        const uint8_t* es = nullptr;
        uint32_t esSize = 0;
        if (psm.FindEsDescriptor(entry.elementary_stream_id, es, esSize)) {
            // What is found lies inside the map's own program_stream_info.
            const std::vector<uint8_t>& info = psm.GetProgramStreamInfo();
            Check(es >= info.data() && es + esSize <= info.data() + info.size());
            Mpeg2PsPsm::ReadDecoderSpecificInfo(es, esSize, entry.elementary_stream_id, config);
            Check(config.size() <= esSize);
        }
    }
    for (uint32_t id = 0; id < 256; id += 0x40) {
        config.clear();
        Mpeg2PsPsm::ReadDecoderSpecificInfo(data, static_cast<uint32_t>(size),
                                            static_cast<uint8_t>(id | (size ? data[0] & 0x3F : 0)),
                                            config);
        Check(config.size() <= size);  // what is found lies inside the input
    }

    // Round trip: the written packet's payload reads back as the same map.
    if (result == Mpeg2PsResult::Ok) {
        std::vector<uint8_t> packet(psm.GetSize());
        const uint32_t written = psm.Write(packet.data(), static_cast<uint32_t>(packet.size()));
        Check(written == packet.size());  // a map that was read fits its length fields
        Mpeg2PsPsm again;
        Check(again.Read(packet.data() + 6, written - 6) == Mpeg2PsResult::Ok);
        Check(SameMap(psm, again));
    }
    return 0;
}
