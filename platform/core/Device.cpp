#include "platform/core/Device.h"

#include <sys/utsname.h>

#include <cstdlib>

namespace ns {

std::string Device::Model() {
    const char* forced = std::getenv("SV_DEVICE_MODEL");
    if (forced != nullptr && forced[0] != '\0') return forced;
    struct utsname names;
    if (uname(&names) != 0) return std::string();
    return names.machine;
}

}  // namespace ns
