#ifndef APP_ZULSPINNER_H
#define APP_ZULSPINNER_H
// The application's frame-by-frame activity indicator: the pictures "spinner0001.png" to
// "spinner0030.png" shown in turn, once round per second. Frames 12 and 22 are shown twice
// as long as the others (each stands twice in the sequence), 32 frames in all.

#include <string>
#include <vector>

#include "platform/ui/ImageView.h"

class ZULSpinner : public ui::ImageView {
public:
    static constexpr double kSequenceDuration = 1.0;

    explicit ZULSpinner(const ui::Rect& frame = ui::Rect());
    const char* ClassName() const override { return "ZULSpinner"; }

    // The picture names of the sequence, in order.
    static std::vector<std::string> sequenceNames();
    // The pictures of the sequence from the bundle; a missing picture is left out (and
    // logged), so the others still turn.
    static std::vector<ui::Image::Ptr> sequence();

    // Shows the spinner and starts the frames; the other hides it and stops them.
    void doStartAnimating();
    void doStopAnimating();

private:
    void initializer();
};

#endif  // APP_ZULSPINNER_H
