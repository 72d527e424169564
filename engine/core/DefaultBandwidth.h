#ifndef ENGINE_CORE_DEFAULTBANDWIDTH_H
#define ENGINE_CORE_DEFAULTBANDWIDTH_H

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

// The process-wide download rate, in bytes per second, that bitrate adaptation falls back to
// when it has no measurement of its own. 0xFFFFFFFF (no limit) at program start; written by
// every bandwidth report and by the file source. Any thread may read and write it.
void SetDefaultBandwidth(ByteAmount bandwidth);
ByteAmount GetDefaultBandwidth();

}  // namespace SarvelonMediaKit

#endif
