#ifndef PLATFORM_UI_TRANSITION_H
#define PLATFORM_UI_TRANSITION_H
// A transition between the layer's old and new content (a new image, say). A layer keeps it
// under the key "transition", whatever key it was added with, as the platform does.

#include <memory>

#include "platform/ui/Animation.h"

namespace ui {

enum class TransitionType { Fade };

class Transition : public Animation {
public:
    static constexpr const char* kKey = "transition";

    explicit Transition(TransitionType type = TransitionType::Fade) : type_(type) {}

    Kind GetKind() const override { return Kind::Transition; }
    std::unique_ptr<Animation> Clone() const override {
        return std::make_unique<Transition>(*this);
    }

    TransitionType Type() const { return type_; }
    void SetType(TransitionType type) { type_ = type; }
    // "fade".
    const char* TypeName() const { return "fade"; }

private:
    TransitionType type_;
};

}  // namespace ui

#endif  // PLATFORM_UI_TRANSITION_H
