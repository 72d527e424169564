#ifndef PLATFORM_UI_LAYER_H
#define PLATFORM_UI_LAYER_H
// The drawing side of a view: one per view, owned by it. Facts that the view already holds are
// not stored twice: the layer's opacity is the view's alpha and masksToBounds is the view's
// clipsToBounds. Every change bumps the view's revision.
//
// Animations are kept by key. AddAnimation stores a copy that begins at the toolkit loop's
// time now (a transition always under the key "transition"); one added under a key in use
// replaces the old one, whose delegate hears finished = false. A finite animation finishes
// on a loop timer at its end: it leaves the layer (unless it is not removed on completion)
// and its delegate hears finished = true. Removing one early tells finished = false. The
// model values never change by themselves: PresentationValue tells what is on screen.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/Animation.h"
#include "platform/ui/AnimationValue.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

class View;

class Layer {
public:
    explicit Layer(View& view);
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    View& GetView() const { return view_; }

    double CornerRadius() const { return cornerRadius_; }
    void SetCornerRadius(double radius);
    double BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(double width);
    // Opaque black unless set.
    const Color& BorderColor() const { return borderColor_; }
    void SetBorderColor(const Color& color);
    // Opaque black, offset (0, -3), opacity 0 (no shadow), radius 3 unless set.
    const Color& ShadowColor() const { return shadowColor_; }
    void SetShadowColor(const Color& color);
    const Size& ShadowOffset() const { return shadowOffset_; }
    void SetShadowOffset(const Size& offset);
    double ShadowOpacity() const { return shadowOpacity_; }
    void SetShadowOpacity(double opacity);  // clamped to 0..1
    double ShadowRadius() const { return shadowRadius_; }
    void SetShadowRadius(double radius);
    const Transform3D& Transform() const { return transform_; }
    void SetTransform(const Transform3D& transform);
    // The view's alpha and clipsToBounds.
    double Opacity() const;
    void SetOpacity(double opacity);
    bool MasksToBounds() const;
    void SetMasksToBounds(bool masks);

    void AddAnimation(const Animation& animation, const std::string& key);
    void RemoveAnimation(const std::string& key);
    void RemoveAllAnimations();
    std::shared_ptr<const Animation> AnimationForKey(const std::string& key) const;
    // In the order added.
    std::vector<std::string> AnimationKeys() const;

    // The model value of a key path (see BasicAnimation.h); none for one the layer does not
    // know.
    std::optional<AnimationValue> ModelValue(const std::string& keyPath) const;
    // What is on screen at `time`: the value of the last added basic animation of that key
    // path that has begun and is still on the layer (or finished but kept), else the model
    // value.
    std::optional<AnimationValue> PresentationValue(const std::string& keyPath,
                                                    ns::RunLoop::TimePoint time) const;

private:
    struct Entry {
        std::string key;
        uint64_t serial;
        std::shared_ptr<Animation> animation;
        uint64_t timer;          // 0: none
        ns::RunLoop* timerLoop;  // the loop the timer waits in
        bool finished = false;   // kept after its end (not removed on completion)
    };

    void Finish(uint64_t serial);
    // Takes the entries out, cancels their timers and tells their delegates finished = false.
    void Drop(std::vector<Entry> entries);
    void Changed();
    static void CancelTimers(const std::vector<Entry>& entries);

    View& view_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    Color borderColor_ = Color::Black();
    Color shadowColor_ = Color::Black();
    Size shadowOffset_ = Size(0, -3);
    double shadowOpacity_ = 0;
    double shadowRadius_ = 3;
    Transform3D transform_;
    std::vector<Entry> animations_;
    uint64_t nextSerial_ = 1;
    std::shared_ptr<int> alive_;  // timers hold it weakly: a freed layer ignores them
};

}  // namespace ui

#endif  // PLATFORM_UI_LAYER_H
