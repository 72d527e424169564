#ifndef PLATFORM_DESKTOP_VIEW_BOX_H
#define PLATFORM_DESKTOP_VIEW_BOX_H
// The renderer's widget for one view: a GtkFixed that asks for its own size request only (a
// view's subviews may stand outside its bounds without making it, and the window, larger),
// and draws its children in the order they were put (the models' order), each turned, scaled
// and moved by its view's transform about the middle of its widget (the bounds' centre).
// GTK thread only.

#include <gtk/gtk.h>

#include <memory>

#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"

namespace ns::desktop {

// What a view box's child shows, for the box that draws it: the view and the renderer's pixels
// per point (a transform's translation is in points).
struct RendererDrawnView {
    std::weak_ptr<ui::View> view;
    const double* scale = nullptr;
};

GtkWidget* NewViewBox();
// Tells the box that draws `widget` which view it shows; `drawn` must outlive the widget's
// place in the box.
void AttachDrawnView(GtkWidget* widget, RendererDrawnView* drawn);
// The transform a view is drawn with now: its layer's (an animation's value while one runs)
// followed by the view's own, both about the bounds' centre.
ui::AffineTransform DrawnTransform(const ui::View& view);

}  // namespace ns::desktop

#endif
