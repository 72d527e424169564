#include "app/ZULSpinner.h"

#include "platform/core/LogWriter.h"

namespace {
constexpr int kFrameCount = 30;
// Frames the turn lingers on: each is shown for two steps.
constexpr int kLingeringFrames[] = {12, 22};
}  // namespace

ZULSpinner::ZULSpinner(const ui::Rect& frame) : ui::ImageView(frame) { initializer(); }

std::vector<std::string> ZULSpinner::sequenceNames() {
    std::vector<std::string> names;
    for (int i = 1; i <= kFrameCount; ++i) {
        const std::string name = ns::Format("spinner%04d.png", i);
        names.push_back(name);
        for (int lingering : kLingeringFrames) {
            if (i == lingering) names.push_back(name);
        }
    }
    return names;
}

std::vector<ui::Image::Ptr> ZULSpinner::sequence() {
    std::vector<ui::Image::Ptr> images;
    for (const std::string& name : sequenceNames()) {
        if (ui::Image::Ptr image = ui::Image::Named(name)) {
            images.push_back(std::move(image));
        } else {
            ns::Log("[SPIN] missing picture %@", name);
        }
    }
    return images;
}

void ZULSpinner::initializer() {
    SetAnimationImages(sequence());
    SetAnimationDuration(kSequenceDuration);
}

void ZULSpinner::doStartAnimating() {
    StartAnimating();
    SetAlpha(1);
}

void ZULSpinner::doStopAnimating() {
    StopAnimating();
    SetAlpha(0);
}
