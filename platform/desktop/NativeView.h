#ifndef PLATFORM_DESKTOP_NATIVE_VIEW_H
#define PLATFORM_DESKTOP_NATIVE_VIEW_H
// A view model whose content is a GTK widget made elsewhere (a movie's picture): the Renderer
// shows the widget in the view's place, sized to the view's frame, under the view's subviews
// (the first native view made adds the renderer's native-widget host for all of them). The
// view keeps a reference to the widget for its lifetime; the renderer only borrows it.
//
// The widget is drawn in the view's GtkFixed among the views' own drawing, so it must have no
// GdkWindow of its own: a child window would cover every view drawn over it. It must draw
// with cairo (not OpenGL): a change of a view over it redraws only that part of it.
//
// Main thread only.

#include <gtk/gtk.h>

#include "platform/ui/View.h"

namespace ns::desktop {

class NativeView : public ui::View {
public:
    // widget may be null (nothing is shown but the view's own drawing).
    explicit NativeView(GtkWidget* widget, const ui::Rect& frame = ui::Rect());
    ~NativeView() override;

    GtkWidget* Widget() const { return widget_; }

private:
    GtkWidget* widget_;
};

}  // namespace ns::desktop

#endif
