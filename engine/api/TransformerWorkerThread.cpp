#include "engine/api/TransformerWorkerThread.h"

#include <exception>
#include <string>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Types/SVStatus.h"
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
    // Nothing may end the worker unnoticed: the caller holds a playback URL that only this
    // thread makes good on, so a failure it cannot report itself becomes the playback's error.
    try {
        transformer_->Transform(position_, rate_, false);
    } catch (const SV::Exception& exception) {
        transformer_->SetError(SVStatusLibraryException, std::string("Transformer worker: ") +
                                                             exception.what() + " (" +
                                                             exception.GetDetail() + ")");
    } catch (const std::exception& exception) {
        transformer_->SetError(SVStatusLibraryException,
                               std::string("Transformer worker: ") + exception.what());
    } catch (...) {
        transformer_->SetError(SVStatusLibraryException, "Transformer worker: unknown exception");
    }
    transformer_->WorkerEnded();
    return 0;
}

}  // namespace SarvelonMediaKit
