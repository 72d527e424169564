#ifndef PLATFORM_UI_SLIDER_H
#define PLATFORM_UI_SLIDER_H
// A horizontal slider: a value between a minimum and a maximum, track images left and right of
// the thumb and a thumb image, each per state (a state without its own uses the normal one).
//
// Geometry, in the bounds (w x h): the thumb is the current thumb image's size, 23 x 23
// without one (tw x th); the track spans the whole width. The thumb's centre runs from tw / 2
// (the minimum) to w - tw / 2 (the maximum), in proportion to the value, and is vertically
// centred. A touch at x therefore means
//     value = minimum + (x - tw / 2) / (w - tw) x (maximum - minimum),
// clamped to the range (the minimum when w <= tw).
//
// Touches: a touch that begins on an enabled slider sends TouchDown and moves the thumb to its
// x; each move moves it again. A continuous slider (the default) sends ValueChanged after every
// move that changed the value; otherwise one ValueChanged goes out when the touch ends, if the
// value then differs from where the touch began. The touch ends with TouchUpInside or
// TouchUpOutside (after the last ValueChanged), as for any control. SetValue and the range
// setters send nothing.

#include <map>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

namespace ui {

class Slider : public Control {
public:
    explicit Slider(const Rect& frame = Rect());
    const char* ClassName() const override { return "Slider"; }

    // 0 and 1 unless set. Setting one past the other moves the other along; the value is
    // clamped to the new range. NaN is ignored, here and in SetValue.
    double MinimumValue() const { return minimum_; }
    void SetMinimumValue(double minimum);
    double MaximumValue() const { return maximum_; }
    void SetMaximumValue(double maximum);
    double Value() const { return value_; }
    // Clamped to the range; animated inside a block animation (the renderer may slide it).
    void SetValue(double value, bool animated = false);
    bool IsContinuous() const { return continuous_; }
    void SetContinuous(bool continuous);

    void SetMinimumTrackImage(Image::Ptr image, unsigned state);
    Image::Ptr MinimumTrackImageForState(unsigned state) const;
    void SetMaximumTrackImage(Image::Ptr image, unsigned state);
    Image::Ptr MaximumTrackImageForState(unsigned state) const;
    void SetThumbImage(Image::Ptr image, unsigned state);
    Image::Ptr ThumbImageForState(unsigned state) const;
    // For the current State() (highlighted while a touch drags the thumb).
    Image::Ptr CurrentMinimumTrackImage() const { return MinimumTrackImageForState(State()); }
    Image::Ptr CurrentMaximumTrackImage() const { return MaximumTrackImageForState(State()); }
    Image::Ptr CurrentThumbImage() const { return ThumbImageForState(State()); }

    Size ThumbSize() const;
    // Where the thumb stands for the current value, in the bounds.
    Rect ThumbRect() const;
    // The value a touch at x (bounds coordinates) means.
    double ValueForX(double x) const;

    void TouchesBegan(const Point& point) override;
    void TouchesMoved(const Point& point) override;
    void TouchesEnded(const Point& point) override;

private:
    using Images = std::map<unsigned, Image::Ptr>;
    void StoreImage(Images& images, Image::Ptr image, unsigned state);
    static Image::Ptr LookupImage(const Images& images, unsigned state);
    // Moves the thumb to x; sends ValueChanged when continuous and the value changed.
    void TrackTo(double x);
    void Assign(double value);

    double minimum_ = 0;
    double maximum_ = 1;
    double value_ = 0;
    bool continuous_ = true;
    double valueAtTouchDown_ = 0;
    Images minimumTrackImages_;
    Images maximumTrackImages_;
    Images thumbImages_;
};

}  // namespace ui

#endif  // PLATFORM_UI_SLIDER_H
