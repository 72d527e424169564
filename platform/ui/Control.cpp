#include "platform/ui/Control.h"

#include <algorithm>

namespace ui {

Control::Control(const Rect& frame) : View(frame) {}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled) {
        tracking_ = false;
        highlighted_ = false;
    }
    NoteChange();
    StateDidChange();
}

void Control::SetSelected(bool selected) {
    if (selected == selected_) {
        return;
    }
    selected_ = selected;
    NoteChange();
    StateDidChange();
}

void Control::SetHighlighted(bool highlighted) {
    if (highlighted == highlighted_) {
        return;
    }
    highlighted_ = highlighted;
    NoteChange();
    StateDidChange();
}

unsigned Control::State() const {
    unsigned s = ControlState::Normal;
    if (highlighted_) s |= ControlState::Highlighted;
    if (!enabled_) s |= ControlState::Disabled;
    if (selected_) s |= ControlState::Selected;
    return s;
}

void Control::AddTarget(const void* owner, Action action, unsigned events) {
    if (!action || events == 0) {
        return;
    }
    targets_.push_back(Target{owner, std::make_shared<Action>(std::move(action)), events});
}

void Control::RemoveTarget(const void* owner, unsigned events) {
    for (Target& t : targets_) {
        if (owner == nullptr || t.owner == owner) {
            t.events &= ~events;
        }
    }
    targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                                  [](const Target& t) { return t.events == 0; }),
                   targets_.end());
}

unsigned Control::AllControlEvents() const {
    unsigned events = 0;
    for (const Target& t : targets_) {
        events |= t.events;
    }
    return events;
}

void Control::SendActionsForEvents(unsigned events) {
    // A copy: actions may add or remove targets, or drop the last other reference to this.
    std::vector<Target> targets = targets_;
    std::shared_ptr<View> keep = weak_from_this().lock();
    for (const Target& t : targets) {
        if (t.events & events) {
            (*t.action)(*this);
        }
    }
}

void Control::TouchesBegan(const Point& /*point*/) {
    if (!enabled_) {
        return;
    }
    tracking_ = true;
    inside_ = true;
    SetHighlighted(true);
    SendActionsForEvents(ControlEvent::TouchDown);
}

void Control::TouchesMoved(const Point& point) {
    if (!tracking_ || !enabled_) {
        return;
    }
    bool inside = PointInside(point);
    unsigned events = inside ? ControlEvent::TouchDragInside : ControlEvent::TouchDragOutside;
    if (inside != inside_) {
        events |= inside ? ControlEvent::TouchDragEnter : ControlEvent::TouchDragExit;
        inside_ = inside;
    }
    SetHighlighted(inside);
    SendActionsForEvents(events);
}

void Control::TouchesEnded(const Point& point) {
    if (!tracking_ || !enabled_) {
        tracking_ = false;
        return;
    }
    tracking_ = false;
    SetHighlighted(false);
    SendActionsForEvents(PointInside(point) ? ControlEvent::TouchUpInside
                                            : ControlEvent::TouchUpOutside);
}

void Control::TouchesCancelled() {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    SetHighlighted(false);
    if (enabled_) {
        SendActionsForEvents(ControlEvent::TouchCancel);
    }
}

}  // namespace ui
