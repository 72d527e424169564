#ifndef PLATFORM_UI_SCROLL_VIEW_H
#define PLATFORM_UI_SCROLL_VIEW_H
// A view whose bounds move over a larger content: the content offset is the bounds' origin.
//
// Dragging. The test driver and the renderer move the content with the same three calls a
// finger makes: BeginDrag (touch down: tracking), DragBy (the finger moved by `translation` on
// screen; the content follows it, so the offset changes by minus the translation; the first
// movement starts dragging and tells WillBeginDragging) and EndDrag (the finger left the
// screen at `velocity` points per second, again in the finger's direction). Only an axis
// whose content is longer than the bounds moves. Without bounces the offset stays within
// 0 .. MaxContentOffset(); with bounces a drag past an edge moves the content at half the
// finger's rate (rubber band).
//
// Deceleration (deterministic, on the toolkit loop's clock, so a ManualClock drives it). At
// a release faster than kMinimumFlickSpeed the content keeps moving in the release direction
// and slows at the constant rate kDeceleration: a release speed s travels s^2 / (2 x
// kDeceleration) points in s / kDeceleration seconds (1000 pt/s: 250 points in 0.5 s). It
// stops early at an edge it reaches. A release beyond an edge (rubber band) eases back to the
// edge in kAnimationDuration instead. Either movement is deceleration: DidEndDragging hears
// willDecelerate = true, IsDecelerating holds until the movement ends and then
// DidEndDecelerating is told. A slow release, or one that cannot move the content, ends with
// DidEndDragging(willDecelerate = false) and nothing more. A new BeginDrag stops a
// deceleration where it is, without DidEndDecelerating. Frames are computed from the time
// elapsed on a timer of kFrameInterval, so a clock that jumps lands on the exact position.
// Both curves go as 2x - x^2 of the elapsed fraction x (the constant deceleration itself).
//
// The dragging and decelerating flags are already off when DidEndDragging and
// DidEndDecelerating run, so a delegate that reloads rows there sees the content at rest.
//
// Delegates are held weakly (std::weak_ptr, as every delegate of the toolkit): a delegate
// that is gone is simply not told. Main thread only.

#include <cstdint>
#include <memory>

#include "platform/core/RunLoop.h"
#include "platform/ui/View.h"

namespace ui {

class ScrollView;

// What a scroll view tells about its scrolling; every call is optional.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    // After every change of the content offset (drag, deceleration, animation or a call).
    virtual void DidScroll(ScrollView& /*scrollView*/) {}
    virtual void WillBeginDragging(ScrollView& /*scrollView*/) {}
    virtual void DidEndDragging(ScrollView& /*scrollView*/, bool /*willDecelerate*/) {}
    virtual void DidEndDecelerating(ScrollView& /*scrollView*/) {}
};

class ScrollView : public View {
public:
    // Points per second per second by which a released content slows down.
    static constexpr double kDeceleration = 2000;
    // A release at this speed (points per second) or slower does not decelerate.
    static constexpr double kMinimumFlickSpeed = 50;
    // Seconds of an animated SetContentOffset and of the ease back after a rubber band.
    static constexpr double kAnimationDuration = 0.3;
    // Seconds between two frames of a moving content.
    static constexpr double kFrameInterval = 1.0 / 60;

    explicit ScrollView(const Rect& frame = Rect());
    ~ScrollView() override;
    const char* ClassName() const override { return "ScrollView"; }

    // Zero by default. A change moves an offset that the new size no longer allows back
    // within it (unless a finger or a movement holds the content). A subclass that works the
    // size out from its data (a table) brings it up to date when it is read.
    const Size& ContentSize() const;
    void SetContentSize(const Size& size);
    Point ContentOffset() const { return Bounds().origin; }
    // Clamped to 0 .. MaxContentOffset(). Stops a running movement. Animated: moves over
    // kAnimationDuration (DidScroll at each frame; this is not deceleration). Without
    // animation DidScroll is told at once when the offset changed.
    void SetContentOffset(const Point& offset, bool animated = false);
    // Content size minus bounds size on each axis, never below zero.
    Point MaxContentOffset() const;

    // All true by default.
    bool Bounces() const { return bounces_; }
    void SetBounces(bool bounces);
    // Turning scrolling off ends a drag in progress (as a release without velocity).
    bool IsScrollEnabled() const { return scrollEnabled_; }
    void SetScrollEnabled(bool enabled);
    bool ShowsHorizontalScrollIndicator() const { return showsHorizontalIndicator_; }
    void SetShowsHorizontalScrollIndicator(bool shows);
    bool ShowsVerticalScrollIndicator() const { return showsVerticalIndicator_; }
    void SetShowsVerticalScrollIndicator(bool shows);

    std::shared_ptr<ScrollViewDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<ScrollViewDelegate>& delegate) { delegate_ = delegate; }

    // A finger is on the content (BeginDrag .. EndDrag).
    bool IsTracking() const { return tracking_; }
    // The finger has moved the content (first DragBy .. EndDrag).
    bool IsDragging() const { return dragging_; }
    bool IsDecelerating() const { return motion_ && motion_->decelerating; }

    // See the top of this file. BeginDrag is refused (false) while scrolling is disabled or
    // a drag is already in progress; DragBy and EndDrag outside a drag do nothing.
    bool BeginDrag();
    void DragBy(const Point& translation);
    void EndDrag(const Point& velocity = Point());

protected:
    // A subclass that works its content size out lazily brings it up to date here; called
    // before the size bounds a new offset or a drag.
    virtual void UpdateContentSize() {}
    // Whether the content can move along x / y (it is longer than the bounds).
    bool ScrollsHorizontally() const;
    bool ScrollsVertically() const;

private:
    struct Motion {
        bool decelerating;
        bool clamp;  // a flick stops at the edges; an ease back starts beyond one
        Point from;
        Point to;
        Point end;  // where it comes to rest
        double duration;
        ns::RunLoop::TimePoint start;
    };

    Point Clamp(const Point& p) const;
    // Sets the offset and tells DidScroll when it changed.
    void ApplyOffset(const Point& offset);
    void StartMotion(const Motion& motion);
    // Cancels the movement's timer; the content stays where it is.
    void StopMotion();
    void Tick();

    Size contentSize_;
    bool bounces_ = true;
    bool scrollEnabled_ = true;
    bool showsHorizontalIndicator_ = true;
    bool showsVerticalIndicator_ = true;
    std::weak_ptr<ScrollViewDelegate> delegate_;

    bool tracking_ = false;
    bool dragging_ = false;
    std::unique_ptr<Motion> motion_;
    uint64_t motionSerial_ = 0;
    uint64_t timer_ = 0;
    ns::RunLoop* timerLoop_ = nullptr;
};

}  // namespace ui

#endif  // PLATFORM_UI_SCROLL_VIEW_H
