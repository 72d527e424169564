#ifndef PLATFORM_MEDIA_SYSTEM_VOLUME_H
#define PLATFORM_MEDIA_SYSTEM_VOLUME_H
// The sound volume of the whole application, as the system's volume control sets it: one value
// from 0 (silent) to 1 (full, the start) that every movie player of the process applies to
// its sound. Setting it posts kDidChange (user info {"volume": value}) through
// NotificationCenter::Default() when the value changed, so that a player that is playing can
// follow at once. Any thread may read it; set it on the main thread.

namespace ns {

class SystemVolume {
public:
    static constexpr const char* kDidChange = "SystemVolumeDidChange";
    static constexpr const char* kVolumeKey = "volume";

    static double Get();
    // Clamped to [0, 1]; NaN is ignored.
    static void Set(double volume);
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_SYSTEM_VOLUME_H
