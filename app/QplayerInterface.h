#ifndef APP_QPLAYERINTERFACE_H
#define APP_QPLAYERINTERFACE_H
// The player screen's interface file "Qplayer", as code: the movie's display and a screen-wide
// touch area under a top bar (close, title, scale-mode buttons), a bottom bar (play and pause,
// position label, scrubber, remaining-time label, subtitle and volume buttons), the subtitle
// label, and the volume and subtitle-chooser containers. Outlets carry the screen's property
// names; the views only: the screen and its controls connect their actions once it is loaded.

// The name the player screen loads its interface by.
inline constexpr const char* kQplayerInterfaceName = "Qplayer";

// Registers the builder (once; later calls do nothing).
void RegisterQplayerInterface();

#endif  // APP_QPLAYERINTERFACE_H
