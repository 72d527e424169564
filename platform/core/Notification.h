#ifndef PLATFORM_CORE_NOTIFICATION_H
#define PLATFORM_CORE_NOTIFICATION_H
// One posted notification: its name, the object that sent it (only compared, never
// dereferenced) and a dictionary of details.

#include <string>

#include "platform/Value.h"

namespace ns {

struct Notification {
    std::string name;
    const void* sender = nullptr;
    Value userInfo;
};

}  // namespace ns

#endif
