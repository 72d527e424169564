// The renderer's input: a person's buttons, pointer moves, wheel and keys, from the window's
// widgets (or from the modal catcher while an alert is up) to the models' input router, in the
// models' points.
#include <optional>

#include "platform/desktop/AlertSheet.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/TextFieldKeys.h"
#include "platform/ui/AlertView.h"

namespace ns::desktop {

void Renderer::UpdateModalGrab() {
    const bool modal = ui::AlertView::TopVisibleAlert() != nullptr && shownRoot_ != nullptr;
    if (modal == static_cast<bool>(gtk_widget_has_grab(modalCatcher_))) return;
    if (!modal) {
        gtk_grab_remove(modalCatcher_);
        return;
    }
    // A press or a wheel under way ends without an action: its release goes to the alert.
    router_.Cancel();
    if (wheelTimer_ != 0) {
        g_source_remove(wheelTimer_);
        wheelTimer_ = 0;
    }
    router_.EndWheel();
    gtk_grab_add(modalCatcher_);
}

ui::Point Renderer::ToWindow(const ui::Point& p) const {
    return ui::Point(offset_.x + p.x * scale_, offset_.y + p.y * scale_);
}

ui::Point Renderer::FromWindow(const ui::Point& p) const {
    return ui::Point((p.x - offset_.x) / scale_, (p.y - offset_.y) / scale_);
}

std::optional<ui::Point> Renderer::EventPoint(double xRoot, double yRoot) const {
    GdkWindow* w = gtk_widget_get_window(window_);
    if (w == nullptr) return std::nullopt;
    int ox = 0, oy = 0;
    gdk_window_get_origin(w, &ox, &oy);
    return FromWindow(ui::Point(xRoot - ox, yRoot - oy));
}

gboolean Renderer::OnButton(GtkWidget*, GdkEventButton* e, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    if (e->button != GDK_BUTTON_PRIMARY ||
        (e->type != GDK_BUTTON_PRESS && e->type != GDK_BUTTON_RELEASE)) {
        return TRUE;
    }
    std::optional<ui::Point> p = r->EventPoint(e->x_root, e->y_root);
    if (!p) return TRUE;
    if (ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert(); alert && r->shownRoot_) {
        const int index = AlertSheet(*alert, r->shownRoot_->Frame().size).ButtonAt(*p);
        if (e->type == GDK_BUTTON_PRESS) {
            r->alertPressed_ = index;
        } else if (index >= 0 && index == r->alertPressed_) {
            r->alertPressed_ = -1;
            alert->ClickButtonAtIndex(index);
        } else {
            r->alertPressed_ = -1;
        }
        gtk_widget_queue_draw(r->stage_);
        return TRUE;
    }
    if (e->type == GDK_BUTTON_PRESS) {
        r->router_.Press(*p, e->time);
    } else {
        r->router_.Release(*p, e->time);
    }
    return TRUE;
}

gboolean Renderer::OnMotion(GtkWidget*, GdkEventMotion* e, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    if (!r->router_.IsPressed()) return FALSE;
    if (std::optional<ui::Point> p = r->EventPoint(e->x_root, e->y_root)) {
        r->router_.Move(*p, e->time);
    }
    return TRUE;
}

gboolean Renderer::OnScroll(GtkWidget*, GdkEventScroll* e, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    if (ui::AlertView::TopVisibleAlert()) return TRUE;
    double dx = 0, dy = 0;
    switch (e->direction) {
        case GDK_SCROLL_UP: dy = -1; break;
        case GDK_SCROLL_DOWN: dy = 1; break;
        case GDK_SCROLL_LEFT: dx = -1; break;
        case GDK_SCROLL_RIGHT: dx = 1; break;
        case GDK_SCROLL_SMOOTH:
            dx = e->delta_x;
            dy = e->delta_y;
            break;
    }
    std::optional<ui::Point> p = r->EventPoint(e->x_root, e->y_root);
    if (!p || !r->router_.Wheel(*p, dx, dy)) return FALSE;
    if (r->wheelTimer_ != 0) g_source_remove(r->wheelTimer_);
    r->wheelTimer_ = g_timeout_add(kWheelRestMs, &Renderer::OnWheelRest, r);
    return TRUE;
}

gboolean Renderer::OnWheelRest(gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    r->wheelTimer_ = 0;
    r->router_.EndWheel();
    return G_SOURCE_REMOVE;
}

gboolean Renderer::OnAlertKey(Renderer& r, const GdkEventKey& e) {
    ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
    int index = -1;
    switch (e.keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter: index = AlertSheet::DefaultButton(*alert); break;
        case GDK_KEY_Escape: index = AlertSheet::CancelButton(*alert); break;
        default: break;
    }
    if (index >= 0) {
        r.alertPressed_ = -1;
        alert->ClickButtonAtIndex(index);
        gtk_widget_queue_draw(r.stage_);
    }
    return TRUE;  // nothing under the alert takes a key
}

gboolean Renderer::OnKey(GtkWidget*, GdkEventKey* e, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    if (ui::AlertView::TopVisibleAlert()) return OnAlertKey(*r, *e);
    return HandleTextFieldKey(r->router_, r->window_, *e);
}

gboolean Renderer::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<Renderer*>(self)->Close();
    return TRUE;
}

void Renderer::Close() {
    if (closeHandler_) {
        closeHandler_();
    } else {
        gtk_widget_hide(window_);
    }
}

}  // namespace ns::desktop
