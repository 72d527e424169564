#ifndef ENGINE_CORE_ERRORINFOSOURCE_H
#define ENGINE_CORE_ERRORINFOSOURCE_H

#include <string>

#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

// Publisher of errors and warnings; nothing is stored.
class ErrorInfoSource : public InfoSource<ErrorInfoSource, ErrorInfoMonitor> {
public:
    ~ErrorInfoSource() override {}

    void PublishError(SVStatus status, const std::string& text);
    void PublishWarning(SVStatus status, const std::string& text);
};

}  // namespace SarvelonMediaKit

#endif
