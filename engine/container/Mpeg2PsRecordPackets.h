#ifndef ENGINE_CONTAINER_MPEG2PSRECORDPACKETS_H
#define ENGINE_CONTAINER_MPEG2PSRECORDPACKETS_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/container/Mpeg2PsPes.h"

namespace SarvelonMediaKit {

// Cuts one record of the header section (an index entry for private stream 2, or a metadata
// block for stream 0xF1) into PES packets of that stream, in order, each holding a copy of its
// bytes. Readers gather a record across consecutive packets of its stream:
//   - 0xF1: the first packet has data_alignment_indicator set (it starts a block), the others
//     not (they continue it);
//   - 0xBF: a reader takes each run of packets as one entry and needs the entry's first 12
//     bytes in its first packet, so that packet carries at least 12 bytes.
// maxPacketSize bounds the total size of each packet (0 or anything above 65541 means 65541);
// it is raised as far as needed for the header and the first 12 bytes. An empty record gives
// no packets.
std::vector<boost::shared_ptr<Mpeg2PsPes>> MakeRecordPackets(uint8_t streamId,
                                                             const std::vector<uint8_t>& record,
                                                             uint32_t maxPacketSize = 0);

}  // namespace SarvelonMediaKit

#endif
