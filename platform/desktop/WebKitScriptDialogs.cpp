#include "platform/desktop/WebKitScriptDialogs.h"

#include <optional>
#include <vector>

#include "platform/core/LogWriter.h"
#include "platform/net/URL.h"

namespace ns::desktop {

std::shared_ptr<WebKitScriptDialogs> WebKitScriptDialogs::Attach(WebKitWebView* view) {
    std::shared_ptr<WebKitScriptDialogs> dialogs(new WebKitScriptDialogs(view));
    g_signal_connect(view, "script-dialog", G_CALLBACK(OnScriptDialog), dialogs.get());
    // Before WebKit's own handlers, which take the events.
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnPersonInput), dialogs.get());
    g_signal_connect(view, "key-press-event", G_CALLBACK(OnPersonInput), dialogs.get());
    return dialogs;
}

WebKitScriptDialogs::~WebKitScriptDialogs() { Detach(); }

void WebKitScriptDialogs::Detach() {
    CloseAll();
    if (view_ != nullptr) g_signal_handlers_disconnect_by_data(view_, this);
    view_ = nullptr;
}

bool WebKitScriptDialogs::CloseAll() {
    if (dialog_ == nullptr) return false;
    if (ui::AlertView::Ptr alert = std::move(alert_)) {
        alert_.reset();
        alert->DismissWithClickedButtonIndex(alert->CancelButtonIndex(), false);
    }
    Answer(false);
    return true;
}

std::string WebKitScriptDialogs::ShownMessage(const char* message) {
    gchar* valid = g_utf8_make_valid(message != nullptr ? message : "", -1);
    std::string text = valid;
    g_free(valid);
    if (text.size() <= kMaxMessageBytes) return text;
    // The start of the character that would cross the limit.
    const char* cut = g_utf8_find_prev_char(text.c_str(), text.c_str() + kMaxMessageBytes + 1);
    text.resize(static_cast<size_t>(cut - text.c_str()));
    return text + "\u2026";
}

gboolean WebKitScriptDialogs::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog,
                                             gpointer data) {
    auto* self = static_cast<WebKitScriptDialogs*>(data);
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    // Where the person goes is the application's to say: leaving is always confirmed. A second
    // dialog while one is open (not from the same script, which waits) is dismissed.
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM || self->dialog_ != nullptr) {
        if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        } else if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
            webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        }
        return TRUE;  // closed as the handler returns; a prompt gets no text
    }
    self->dialog_ = webkit_script_dialog_ref(dialog);
    if (self->mayShow_) {
        self->Show();
    } else {
        const char* uri = webkit_web_view_get_uri(self->view_);
        ns::Log("[WEB] dialog of %s held until the person uses the page",
                uri != nullptr ? uri : "nothing");
    }
    return TRUE;
}

gboolean WebKitScriptDialogs::OnPersonInput(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<WebKitScriptDialogs*>(data);
    self->mayShow_ = true;
    if (self->IsHolding()) self->Show();
    return FALSE;  // the page has the event as well
}

void WebKitScriptDialogs::Show() {
    const char* uri = webkit_web_view_get_uri(view_);
    std::optional<ns::URL> url = ns::URL::Parse(uri != nullptr ? uri : "");
    const std::string host = url && !url->Host().empty() ? url->Host() : "This page";
    const bool alertOnly =
        webkit_script_dialog_get_dialog_type(dialog_) == WEBKIT_SCRIPT_DIALOG_ALERT;
    alert_ = std::make_shared<ui::AlertView>(
        host, ShownMessage(webkit_script_dialog_get_message(dialog_)), shared_from_this(),
        alertOnly ? std::nullopt : std::optional<std::string>("Cancel"),
        std::vector<std::string>{"OK"});
    alert_->Show();
}

void WebKitScriptDialogs::DidDismissWithButtonIndex(ui::AlertView& alert, int index) {
    if (alert_.get() != &alert) return;
    alert_.reset();
    mayShow_ = false;
    Answer(index != alert.CancelButtonIndex());
}

void WebKitScriptDialogs::Answer(bool accepted) {
    WebKitScriptDialog* dialog = dialog_;
    if (dialog == nullptr) return;
    dialog_ = nullptr;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, accepted);
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            if (accepted) {
                webkit_script_dialog_prompt_set_text(
                    dialog, webkit_script_dialog_prompt_get_default_text(dialog));
            }
            break;
        default: break;
    }
    webkit_script_dialog_close(dialog);
    webkit_script_dialog_unref(dialog);
}

}  // namespace ns::desktop
