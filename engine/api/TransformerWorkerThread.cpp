#include "engine/api/TransformerWorkerThread.h"

#include "engine/api/Transformer.h"

namespace SarvelonMediaKit {

// The thread runs this object itself (not owned separately), is deleted by its Transformer
// (no auto-delete) once it has ended, and asks for priority 3.
TransformerWorkerThread::TransformerWorkerThread(Transformer* transformer, MediaTime position,
                                                 TrickPlayRate rate)
    : SV::Thread("TWorker", this, false, false, 3),
      transformer_(transformer),
      position_(position),
      rate_(rate) {}

TransformerWorkerThread::~TransformerWorkerThread() {}

int TransformerWorkerThread::Run() {
    transformer_->Transform(position_, rate_, false);
    return 0;
}

}  // namespace SarvelonMediaKit
