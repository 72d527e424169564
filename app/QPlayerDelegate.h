#ifndef APP_QPLAYERDELEGATE_H
#define APP_QPLAYERDELEGATE_H
// What the player screen tells the screen that presented it (the portal screen). The portal
// also reads the player's mediaID(), currentProgress() and shouldStoreCurrentProgress() when it
// stores the progress of the title. Main thread only.

#include <string>

class QPlayerDelegate {
public:
    virtual ~QPlayerDelegate() = default;

    // The playback cannot go on: 200 set-up and playback-information faults, 210 the engine
    // stopped on an error, 300 the playback information could not be loaded.
    virtual void playbackDidStopOnError(int code, const std::string& errorDescription) = 0;
    // The title was played to (almost) its end; sent once per player screen.
    virtual void playbackDidComplete() = 0;
    // The player screen wants to go: store the progress and dismiss it.
    virtual void disposeQPlayer() = 0;
};

#endif  // APP_QPLAYERDELEGATE_H
