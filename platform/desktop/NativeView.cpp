#include "platform/desktop/NativeView.h"

#include "platform/desktop/Renderer.h"

namespace ns::desktop {

NativeView::NativeView(GtkWidget* widget, const ui::Rect& frame)
    : ui::View(frame),
      widget_(widget != nullptr ? GTK_WIDGET(g_object_ref_sink(widget)) : nullptr) {
    // Every renderer made from now on shows a native view's widget in the view's box.
    static const bool hosted = [] {
        Renderer::AddNativeWidgetHost([](ui::View& view) -> GtkWidget* {
            auto* native = dynamic_cast<NativeView*>(&view);
            return native != nullptr ? native->Widget() : nullptr;
        });
        return true;
    }();
    (void)hosted;
}

NativeView::~NativeView() {
    if (widget_ != nullptr) g_object_unref(widget_);
}

}  // namespace ns::desktop
