#ifndef PLATFORM_UI_VIEW_H
#define PLATFORM_UI_VIEW_H
// The view model: a rectangle in a tree of views that holds every property the application
// sets, for tests to inspect and for the desktop renderer to mirror.
//
// Views are always owned by std::shared_ptr (make them with std::make_shared); a superview
// owns its subviews and each subview knows its superview weakly.
//
// Geometry follows the platform: `center` is the position of the bounds' centre in the
// superview, `bounds` is the view's own coordinate space (its origin is what a scroll view
// scrolls), and `frame` is derived: the bounding box of the bounds, turned by `transform` about
// the centre. Setting the frame of a transformed view keeps the transform and sets the centre
// to the frame's middle and the bounds size to the frame size taken back through the transform's
// linear part (exact for scales and quarter turns, which is all the platform defines).
//
// Autoresizing: when a view's bounds size changes and it autoresizes its subviews, each
// subview's frame follows its mask along each axis. Of the three parts of an axis (the margin
// before, the size, the margin after, measured in the superview's old size) the flexible ones
// share the change in proportion to their current lengths; when the flexible parts measure
// zero together they share it equally; with none flexible the view keeps its position and size.
//
// Observability: every property change bumps the view's Revision() and calls the process-wide
// change hook with the view (the renderer marks the view and re-syncs it at its next frame).
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Layer.h"

namespace ui {

// Autoresizing mask bits (the platform's values).
namespace Autoresizing {
constexpr unsigned None = 0;
constexpr unsigned FlexibleLeftMargin = 1;
constexpr unsigned FlexibleWidth = 2;
constexpr unsigned FlexibleRightMargin = 4;
constexpr unsigned FlexibleTopMargin = 8;
constexpr unsigned FlexibleHeight = 16;
constexpr unsigned FlexibleBottomMargin = 32;
}  // namespace Autoresizing

// How a view's content (an image) fills its bounds (the platform's values).
enum class ContentMode {
    ScaleToFill = 0,
    ScaleAspectFit = 1,
    ScaleAspectFill = 2,
    Redraw = 3,
    Center = 4,
    Top = 5,
    Bottom = 6,
    Left = 7,
    Right = 8,
    TopLeft = 9,
    TopRight = 10,
    BottomLeft = 11,
    BottomRight = 12,
};

class View : public std::enable_shared_from_this<View> {
public:
    using Ptr = std::shared_ptr<View>;

    explicit View(const Rect& frame = Rect());
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // "View", "Label", "Button", ... for dumps and logs.
    virtual const char* ClassName() const { return "View"; }
    // Window answers true; WindowOf finds it up the chain.
    virtual bool IsWindow() const { return false; }

    // --- geometry
    Rect Frame() const;
    void SetFrame(const Rect& frame);
    const Rect& Bounds() const { return bounds_; }
    void SetBounds(const Rect& bounds);
    const Point& Center() const { return center_; }
    void SetCenter(const Point& center);
    const AffineTransform& Transform() const { return transform_; }
    void SetTransform(const AffineTransform& transform);

    // --- appearance
    double Alpha() const { return alpha_; }
    // Clamped to 0..1.
    void SetAlpha(double alpha);
    bool IsHidden() const { return hidden_; }
    void SetHidden(bool hidden);
    // None (nullopt) by default: nothing is drawn behind the content.
    const std::optional<Color>& BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(const std::optional<Color>& color);
    bool IsOpaque() const { return opaque_; }
    void SetOpaque(bool opaque);
    bool ClipsToBounds() const { return clipsToBounds_; }
    void SetClipsToBounds(bool clips);
    ContentMode GetContentMode() const { return contentMode_; }
    void SetContentMode(ContentMode mode);

    // The view's layer (corner radius, border, shadow, transform, animations).
    ui::Layer& GetLayer() { return *layer_; }
    const ui::Layer& GetLayer() const { return *layer_; }

    // --- behaviour
    unsigned AutoresizingMask() const { return autoresizingMask_; }
    void SetAutoresizingMask(unsigned mask);
    bool AutoresizesSubviews() const { return autoresizesSubviews_; }
    void SetAutoresizesSubviews(bool autoresizes);
    bool IsUserInteractionEnabled() const { return userInteractionEnabled_; }
    void SetUserInteractionEnabled(bool enabled);
    int Tag() const { return tag_; }
    void SetTag(int tag);
    // The outlet name the view is found by (empty: none).
    const std::string& Identifier() const { return identifier_; }
    void SetIdentifier(const std::string& identifier);

    // --- tree
    Ptr Superview() const { return superview_.lock(); }
    const std::vector<Ptr>& Subviews() const { return subviews_; }
    // Adds view on top of the other subviews, taking it from its old superview first. False
    // (nothing changes) for a null view, the view itself or one of its ancestors.
    bool AddSubview(const Ptr& view);
    // Index past the end: on top.
    bool InsertSubviewAt(const Ptr& view, size_t index);
    // Directly above / below sibling; when sibling is not a subview, on top / at the bottom.
    bool InsertSubviewAbove(const Ptr& view, const Ptr& sibling);
    bool InsertSubviewBelow(const Ptr& view, const Ptr& sibling);
    void RemoveFromSuperview();
    // Subviews that are not this view's are left alone.
    void BringSubviewToFront(const Ptr& view);
    void SendSubviewToBack(const Ptr& view);
    // Whether view is this view or one of its ancestors.
    bool IsDescendantOf(const View* view) const;
    // This view or the first descendant (depth first, subviews in order) with the tag.
    Ptr ViewWithTag(int tag);
    // The same by identifier (an empty identifier finds nothing).
    Ptr FindByIdentifier(const std::string& identifier);
    // This view or the nearest ancestor that is a window; null when there is none.
    Ptr WindowOf();

    // --- layout
    // Asks for LayoutSubviews at the end of this run-loop step (once, however often asked).
    void SetNeedsLayout();
    bool NeedsLayout() const { return needsLayout_; }
    // Lays out now: this view if it needs it, then its subviews that need it, top down.
    void LayoutIfNeeded();
    // Positions the subviews; the default does nothing (autoresizing has already run).
    virtual void LayoutSubviews() {}
    // The size the view would like within `size`; the default is its current bounds size.
    virtual Size SizeThatFits(const Size& size) const;
    // Resizes the bounds to SizeThatFits(current bounds size), keeping the frame's origin.
    virtual void SizeToFit();

    // --- coordinates and touches
    // From this view's coordinates into view's (null: the root of this view's tree), through
    // the bounds, centres and transforms of both ancestor chains. Views in different trees
    // meet at their roots' coordinates.
    Point ConvertPointTo(const Point& point, const View* view) const;
    Point ConvertPointFrom(const Point& point, const View* view) const;
    Rect ConvertRectTo(const Rect& rect, const View* view) const;
    Rect ConvertRectFrom(const Rect& rect, const View* view) const;
    // Whether point (this view's coordinates) lies in the bounds.
    virtual bool PointInside(const Point& point) const;
    // The deepest visible, interactive view under point (this view's coordinates), topmost
    // subview first; null when this view is hidden, has alpha below 0.01, has user interaction
    // off or the point is outside it.
    virtual Ptr HitTest(const Point& point);

    // Touches delivered by the test driver and the renderer, in this view's coordinates. The
    // default does nothing; controls track them.
    virtual void TouchesBegan(const Point& /*point*/) {}
    virtual void TouchesMoved(const Point& /*point*/) {}
    virtual void TouchesEnded(const Point& /*point*/) {}
    virtual void TouchesCancelled() {}

    // --- observability
    // Bumped by every change of a property of this view (its subview list included).
    uint64_t Revision() const { return revision_; }
    // Called after every change of any view with the changed view; one hook per process (a
    // null hook removes it). The hook must not free the view.
    using ChangeHook = std::function<void(View&)>;
    static void SetChangeHook(ChangeHook hook);

protected:
    // Subclasses call this after changing one of their own properties.
    void NoteChange();
    // Tree notifications, after the change.
    virtual void DidMoveToSuperview() {}
    virtual void DidMoveToWindow() {}
    virtual void DidAddSubview(View& /*subview*/) {}
    virtual void WillRemoveSubview(View& /*subview*/) {}

private:
    bool CanAdopt(const Ptr& view) const;
    void Adopt(const Ptr& view, size_t index);
    void EraseSubview(const View* view);
    void BoundsSizeChanged(const Size& oldSize);
    void ResizeWithOldSuperviewSize(const Size& oldSize, const Size& newSize);
    void NotifyMovedToWindow();
    // This view's coordinates -> its superview's, and back.
    Point ToSuperview(const Point& p) const;
    Point FromSuperview(const Point& p) const;
    Point ToRoot(const Point& p) const;
    Point FromRoot(const Point& p) const;
    View* RawWindow();

    friend void RunLayoutPass();
    friend class Layer;

    Rect bounds_;
    Point center_;
    AffineTransform transform_;
    double alpha_ = 1;
    bool hidden_ = false;
    std::optional<Color> backgroundColor_;
    bool opaque_ = true;
    bool clipsToBounds_ = false;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    unsigned autoresizingMask_ = Autoresizing::None;
    bool autoresizesSubviews_ = true;
    bool userInteractionEnabled_ = true;
    int tag_ = 0;
    std::string identifier_;

    std::weak_ptr<View> superview_;
    std::vector<Ptr> subviews_;

    bool needsLayout_ = false;
    uint64_t revision_ = 0;
    std::unique_ptr<ui::Layer> layer_;
};

}  // namespace ui

#endif  // PLATFORM_UI_VIEW_H
