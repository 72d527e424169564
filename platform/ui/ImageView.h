#ifndef PLATFORM_UI_IMAGE_VIEW_H
#define PLATFORM_UI_IMAGE_VIEW_H
// A view that shows an image, a highlighted image, or a sequence of images in turn. The
// sequence runs on the toolkit loop's clock: frame i of n shows from start + i x duration / n,
// and the sequence starts over after `duration` (or stops after the repeat count). Like the
// platform's image view it takes no touches by default.

#include <optional>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

class ImageView : public View {
public:
    explicit ImageView(const Rect& frame = Rect());
    // Sized to the image, at (0, 0).
    explicit ImageView(Image::Ptr image);
    const char* ClassName() const override { return "ImageView"; }

    const Image::Ptr& GetImage() const { return image_; }
    void SetImage(Image::Ptr image);
    const Image::Ptr& HighlightedImage() const { return highlightedImage_; }
    void SetHighlightedImage(Image::Ptr image);
    bool IsHighlighted() const { return highlighted_; }
    void SetHighlighted(bool highlighted);

    const std::vector<Image::Ptr>& AnimationImages() const { return animationImages_; }
    void SetAnimationImages(std::vector<Image::Ptr> images);
    // Seconds for the whole sequence; 0 (the default) means 1/30 s per image.
    double AnimationDuration() const { return animationDuration_; }
    void SetAnimationDuration(double seconds);
    // Times through the sequence; 0 (the default) means without end.
    int AnimationRepeatCount() const { return animationRepeatCount_; }
    void SetAnimationRepeatCount(int count);

    // Starts the sequence at the loop's time now (nothing without animation images);
    // starting again restarts it.
    void StartAnimating();
    void StopAnimating();
    // Started, not stopped, and (with a repeat count) not yet through.
    bool IsAnimating() const;
    // The index of the sequence image shown at `time`; none when not animating then.
    std::optional<size_t> FrameIndexAt(ns::RunLoop::TimePoint time) const;
    // What is shown at `time`: the sequence image, else the highlighted image while
    // highlighted (when set), else the image.
    Image::Ptr DisplayedImage(ns::RunLoop::TimePoint time) const;

    // The image's size (the current size without an image).
    Size SizeThatFits(const Size& size) const override;

private:
    double CycleSeconds() const;

    Image::Ptr image_;
    Image::Ptr highlightedImage_;
    bool highlighted_ = false;
    std::vector<Image::Ptr> animationImages_;
    double animationDuration_ = 0;
    int animationRepeatCount_ = 0;
    std::optional<ns::RunLoop::TimePoint> animationStart_;
};

}  // namespace ui

#endif  // PLATFORM_UI_IMAGE_VIEW_H
