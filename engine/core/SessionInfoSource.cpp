#include "engine/core/SessionInfoSource.h"

#include <boost/bind/bind.hpp>

namespace SarvelonMediaKit {

using boost::placeholders::_1;

void SessionInfoSource::PublishSessionSetupCompleted() {
    PublishToMonitors(boost::bind(&SessionInfoMonitor::SessionSetupCompleted, _1));
}

void SessionInfoSource::PublishSessionStopped() {
    PublishToMonitors(boost::bind(&SessionInfoMonitor::SessionStopped, _1));
}

}  // namespace SarvelonMediaKit
