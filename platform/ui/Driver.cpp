#include "platform/ui/Driver.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/Inspector.h"
#include "platform/ui/Loop.h"
#include "platform/ui/Responder.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/Slider.h"
#include "platform/ui/SwipeGestureRecognizer.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace ui {

namespace {

// Loop steps one Advance or WaitFor takes at most: a timer that keeps re-arming itself for
// "now" must not hold a test forever. Past it the clock jumps to the end.
constexpr int kMaxSteps = 100000;
// The real wait of one step while transfers are in flight on a manual clock.
constexpr std::chrono::milliseconds kTransferStep(10);
// The longest time Advance moves and WaitFor waits (a year): beyond it a loop duration
// overflows.
constexpr double kMaxSeconds = 365.0 * 24 * 3600;
// The points across a covered row that SelectRow tries, one in the middle of each slice.
constexpr int kRowSlices = 16;

void Collect(const View::Ptr& view, const std::function<bool(const View&)>& match,
             std::vector<View::Ptr>& out) {
    if (match(*view)) {
        out.push_back(view);
    }
    const std::vector<View::Ptr> subviews = view->Subviews();  // a match may change the tree
    for (const View::Ptr& sub : subviews) {
        Collect(sub, match, out);
    }
}

// The text input the keyboard types into: the first responder of root's tree.
std::shared_ptr<TextField> FocusedField(const View& root) {
    View::Ptr responder = Responder::FirstResponderOf(root);
    if (auto field = std::dynamic_pointer_cast<TextField>(responder)) {
        return field;
    }
    if (auto bar = std::dynamic_pointer_cast<SearchBar>(responder)) {
        return bar->SearchField();
    }
    return nullptr;
}

// The characters of a text as a keyboard sends them: a lead byte with its continuation bytes.
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size();) {
        size_t j = i + 1;
        while (j < text.size() && j - i < 4 &&
               (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) {
            ++j;
        }
        out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// An x (bounds coordinates) where the slider reads exactly `value` when there is one near
// the arithmetic answer, so that the events carry the value asked for.
double SliderX(const Slider& slider, double value) {
    const Rect& b = slider.Bounds();
    const double thumb = slider.ThumbSize().width;
    const double travel = std::max(0.0, b.Width() - thumb);
    const double range = slider.MaximumValue() - slider.MinimumValue();
    const double fraction = range > 0 ? (value - slider.MinimumValue()) / range : 0;
    const double x = b.X() + thumb / 2 + fraction * travel;
    double up = x, down = x;
    for (int i = 0; i < 16; ++i) {
        if (slider.ValueForX(up) == value) {
            return up;
        }
        if (slider.ValueForX(down) == value) {
            return down;
        }
        up = std::nextafter(up, HUGE_VAL);
        down = std::nextafter(down, -HUGE_VAL);
    }
    return x;
}

}  // namespace

Driver::Driver(View::Ptr root, ns::ManualClock* clock) : root_(std::move(root)), clock_(clock) {}

View::Ptr Driver::Root() const {
    if (root_) {
        return root_;
    }
    return Application::Shared().KeyWindow();
}

// --- finding

std::vector<View::Ptr> Driver::FindAll(const std::function<bool(const View&)>& match) const {
    std::vector<View::Ptr> out;
    if (View::Ptr root = Root()) {
        Collect(root, match, out);
    }
    return out;
}

std::vector<View::Ptr> Driver::FindAll(const std::string& className,
                                       const std::optional<std::string>& text) const {
    return FindAll([&](const View& view) {
        return (className.empty() || className == view.ClassName()) &&
               (!text || TextOf(view) == text);
    });
}

// --- touches

std::optional<Driver::Touch> Driver::Locate(const View::Ptr& view, const Point& point) const {
    View::Ptr root = Root();
    if (!root || !view) {
        return std::nullopt;
    }
    RunLayoutPass();
    if (!view->IsDescendantOf(root.get())) {
        return std::nullopt;
    }
    for (View::Ptr v = view; v; v = v == root ? nullptr : v->Superview()) {
        if (v->IsHidden() || v->Alpha() < 0.01 || !v->IsUserInteractionEnabled()) {
            return std::nullopt;
        }
    }
    if (auto* control = dynamic_cast<Control*>(view.get()); control && !control->IsEnabled()) {
        return std::nullopt;
    }
    const Point inRoot = view->ConvertPointTo(point, root.get());
    View::Ptr hit = root->HitTest(inRoot);
    if (!hit) {
        return std::nullopt;
    }
    return Touch{hit, hit->ConvertPointFrom(inRoot, root.get())};
}

bool Driver::Tap(const View::Ptr& view) {
    std::optional<Touch> touch = view ? Locate(view, view->Bounds().Center()) : std::nullopt;
    if (!touch) {
        return false;
    }
    const View::Ptr target = touch->target;
    target->TouchesBegan(touch->point);
    target->TouchesEnded(touch->point);
    return target == view || target->IsDescendantOf(view.get()) ||
           (dynamic_cast<TableView*>(target.get()) != nullptr &&
            view->IsDescendantOf(target.get()));
}

bool Driver::Tap(const std::string& identifier) { return Tap(Find(identifier)); }

bool Driver::Swipe(const View::Ptr& view, unsigned direction) {
    std::optional<Touch> touch = view ? Locate(view, view->Bounds().Center()) : std::nullopt;
    return touch && SwipeGestureRecognizer::Swipe(*touch->target, direction);
}

bool Driver::ClickLink(const std::shared_ptr<WebView>& webView, const std::string& match) {
    std::optional<Touch> touch =
        webView ? Locate(webView, webView->Bounds().Center()) : std::nullopt;
    if (!touch || !touch->target->IsDescendantOf(webView.get())) {
        return false;  // whatever covers the page takes the click
    }
    return webView->ClickLink(match);
}

bool Driver::ScrollTable(const std::shared_ptr<ScrollView>& scrollView, double dy,
                         double velocity) {
    if (!scrollView || !std::isfinite(dy) || !std::isfinite(velocity)) {
        return false;
    }
    std::optional<Touch> touch = Locate(scrollView, scrollView->Bounds().Center());
    if (!touch || !touch->target->IsDescendantOf(scrollView.get())) {
        return false;  // a finger on whatever covers it moves nothing here
    }
    if (!scrollView->BeginDrag()) {
        return false;
    }
    // The finger moves against the content's way: up to bring later rows in.
    scrollView->DragBy(Point(0, -dy));
    scrollView->EndDrag(Point(0, -velocity));
    return true;
}

bool Driver::SelectRow(const std::shared_ptr<TableView>& table, const IndexPath& indexPath) {
    if (!table) {
        return false;
    }
    RunLayoutPass();
    const Rect shown = table->RectForRow(indexPath).Intersection(table->Bounds());
    if (shown.IsEmpty()) {
        return false;  // off screen (or no such row): a person scrolls first
    }
    std::optional<Touch> touch = Locate(table, shown.Center());
    if (!touch) {
        return false;
    }
    // A pane over part of the row (a side menu's table runs on under the page beside it): a
    // person taps the row where it shows, so the first point across it that reaches the table
    // takes the tap. A row covered all along gives its centre's touch to what covers it.
    const auto reachesTable = [&table](const Touch& t) {
        return t.target == table || t.target->IsDescendantOf(table.get());
    };
    for (int slice = 0; slice < kRowSlices && !reachesTable(*touch); ++slice) {
        const Point point(shown.MinX() + (slice + 0.5) * shown.Width() / kRowSlices, shown.MidY());
        std::optional<Touch> across = Locate(table, point);
        if (across && reachesTable(*across)) {
            touch = across;
        }
    }
    const View::Ptr target = touch->target;
    target->TouchesBegan(touch->point);
    target->TouchesEnded(touch->point);
    return target == table && table->IndexPathForSelectedRow() == indexPath;
}

bool Driver::SetSlider(const std::shared_ptr<Slider>& slider, double value) {
    if (!slider || std::isnan(value)) {
        return false;
    }
    const double start = SliderX(*slider, slider->Value());
    const double y = slider->ThumbRect().MidY();
    std::optional<Touch> touch = Locate(slider, Point(start, y));
    if (!touch || touch->target != slider) {
        return false;
    }
    const double wanted = std::min(slider->MaximumValue(), std::max(slider->MinimumValue(), value));
    const Point end(SliderX(*slider, wanted), y);
    slider->TouchesBegan(touch->point);
    slider->TouchesMoved(end);
    slider->TouchesEnded(end);
    return true;
}

// --- keyboard

bool Driver::Type(const std::string& text) {
    View::Ptr root = Root();
    std::shared_ptr<TextField> field = root ? FocusedField(*root) : nullptr;
    if (!field) {
        return false;
    }
    bool all = true;
    for (const std::string& character : Characters(text)) {
        all = field->InsertText(character) && all;
    }
    return all;
}

bool Driver::PressReturn() {
    View::Ptr root = Root();
    std::shared_ptr<TextField> field = root ? FocusedField(*root) : nullptr;
    return field && field->PressReturn();
}

// --- alerts, device, application

bool Driver::DismissAlert(int buttonIndex) {
    AlertView::Ptr alert = AlertView::TopVisibleAlert();
    return alert && alert->ClickButtonAtIndex(buttonIndex);
}

bool Driver::Rotate(DeviceOrientation orientation) {
    return UiDevice::Current().Rotate(orientation);
}

void Driver::ResignActive() { Application::Shared().ResignActive(); }
void Driver::EnterBackground() { Application::Shared().EnterBackground(); }
void Driver::EnterForeground() { Application::Shared().EnterForeground(); }
void Driver::BecomeActive() { Application::Shared().BecomeActive(); }

// --- time

void Driver::StepAt(ns::RunLoop::TimePoint when) {
    if (when > clock_->Now()) {
        clock_->Set(when);
    }
    Loop().RunOnce(std::chrono::milliseconds(0));
}

bool Driver::Advance(double seconds) {
    if (!clock_ || !(seconds >= 0) || seconds > kMaxSeconds) {
        return false;
    }
    const ns::RunLoop::TimePoint end = clock_->Now() + SecondsToDuration(seconds);
    for (int i = 0; i < kMaxSteps; ++i) {
        std::optional<ns::RunLoop::TimePoint> next = Loop().NextDeadline();
        if (!next || *next > end) {
            break;
        }
        StepAt(*next);
    }
    StepAt(end);
    return true;
}

bool Driver::WaitFor(const std::function<bool()>& condition, double timeout) {
    if (!condition) {
        return false;
    }
    if (!(timeout > 0)) {
        timeout = 0;  // NaN and negative times: look once
    }
    timeout = std::min(timeout, kMaxSeconds);
    ns::RunLoop& loop = Loop();
    if (!clock_) {
        const auto ms = std::chrono::duration<double, std::milli>(std::ceil(timeout * 1000));
        return loop.RunUntil(condition, std::chrono::duration_cast<std::chrono::milliseconds>(ms));
    }
    const ns::RunLoop::TimePoint end = clock_->Now() + SecondsToDuration(timeout);
    const auto realEnd = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(timeout));
    for (int i = 0; i < kMaxSteps; ++i) {
        if (condition()) {
            return true;
        }
        // Work outside the process moves in real time: let it before moving the clock.
        if (loop.TransferCount() > 0 && std::chrono::steady_clock::now() < realEnd) {
            loop.RunOnce(kTransferStep);
            continue;
        }
        std::optional<ns::RunLoop::TimePoint> next = loop.NextDeadline();
        if (!next || *next > end) {
            break;
        }
        StepAt(*next);
    }
    if (condition()) {
        return true;
    }
    StepAt(end);
    return condition();
}

}  // namespace ui
