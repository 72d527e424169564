#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Animate.h"
#include "platform/ui/Loop.h"

namespace ui {
namespace {

View::ChangeHook& Hook() {
    static View::ChangeHook* hook = new View::ChangeHook();  // never destroyed
    return *hook;
}

// Views waiting for the layout pass (main thread only).
std::vector<std::weak_ptr<View>>& PendingLayout() {
    static auto* pending = new std::vector<std::weak_ptr<View>>();  // never destroyed
    return *pending;
}

int Depth(const View& view) {
    int depth = 0;
    for (View::Ptr v = view.Superview(); v; v = v->Superview()) {
        ++depth;
    }
    return depth;
}

// One axis of the autoresizing rule (see View.h).
void ResizeAxis(double& pos, double& len, double oldSuper, double delta, bool flexBefore,
                bool flexSize, bool flexAfter) {
    int count = int(flexBefore) + int(flexSize) + int(flexAfter);
    if (count == 0 || delta == 0) {
        return;
    }
    const double before = pos;
    const double after = oldSuper - pos - len;
    const double parts = (flexBefore ? before : 0) + (flexSize ? len : 0) + (flexAfter ? after : 0);
    double shareBefore, shareSize;
    if (std::fabs(parts) < kGeometryTolerance) {
        shareBefore = flexBefore ? delta / count : 0;
        shareSize = flexSize ? delta / count : 0;
    } else {
        shareBefore = flexBefore ? delta * before / parts : 0;
        shareSize = flexSize ? delta * len / parts : 0;
    }
    pos += shareBefore;
    len += shareSize;
}

}  // namespace

View::View(const Rect& frame) : layer_(std::make_unique<ui::Layer>(*this)) {
    Rect f = frame.Standardized();
    bounds_ = Rect(0, 0, f.size.width, f.size.height);
    center_ = f.Center();
}

View::~View() = default;

// --- geometry

Rect View::Frame() const {
    Rect local(-bounds_.size.width / 2, -bounds_.size.height / 2, bounds_.size.width,
               bounds_.size.height);
    if (transform_.IsIdentity()) {
        return local.Offset(center_.x, center_.y);
    }
    return transform_.Apply(local).Offset(center_.x, center_.y);
}

void View::SetFrame(const Rect& frame) {
    Rect f = frame.Standardized();
    Size size = f.size;
    if (!transform_.IsIdentity()) {
        // Back through the linear part; absolute values keep the sizes positive under flips
        // and quarter turns.
        AffineTransform inv = transform_.Inverted();
        size = Size(std::fabs(inv.a) * f.size.width + std::fabs(inv.c) * f.size.height,
                    std::fabs(inv.b) * f.size.width + std::fabs(inv.d) * f.size.height);
    }
    Point center = f.Center();
    bool changed = false;
    if (center != center_) {
        center_ = center;
        changed = true;
    }
    Size oldSize = bounds_.size;
    if (size != oldSize) {
        bounds_.size = size;
        changed = true;
    }
    if (changed) {
        NoteChange();
    }
    if (size != oldSize) {
        BoundsSizeChanged(oldSize);
    }
}

void View::SetBounds(const Rect& bounds) {
    Rect b(bounds.origin, Size(std::fabs(bounds.size.width), std::fabs(bounds.size.height)));
    if (b == bounds_) {
        return;
    }
    Size oldSize = bounds_.size;
    bounds_ = b;
    NoteChange();
    if (b.size != oldSize) {
        BoundsSizeChanged(oldSize);
    }
}

void View::SetCenter(const Point& center) {
    if (center == center_) {
        return;
    }
    center_ = center;
    NoteChange();
}

void View::SetTransform(const AffineTransform& transform) {
    if (transform == transform_) {
        return;
    }
    transform_ = transform;
    NoteChange();
}

// --- appearance and behaviour

void View::SetAlpha(double alpha) {
    double a = alpha >= 0 ? std::min(alpha, 1.0) : 0;  // NaN counts as 0
    if (a == alpha_) {
        return;
    }
    alpha_ = a;
    NoteChange();
}

#define UI_VIEW_SETTER(Name, member, Type) \
    void View::Name(Type value) {          \
        if (member == value) {             \
            return;                        \
        }                                  \
        member = value;                    \
        NoteChange();                      \
    }

UI_VIEW_SETTER(SetHidden, hidden_, bool)
UI_VIEW_SETTER(SetBackgroundColor, backgroundColor_, const std::optional<Color>&)
UI_VIEW_SETTER(SetOpaque, opaque_, bool)
UI_VIEW_SETTER(SetClipsToBounds, clipsToBounds_, bool)
UI_VIEW_SETTER(SetContentMode, contentMode_, ContentMode)
UI_VIEW_SETTER(SetAutoresizingMask, autoresizingMask_, unsigned)
UI_VIEW_SETTER(SetAutoresizesSubviews, autoresizesSubviews_, bool)
UI_VIEW_SETTER(SetUserInteractionEnabled, userInteractionEnabled_, bool)
UI_VIEW_SETTER(SetTag, tag_, int)
UI_VIEW_SETTER(SetIdentifier, identifier_, const std::string&)

#undef UI_VIEW_SETTER

// --- tree

bool View::CanAdopt(const Ptr& view) const { return view && !IsDescendantOf(view.get()); }

void View::EraseSubview(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(),
                           [view](const Ptr& p) { return p.get() == view; });
    if (it != subviews_.end()) {
        subviews_.erase(it);
    }
}

void View::Adopt(const Ptr& view, size_t index) {
    Ptr keep = view;  // the old superview may hold the only other reference
    View* oldWindow = view->RawWindow();
    Ptr old = view->superview_.lock();
    if (old) {
        if (old.get() != this) {
            old->WillRemoveSubview(*view);
        }
        old->EraseSubview(view.get());
        if (old.get() != this) {
            old->NoteChange();
        }
    }
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = weak_from_this();
    NoteChange();
    view->NoteChange();
    if (old.get() != this) {
        view->DidMoveToSuperview();
        DidAddSubview(*view);
    }
    if (view->RawWindow() != oldWindow) {
        view->NotifyMovedToWindow();
    }
    view->SetNeedsLayout();
}

bool View::AddSubview(const Ptr& view) { return InsertSubviewAt(view, subviews_.size()); }

bool View::InsertSubviewAt(const Ptr& view, size_t index) {
    if (!CanAdopt(view)) {
        return false;
    }
    Adopt(view, index);
    return true;
}

bool View::InsertSubviewAbove(const Ptr& view, const Ptr& sibling) {
    if (!CanAdopt(view)) {
        return false;
    }
    if (view == sibling) {
        return true;
    }
    EraseSubview(view.get());  // so that the sibling's index below is where it will stand
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    size_t index =
        it == subviews_.end() ? subviews_.size() : static_cast<size_t>(it - subviews_.begin()) + 1;
    if (view->Superview().get() == this) {
        // Put it back first so that Adopt sees an ordinary move within this view.
        subviews_.push_back(view);
    }
    Adopt(view, index);
    return true;
}

bool View::InsertSubviewBelow(const Ptr& view, const Ptr& sibling) {
    if (!CanAdopt(view)) {
        return false;
    }
    if (view == sibling) {
        return true;
    }
    EraseSubview(view.get());
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    size_t index = it == subviews_.end() ? 0 : static_cast<size_t>(it - subviews_.begin());
    if (view->Superview().get() == this) {
        subviews_.push_back(view);
    }
    Adopt(view, index);
    return true;
}

void View::RemoveFromSuperview() {
    Ptr old = superview_.lock();
    if (!old) {
        return;
    }
    Ptr keep = shared_from_this();
    View* oldWindow = RawWindow();
    old->WillRemoveSubview(*this);
    old->EraseSubview(this);
    superview_.reset();
    old->NoteChange();
    NoteChange();
    DidMoveToSuperview();
    if (oldWindow != nullptr) {
        NotifyMovedToWindow();
    }
}

void View::BringSubviewToFront(const Ptr& view) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it == subviews_.end() || it + 1 == subviews_.end()) {
        return;
    }
    Ptr keep = *it;
    subviews_.erase(it);
    subviews_.push_back(keep);
    NoteChange();
}

void View::SendSubviewToBack(const Ptr& view) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it == subviews_.end() || it == subviews_.begin()) {
        return;
    }
    Ptr keep = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), keep);
    NoteChange();
}

bool View::IsDescendantOf(const View* view) const {
    if (view == nullptr) {
        return false;
    }
    if (view == this) {
        return true;
    }
    for (Ptr v = Superview(); v; v = v->Superview()) {
        if (v.get() == view) {
            return true;
        }
    }
    return false;
}

View::Ptr View::ViewWithTag(int tag) {
    if (tag_ == tag) {
        return shared_from_this();
    }
    for (const Ptr& sub : subviews_) {
        if (Ptr found = sub->ViewWithTag(tag)) {
            return found;
        }
    }
    return nullptr;
}

View::Ptr View::FindByIdentifier(const std::string& identifier) {
    if (identifier.empty()) {
        return nullptr;
    }
    if (identifier_ == identifier) {
        return shared_from_this();
    }
    for (const Ptr& sub : subviews_) {
        if (Ptr found = sub->FindByIdentifier(identifier)) {
            return found;
        }
    }
    return nullptr;
}

View* View::RawWindow() {
    for (View* v = this; v != nullptr;) {
        if (v->IsWindow()) {
            return v;
        }
        Ptr up = v->Superview();
        v = up.get();  // kept alive by its own subview chain's owner
    }
    return nullptr;
}

View::Ptr View::WindowOf() {
    View* w = RawWindow();
    return w ? w->shared_from_this() : nullptr;
}

void View::NotifyMovedToWindow() {
    DidMoveToWindow();
    std::vector<Ptr> subs = subviews_;
    for (const Ptr& sub : subs) {
        sub->NotifyMovedToWindow();
    }
}

// --- layout

void View::SetNeedsLayout() {
    if (needsLayout_) {
        return;
    }
    needsLayout_ = true;
    std::weak_ptr<View> self = weak_from_this();
    if (!self.expired()) {
        PendingLayout().push_back(std::move(self));
    }
}

void View::LayoutIfNeeded() {
    Ptr keep = weak_from_this().lock();
    if (needsLayout_) {
        needsLayout_ = false;
        LayoutSubviews();
    }
    std::vector<Ptr> subs = subviews_;  // layout may change the list
    for (const Ptr& sub : subs) {
        sub->LayoutIfNeeded();
    }
}

void RunLayoutPass() {
    // A LayoutSubviews that keeps asking for layout again is laid out a few times per pass and
    // then waits for the next step, so a pass always ends.
    constexpr int kMaxRounds = 8;
    for (int round = 0; round < kMaxRounds && !PendingLayout().empty(); ++round) {
        std::vector<std::weak_ptr<View>> pending;
        pending.swap(PendingLayout());
        std::vector<std::pair<int, View::Ptr>> views;
        for (const auto& weak : pending) {
            if (View::Ptr v = weak.lock()) {
                if (v->needsLayout_) {
                    views.emplace_back(Depth(*v), std::move(v));
                }
            }
        }
        std::stable_sort(views.begin(), views.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& entry : views) {
            entry.second->LayoutIfNeeded();
        }
    }
}

Size View::SizeThatFits(const Size& /*size*/) const { return bounds_.size; }

void View::SizeToFit() {
    Size fit = SizeThatFits(bounds_.size);
    Rect f = Frame();
    SetFrame(Rect(f.origin, fit));
}

void View::BoundsSizeChanged(const Size& oldSize) {
    SetNeedsLayout();
    if (!autoresizesSubviews_) {
        return;
    }
    std::vector<Ptr> subs = subviews_;
    for (const Ptr& sub : subs) {
        sub->ResizeWithOldSuperviewSize(oldSize, bounds_.size);
    }
}

void View::ResizeWithOldSuperviewSize(const Size& oldSize, const Size& newSize) {
    unsigned m = autoresizingMask_;
    if (m == Autoresizing::None) {
        return;
    }
    Rect f = Frame();
    ResizeAxis(f.origin.x, f.size.width, oldSize.width, newSize.width - oldSize.width,
               m & Autoresizing::FlexibleLeftMargin, m & Autoresizing::FlexibleWidth,
               m & Autoresizing::FlexibleRightMargin);
    ResizeAxis(f.origin.y, f.size.height, oldSize.height, newSize.height - oldSize.height,
               m & Autoresizing::FlexibleTopMargin, m & Autoresizing::FlexibleHeight,
               m & Autoresizing::FlexibleBottomMargin);
    SetFrame(f);
}

// --- coordinates and touches

Point View::ToSuperview(const Point& p) const {
    Point anchor(bounds_.origin.x + bounds_.size.width / 2,
                 bounds_.origin.y + bounds_.size.height / 2);
    Point t = transform_.Apply(Point(p.x - anchor.x, p.y - anchor.y));
    return Point(center_.x + t.x, center_.y + t.y);
}

Point View::FromSuperview(const Point& p) const {
    Point anchor(bounds_.origin.x + bounds_.size.width / 2,
                 bounds_.origin.y + bounds_.size.height / 2);
    Point t = transform_.Inverted().Apply(Point(p.x - center_.x, p.y - center_.y));
    return Point(anchor.x + t.x, anchor.y + t.y);
}

Point View::ToRoot(const Point& p) const {
    Point q = p;
    const View* v = this;
    Ptr up = Superview();
    while (up) {
        q = v->ToSuperview(q);
        v = up.get();
        up = up->Superview();
    }
    return q;
}

Point View::FromRoot(const Point& p) const {
    Ptr up = Superview();
    Point q = up ? up->FromRoot(p) : p;
    return up ? FromSuperview(q) : q;
}

Point View::ConvertPointTo(const Point& point, const View* view) const {
    Point root = ToRoot(point);
    return view ? view->FromRoot(root) : root;
}

Point View::ConvertPointFrom(const Point& point, const View* view) const {
    Point root = view ? view->ToRoot(point) : point;
    return FromRoot(root);
}

Rect View::ConvertRectTo(const Rect& rect, const View* view) const {
    return BoundingRectOfMappedCorners(
        rect, [this, view](const Point& p) { return ConvertPointTo(p, view); });
}

Rect View::ConvertRectFrom(const Rect& rect, const View* view) const {
    return BoundingRectOfMappedCorners(
        rect, [this, view](const Point& p) { return ConvertPointFrom(p, view); });
}

bool View::PointInside(const Point& point) const { return bounds_.Contains(point); }

View::Ptr View::HitTest(const Point& point) {
    if (hidden_ || alpha_ < 0.01 || !userInteractionEnabled_ || !PointInside(point)) {
        return nullptr;
    }
    std::vector<Ptr> subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        if (Ptr hit = (*it)->HitTest((*it)->FromSuperview(point))) {
            return hit;
        }
    }
    return shared_from_this();
}

// --- observability

void View::SetChangeHook(ChangeHook hook) { Hook() = std::move(hook); }

void View::NoteChange() {
    ++revision_;
    NoteChangeForAnimationBlock(*this);
    if (Hook()) {
        Hook()(*this);
    }
}

}  // namespace ui
