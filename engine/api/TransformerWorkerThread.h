#ifndef ENGINE_API_TRANSFORMERWORKERTHREAD_H
#define ENGINE_API_TRANSFORMERWORKERTHREAD_H

#include "SVLibrary/PilThread/ThreadUnix.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class Transformer;

// The thread "TWorker" of one Transformer: runs Transform(position, rate, false), which spends
// the playback waiting for the main session to stop.
class TransformerWorkerThread : public SV::Thread, public SV::RunFunctor {
public:
    TransformerWorkerThread(Transformer* transformer, MediaTime position, TrickPlayRate rate);
    ~TransformerWorkerThread() override;

    int Run() override;

private:
    Transformer* transformer_;
    MediaTime position_;
    TrickPlayRate rate_;
};

}  // namespace SarvelonMediaKit

#endif
