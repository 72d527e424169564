#include "platform/desktop/Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/desktop/AlertSheet.h"
#include "platform/desktop/RendererNode.h"
#include "platform/desktop/ViewBox.h"
#include "platform/desktop/WindowTitle.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Loop.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace ns::desktop {

namespace {

// Every renderer alive hears every view change through the one change hook.
std::vector<Renderer*>& Renderers() {
    static std::vector<Renderer*>* all = new std::vector<Renderer*>();  // never destroyed
    return *all;
}

struct RendererNativeHost {
    Renderer::NativeWidgetHost host;
    Renderer::NativeWidgetScaler scaler;
    bool partly = false;
};

std::vector<RendererNativeHost>& NativeWidgetHosts() {
    static auto* hosts = new std::vector<RendererNativeHost>();  // never destroyed
    return *hosts;
}

// Rounds for pixel placement: halves away from zero, as the model's Round does.
int Px(double v) { return static_cast<int>(std::lround(v)); }

// The CSS that makes an entry a bare text line in the model's font and colour.
std::string EntryCss(const ui::TextField& field, double scale) {
    const ui::Color& c = field.TextColor();
    char css[512];
    std::snprintf(css, sizeof css,
                  "entry { font-family: Sans; font-weight: %s; font-size: %.2fpx; "
                  "color: rgba(%d,%d,%d,%.3f); background: none; border: none; "
                  "box-shadow: none; outline: none; min-height: 0; min-width: 0; "
                  "padding: 0; margin: 0; }",
                  field.GetFont().IsBold() ? "bold" : "normal",
                  std::max(1.0, field.GetFont().PointSize() * scale), Px(c.R() * 255),
                  Px(c.G() * 255), Px(c.B() * 255), c.A());
    return css;
}

}  // namespace

// The frame source: ready whenever the models changed since the last update.
struct Renderer::FrameSource {
    GSource base;
    Renderer* renderer;

    static gboolean Prepare(GSource* base, gint* timeout) {
        *timeout = -1;
        return reinterpret_cast<FrameSource*>(base)->renderer->NeedsSync();
    }
    static gboolean Check(GSource* base) {
        return reinterpret_cast<FrameSource*>(base)->renderer->NeedsSync();
    }
    static gboolean Dispatch(GSource* base, GSourceFunc, gpointer) {
        reinterpret_cast<FrameSource*>(base)->renderer->Sync();
        return G_SOURCE_CONTINUE;
    }
    static GSourceFuncs funcs;
};

GSourceFuncs Renderer::FrameSource::funcs = {Prepare, Check, Dispatch, nullptr, nullptr, nullptr};

// GTK delivers a window's close (GDK_DELETE) only while no grab is held or the grab widget
// lies in that window, and the alerts' grab widget lies outside it (RendererInput.cpp): the
// person's close would be dropped for as long as an alert shows. Those closes go to the
// renderer here; every other event goes on to GTK as before.
void Renderer::OnGdkEvent(GdkEvent* event, gpointer) {
    if (event->type == GDK_DELETE) {
        for (Renderer* r : Renderers()) {
            if (gtk_widget_get_window(r->window_) == event->any.window &&
                gtk_widget_has_grab(r->modalCatcher_)) {
                r->Close();
                return;
            }
        }
    }
    gtk_main_do_event(event);
}

Renderer::Renderer(ui::View::Ptr root)
    : fixedRoot_(std::move(root)), painter_(images_), router_([this] { return Root(); }) {
    // In place of GTK's own handler (gtk_main_do_event), which it still calls: once for the
    // process.
    static const bool handling =
        (gdk_event_handler_set(&Renderer::OnGdkEvent, nullptr, nullptr), true);
    (void)handling;
    Renderers().push_back(this);
    router_.SetCaretLocator([this](const ui::TextField& field, const ui::Point& point) {
        return CaretIndexAt(field, point);
    });
    ui::View::SetChangeHook(&Renderer::OnViewChanged);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), WindowTitle(ns::Bundle::Main()).c_str());
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                                       GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButton), this);
    g_signal_connect(window_, "button-release-event", G_CALLBACK(OnButton), this);
    g_signal_connect(window_, "motion-notify-event", G_CALLBACK(OnMotion), this);
    g_signal_connect(window_, "scroll-event", G_CALLBACK(OnScroll), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "realize", G_CALLBACK(OnWindowRealize), this);

    // Outside the window's tree, so that its grab redirects the events of every widget in the
    // window (GTK hands a grab widget's own descendants their events as usual).
    modalCatcher_ = gtk_invisible_new();
    gtk_widget_add_events(modalCatcher_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                             GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                                             GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK);
    g_signal_connect(modalCatcher_, "button-press-event", G_CALLBACK(OnButton), this);
    g_signal_connect(modalCatcher_, "button-release-event", G_CALLBACK(OnButton), this);
    g_signal_connect(modalCatcher_, "scroll-event", G_CALLBACK(OnScroll), this);
    g_signal_connect(modalCatcher_, "key-press-event", G_CALLBACK(OnKey), this);
    gtk_widget_show(modalCatcher_);

    stage_ = NewViewBox();
    g_signal_connect(stage_, "draw", G_CALLBACK(OnStageDraw), this);
    g_signal_connect_after(stage_, "draw", G_CALLBACK(OnStageDrawAfter), this);
    g_signal_connect(stage_, "size-allocate", G_CALLBACK(OnStageAllocate), this);
    gtk_container_add(GTK_CONTAINER(window_), stage_);

    screen_ = ui::Screen::Main().Bounds().size;
    gtk_window_set_default_size(GTK_WINDOW(window_), Px(screen_.width), Px(screen_.height));

    GSource* source = g_source_new(&FrameSource::funcs, sizeof(FrameSource));
    frameSource_ = reinterpret_cast<FrameSource*>(source);
    frameSource_->renderer = this;
    g_source_set_name(source, "ns::desktop::Renderer frame");
    // Before GTK's layout (HIGH_IDLE + 10) and paint (HIGH_IDLE + 20).
    g_source_set_priority(source, G_PRIORITY_HIGH_IDLE);
    g_source_attach(source, nullptr);

    Sync();
    gtk_widget_show(stage_);
    gtk_widget_show(window_);
}

Renderer::~Renderer() {
    if (GdkWindow* window = gtk_widget_get_window(window_)) {
        gdk_window_set_invalidate_handler(window, nullptr);
        g_object_set_data(G_OBJECT(window), kRendererKey, nullptr);
    }
    auto& all = Renderers();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    if (all.empty()) ui::View::SetChangeHook(nullptr);
    g_source_destroy(&frameSource_->base);
    g_source_unref(&frameSource_->base);
    if (wheelTimer_ != 0) g_source_remove(wheelTimer_);
    if (animationTimer_ != 0) g_source_remove(animationTimer_);
    router_.Cancel();
    router_.EndWheel();
    if (rootNode_ != nullptr) DestroyNode(rootNode_);
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(stage_, this);
    g_signal_handlers_disconnect_by_data(modalCatcher_, this);
    if (gtk_widget_has_grab(modalCatcher_)) gtk_grab_remove(modalCatcher_);
    gtk_widget_destroy(modalCatcher_);
    gtk_widget_destroy(window_);
}

void Renderer::OnWindowRealize(GtkWidget* widget, gpointer self) {
    GdkWindow* window = gtk_widget_get_window(widget);
    g_object_set_data(G_OBJECT(window), kRendererKey, self);
    gdk_window_set_invalidate_handler(window, &Renderer::OnWindowInvalidate);
}

void Renderer::OnWindowInvalidate(GdkWindow* window, cairo_region_t* region) {
    const auto* r = static_cast<const Renderer*>(g_object_get_data(G_OBJECT(window), kRendererKey));
    if (r == nullptr) return;
    for (const auto& entry : r->nodes_) {
        GtkWidget* native = entry.second->native;
        if (native == nullptr || entry.second->nativePartly || !gtk_widget_is_drawable(native)) {
            continue;
        }
        int x = 0, y = 0;
        if (!gtk_widget_translate_coordinates(native, r->window_, 0, 0, &x, &y)) continue;
        const cairo_rectangle_int_t whole{x, y, gtk_widget_get_allocated_width(native),
                                          gtk_widget_get_allocated_height(native)};
        if (cairo_region_contains_rectangle(region, &whole) == CAIRO_REGION_OVERLAP_PART) {
            cairo_region_union_rectangle(region, &whole);
        }
    }
}

ui::View::Ptr Renderer::Root() const {
    if (fixedRoot_) return fixedRoot_;
    return ui::Application::Shared().KeyWindow();
}

void Renderer::OnViewChanged(ui::View& view) {
    for (Renderer* r : Renderers()) r->dirty_.insert(&view);
}

bool Renderer::NeedsSync() const {
    if (!dirty_.empty() || fullResync_ || ParkedViewGone()) return true;
    if (Root() != shownRoot_) return true;
    if (ui::AlertView::VisibleRevision() != alertRevision_) return true;
    if (router_.FocusedField().get() != focused_) return true;
    return ui::Screen::Main().Bounds().size != screen_;
}

// --- the widget tree

Renderer::Node* Renderer::CreateNode(const ui::View::Ptr& view, Node* parent) {
    auto owned = std::make_unique<Node>();
    Node* node = owned.get();
    node->owner = this;
    node->key = view.get();
    node->view = view;
    node->parent = parent;
    node->fixed = NewViewBox();
    node->drawn.view = view;
    node->drawn.scale = &scale_;
    AttachDrawnView(node->fixed, &node->drawn);
    g_signal_connect(node->fixed, "draw", G_CALLBACK(OnDraw), node);
    g_signal_connect_after(node->fixed, "draw", G_CALLBACK(OnDrawAfter), node);
    if (dynamic_cast<const ui::TextField*>(view.get()) != nullptr) {
        node->entry = gtk_entry_new();
        gtk_entry_set_has_frame(GTK_ENTRY(node->entry), FALSE);
        gtk_entry_set_width_chars(GTK_ENTRY(node->entry), 0);
        // Only the model's first responder has the keyboard focus (and a caret).
        gtk_widget_set_can_focus(node->entry, FALSE);
        node->css = gtk_css_provider_new();
        gtk_style_context_add_provider(gtk_widget_get_style_context(node->entry),
                                       GTK_STYLE_PROVIDER(node->css),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        // The entry shows; the person's clicks go to the models like any other.
        gtk_widget_add_events(
            node->entry, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
        g_signal_connect(node->entry, "button-press-event", G_CALLBACK(OnButton), this);
        g_signal_connect(node->entry, "button-release-event", G_CALLBACK(OnButton), this);
        g_signal_connect(node->entry, "motion-notify-event", G_CALLBACK(OnMotion), this);
        gtk_fixed_put(GTK_FIXED(node->fixed), node->entry, 0, 0);
        gtk_widget_show(node->entry);
    }
    for (const RendererNativeHost& host : NativeWidgetHosts()) {
        GtkWidget* native = host.host(*view);
        if (native == nullptr) continue;
        // A widget still in another box (a renderer that showed the view before) moves here.
        if (GtkWidget* old = gtk_widget_get_parent(native)) {
            gtk_container_remove(GTK_CONTAINER(old), native);
        }
        node->native = GTK_WIDGET(g_object_ref(native));
        node->nativeScaler = host.scaler;
        node->nativePartly = host.partly;
        if (host.partly) partlyNatives_.push_back(node);
        gtk_fixed_put(GTK_FIXED(node->fixed), native, 0, 0);  // first: under the subviews
        gtk_widget_show(native);
        break;
    }
    nodes_[view.get()] = std::move(owned);
    for (const ui::View::Ptr& sub : view->Subviews()) {
        Node* child = CreateNode(sub, node);
        gtk_fixed_put(GTK_FIXED(node->fixed), child->fixed, 0, 0);
        node->children.push_back(child);
    }
    return node;
}

void Renderer::ForgetSubtree(Node* node) {
    for (Node* child : node->children) ForgetSubtree(child);
    for (Node* child : node->parkedChildren) ForgetSubtree(child);
    if (node->parked) {
        parked_.erase(std::remove(parked_.begin(), parked_.end(), node), parked_.end());
    }
    g_signal_handlers_disconnect_by_data(node->fixed, node);
    if (node->entry != nullptr) g_signal_handlers_disconnect_by_data(node->entry, this);
    if (node->css != nullptr) g_object_unref(node->css);
    if (node->nativePartly) {
        partlyNatives_.erase(std::remove(partlyNatives_.begin(), partlyNatives_.end(), node),
                             partlyNatives_.end());
    }
    if (node->native != nullptr) {
        // The host may have destroyed it already; otherwise it leaves the box, not the host.
        if (gtk_widget_get_parent(node->native) == node->fixed) {
            gtk_container_remove(GTK_CONTAINER(node->fixed), node->native);
        }
        g_object_unref(node->native);
    }
    if (node->key == focused_) focused_ = nullptr;
    nodes_.erase(node->key);  // frees node
}

void Renderer::DestroyNode(Node* node) {
    GtkWidget* widget = node->fixed;
    if (node->parent != nullptr) {
        auto& siblings = node->parked ? node->parent->parkedChildren : node->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    }
    if (node == rootNode_) rootNode_ = nullptr;
    ForgetSubtree(node);
    gtk_widget_destroy(widget);
}

void Renderer::Reconcile(Node& node, const ui::View& view) {
    const std::vector<ui::View::Ptr>& subs = view.Subviews();
    auto same = [&](size_t i) {
        return i < node.children.size() && i < subs.size() &&
               node.children[i]->key == subs[i].get() && node.children[i]->view.lock() == subs[i];
    };
    size_t first = 0;
    while (first < subs.size() && same(first)) ++first;
    if (first == subs.size() && node.children.size() == subs.size()) return;

    // Children that left go with their widgets (a view that moved elsewhere gets a new node
    // there); one whose native widget must stay realized waits for its view, parked.
    std::unordered_set<const ui::View*> wanted;
    for (const ui::View::Ptr& sub : subs) wanted.insert(sub.get());
    const std::vector<Node*> before = node.children;
    for (Node* child : before) {
        std::shared_ptr<ui::View> v = child->view.lock();
        if (!v || v.get() != child->key) {
            DestroyNode(child);
        } else if (wanted.count(child->key) == 0 && !Park(child, *v)) {
            DestroyNode(child);
        }
    }
    first = 0;
    while (first < subs.size() && same(first)) ++first;
    // From the first difference on, the children are put again in the models' order (a
    // GtkFixed draws its children in the order they were put).
    std::vector<Node*> tail(node.children.begin() + static_cast<long>(first), node.children.end());
    std::vector<GtkWidget*> held;
    for (Node* child : tail) {
        held.push_back(GTK_WIDGET(g_object_ref(child->fixed)));
        gtk_container_remove(GTK_CONTAINER(node.fixed), child->fixed);
    }
    node.children.resize(first);
    for (size_t i = first; i < subs.size(); ++i) {
        auto found = nodes_.find(subs[i].get());
        Node* child = found == nodes_.end() ? nullptr : found->second.get();
        if (child != nullptr && child->view.lock() != subs[i]) {
            DestroyNode(child);
            child = nullptr;
        }
        if (child != nullptr && child->parent != &node) {
            // Still under another view that has not been brought up to date: start afresh.
            DestroyNode(child);
            child = nullptr;
        }
        if (child != nullptr && child->parked) {
            // Back from parking: placed anew (the window may have been resized meanwhile).
            Unpark(child);
            node.children.push_back(child);
            PlaceAll(*child);
            continue;
        }
        node.children.push_back(child);
        if (child == nullptr) {
            child = CreateNode(subs[i], &node);
            node.children.back() = child;
            gtk_fixed_put(GTK_FIXED(node.fixed), child->fixed, 0, 0);
            PlaceAll(*child);
        } else {
            gtk_fixed_put(GTK_FIXED(node.fixed), child->fixed, 0, 0);
            child->x = child->y = INT32_MIN;
            Place(*child, *subs[i]);
        }
    }
    for (GtkWidget* widget : held) g_object_unref(widget);
}

void Renderer::Place(Node& node, const ui::View& view) {
    // A transformed view's widget holds its untransformed bounds about its centre; the box
    // that draws it applies the transform (its frame is only the turned bounds' bounding box).
    const ui::Rect frame = view.Transform() == ui::AffineTransform()
                               ? view.Frame()
                               : ui::Rect(view.Center().x - view.Bounds().Width() / 2,
                                          view.Center().y - view.Bounds().Height() / 2,
                                          view.Bounds().Width(), view.Bounds().Height());
    ui::Point origin = frame.origin;
    GtkWidget* container = stage_;
    ui::Point base = offset_;
    if (node.parent != nullptr) {
        if (std::shared_ptr<ui::View> parent = node.parent->view.lock()) {
            origin.x -= parent->Bounds().origin.x;
            origin.y -= parent->Bounds().origin.y;
        }
        container = node.parent->fixed;
        base = ui::Point();
    } else {
        origin = ui::Point();
    }
    const int x = Px(base.x + origin.x * scale_), y = Px(base.y + origin.y * scale_);
    const int width = std::max(0, Px(base.x + (origin.x + frame.Width()) * scale_) - x);
    const int height = std::max(0, Px(base.y + (origin.y + frame.Height()) * scale_) - y);
    if (x != node.x || y != node.y) {
        gtk_fixed_move(GTK_FIXED(container), node.fixed, x, y);
        node.x = x;
        node.y = y;
    }
    if (width != node.width || height != node.height) {
        gtk_widget_set_size_request(node.fixed, width, height);
        if (node.native != nullptr) gtk_widget_set_size_request(node.native, width, height);
        node.width = width;
        node.height = height;
    }
    if (node.nativeScaler && node.nativeScale != scale_) {
        node.nativeScale = scale_;
        node.nativeScaler(node.native, scale_);
    }
    gtk_widget_set_visible(node.fixed, !node.parked && !view.IsHidden());
    if (std::fabs(gtk_widget_get_opacity(node.fixed) - view.Alpha()) > 1e-3) {
        gtk_widget_set_opacity(node.fixed, view.Alpha());
    }
}

void Renderer::SyncEntry(Node& node, const ui::View& view) {
    const auto& field = static_cast<const ui::TextField&>(view);
    GtkEntry* entry = GTK_ENTRY(node.entry);
    const ui::Rect r = field.DisplayedTextRect();
    const int x = Px(r.X() * scale_), y = Px(r.Y() * scale_);
    gtk_fixed_move(GTK_FIXED(node.fixed), node.entry, x, y);
    gtk_widget_set_size_request(node.entry, std::max(1, Px(r.MaxX() * scale_) - x),
                                std::max(1, Px(r.MaxY() * scale_) - y));
    if (field.Text() != gtk_entry_get_text(entry)) gtk_entry_set_text(entry, field.Text().c_str());
    if (field.Placeholder() != (gtk_entry_get_placeholder_text(entry) != nullptr
                                    ? gtk_entry_get_placeholder_text(entry)
                                    : "")) {
        gtk_entry_set_placeholder_text(entry, field.Placeholder().c_str());
    }
    gtk_entry_set_visibility(entry, !field.IsSecureTextEntry());
    gtk_entry_set_alignment(entry, field.GetTextAlignment() == ui::TextAlignment::Center  ? 0.5f
                                   : field.GetTextAlignment() == ui::TextAlignment::Right ? 1.0f
                                                                                          : 0.0f);
    std::string css = EntryCss(field, scale_);
    if (css != node.cssText) {
        gtk_css_provider_load_from_data(node.css, css.c_str(), -1, nullptr);
        node.cssText = std::move(css);
    }
    // The entry draws the model's caret and selection: its cursor at the caret, its selection
    // bound at the selection's other end (none shown while the field is not editing).
    int caret = -1, anchor = -1;
    if (field.IsEditing()) {
        const ui::TextRange& sel = field.SelectedRange();
        caret = static_cast<int>(field.CaretPosition());
        anchor = caret == static_cast<int>(sel.location)
                     ? static_cast<int>(sel.location + sel.length)
                     : static_cast<int>(sel.location);
    } else {
        caret = anchor = gtk_editable_get_position(GTK_EDITABLE(entry));
    }
    gint bound = 0;
    g_object_get(entry, "selection-bound", &bound, nullptr);
    if (gtk_editable_get_position(GTK_EDITABLE(entry)) != caret || bound != anchor) {
        gtk_editable_select_region(GTK_EDITABLE(entry), anchor, caret);
    }
}

std::optional<size_t> Renderer::CaretIndexAt(const ui::TextField& field, const ui::Point& point) {
    auto found = nodes_.find(&field);
    if (found == nodes_.end() || found->second->entry == nullptr) return std::nullopt;
    // Keys typed since the last frame may not have reached the entry yet.
    SyncEntry(*found->second, field);
    GtkEntry* entry = GTK_ENTRY(found->second->entry);
    // The point in the entry's pixels (SyncEntry put the entry at the displayed text rect).
    const ui::Rect r = field.DisplayedTextRect();
    const double x = (point.x - r.X()) * scale_, y = (point.y - r.Y()) * scale_;
    PangoLayout* layout = gtk_entry_get_layout(entry);
    int lx = 0, ly = 0;
    gtk_entry_get_layout_offsets(entry, &lx, &ly);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    // Any height inside the field means the one line of text.
    const double lineY = std::clamp(y - ly, 0.0, std::max(0.0, logical.height - 1.0));
    const char* text = pango_layout_get_text(layout);
    // Past the text's end (Pango would answer the last character's leading edge).
    if (x - lx >= logical.x + logical.width) return static_cast<size_t>(g_utf8_strlen(text, -1));
    int index = 0, trailing = 0;
    pango_layout_xy_to_index(layout, static_cast<int>((x - lx) * PANGO_SCALE),
                             static_cast<int>(lineY * PANGO_SCALE), &index, &trailing);
    return static_cast<size_t>(g_utf8_pointer_to_offset(text, text + index) + trailing);
}

void Renderer::SyncNode(Node& node, const ui::View& view) {
    Reconcile(node, view);
    Place(node, view);
    if (view.Bounds().origin != node.boundsOrigin) {
        node.boundsOrigin = view.Bounds().origin;
        for (Node* child : node.children) {
            if (std::shared_ptr<ui::View> v = child->view.lock()) Place(*child, *v);
        }
    }
    if (node.entry != nullptr) SyncEntry(node, view);
    // A turned view draws outside its widget's own rectangle, and so does all it holds; so did
    // one whose transform has just gone (what it covered must be drawn again).
    const bool transformed = UnderTransform(node);
    gtk_widget_queue_draw(transformed || node.transformed ? stage_ : node.fixed);
    node.transformed = transformed;
}

bool Renderer::UnderTransform(const Node& node) const {
    for (const Node* n = &node; n != nullptr; n = n->parent) {
        std::shared_ptr<ui::View> v = n->view.lock();
        if (v && (DrawnTransform(*v) != ui::AffineTransform() ||
                  !v->GetLayer().AnimationKeys().empty())) {
            return true;
        }
    }
    return false;
}

void Renderer::PlaceAll(Node& node) {
    std::shared_ptr<ui::View> view = node.view.lock();
    if (!view) return;
    node.x = node.y = INT32_MIN;
    node.width = node.height = -1;
    SyncNode(node, *view);
    for (Node* child : node.children) PlaceAll(*child);
}

// --- frames

void Renderer::UpdateScale() {
    ui::View::Ptr root = shownRoot_;
    const double w = stageSize_.width, h = stageSize_.height;
    if (!root || w <= 0 || h <= 0) return;
    if (auto window = std::dynamic_pointer_cast<ui::Window>(root);
        window && screen_.width > 0 && screen_.height > 0) {
        // The screen fits the window; the window's points fill it.
        scale_ = std::min(w / screen_.width, h / screen_.height);
        offset_ = ui::Point();
        const ui::Rect frame(window->Frame().origin, ui::Size(w / scale_, h / scale_));
        if (window->Frame() != frame) {
            window->SetFrame(frame);
            window->LayoutControllerViews();
            ui::RunLayoutPass();
        }
        return;
    }
    const ui::Size size = root->Frame().size;
    if (size.width <= 0 || size.height <= 0) return;
    scale_ = std::min(w / size.width, h / size.height);
    offset_ = ui::Point(std::floor((w - size.width * scale_) / 2),
                        std::floor((h - size.height * scale_) / 2));
}

void Renderer::SyncWindowSize() {
    const ui::Size screen = ui::Screen::Main().Bounds().size;
    if (screen == screen_) return;
    screen_ = screen;
    gtk_window_resize(GTK_WINDOW(window_), Px(screen.width), Px(screen.height));
}

void Renderer::SyncFocus() {
    std::shared_ptr<ui::TextField> field = router_.FocusedField();
    if (field.get() == focused_) return;
    if (auto old = nodes_.find(focused_); old != nodes_.end() && old->second->entry != nullptr) {
        gtk_widget_set_can_focus(old->second->entry, FALSE);
    }
    focused_ = field.get();
    auto found = field ? nodes_.find(field.get()) : nodes_.end();
    if (found != nodes_.end() && found->second->entry != nullptr && Shown(*found->second)) {
        gtk_widget_set_can_focus(found->second->entry, TRUE);
        gtk_entry_grab_focus_without_selecting(GTK_ENTRY(found->second->entry));
        SyncEntry(*found->second, *field);
    } else {
        gtk_window_set_focus(GTK_WINDOW(window_), nullptr);
    }
}

void Renderer::UpdateAnimations() {
    animating_.clear();
    for (const auto& [key, node] : nodes_) {
        if (!Shown(*node)) continue;
        auto* image = dynamic_cast<const ui::ImageView*>(key);
        if ((image != nullptr && image->IsAnimating()) ||
            !key->GetLayer().AnimationKeys().empty()) {
            animating_.push_back(node->view);
        }
    }
    if (!animating_.empty() && animationTimer_ == 0) {
        animationTimer_ = g_timeout_add(33, &Renderer::OnAnimationFrame, this);
    }
}

gboolean Renderer::OnAnimationFrame(gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    bool any = false;
    for (const auto& weak : r->animating_) {
        std::shared_ptr<ui::View> view = weak.lock();
        if (!view) continue;
        auto* image = dynamic_cast<ui::ImageView*>(view.get());
        const bool layerAnimates = !view->GetLayer().AnimationKeys().empty();
        if (!layerAnimates && (image == nullptr || !image->IsAnimating())) continue;
        auto found = r->nodes_.find(view.get());
        if (found == r->nodes_.end()) continue;
        // A layer's animation (a shake) moves the view over its neighbours.
        gtk_widget_queue_draw(layerAnimates ? r->stage_ : found->second->fixed);
        any = true;
    }
    if (any) return G_SOURCE_CONTINUE;
    r->animationTimer_ = 0;
    return G_SOURCE_REMOVE;
}

void Renderer::Sync() {
    ++syncs_;
    ui::RunLayoutPass();
    ReleaseParked();
    ui::View::Ptr root = Root();
    if (root != shownRoot_ || (root && rootNode_ == nullptr)) {
        if (rootNode_ != nullptr) DestroyNode(rootNode_);
        shownRoot_ = root;
        fullResync_ = true;
        if (root) {
            UpdateScale();
            rootNode_ = CreateNode(root, nullptr);
            gtk_fixed_put(GTK_FIXED(stage_), rootNode_->fixed, 0, 0);
        }
    }
    SyncWindowSize();
    if (fullResync_) {
        fullResync_ = false;
        // What views draw may depend on more than their own models (the screen's turn).
        ++drawEpoch_;
        dirty_.clear();
        UpdateScale();
        if (rootNode_ != nullptr) PlaceAll(*rootNode_);
    }
    // A change made while bringing widgets up to date (a layout) is taken in the same frame;
    // a model that keeps changing itself waits for the next one.
    for (int round = 0; round < 4 && !dirty_.empty(); ++round) {
        std::unordered_set<const ui::View*> dirty;
        dirty.swap(dirty_);
        for (const ui::View* key : dirty) {
            auto found = nodes_.find(key);
            if (found == nodes_.end()) continue;
            Node* node = found->second.get();
            std::shared_ptr<ui::View> view = node->view.lock();
            if (!view || view.get() != key) continue;
            SyncNode(*node, *view);
        }
    }
    dirty_.clear();
    ReleaseParked();
    if (ui::AlertView::VisibleRevision() != alertRevision_) {
        alertRevision_ = ui::AlertView::VisibleRevision();
        alertPressed_ = -1;
        gtk_widget_queue_draw(stage_);
    }
    UpdateModalGrab();
    SyncFocus();
    UpdateAnimations();
}

// --- drawing

gboolean Renderer::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* node = static_cast<Node*>(data);
    std::shared_ptr<ui::View> view = node->view.lock();
    if (!view) return FALSE;
    Renderer* r = node->owner;
    const double s = r->scale_;
    // The widget's clip is all it may draw (GTK clips it there): a label's glyphs reach out.
    GtkAllocation own, clip;
    gtk_widget_get_allocation(widget, &own);
    gtk_widget_get_clip(widget, &clip);
    const cairo_rectangle_int_t area{clip.x - own.x, clip.y - own.y, clip.width, clip.height};
    auto* image = dynamic_cast<const ui::ImageView*>(view.get());
    // An animation changes the drawing without a change of the model; a fill alone costs no
    // more than a copy of its pixels would.
    const bool fillOnly = ViewPainter::DrawsBackgroundOnly(*view);
    const bool keep = !(image != nullptr && image->IsAnimating()) && !fillOnly && r->PictureShows();
    node->content.Draw(cr, {view->Revision(), s, r->drawEpoch_}, area, keep, [&](cairo_t* c) {
        if (!fillOnly) ++r->paints_;
        cairo_save(c);
        cairo_scale(c, s, s);
        r->painter_.PaintContent(c, *view, ui::LoopNow());
        cairo_restore(c);
    });
    if (view->ClipsToBounds()) {
        // Left on the context for the subviews that GTK draws next.
        ViewPainter::RoundedRect(cr, ui::Rect(0, 0, node->width, node->height),
                                 view->GetLayer().CornerRadius() * s);
        cairo_clip(cr);
    }
    return FALSE;
}

gboolean Renderer::OnDrawAfter(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* node = static_cast<Node*>(data);
    std::shared_ptr<ui::View> view = node->view.lock();
    if (!view) return FALSE;
    cairo_save(cr);
    cairo_scale(cr, node->owner->scale_, node->owner->scale_);
    node->owner->painter_.PaintBorder(cr, *view);
    cairo_restore(cr);
    return FALSE;
}

gboolean Renderer::OnStageDraw(GtkWidget*, cairo_t* cr, gpointer) {
    // Around a root that does not fill the window.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    return FALSE;
}

gboolean Renderer::OnStageDrawAfter(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
    if (!alert || !r->shownRoot_) return FALSE;
    cairo_save(cr);
    cairo_translate(cr, r->offset_.x, r->offset_.y);
    cairo_scale(cr, r->scale_, r->scale_);
    AlertSheet(*alert, r->shownRoot_->Frame().size).Paint(cr, r->alertPressed_);
    cairo_restore(cr);
    return FALSE;
}

void Renderer::OnStageAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    auto* r = static_cast<Renderer*>(self);
    if (allocation->width == r->stageSize_.width && allocation->height == r->stageSize_.height) {
        return;
    }
    r->stageSize_ = *allocation;
    // Widgets are not moved inside an allocation: the next frame places them.
    r->fullResync_ = true;
}

const Renderer::Node* Renderer::ShownNode(const ui::View& view) const {
    auto found = nodes_.find(&view);
    return found != nodes_.end() && Shown(*found->second) ? found->second.get() : nullptr;
}

bool Renderer::PictureShows() const {
    for (const Node* node : partlyNatives_) {
        if (gtk_widget_is_drawable(node->native)) return true;
    }
    return false;
}

GtkWidget* Renderer::WidgetFor(const ui::View& view) const {
    const Node* node = ShownNode(view);
    return node != nullptr ? node->fixed : nullptr;
}

void Renderer::AddNativeWidgetHost(NativeWidgetHost host, NativeWidgetScaler scaler, bool partly) {
    NativeWidgetHosts().push_back(RendererNativeHost{std::move(host), std::move(scaler), partly});
}

GtkWidget* Renderer::NativeWidgetFor(const ui::View& view) const {
    const Node* node = ShownNode(view);
    return node != nullptr ? node->native : nullptr;
}

GtkWidget* Renderer::EntryFor(const ui::View& view) const {
    const Node* node = ShownNode(view);
    return node != nullptr ? node->entry : nullptr;
}

}  // namespace ns::desktop
