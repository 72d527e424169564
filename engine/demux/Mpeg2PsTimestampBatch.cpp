#include "engine/demux/Mpeg2PsTimestampBatch.h"

#include "engine/codecs/MediaTiming.h"

namespace SarvelonMediaKit {

void Mpeg2PsTimestampBatch::Add(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase) {
    held_.push_back({static_cast<uint32_t>(kind),
                     MediaTime(TicksToMicrosecondsTruncated(timestamp)),
                     MediaTime(TicksToMicrosecondsTruncated(scrBase))});
    if (!parsing_ || held_.size() >= kHeld) Publish();
}

void Mpeg2PsTimestampBatch::Publish() {
    source_.PublishTimestamps(held_.data(), held_.size());
    held_.clear();
}

}  // namespace SarvelonMediaKit
