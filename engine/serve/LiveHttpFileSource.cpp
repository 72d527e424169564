#include "engine/serve/LiveHttpFileSource.h"

namespace SarvelonMediaKit {

LiveHttpFileSource::LiveHttpFileSource() : waitingRequester_(nullptr) {}

LiveHttpFileSource::~LiveHttpFileSource() {}

void LiveHttpFileSource::FileStateChanged(LiveHttpFile* /*file*/) {}

}  // namespace SarvelonMediaKit
