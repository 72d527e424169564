#ifndef PLATFORM_UI_BASIC_ANIMATION_H
#define PLATFORM_UI_BASIC_ANIMATION_H
// An animation of one layer property between two values. Key paths the layers understand:
// "opacity", "transform", "transform.rotation" (= "transform.rotation.z", a number in
// radians), "position", "bounds", "cornerRadius", "borderWidth", "shadowOpacity",
// "shadowRadius", "shadowOffset", "backgroundColor". A missing from or to value stands for the
// layer's model value.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Animation.h"
#include "platform/ui/AnimationValue.h"

namespace ui {

class BasicAnimation : public Animation {
public:
    explicit BasicAnimation(std::string keyPath = {}) : keyPath_(std::move(keyPath)) {}

    Kind GetKind() const override { return Kind::Basic; }
    std::unique_ptr<Animation> Clone() const override {
        return std::make_unique<BasicAnimation>(*this);
    }

    const std::string& KeyPath() const { return keyPath_; }
    void SetKeyPath(const std::string& keyPath) { keyPath_ = keyPath; }
    const std::optional<AnimationValue>& FromValue() const { return from_; }
    void SetFromValue(const std::optional<AnimationValue>& v) { from_ = v; }
    const std::optional<AnimationValue>& ToValue() const { return to_; }
    void SetToValue(const std::optional<AnimationValue>& v) { to_ = v; }

    // The value `seconds` after the begin, with `model` standing in for a missing end.
    AnimationValue ValueAt(double seconds, const AnimationValue& model) const {
        return Interpolate(from_.value_or(model), to_.value_or(model), ProgressAt(seconds));
    }

private:
    std::string keyPath_;
    std::optional<AnimationValue> from_;
    std::optional<AnimationValue> to_;
};

}  // namespace ui

#endif  // PLATFORM_UI_BASIC_ANIMATION_H
