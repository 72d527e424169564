#ifndef APP_QPLAYERINTERFACE_H
#define APP_QPLAYERINTERFACE_H
// The player screen's interface file "Qplayer", as code: the movie's display and a screen-wide
// touch area under a top bar (close, title, scale-mode buttons), a bottom bar (play and pause,
// position label, scrubber, remaining-time label, subtitle and volume buttons), the subtitle
// label, and the volume and subtitle-chooser containers. Outlets carry the screen's property
// names; the buttons and the scrubber are connected to the screen's actions.

// Registers the builder (once; later calls do nothing).
void RegisterQplayerInterface();

#endif  // APP_QPLAYERINTERFACE_H
