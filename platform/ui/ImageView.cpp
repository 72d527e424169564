#include "platform/ui/ImageView.h"

#include <cmath>

#include "platform/ui/Loop.h"

namespace ui {

ImageView::ImageView(const Rect& frame) : View(frame) { SetUserInteractionEnabled(false); }

ImageView::ImageView(Image::Ptr image)
    : View(image ? Rect(Point(), image->GetSize()) : Rect()), image_(std::move(image)) {
    SetUserInteractionEnabled(false);
}

void ImageView::SetImage(Image::Ptr image) {
    if (image == image_) {
        return;
    }
    image_ = std::move(image);
    NoteChange();
}

void ImageView::SetHighlightedImage(Image::Ptr image) {
    if (image == highlightedImage_) {
        return;
    }
    highlightedImage_ = std::move(image);
    NoteChange();
}

void ImageView::SetHighlighted(bool highlighted) {
    if (highlighted == highlighted_) {
        return;
    }
    highlighted_ = highlighted;
    NoteChange();
}

void ImageView::SetAnimationImages(std::vector<Image::Ptr> images) {
    animationImages_ = std::move(images);
    if (animationImages_.empty()) {
        animationStart_.reset();
    }
    NoteChange();
}

void ImageView::SetAnimationDuration(double seconds) {
    seconds = seconds > 0 ? seconds : 0;
    if (seconds == animationDuration_) {
        return;
    }
    animationDuration_ = seconds;
    NoteChange();
}

void ImageView::SetAnimationRepeatCount(int count) {
    count = count > 0 ? count : 0;
    if (count == animationRepeatCount_) {
        return;
    }
    animationRepeatCount_ = count;
    NoteChange();
}

void ImageView::StartAnimating() {
    if (animationImages_.empty()) {
        return;
    }
    animationStart_ = LoopNow();
    NoteChange();
}

void ImageView::StopAnimating() {
    if (!animationStart_) {
        return;
    }
    animationStart_.reset();
    NoteChange();
}

double ImageView::CycleSeconds() const {
    return animationDuration_ > 0 ? animationDuration_
                                  : static_cast<double>(animationImages_.size()) / 30.0;
}

bool ImageView::IsAnimating() const { return FrameIndexAt(LoopNow()).has_value(); }

std::optional<size_t> ImageView::FrameIndexAt(ns::RunLoop::TimePoint time) const {
    if (!animationStart_ || animationImages_.empty()) {
        return std::nullopt;
    }
    double t = DurationToSeconds(time - *animationStart_);
    if (t < 0) {
        t = 0;
    }
    const double cycle = CycleSeconds();
    if (animationRepeatCount_ > 0 && t >= cycle * animationRepeatCount_) {
        return std::nullopt;  // through
    }
    const size_t n = animationImages_.size();
    // A hair of slack so a time exactly on a frame boundary shows the new frame.
    double inCycle = std::fmod(t, cycle);
    size_t index = static_cast<size_t>(std::floor(inCycle / cycle * n + 1e-9));
    return index < n ? index : n - 1;
}

Image::Ptr ImageView::DisplayedImage(ns::RunLoop::TimePoint time) const {
    if (auto index = FrameIndexAt(time)) {
        return animationImages_[*index];
    }
    if (highlighted_ && highlightedImage_) {
        return highlightedImage_;
    }
    return image_;
}

Size ImageView::SizeThatFits(const Size& size) const {
    return image_ ? image_->GetSize() : View::SizeThatFits(size);
}

}  // namespace ui
