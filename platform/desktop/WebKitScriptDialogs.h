#ifndef PLATFORM_DESKTOP_WEBKIT_SCRIPT_DIALOGS_H
#define PLATFORM_DESKTOP_WEBKIT_SCRIPT_DIALOGS_H
// A page's script dialogs (alert, confirm, prompt) shown as the application's own alerts, in
// a way that never keeps the person on the page.
//
// A dialog shows as a ui::AlertView titled with the page's host (so a page cannot pass its
// text off as the application's) and the page's message, cut at kMaxMessageBytes: an alert
// has OK, a confirm and a prompt Cancel and OK (the alert model has no text field: OK answers
// a prompt with its default text, Cancel with none). The page's script waits in the dialog
// until the alert is dismissed, by the person or by anyone. A page's request to confirm
// leaving it is answered "leave" at once: the application decides where the person goes.
//
// Once the person has closed one of a view's dialogs, the next one that view's pages open is
// held, neither shown nor answered, until the person presses a button or a key in the view: a
// page that opens dialogs in a loop (for (;;) alert()) would otherwise have the person closing
// them for ever. Meanwhile its script waits in the held dialog and the rest of the window,
// the native menu with it, is the person's. A load the application starts then has to end the
// page (see the backend), which CloseAll lets it know.
//
// GTK thread only. Made with make_shared (it is the alerts' delegate, held weakly).

#include <webkit2/webkit2.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/ui/AlertView.h"

namespace ns::desktop {

class WebKitScriptDialogs : public ui::AlertViewDelegate,
                            public std::enable_shared_from_this<WebKitScriptDialogs> {
public:
    static constexpr size_t kMaxMessageBytes = 1024;

    // Connects to the view's "script-dialog"; Detach before the view goes.
    static std::shared_ptr<WebKitScriptDialogs> Attach(WebKitWebView* view);
    ~WebKitScriptDialogs() override;

    // Closes the open dialog, shown or held, as dismissed (the alert goes too); true when
    // there was one.
    bool CloseAll();
    // Closes the open dialog and disconnects from the view.
    void Detach();
    bool IsHolding() const { return dialog_ != nullptr && !alert_; }

    void DidDismissWithButtonIndex(ui::AlertView& alert, int index) override;

    // The message as shown: at most kMaxMessageBytes, cut before a whole UTF-8 character
    // (invalid bytes shown as U+FFFD).
    static std::string ShownMessage(const char* message);

private:
    explicit WebKitScriptDialogs(WebKitWebView* view) : view_(view) {}

    static gboolean OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer self);
    static gboolean OnPersonInput(GtkWidget* widget, GdkEvent* event, gpointer self);
    void Show();
    // Answers the open dialog (OK or not) and lets it go.
    void Answer(bool accepted);

    WebKitWebView* view_;
    // The dialog the page waits in, referenced until answered.
    WebKitScriptDialog* dialog_ = nullptr;
    // Its alert while shown.
    ui::AlertView::Ptr alert_;
    // The next dialog may show: none has been closed yet, or the person has used the view
    // since the last one closed.
    bool mayShow_ = true;
};

}  // namespace ns::desktop

#endif
