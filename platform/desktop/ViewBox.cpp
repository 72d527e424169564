#include "platform/desktop/ViewBox.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <variant>

#include "platform/ui/AnimationValue.h"
#include "platform/ui/Label.h"
#include "platform/ui/Loop.h"

namespace ns::desktop {

namespace {

// A GtkFixed that asks for its own size request only: a view's subviews may stand outside
// its bounds without making it (and the window) larger.
struct ViewBox {
    GtkFixed parent;
};
struct ViewBoxClass {
    GtkFixedClass parent;
};
G_DEFINE_TYPE(ViewBox, view_box, GTK_TYPE_FIXED)

void RequestedWidth(GtkWidget* widget, gint* minimum, gint* natural) {
    gint w = -1;
    gtk_widget_get_size_request(widget, &w, nullptr);
    *minimum = *natural = std::max(0, w);
}

void RequestedHeight(GtkWidget* widget, gint* minimum, gint* natural) {
    gint h = -1;
    gtk_widget_get_size_request(widget, nullptr, &h);
    *minimum = *natural = std::max(0, h);
}

GQuark DrawnViewQuark() {
    static const GQuark quark = g_quark_from_static_string("ns-desktop-drawn-view");
    return quark;
}

}  // namespace

// The transform a view is drawn with now: its layer's (an animation's value while one runs)
// followed by the view's own, both about the bounds' centre.
ui::AffineTransform DrawnTransform(const ui::View& view) {
    ui::AffineTransform t = view.Transform();
    std::optional<ui::AnimationValue> layer =
        view.GetLayer().PresentationValue("transform", ui::LoopNow());
    if (layer && std::holds_alternative<ui::Transform3D>(*layer)) {
        t = std::get<ui::Transform3D>(*layer).ToAffine().Concat(t);
    }
    return t;
}

namespace {

// Draws the children in the order they were put (the models' order), each turned, scaled and
// moved by its view's transform about the middle of its widget (the bounds' centre).
gboolean ViewBoxDraw(GtkWidget* widget, cairo_t* cr) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l != nullptr; l = l->next) {
        GtkWidget* child = GTK_WIDGET(l->data);
        auto* drawn =
            static_cast<RendererDrawnView*>(g_object_get_qdata(G_OBJECT(child), DrawnViewQuark()));
        std::shared_ptr<ui::View> view = drawn != nullptr ? drawn->view.lock() : nullptr;
        const ui::AffineTransform t = view ? DrawnTransform(*view) : ui::AffineTransform();
        if (t == ui::AffineTransform()) {
            gtk_container_propagate_draw(GTK_CONTAINER(widget), child, cr);
            continue;
        }
        GtkAllocation own, at;
        gtk_widget_get_allocation(widget, &own);
        gtk_widget_get_allocation(child, &at);
        const double cx = at.x - own.x + at.width / 2.0, cy = at.y - own.y + at.height / 2.0;
        const double s = *drawn->scale;
        cairo_matrix_t m;
        cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx * s, t.ty * s);
        cairo_save(cr);
        cairo_translate(cr, cx, cy);
        cairo_transform(cr, &m);
        cairo_translate(cr, -cx, -cy);
        gtk_container_propagate_draw(GTK_CONTAINER(widget), child, cr);
        cairo_restore(cr);
    }
    g_list_free(children);
    return FALSE;
}

// Where the box may draw: its own rectangle (which also bounds what its children draw), for a
// label also the room its glyphs may take beyond its bounds (accents above, descenders and
// ogoneks below, overhangs at the sides).
void ViewBoxSizeAllocate(GtkWidget* widget, GtkAllocation* allocation) {
    GTK_WIDGET_CLASS(view_box_parent_class)->size_allocate(widget, allocation);
    GtkAllocation clip = *allocation;
    auto* drawn =
        static_cast<RendererDrawnView*>(g_object_get_qdata(G_OBJECT(widget), DrawnViewQuark()));
    std::shared_ptr<ui::View> view = drawn != nullptr ? drawn->view.lock() : nullptr;
    if (auto* label = dynamic_cast<const ui::Label*>(view.get()); label && drawn->scale) {
        // Half a line above and below and a quarter of one at each side hold any glyph's ink.
        const double line = label->GetFont().LineHeight() * *drawn->scale;
        const int dy = static_cast<int>(std::ceil(line / 2)),
                  dx = static_cast<int>(std::ceil(line / 4));
        clip.x -= dx;
        clip.y -= dy;
        clip.width += 2 * dx;
        clip.height += 2 * dy;
    }
    gtk_widget_set_clip(widget, &clip);
}

void view_box_class_init(ViewBoxClass* klass) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
    widget->size_allocate = ViewBoxSizeAllocate;
    widget->get_preferred_width = RequestedWidth;
    widget->get_preferred_height = RequestedHeight;
    widget->draw = ViewBoxDraw;
}

void view_box_init(ViewBox*) {}

}  // namespace

GtkWidget* NewViewBox() { return GTK_WIDGET(g_object_new(view_box_get_type(), nullptr)); }

void AttachDrawnView(GtkWidget* widget, RendererDrawnView* drawn) {
    g_object_set_qdata(G_OBJECT(widget), DrawnViewQuark(), drawn);
}

}  // namespace ns::desktop
