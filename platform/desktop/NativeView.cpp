#include "platform/desktop/NativeView.h"

#include "platform/desktop/Renderer.h"

namespace ns::desktop {

NativeView::NativeView(GtkWidget* widget, const ui::Rect& frame)
    : ui::View(frame),
      widget_(widget != nullptr ? GTK_WIDGET(g_object_ref_sink(widget)) : nullptr) {
    // Every renderer made from now on shows a native view's widget in the view's box; the
    // widget draws with cairo among the views, so a view changing over it redraws only that
    // part of it (a movie's picture is not scaled again whole for a label's change).
    static const bool hosted = [] {
        Renderer::AddNativeWidgetHost(
            [](ui::View& view) -> GtkWidget* {
                auto* native = dynamic_cast<NativeView*>(&view);
                return native != nullptr ? native->Widget() : nullptr;
            },
            nullptr, true);
        return true;
    }();
    (void)hosted;
}

NativeView::~NativeView() {
    if (widget_ != nullptr) g_object_unref(widget_);
}

}  // namespace ns::desktop
