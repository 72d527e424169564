#ifndef PLATFORM_DESKTOP_RENDERER_H
#define PLATFORM_DESKTOP_RENDERER_H
// Shows a tree of view models in a GTK window, and hands a person's input back to the models.
//
// Mirroring. Each view has one GtkFixed, placed in its superview's at its frame less the
// superview's bounds origin (so a scroll view's content moves with its offset), sized to its
// frame; hidden is the widget's visibility and alpha its opacity. A view's own content is
// drawn on that widget's "draw" signal under its subviews and its border over them
// (ViewPainter); clipsToBounds clips the subviews to the bounds and the corner radius. A text
// field also holds a frameless GtkEntry over its displayed text rectangle, which shows the
// model's text, placeholder and caret (secure text as invisible characters) and never edits
// by itself. Every change of a view marks it (the view change hook); a frame source with a
// priority above GTK's layout and paint brings the marked views' widgets up to date before
// the next frame, so many changes in one step cost one update and the widget tree is never
// built again for a change. An image view's frames are redrawn on a 30 Hz timer while it
// animates. The top visible alert shows as an AlertSheet over everything.
//
// Size. The window is the device's screen (ui::Screen: 480 x 320 for a phone held in
// landscape, 1024 x 768 for a pad) and is resized when the interface turns. A window the
// person resizes scales what it shows: pixels per point are as many as fit the screen in the
// window; the application's window (a ui::Window root) then takes the rest of the window's
// width or height as points of its own, so that its views fill the window, and native widgets
// show their content at the same scale (a web page's zoom). Any other root is scaled to fit
// and centred.
// The window's title is the name the application's bundle gives for showing (WindowTitle).
//
// Input (InputRouter): the left button presses, moves and releases touches at the hit-tested
// view, drags scroll views and swipes; the wheel drags the scroll view under the pointer and
// ends the drag kWheelRestMs after the last notch; keys type into the first responder.
//
// Alerts are modal. While an alert shows, a GTK grab on a widget outside the window's tree
// takes every pointer and key event before any widget under it (a native widget such as the
// web engine's view included, which would otherwise take its clicks, wheel and keys first):
// a click on one of its buttons chooses it (AlertView::ClickButtonAtIndex), Return chooses
// the default button and Escape the cancel button, and everything else is swallowed. Closing
// the window is not input to the alert: it reaches the close handler with or without one.
//
// Native widgets. A view whose content a native GTK widget shows (a web view's engine) gets
// that widget from the hosts added with AddNativeWidgetHost: it sits in the view's GtkFixed
// under the subviews' widgets and is sized to the view's frame. The renderer holds a reference
// while it shows the widget and takes it out of its box when the view's node goes; the host
// keeps the widget's own lifetime. A native widget is always redrawn whole: GTK 3 draws one
// that paints with OpenGL (the web engine's composited page) into the redrawn part of it
// mirrored top to bottom, so a part of the page that another window had covered stayed
// unpainted while another part was painted over again. Every region of the window to be
// redrawn takes in the whole of each such native widget it touches; a host whose widgets draw
// with cairo (a movie's picture) says so, and a change of a view over one of them redraws
// only that part of it.
//
// Parking. Taken out of its box, a native widget is unrealized, and realized again when its
// view comes back, which costs the web engine a new backing store each time (the old one is
// not given back). So a view whose widgets hold a native one and that leaves the tree while it
// lives (the screen under a modal one) keeps its widgets, hidden in its superview's box: not
// drawn, no input, still realized. When the view comes back under the same superview its
// widgets show again, placed and sized anew; anywhere else it gets new ones. Parked widgets go
// for real when their view is freed, when their superview's widget goes, and, oldest first,
// beyond kMostParked.
//
// One change hook serves every renderer alive. GTK thread only; the models' loop must run in
// GLib on the same thread (RunLoopSource).

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/desktop/ImageCache.h"
#include "platform/desktop/InputRouter.h"
#include "platform/desktop/ViewPainter.h"
#include "platform/ui/View.h"

namespace ns::desktop {

class Renderer {
public:
    // How long the wheel rests before its drag ends.
    static constexpr unsigned kWheelRestMs = 150;
    // The most views whose widgets wait parked for them to come back.
    static constexpr size_t kMostParked = 4;
    // The widget that shows the view's content, or null for a view the host does not know.
    using NativeWidgetHost = std::function<GtkWidget*(ui::View& view)>;
    // Shows the content of a host's widget at a number of pixels per point.
    using NativeWidgetScaler = std::function<void(GtkWidget* widget, double scale)>;

    // Adds a host asked for every view a renderer made from now on shows (process-wide, GTK
    // thread; hosts are kept for the life of the process), and what scales its widgets' content
    // when the window's scale changes (none: the content keeps one pixel per point). partly:
    // its widgets draw with cairo and may be redrawn in part (Native widgets, above).
    static void AddNativeWidgetHost(NativeWidgetHost host, NativeWidgetScaler scaler = nullptr,
                                    bool partly = false);

    // root: the tree to show; null: the application's key window, followed when it changes.
    // The window is made and shown at once.
    explicit Renderer(ui::View::Ptr root = nullptr);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    GtkWidget* Window() const { return window_; }
    // The tree shown now; null when there is none.
    ui::View::Ptr Root() const;
    // Called when the person closes the window (the default hides it).
    void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

    // Brings the window in step with the models now; the frame source does this by itself.
    void Sync();
    // Pixels per point, and the conversions between the root's points and the window's pixels.
    double Scale() const { return scale_; }
    ui::Point ToWindow(const ui::Point& point) const;
    ui::Point FromWindow(const ui::Point& pixel) const;
    // The widget that mirrors the view; null when the view is not shown.
    GtkWidget* WidgetFor(const ui::View& view) const;
    // The entry of a shown text field; null otherwise.
    GtkWidget* EntryFor(const ui::View& view) const;
    // The native widget of a shown view that has one; null otherwise.
    GtkWidget* NativeWidgetFor(const ui::View& view) const;
    InputRouter& Input() { return router_; }
    ImageCache& Images() { return images_; }
    // How many times Sync brought widgets up to date (tests tell a frame from none).
    uint64_t Syncs() const { return syncs_; }
    // How many times a view's own content was painted from its model, a fill of its background
    // colour alone not counted; a view redrawn without a change (over a native widget that
    // redraws) shows the pixels it painted last (DrawnContent). Pixels are kept only while
    // such a widget shows, so a window without a movie holds no copies of its views (a list of
    // thumbnails would otherwise hold each picture twice).
    uint64_t Paints() const { return paints_; }

private:
    struct Node;
    struct FrameSource;

    bool NeedsSync() const;
    Node* CreateNode(const ui::View::Ptr& view, Node* parent);
    void DestroyNode(Node* node);
    void ForgetSubtree(Node* node);
    // Parking (RendererParking.cpp). Park hides a child whose view left its superview and
    // keeps it; false when it is not kept (it holds no native widget, or its view went
    // elsewhere). Unpark shows a parked child again among its parent's children.
    bool Park(Node* child, const ui::View& view);
    void Unpark(Node* child);
    // Destroys the parked nodes whose view is gone, and the oldest beyond kMostParked.
    void ReleaseParked();
    bool ParkedViewGone() const;
    static bool HoldsNative(const Node& node);
    // Neither parked nor under a parked node.
    static bool Shown(const Node& node);
    const Node* ShownNode(const ui::View& view) const;
    void Reconcile(Node& node, const ui::View& view);
    void Place(Node& node, const ui::View& view);
    void SyncEntry(Node& node, const ui::View& view);
    // The caret's code-point index for a point of the field, from the glyphs its entry shows.
    std::optional<size_t> CaretIndexAt(const ui::TextField& field, const ui::Point& point);
    void SyncNode(Node& node, const ui::View& view);
    void PlaceAll(Node& node);
    // Whether the node or one above it is drawn transformed.
    bool UnderTransform(const Node& node) const;
    void SyncFocus();
    void SyncWindowSize();
    void UpdateScale();
    void UpdateAnimations();
    std::optional<ui::Point> EventPoint(double xRoot, double yRoot) const;

    static void OnViewChanged(ui::View& view);
    static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer node);
    static gboolean OnDrawAfter(GtkWidget* widget, cairo_t* cr, gpointer node);
    static gboolean OnStageDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean OnStageDrawAfter(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void OnStageAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer self);
    static gboolean OnButton(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer self);
    static gboolean OnScroll(GtkWidget* widget, GdkEventScroll* event, gpointer self);
    static gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean OnAlertKey(Renderer& r, const GdkEventKey& event);
    // Takes the grab while an alert shows and gives it back when none does.
    void UpdateModalGrab();
    static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
    // Every GDK event passes here before GTK's own handling (see Renderer.cpp).
    static void OnGdkEvent(GdkEvent* event, gpointer data);
    // The person closed the window: the close handler, else the window hides.
    void Close();
    // Whole native widgets in every redraw (Native widgets, above).
    static void OnWindowRealize(GtkWidget* widget, gpointer self);
    static void OnWindowInvalidate(GdkWindow* window, cairo_region_t* region);
    // The renderer of a window's GdkWindow, for its invalidate handler (which takes no data).
    static constexpr const char* kRendererKey = "ns-desktop-renderer";
    static gboolean OnWheelRest(gpointer self);
    static gboolean OnAnimationFrame(gpointer self);

    ui::View::Ptr fixedRoot_;
    ui::View::Ptr shownRoot_;
    GtkWidget* window_ = nullptr;
    GtkWidget* stage_ = nullptr;
    // Holds the grab while an alert shows; never drawn.
    GtkWidget* modalCatcher_ = nullptr;
    FrameSource* frameSource_ = nullptr;
    std::unordered_map<const ui::View*, std::unique_ptr<Node>> nodes_;
    Node* rootNode_ = nullptr;
    std::vector<Node*> parked_;  // oldest first
    std::unordered_set<const ui::View*> dirty_;
    bool fullResync_ = true;

    ImageCache images_;
    ViewPainter painter_;
    InputRouter router_;
    std::function<void()> closeHandler_;

    double scale_ = 1;
    ui::Point offset_;
    GdkRectangle stageSize_{0, 0, 0, 0};
    ui::Size screen_;
    uint64_t alertRevision_ = 0;
    int alertPressed_ = -1;
    const ui::View* focused_ = nullptr;
    guint wheelTimer_ = 0;
    guint animationTimer_ = 0;
    std::vector<std::weak_ptr<ui::View>> animating_;
    uint64_t syncs_ = 0;
    // Whether a native widget that is redrawn in part (a movie's picture) shows now: only then
    // are the views' pixels kept (DrawnContent), which bounds them to the views drawn over it.
    bool PictureShows() const;

    uint64_t paints_ = 0;
    std::vector<Node*> partlyNatives_;  // the nodes whose native widget is redrawn in part
    uint64_t drawEpoch_ = 0;            // bumped when every view is placed anew
};

}  // namespace ns::desktop

#endif
