#ifndef ENGINE_CORE_SESSIONINFOSOURCE_H
#define ENGINE_CORE_SESSIONINFOSOURCE_H

#include "engine/core/InfoSource.h"
#include "engine/core/SessionInfoMonitor.h"

namespace SarvelonMediaKit {

// Publisher of a session's life cycle.
class SessionInfoSource : public InfoSource<SessionInfoSource, SessionInfoMonitor> {
public:
    ~SessionInfoSource() override {}

    void PublishSessionSetupCompleted();
    void PublishSessionStopped();
};

}  // namespace SarvelonMediaKit

#endif
