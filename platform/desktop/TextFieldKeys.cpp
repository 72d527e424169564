#include "platform/desktop/TextFieldKeys.h"

#include <memory>
#include <optional>
#include <string>

namespace ns::desktop {

namespace {

GtkClipboard* ClipboardOf(GtkWidget* widget) {
    return gtk_clipboard_get_for_display(gtk_widget_get_display(widget), GDK_SELECTION_CLIPBOARD);
}

void PasteArrived(GtkClipboard*, const gchar* text, gpointer data) {
    std::unique_ptr<std::weak_ptr<ui::TextField>> target(
        static_cast<std::weak_ptr<ui::TextField>*>(data));
    std::shared_ptr<ui::TextField> field = target->lock();
    if (field && text != nullptr) InputRouter::PasteInto(*field, text);
}

// Control with a letter: select all, copy, cut, paste.
bool HandleShortcut(InputRouter& router, GtkWidget* widget, guint key) {
    switch (key) {
        case GDK_KEY_a: router.SelectAll(); break;
        case GDK_KEY_c:
            if (std::optional<std::string> text = router.Copy()) {
                gtk_clipboard_set_text(ClipboardOf(widget), text->c_str(),
                                       static_cast<gint>(text->size()));
            }
            break;
        case GDK_KEY_x:
            if (std::optional<std::string> text = router.Cut()) {
                gtk_clipboard_set_text(ClipboardOf(widget), text->c_str(),
                                       static_cast<gint>(text->size()));
            }
            break;
        case GDK_KEY_v: {
            std::shared_ptr<ui::TextField> field = router.FocusedField();
            if (field && field->CanPerformAction("paste:")) {
                gtk_clipboard_request_text(ClipboardOf(widget), &PasteArrived,
                                           new std::weak_ptr<ui::TextField>(field));
            }
            break;
        }
        default: break;
    }
    return true;
}

}  // namespace

bool HandleTextFieldKey(InputRouter& router, GtkWidget* widget, const GdkEventKey& e) {
    if (!router.FocusedField()) return false;
    const bool shift = (e.state & GDK_SHIFT_MASK) != 0;
    switch (e.keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter: return router.Return();
        case GDK_KEY_BackSpace: return router.Backspace();
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete: return router.Delete();
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left: return router.MoveCaret(ui::CaretMovement::Left, shift);
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right: return router.MoveCaret(ui::CaretMovement::Right, shift);
        case GDK_KEY_Home:
        case GDK_KEY_KP_Home: return router.MoveCaret(ui::CaretMovement::Home, shift);
        case GDK_KEY_End:
        case GDK_KEY_KP_End: return router.MoveCaret(ui::CaretMovement::End, shift);
        case GDK_KEY_Tab:
        case GDK_KEY_KP_Tab: return router.Tab(shift);
        case GDK_KEY_ISO_Left_Tab: return router.Tab(true);  // Shift+Tab on most keymaps
        default: break;
    }
    if ((e.state & GDK_MOD1_MASK) != 0) return true;
    if ((e.state & GDK_CONTROL_MASK) != 0) {
        return HandleShortcut(router, widget, gdk_keyval_to_lower(e.keyval));
    }
    const gunichar c = gdk_keyval_to_unicode(e.keyval);
    if (c < 0x20 || c == 0x7F) return true;
    char utf8[8] = {};
    g_unichar_to_utf8(c, utf8);
    return router.TypeText(utf8);
}

}  // namespace ns::desktop
