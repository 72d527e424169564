#ifndef PLATFORM_CORE_DEVICE_H
#define PLATFORM_CORE_DEVICE_H
// What the code needs to know about the machine it runs on.

#include <string>

namespace ns {

class Device {
public:
    // The device model: the environment variable SV_DEVICE_MODEL when it is set and not empty
    // (tests and tools stand in for a given model that way), else the machine field of
    // uname(2) ("x86_64", "aarch64"); empty when neither gives one.
    static std::string Model();
};

}  // namespace ns

#endif  // PLATFORM_CORE_DEVICE_H
