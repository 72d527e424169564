#ifndef PLATFORM_UI_UI_DEVICE_H
#define PLATFORM_UI_UI_DEVICE_H
// The device the application believes it runs on: its interface idiom (which decides the screen
// size and the application's phone or tablet layouts), model, user-given name, system name and
// version, and how it is held. Everything is set from the environment when the device is first
// asked for, and each value can be set by a call (tests, the desktop renderer):
//
//   ZUL_DEVICE_IDIOM        "phone" (default), "pad", or "none" (no idiom reported)
//   ZUL_DEVICE_MODEL        the model text; unset: the model of the idiom (below)
//   ZUL_DEVICE_NAME         the user-given name; unset: the host name
//   ZUL_SYSTEM_NAME         unset: the kernel's name (uname)
//   ZUL_SYSTEM_VERSION      unset: the kernel's release (uname)
//   ZUL_DEVICE_ORIENTATION  1-6 (below); unset: 1, portrait
//
// A value the device does not understand is reported by a log line and replaced by the default.
// Main thread only.

#include <string>

namespace ui {

// The platform's numbering: a device may also report no idiom at all.
enum class UserInterfaceIdiom { Unspecified = -1, Phone = 0, Pad = 1 };

// How the device is held.
enum class DeviceOrientation {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 3,   // turned with the home button on the right
    LandscapeRight = 4,  // turned with the home button on the left
    FaceUp = 5,
    FaceDown = 6,
};

// How the interface is drawn. The landscape values are those of the device orientation that
// shows them upright (a device turned left shows the interface turned right), so 1-4 match.
enum class InterfaceOrientation {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

bool IsLandscape(InterfaceOrientation o);
bool IsPortrait(InterfaceOrientation o);
// The interface orientation a device orientation asks for; false for unknown, face up and
// face down, which leave the interface as it is.
bool InterfaceOrientationFor(DeviceOrientation device, InterfaceOrientation* out);

class UiDevice {
public:
    // The process-wide device, read from the environment on first use; never destroyed.
    static UiDevice& Current();

    // Reads every value from the environment again (tests change it).
    void LoadFromEnvironment();

    UserInterfaceIdiom Idiom() const { return idiom_; }
    void SetIdiom(UserInterfaceIdiom idiom) { idiom_ = idiom; }
    // A tablet is a device that reports the pad idiom; no idiom counts as a phone.
    bool IsPad() const { return idiom_ == UserInterfaceIdiom::Pad; }

    // The model the application sees: the one set, else the model of the device the idiom
    // stands for ("iPhone" for a phone or no idiom, "iPad" for a pad), whatever machine runs
    // it (the application picks layouts by this text, and "x86_64" would pick none of them).
    std::string Model() const;
    // An empty model follows the idiom again.
    void SetModel(std::string model) { model_ = std::move(model); }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& SystemName() const { return systemName_; }
    void SetSystemName(std::string name) { systemName_ = std::move(name); }
    const std::string& SystemVersion() const { return systemVersion_; }
    void SetSystemVersion(std::string version) { systemVersion_ = std::move(version); }

    DeviceOrientation Orientation() const { return orientation_; }
    // Only records how the device is held (before an application starts, say); Rotate turns
    // the interface too.
    void SetOrientation(DeviceOrientation orientation) { orientation_ = orientation; }
    // The device is now held this way. A portrait or landscape orientation also turns the
    // interface (Application::RotateInterface: the visible controller may refuse); face up,
    // face down and unknown only change what Orientation() reports. Answers whether the
    // interface now stands in the orientation asked for (true for one that asks for none);
    // a value outside 0-6 is reported by a log line and changes nothing (false).
    bool Rotate(DeviceOrientation orientation);

private:
    UiDevice();

    UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
    std::string model_;  // empty: the idiom's
    std::string name_;
    std::string systemName_;
    std::string systemVersion_;
    DeviceOrientation orientation_ = DeviceOrientation::Portrait;
};

}  // namespace ui

#endif  // PLATFORM_UI_UI_DEVICE_H
