// The renderer's parked nodes: the widgets of a view that left the tree while it lives, kept
// hidden in its superview's box so that a native widget among them stays realized (Renderer.h).
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>

#include "platform/desktop/Renderer.h"
#include "platform/desktop/RendererNode.h"

namespace ns::desktop {

bool Renderer::HoldsNative(const Node& node) {
    if (node.native != nullptr) return true;
    for (const Node* child : node.children) {
        if (HoldsNative(*child)) return true;
    }
    for (const Node* child : node.parkedChildren) {
        if (HoldsNative(*child)) return true;
    }
    return false;
}

bool Renderer::Shown(const Node& node) {
    for (const Node* n = &node; n != nullptr; n = n->parent) {
        if (n->parked) return false;
    }
    return true;
}

bool Renderer::Park(Node* child, const ui::View& view) {
    // A view put under another one gets new widgets there: its own would have to leave this
    // box anyway.
    Node* parent = child->parent;
    if (parent == nullptr || view.Superview() != nullptr || !HoldsNative(*child)) return false;
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    parent->parkedChildren.push_back(child);
    child->parked = true;
    // Hidden, a widget is unmapped: it is neither drawn nor given events, and stays realized.
    gtk_widget_hide(child->fixed);
    parked_.push_back(child);
    return true;
}

void Renderer::Unpark(Node* child) {
    Node* parent = child->parent;
    auto& waiting = parent->parkedChildren;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), child), waiting.end());
    parked_.erase(std::remove(parked_.begin(), parked_.end(), child), parked_.end());
    child->parked = false;
    // A box draws its children in the order they were put, and the child comes after those
    // already in place. Most often it lies after them already (they were put again behind it);
    // otherwise it is put again too, which costs its native widget a new realization.
    GList* widgets = gtk_container_get_children(GTK_CONTAINER(parent->fixed));
    GList* at = g_list_find(widgets, child->fixed);
    const bool inBox = at != nullptr;
    bool onTop = inBox;
    for (GList* l = inBox ? at->next : nullptr; l != nullptr && onTop; l = l->next) {
        for (const Node* sibling : parent->children) onTop = onTop && sibling->fixed != l->data;
    }
    g_list_free(widgets);
    if (!onTop) {
        g_object_ref(child->fixed);
        if (inBox) gtk_container_remove(GTK_CONTAINER(parent->fixed), child->fixed);
        gtk_fixed_put(GTK_FIXED(parent->fixed), child->fixed, 0, 0);
        g_object_unref(child->fixed);
    }
}

bool Renderer::ParkedViewGone() const {
    return std::any_of(parked_.begin(), parked_.end(),
                       [](const Node* node) { return node->view.expired(); });
}

void Renderer::ReleaseParked() {
    // Destroying a node may take parked ones under it along: look again after each.
    for (bool again = true; again;) {
        again = false;
        for (Node* node : parked_) {
            if (node->view.expired()) {
                DestroyNode(node);
                again = true;
                break;
            }
        }
    }
    while (parked_.size() > kMostParked) DestroyNode(parked_.front());
}

}  // namespace ns::desktop
