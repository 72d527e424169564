#include "platform/ui/Slider.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Animate.h"

namespace ui {
namespace {

constexpr double kDefaultThumbSide = 23;
constexpr double kValueSlideSeconds = 0.25;

}  // namespace

Slider::Slider(const Rect& frame) : Control(frame) {}

void Slider::Assign(double value) {
    value = std::min(std::max(value, minimum_), maximum_);
    if (value == value_) {
        return;
    }
    value_ = value;
    NoteChange();
}

void Slider::SetMinimumValue(double minimum) {
    if (std::isnan(minimum) || minimum == minimum_) {
        return;
    }
    minimum_ = minimum;
    maximum_ = std::max(maximum_, minimum_);
    NoteChange();
    Assign(value_);
}

void Slider::SetMaximumValue(double maximum) {
    if (std::isnan(maximum) || maximum == maximum_) {
        return;
    }
    maximum_ = maximum;
    minimum_ = std::min(minimum_, maximum_);
    NoteChange();
    Assign(value_);
}

void Slider::SetValue(double value, bool animated) {
    if (std::isnan(value)) {
        return;
    }
    if (animated) {
        Animate(kValueSlideSeconds, [&] { Assign(value); });
    } else {
        Assign(value);
    }
}

void Slider::SetContinuous(bool continuous) {
    if (continuous == continuous_) {
        return;
    }
    continuous_ = continuous;
    NoteChange();
}

void Slider::StoreImage(Images& images, Image::Ptr image, unsigned state) {
    if (image) {
        images[state] = std::move(image);
    } else {
        images.erase(state);
    }
    NoteChange();
}

Image::Ptr Slider::LookupImage(const Images& images, unsigned state) {
    auto it = images.find(state);
    if (it == images.end()) {
        it = images.find(ControlState::Normal);
    }
    return it == images.end() ? nullptr : it->second;
}

void Slider::SetMinimumTrackImage(Image::Ptr image, unsigned state) {
    StoreImage(minimumTrackImages_, std::move(image), state);
}
Image::Ptr Slider::MinimumTrackImageForState(unsigned state) const {
    return LookupImage(minimumTrackImages_, state);
}
void Slider::SetMaximumTrackImage(Image::Ptr image, unsigned state) {
    StoreImage(maximumTrackImages_, std::move(image), state);
}
Image::Ptr Slider::MaximumTrackImageForState(unsigned state) const {
    return LookupImage(maximumTrackImages_, state);
}
void Slider::SetThumbImage(Image::Ptr image, unsigned state) {
    StoreImage(thumbImages_, std::move(image), state);
}
Image::Ptr Slider::ThumbImageForState(unsigned state) const {
    return LookupImage(thumbImages_, state);
}

Size Slider::ThumbSize() const {
    Image::Ptr thumb = CurrentThumbImage();
    return thumb ? thumb->GetSize() : Size(kDefaultThumbSide, kDefaultThumbSide);
}

Rect Slider::ThumbRect() const {
    const Size thumb = ThumbSize();
    const Rect& b = Bounds();
    const double travel = std::max(0.0, b.Width() - thumb.width);
    const double range = maximum_ - minimum_;
    const double fraction = range > 0 ? (value_ - minimum_) / range : 0;
    return Rect(b.X() + fraction * travel, b.Y() + (b.Height() - thumb.height) / 2, thumb.width,
                thumb.height);
}

double Slider::ValueForX(double x) const {
    const double thumb = ThumbSize().width;
    const Rect& b = Bounds();
    const double travel = b.Width() - thumb;
    if (travel <= 0) {
        return minimum_;
    }
    const double fraction = std::min(1.0, std::max(0.0, (x - b.X() - thumb / 2) / travel));
    return minimum_ + fraction * (maximum_ - minimum_);
}

void Slider::TrackTo(double x) {
    const double before = value_;
    Assign(ValueForX(x));
    if (continuous_ && value_ != before) {
        SendActionsForEvents(ControlEvent::ValueChanged);
    }
}

void Slider::TouchesBegan(const Point& point) {
    if (!IsEnabled()) {
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    valueAtTouchDown_ = value_;
    Control::TouchesBegan(point);
    if (IsTracking()) {
        TrackTo(point.x);
    }
}

void Slider::TouchesMoved(const Point& point) {
    if (!IsTracking() || !IsEnabled()) {
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    Control::TouchesMoved(point);
    if (IsTracking()) {
        TrackTo(point.x);
    }
}

void Slider::TouchesEnded(const Point& point) {
    std::shared_ptr<View> keep = weak_from_this().lock();
    if (IsTracking() && IsEnabled()) {
        TrackTo(point.x);
        if (!continuous_ && value_ != valueAtTouchDown_) {
            SendActionsForEvents(ControlEvent::ValueChanged);
        }
    }
    Control::TouchesEnded(point);
}

}  // namespace ui
