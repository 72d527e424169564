#include "platform/ui/UiDevice.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/core/LogWriter.h"
#include "platform/ui/Application.h"

namespace ui {
namespace {

// The variable's value; empty when it is unset.
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

}  // namespace

bool IsLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

bool IsPortrait(InterfaceOrientation o) {
    return o == InterfaceOrientation::Portrait || o == InterfaceOrientation::PortraitUpsideDown;
}

bool InterfaceOrientationFor(DeviceOrientation device, InterfaceOrientation* out) {
    switch (device) {
        case DeviceOrientation::Portrait:
        case DeviceOrientation::PortraitUpsideDown:
        case DeviceOrientation::LandscapeLeft:
        case DeviceOrientation::LandscapeRight:
            *out = static_cast<InterfaceOrientation>(static_cast<int>(device));
            return true;
        default: return false;
    }
}

UiDevice& UiDevice::Current() {
    static UiDevice* device = new UiDevice();  // never destroyed
    return *device;
}

UiDevice::UiDevice() { LoadFromEnvironment(); }

void UiDevice::LoadFromEnvironment() {
    const std::string idiom = Env("ZUL_DEVICE_IDIOM");
    if (idiom.empty() || idiom == "phone") {
        idiom_ = UserInterfaceIdiom::Phone;
    } else if (idiom == "pad") {
        idiom_ = UserInterfaceIdiom::Pad;
    } else if (idiom == "none") {
        idiom_ = UserInterfaceIdiom::Unspecified;
    } else {
        ns::Log("[UI] ZUL_DEVICE_IDIOM=%s is neither phone, pad nor none: using phone", idiom);
        idiom_ = UserInterfaceIdiom::Phone;
    }

    struct utsname names;
    const bool haveNames = uname(&names) == 0;
    model_ = Env("ZUL_DEVICE_MODEL");
    name_ = Env("ZUL_DEVICE_NAME");
    if (name_.empty()) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0) {
            name_ = host;
        }
    }
    systemName_ = Env("ZUL_SYSTEM_NAME");
    if (systemName_.empty() && haveNames) {
        systemName_ = names.sysname;
    }
    systemVersion_ = Env("ZUL_SYSTEM_VERSION");
    if (systemVersion_.empty() && haveNames) {
        systemVersion_ = names.release;
    }

    orientation_ = DeviceOrientation::Portrait;
    const std::string orientation = Env("ZUL_DEVICE_ORIENTATION");
    if (!orientation.empty()) {
        if (orientation.size() == 1 && orientation[0] >= '0' && orientation[0] <= '6') {
            orientation_ = static_cast<DeviceOrientation>(orientation[0] - '0');
        } else {
            ns::Log("[UI] ZUL_DEVICE_ORIENTATION=%s is not one of 0-6: using 1 (portrait)",
                    orientation);
        }
    }
}

std::string UiDevice::Model() const {
    if (!model_.empty()) return model_;
    return idiom_ == UserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

bool UiDevice::Rotate(DeviceOrientation orientation) {
    const int value = static_cast<int>(orientation);
    if (value < 0 || value > 6) {
        ns::Log("[UI] device orientation %d is not one of 0-6: ignored", value);
        return false;
    }
    orientation_ = orientation;
    InterfaceOrientation interface;
    if (!InterfaceOrientationFor(orientation, &interface)) {
        return true;
    }
    return Application::Shared().RotateInterface(interface);
}

}  // namespace ui
