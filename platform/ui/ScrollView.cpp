#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Loop.h"

namespace ui {
namespace {

// A release faster than this counts as this fast: no finger moves faster, and the distance
// (speed squared) stays finite.
constexpr double kMaximumFlickSpeed = 20000;

// The rubber band: beyond an edge the content moves at half the finger's rate. Rubber maps
// where the finger has taken the content to where it shows; Unrubber goes back.
double Rubber(double raw, double max) {
    if (raw < 0) {
        return raw / 2;
    }
    if (raw > max) {
        return max + (raw - max) / 2;
    }
    return raw;
}

double Unrubber(double shown, double max) {
    if (shown < 0) {
        return shown * 2;
    }
    if (shown > max) {
        return max + (shown - max) * 2;
    }
    return shown;
}

}  // namespace

ScrollView::ScrollView(const Rect& frame) : View(frame) { SetClipsToBounds(true); }

ScrollView::~ScrollView() {
    // A timer in another loop finds the view gone and cancels itself.
    if (timer_ != 0 && timerLoop_ == &Loop()) {
        timerLoop_->CancelTimer(timer_);
    }
}

void ScrollView::SetContentSize(const Size& size) {
    Size s(std::isfinite(size.width) ? std::max(0.0, size.width) : 0,
           std::isfinite(size.height) ? std::max(0.0, size.height) : 0);
    if (s == contentSize_) {
        return;
    }
    contentSize_ = s;
    NoteChange();
    if (!tracking_ && !motion_) {
        ApplyOffset(Clamp(ContentOffset()));
    }
}

const Size& ScrollView::ContentSize() const {
    // Lazily computed state of the same logical value, hence the cast.
    const_cast<ScrollView*>(this)->UpdateContentSize();
    return contentSize_;
}

Point ScrollView::MaxContentOffset() const {
    ContentSize();
    return Point(std::max(0.0, contentSize_.width - Bounds().size.width),
                 std::max(0.0, contentSize_.height - Bounds().size.height));
}

Point ScrollView::Clamp(const Point& p) const {
    const Point max = MaxContentOffset();
    return Point(std::clamp(p.x, 0.0, max.x), std::clamp(p.y, 0.0, max.y));
}

bool ScrollView::ScrollsHorizontally() const {
    return contentSize_.width > Bounds().size.width + kGeometryTolerance;
}

bool ScrollView::ScrollsVertically() const {
    return contentSize_.height > Bounds().size.height + kGeometryTolerance;
}

void ScrollView::SetContentOffset(const Point& offset, bool animated) {
    std::shared_ptr<View> keep = weak_from_this().lock();
    UpdateContentSize();
    const Point current = ContentOffset();
    // A coordinate that is not a number keeps its current value.
    Point target = Clamp(Point(std::isfinite(offset.x) ? offset.x : current.x,
                               std::isfinite(offset.y) ? offset.y : current.y));
    StopMotion();
    if (animated && target != current) {
        StartMotion(Motion{false, false, current, target, target, kAnimationDuration, {}});
        return;
    }
    ApplyOffset(target);
}

void ScrollView::ApplyOffset(const Point& offset) {
    if (offset == ContentOffset()) {
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    SetBounds(Rect(offset, Bounds().size));
    SetNeedsLayout();
    if (auto d = Delegate()) {
        d->DidScroll(*this);
    }
}

#define UI_SCROLL_SETTER(Name, member)  \
    void ScrollView::Name(bool value) { \
        if (member == value) {          \
            return;                     \
        }                               \
        member = value;                 \
        NoteChange();                   \
    }

UI_SCROLL_SETTER(SetBounces, bounces_)
UI_SCROLL_SETTER(SetShowsHorizontalScrollIndicator, showsHorizontalIndicator_)
UI_SCROLL_SETTER(SetShowsVerticalScrollIndicator, showsVerticalIndicator_)

#undef UI_SCROLL_SETTER

void ScrollView::SetScrollEnabled(bool enabled) {
    if (scrollEnabled_ == enabled) {
        return;
    }
    scrollEnabled_ = enabled;
    NoteChange();
    if (!enabled && tracking_) {
        EndDrag(Point());
    }
}

// --- dragging

bool ScrollView::BeginDrag() {
    if (!scrollEnabled_ || tracking_) {
        return false;
    }
    StopMotion();  // a finger on moving content holds it
    UpdateContentSize();
    tracking_ = true;
    return true;
}

void ScrollView::DragBy(const Point& translation) {
    if (!tracking_ || !std::isfinite(translation.x) || !std::isfinite(translation.y) ||
        (translation.x == 0 && translation.y == 0)) {
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    if (!dragging_) {
        dragging_ = true;
        if (auto d = Delegate()) {
            d->WillBeginDragging(*this);
        }
        if (!tracking_) {  // the delegate ended the drag
            return;
        }
    }
    const Point current = ContentOffset();
    const Point max = MaxContentOffset();
    auto axis = [this](double shown, double delta, double limit, bool scrolls) {
        if (!scrolls) {
            return shown;
        }
        if (!bounces_) {
            return std::clamp(shown + delta, 0.0, limit);
        }
        return Rubber(Unrubber(shown, limit) + delta, limit);
    };
    // The content follows the finger: the offset moves against the translation.
    ApplyOffset(Point(axis(current.x, -translation.x, max.x, ScrollsHorizontally()),
                      axis(current.y, -translation.y, max.y, ScrollsVertically())));
}

void ScrollView::EndDrag(const Point& velocity) {
    if (!tracking_) {
        return;
    }
    const bool wasDragging = dragging_;
    tracking_ = false;
    dragging_ = false;
    if (!wasDragging) {
        return;  // a touch that never moved the content: there is no drag to end
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    const Point current = ContentOffset();
    const Point rest = Clamp(current);
    bool decelerate = false;
    if (rest != current) {
        // Released beyond an edge: ease back to it.
        StartMotion(Motion{true, false, current, rest, rest, kAnimationDuration, {}});
        decelerate = true;
    } else {
        // The offset moves against the finger, along the axes that scroll.
        Point v(ScrollsHorizontally() && std::isfinite(velocity.x) ? -velocity.x : 0,
                ScrollsVertically() && std::isfinite(velocity.y) ? -velocity.y : 0);
        double speed = std::hypot(v.x, v.y);
        if (speed > kMinimumFlickSpeed) {
            const double ux = v.x / speed;
            const double uy = v.y / speed;
            speed = std::min(speed, kMaximumFlickSpeed);
            const double distance = speed * speed / (2 * kDeceleration);
            const Point to(current.x + ux * distance, current.y + uy * distance);
            const Point end = Clamp(to);
            if (end != current) {  // against an edge it is already at, nothing moves
                StartMotion(Motion{true, true, current, to, end, speed / kDeceleration, {}});
                decelerate = true;
            }
        }
    }
    if (auto d = Delegate()) {
        d->DidEndDragging(*this, decelerate);
    }
}

// --- movement on the loop's clock

void ScrollView::StartMotion(const Motion& motion) {
    StopMotion();
    ns::RunLoop& loop = Loop();
    motion_ = std::make_unique<Motion>(motion);
    motion_->start = loop.Now();
    const uint64_t serial = ++motionSerial_;
    auto id = std::make_shared<uint64_t>(0);
    std::weak_ptr<View> weak = weak_from_this();
    ns::RunLoop* loopPtr = &loop;
    *id = loop.AddTimer(SecondsToDuration(kFrameInterval), true, [weak, serial, loopPtr, id] {
        auto self = std::static_pointer_cast<ScrollView>(weak.lock());
        if (!self || self->motionSerial_ != serial || !self->motion_) {
            loopPtr->CancelTimer(*id);  // the view or this movement is gone
            return;
        }
        self->Tick();
    });
    timer_ = *id;
    timerLoop_ = loopPtr;
}

void ScrollView::StopMotion() {
    if (timer_ != 0 && timerLoop_ == &Loop()) {
        timerLoop_->CancelTimer(timer_);
    }
    timer_ = 0;
    timerLoop_ = nullptr;
    motion_.reset();
    ++motionSerial_;  // a timer left in another loop finds its movement gone
}

void ScrollView::Tick() {
    const Motion& m = *motion_;
    const double elapsed = DurationToSeconds(timerLoop_->Now() - m.start);
    const double x = m.duration > 0 ? std::min(1.0, elapsed / m.duration) : 1.0;
    const double e = 2 * x - x * x;
    Point p(m.from.x + (m.to.x - m.from.x) * e, m.from.y + (m.to.y - m.from.y) * e);
    if (m.clamp) {
        p = Clamp(p);
    }
    const bool done = x >= 1 || p == m.end;
    if (done) {
        p = m.end;
    }
    const bool decelerating = m.decelerating;
    const uint64_t serial = motionSerial_;
    std::shared_ptr<View> keep = weak_from_this().lock();
    ApplyOffset(p);
    if (!done || motionSerial_ != serial) {
        return;  // still moving, or the delegate has moved the content itself
    }
    StopMotion();
    if (decelerating) {
        if (auto d = Delegate()) {
            d->DidEndDecelerating(*this);
        }
    }
}

}  // namespace ui
