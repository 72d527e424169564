#ifndef PLATFORM_DESKTOP_TEXT_FIELD_KEYS_H
#define PLATFORM_DESKTOP_TEXT_FIELD_KEYS_H
// A person's key presses on the keyboard turned into the router's text-input calls, and the
// desktop clipboard behind copy, cut and paste:
//   characters (without Control or Alt) type; Backspace and Delete delete; Left, Right, Home
//   and End move the caret (Shift extends the selection); Return (and Enter) returns; Tab and
//   Shift+Tab move to the next and previous field; Control with A, C, X and V select all,
//   copy, cut and paste, as far as the field offers each.
// While a text input is editing every key press is taken, so that nothing but the model edits
// the text the entry shows. Paste asks the clipboard and inserts its text when it arrives, into
// the field that was editing when the key was pressed, if it still is. GTK thread only.

#include <gtk/gtk.h>

#include "platform/desktop/InputRouter.h"

namespace ns::desktop {

// Whether the key was taken. `widget` names the display whose clipboard is used.
bool HandleTextFieldKey(InputRouter& router, GtkWidget* widget, const GdkEventKey& e);

}  // namespace ns::desktop

#endif
