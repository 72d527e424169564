#ifndef ENGINE_CORE_ERRORINFOMONITOR_H
#define ENGINE_CORE_ERRORINFOMONITOR_H

#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

class ErrorInfoSource;

// Subscriber to errors and warnings. Both events do nothing unless overridden.
class ErrorInfoMonitor : public InfoMonitor<ErrorInfoSource, ErrorInfoMonitor> {
public:
    ~ErrorInfoMonitor() override {}

    virtual void SetError(SVStatus /*status*/, std::string /*text*/) {}
    virtual void SetWarning(SVStatus /*status*/, std::string /*text*/) {}
};

}  // namespace SarvelonMediaKit

#endif
