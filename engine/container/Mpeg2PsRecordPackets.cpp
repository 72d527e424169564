#include "engine/container/Mpeg2PsRecordPackets.h"

#include <algorithm>

#include <boost/make_shared.hpp>

#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

std::vector<boost::shared_ptr<Mpeg2PsPes>> MakeRecordPackets(uint8_t streamId,
                                                             const std::vector<uint8_t>& record,
                                                             uint32_t maxPacketSize) {
    std::vector<boost::shared_ptr<Mpeg2PsPes>> packets;
    const uint32_t headerSize = Mpeg2PsFormat::HasOptionalPesHeader(streamId)
                                    ? Mpeg2PsFormat::kPesOptionalHeaderSize
                                    : Mpeg2PsFormat::kPesShortHeaderSize;
    uint32_t limit = maxPacketSize;
    if (limit == 0 || limit > Mpeg2PsFormat::kPesMaxSize) limit = Mpeg2PsFormat::kPesMaxSize;
    limit = std::max(limit, headerSize + Mpeg2PsFormat::kIndexEntryMinimumSize);
    const uint32_t payloadPerPacket = limit - headerSize;

    size_t done = 0;
    while (done < record.size()) {
        const uint32_t n =
            static_cast<uint32_t>(std::min<size_t>(payloadPerPacket, record.size() - done));
        auto pes = boost::make_shared<Mpeg2PsPes>(limit);
        pes->SetStreamId(streamId);
        if (packets.empty()) pes->SetDataAlignment(true);
        pes->AddData(record.data() + done, n, true);  // fits: n <= limit - header size
        packets.push_back(pes);
        done += n;
    }
    return packets;
}

}  // namespace SarvelonMediaKit
