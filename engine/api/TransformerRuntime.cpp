// Placeholder bodies so the class links while its runtime is written; replaced as a whole.
#include "engine/api/GarbageCollectionTimer.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerWorkerThread.h"

namespace SarvelonMediaKit {

SVStatus Transformer::Transform(MediaTime, TrickPlayRate, bool) { return status_; }
SVStatus Transformer::Serve(MediaTime, TrickPlayRate, bool) { return status_; }
SVStatus Transformer::TransformToFile(MediaTime, TrickPlayRate, bool) { return status_; }
void Transformer::TransformToFileInTask() {}
SocketDelegate* Transformer::CreateServingChain(SV::PilSocketHolder&) { return nullptr; }
void Transformer::StartGarbageCollection() {}
void Transformer::CollectGarbage() {}
SVStatus Transformer::Stop() { return status_; }
SVStatus Transformer::GetChapterData(unsigned, unsigned) { return status_; }
size_t Transformer::GetServingSessionCount() { return 0; }
uint16_t Transformer::GetListeningPort() const { return 0; }

TransformerWorkerThread::TransformerWorkerThread(Transformer* transformer, MediaTime position,
                                                 TrickPlayRate rate)
    : SV::Thread("TWorker", this, false, false, 3),
      transformer_(transformer),
      position_(position),
      rate_(rate) {}
TransformerWorkerThread::~TransformerWorkerThread() {}
int TransformerWorkerThread::Run() { return 0; }

GarbageCollectionTimer::GarbageCollectionTimer(Transformer* transformer)
    : transformer_(transformer) {}
GarbageCollectionTimer::~GarbageCollectionTimer() { CancelTimer(); }
void GarbageCollectionTimer::TimerExpired() {}

}  // namespace SarvelonMediaKit
