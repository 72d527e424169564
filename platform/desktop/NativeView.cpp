#include "platform/desktop/NativeView.h"

namespace ns::desktop {

NativeView::NativeView(GtkWidget* widget, const ui::Rect& frame)
    : ui::View(frame),
      widget_(widget != nullptr ? GTK_WIDGET(g_object_ref_sink(widget)) : nullptr) {}

NativeView::~NativeView() {
    if (widget_ != nullptr) g_object_unref(widget_);
}

}  // namespace ns::desktop
