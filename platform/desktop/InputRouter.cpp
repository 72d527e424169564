#include "platform/desktop/InputRouter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/ui/Loop.h"
#include "platform/ui/Responder.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/Slider.h"
#include "platform/ui/SwipeGestureRecognizer.h"

namespace ns::desktop {

InputRouter::InputRouter(std::function<ui::View::Ptr()> root) : root_(std::move(root)) {}

ui::Point InputRouter::InHit(const ui::View& hit, const ui::Point& point) const {
    ui::View::Ptr root = root_();
    return root ? hit.ConvertPointFrom(point, root.get()) : point;
}

void InputRouter::Press(const ui::Point& point, uint32_t timeMs) {
    if (gesture_) Cancel();
    ui::View::Ptr root = root_();
    if (!root) return;
    ui::RunLayoutPass();
    gesture_ = std::make_unique<Gesture>();
    gesture_->hit = root->HitTest(point);
    gesture_->start = gesture_->last = point;
    gesture_->samples.push_back({point, timeMs});
    if (gesture_->hit) gesture_->hit->TouchesBegan(InHit(*gesture_->hit, point));
}

std::shared_ptr<ui::ScrollView> InputRouter::ScrollerFor(const ui::View::Ptr& view,
                                                         bool horizontal) {
    for (ui::View::Ptr v = view; v; v = v->Superview()) {
        auto scroller = std::dynamic_pointer_cast<ui::ScrollView>(v);
        if (!scroller || !scroller->IsScrollEnabled()) continue;
        const ui::Point max = scroller->MaxContentOffset();
        if ((horizontal ? max.x : max.y) > 0) return scroller;
    }
    return nullptr;
}

void InputRouter::Decide(const ui::Point& point) {
    Gesture& g = *gesture_;
    const double dx = point.x - g.start.x, dy = point.y - g.start.y;
    if (std::hypot(dx, dy) <= kSlop) return;
    g.horizontal = std::fabs(dx) > std::fabs(dy);
    if (!g.hit || dynamic_cast<ui::Slider*>(g.hit.get()) != nullptr) {
        g.mode = Mode::Touch;
        return;
    }
    if (auto scroller = ScrollerFor(g.hit, g.horizontal); scroller && scroller->BeginDrag()) {
        g.hit->TouchesCancelled();
        g.scrollView = scroller;
        g.mode = Mode::Scroll;
        // The content follows the pointer from where it was pressed.
        g.last = g.start;
        return;
    }
    if (dynamic_cast<ui::Control*>(g.hit.get()) != nullptr) {
        g.mode = Mode::Touch;
        return;
    }
    g.hit->TouchesCancelled();
    g.mode = Mode::Swipe;
}

void InputRouter::Move(const ui::Point& point, uint32_t timeMs) {
    if (!gesture_) return;
    Gesture& g = *gesture_;
    g.samples.push_back({point, timeMs});
    while (g.samples.size() > 2 && timeMs - g.samples.front().time > kVelocityWindowMs) {
        g.samples.pop_front();
    }
    if (g.mode == Mode::Undecided) Decide(point);
    switch (g.mode) {
        case Mode::Touch:
            if (g.hit) g.hit->TouchesMoved(InHit(*g.hit, point));
            break;
        case Mode::Scroll:
            g.scrollView->DragBy(ui::Point(point.x - g.last.x, point.y - g.last.y));
            break;
        case Mode::Undecided:
        case Mode::Swipe: break;
    }
    g.last = point;
}

ui::Point InputRouter::ReleaseVelocity(const Gesture& g, const ui::Point& point, uint32_t timeMs) {
    // The pointer's speed over its last movement; a pointer held still before the release
    // (no sample within the window) lets go without speed.
    for (const Sample& s : g.samples) {
        const uint32_t dt = timeMs - s.time;
        if (dt == 0 || dt > kVelocityWindowMs) continue;
        return ui::Point((point.x - s.point.x) * 1000.0 / dt, (point.y - s.point.y) * 1000.0 / dt);
    }
    return ui::Point();
}

void InputRouter::Release(const ui::Point& point, uint32_t timeMs) {
    if (!gesture_) return;
    Move(point, timeMs);
    std::unique_ptr<Gesture> g = std::move(gesture_);
    switch (g->mode) {
        case Mode::Undecided:
        case Mode::Touch:
            if (g->hit) {
                g->hit->TouchesEnded(InHit(*g->hit, point));
                if (g->mode == Mode::Undecided) PlaceCaret(g->hit, point);
            }
            break;
        case Mode::Scroll: g->scrollView->EndDrag(ReleaseVelocity(*g, point, timeMs)); break;
        case Mode::Swipe: {
            const double d = g->horizontal ? point.x - g->start.x : point.y - g->start.y;
            if (std::fabs(d) >= kSwipeMinimum) {
                const unsigned direction =
                    g->horizontal ? (d > 0 ? ui::SwipeDirection::Right : ui::SwipeDirection::Left)
                                  : (d > 0 ? ui::SwipeDirection::Down : ui::SwipeDirection::Up);
                ui::SwipeGestureRecognizer::Swipe(*g->hit, direction);
            }
            break;
        }
    }
}

void InputRouter::Cancel() {
    std::unique_ptr<Gesture> g = std::move(gesture_);
    if (!g) return;
    if (g->mode == Mode::Scroll) {
        g->scrollView->EndDrag(ui::Point());
    } else if (g->hit && g->mode != Mode::Swipe) {
        g->hit->TouchesCancelled();
    }
}

bool InputRouter::Wheel(const ui::Point& point, double dx, double dy) {
    const bool horizontal = std::fabs(dx) > std::fabs(dy);
    if ((horizontal ? dx : dy) == 0) return false;
    if (!wheelView_) {
        ui::View::Ptr root = root_();
        if (!root || gesture_) return false;
        ui::RunLayoutPass();
        auto scroller = ScrollerFor(root->HitTest(point), horizontal);
        if (!scroller || !scroller->BeginDrag()) return false;
        wheelView_ = scroller;
    }
    // The content comes towards the wheel's way: a finger moving against it.
    wheelView_->DragBy(
        ui::Point(horizontal ? -dx * kWheelStep : 0, horizontal ? 0 : -dy * kWheelStep));
    return true;
}

void InputRouter::EndWheel() {
    std::shared_ptr<ui::ScrollView> view = std::move(wheelView_);
    if (view) view->EndDrag(ui::Point());
}

std::shared_ptr<ui::TextField> InputRouter::FocusedField() const {
    ui::View::Ptr root = root_();
    if (!root) return nullptr;
    ui::View::Ptr responder = ui::Responder::FirstResponderOf(*root);
    if (auto field = std::dynamic_pointer_cast<ui::TextField>(responder)) return field;
    if (auto bar = std::dynamic_pointer_cast<ui::SearchBar>(responder)) return bar->SearchField();
    return nullptr;
}

bool InputRouter::TypeText(const std::string& text) {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    field->InsertText(text);
    return true;
}

bool InputRouter::Backspace() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    field->DeleteBackward();
    return true;
}

bool InputRouter::Delete() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    field->DeleteForward();
    return true;
}

bool InputRouter::MoveCaret(ui::CaretMovement movement, bool extend) {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    field->MoveCaret(movement, extend);
    return true;
}

bool InputRouter::SelectAll() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    if (field->CanPerformAction("selectAll:")) field->SelectAll();
    return true;
}

std::optional<std::string> InputRouter::Copy() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field || !field->CanPerformAction("copy:")) return std::nullopt;
    return field->SelectedText();
}

std::optional<std::string> InputRouter::Cut() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field || !field->CanPerformAction("cut:")) return std::nullopt;
    std::string text = field->SelectedText();
    // A delegate that refuses the change keeps the text, and the clipboard keeps what it had.
    if (!field->DeleteBackward()) return std::nullopt;
    return text;
}

bool InputRouter::PasteInto(ui::TextField& field, const std::string& text) {
    if (!field.IsEditing() || !field.CanPerformAction("paste:") || text.size() > kMaxPaste) {
        return false;
    }
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // one break
        if (c == '\n' || c == '\r' || c == '\t') {
            line += ' ';
        } else if (c >= 0x20 && c != 0x7F) {
            line += static_cast<char>(c);
        }
    }
    if (line.empty()) return false;
    return field.InsertText(line);
}

namespace {

// Whether a person can see the view: neither it nor a view above it hidden or transparent.
bool SeenOnScreen(const ui::View& view) {
    for (const ui::View* v = &view; v != nullptr; v = v->Superview().get()) {
        if (v->IsHidden() || v->Alpha() <= 0.01) return false;
    }
    return true;
}

// The fields Tab may go to, and the one editing now wherever it is (so that Tab leaves it).
void CollectTextInputs(const ui::View::Ptr& view, const ui::TextField* editing,
                       std::vector<std::shared_ptr<ui::TextField>>& fields) {
    if (auto field = std::dynamic_pointer_cast<ui::TextField>(view)) {
        if (field.get() == editing || (field->CanBecomeFirstResponder() && SeenOnScreen(*field))) {
            fields.push_back(field);
        }
    }
    for (const ui::View::Ptr& sub : view->Subviews()) CollectTextInputs(sub, editing, fields);
}

}  // namespace

bool InputRouter::Tab(bool backwards) {
    std::shared_ptr<ui::TextField> field = FocusedField();
    ui::View::Ptr root = root_();
    if (!field || !root) return false;
    std::vector<std::shared_ptr<ui::TextField>> fields;
    CollectTextInputs(root, field.get(), fields);
    auto at = std::find(fields.begin(), fields.end(), field);
    if (at == fields.end()) return true;
    const size_t n = fields.size();
    const size_t here = static_cast<size_t>(at - fields.begin());
    // The first one further along that agrees to begin editing.
    for (size_t step = 1; step < n; ++step) {
        const size_t i = backwards ? (here + n - step) % n : (here + step) % n;
        if (fields[i]->BecomeFirstResponder()) break;
    }
    return true;
}

void InputRouter::PlaceCaret(const ui::View::Ptr& hit, const ui::Point& point) {
    auto field = std::dynamic_pointer_cast<ui::TextField>(hit);
    if (!field || !caretLocator_ || FocusedField() != field) return;
    const ui::Point p = InHit(*field, point);
    if (!field->DisplayedTextRect().Contains(p)) return;
    if (std::optional<size_t> index = caretLocator_(*field, p)) {
        field->SetSelectedRange(ui::TextRange(*index, 0));
    }
}

bool InputRouter::Return() {
    std::shared_ptr<ui::TextField> field = FocusedField();
    if (!field) return false;
    field->PressReturn();
    return true;
}

}  // namespace ns::desktop
