#ifndef ENGINE_CORE_SESSIONINFOMONITOR_H
#define ENGINE_CORE_SESSIONINFOMONITOR_H

#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

class SessionInfoSource;

// Subscriber to a session's life cycle. Both events do nothing unless overridden.
class SessionInfoMonitor : public InfoMonitor<SessionInfoSource, SessionInfoMonitor> {
public:
    ~SessionInfoMonitor() override {}

    virtual void SessionSetupCompleted() {}
    virtual void SessionStopped() {}
};

}  // namespace SarvelonMediaKit

#endif
