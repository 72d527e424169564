#ifndef PLATFORM_DESKTOP_RENDERER_NODE_H
#define PLATFORM_DESKTOP_RENDERER_NODE_H
// The renderer's record of one view it shows (Renderer.cpp and RendererParking.cpp only).

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/DrawnContent.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/ViewBox.h"

namespace ns::desktop {

struct Renderer::Node {
    Renderer* owner = nullptr;
    const ui::View* key = nullptr;
    std::weak_ptr<ui::View> view;
    GtkWidget* fixed = nullptr;
    GtkWidget* entry = nullptr;
    GtkWidget* native = nullptr;  // referenced while shown
    Renderer::NativeWidgetScaler nativeScaler;
    bool nativePartly = false;  // the native widget may be redrawn in part
    double nativeScale = 0;     // last given to nativeScaler
    GtkCssProvider* css = nullptr;
    std::string cssText;
    RendererDrawnView drawn;
    DrawnContent content;      // the view's own drawing, kept while it does not change
    bool transformed = false;  // drawn under a transform at the last update
    Node* parent = nullptr;
    std::vector<Node*> children;
    // Left its superview, kept hidden in the parent's box until its view comes back.
    bool parked = false;
    std::vector<Node*> parkedChildren;
    // What was applied last, in pixels.
    int x = INT32_MIN, y = INT32_MIN, width = -1, height = -1;
    ui::Point boundsOrigin;
};

}  // namespace ns::desktop

#endif
