#include "engine/core/ErrorInfoSource.h"

#include <boost/bind/bind.hpp>

namespace SarvelonMediaKit {

using boost::placeholders::_1;

void ErrorInfoSource::PublishError(SVStatus status, const std::string& text) {
    PublishToMonitors(boost::bind(&ErrorInfoMonitor::SetError, _1, status, text));
}

void ErrorInfoSource::PublishWarning(SVStatus status, const std::string& text) {
    PublishToMonitors(boost::bind(&ErrorInfoMonitor::SetWarning, _1, status, text));
}

}  // namespace SarvelonMediaKit
