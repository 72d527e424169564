#include "platform/ui/Layer.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/AnimationLog.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Loop.h"
#include "platform/ui/Transition.h"
#include "platform/ui/View.h"

namespace ui {
namespace {

std::string NormalizedKeyPath(const std::string& keyPath) {
    return keyPath == "transform.rotation" ? "transform.rotation.z" : keyPath;
}

}  // namespace

Layer::Layer(View& view) : view_(view), alive_(std::make_shared<int>(0)) {}

Layer::~Layer() {
    // Timers in the current loop are cancelled; any others find alive_ gone and do nothing.
    CancelTimers(animations_);
}

void Layer::CancelTimers(const std::vector<Entry>& entries) {
    bool any = std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.timer; });
    if (!any) {
        return;  // the loop is not touched (nor made) for nothing
    }
    ns::RunLoop* current = &Loop();
    for (const Entry& e : entries) {
        if (e.timer != 0 && e.timerLoop == current) {
            current->CancelTimer(e.timer);
        }
    }
}

void Layer::Changed() { view_.NoteChange(); }

#define UI_LAYER_SETTER(Name, member, Type) \
    void Layer::Name(Type value) {          \
        if (member == value) {              \
            return;                         \
        }                                   \
        member = value;                     \
        Changed();                          \
    }

UI_LAYER_SETTER(SetCornerRadius, cornerRadius_, double)
UI_LAYER_SETTER(SetBorderWidth, borderWidth_, double)
UI_LAYER_SETTER(SetBorderColor, borderColor_, const Color&)
UI_LAYER_SETTER(SetShadowColor, shadowColor_, const Color&)
UI_LAYER_SETTER(SetShadowOffset, shadowOffset_, const Size&)
UI_LAYER_SETTER(SetShadowRadius, shadowRadius_, double)
UI_LAYER_SETTER(SetTransform, transform_, const Transform3D&)

#undef UI_LAYER_SETTER

void Layer::SetShadowOpacity(double opacity) {
    double o = opacity >= 0 ? std::min(opacity, 1.0) : 0;
    if (o == shadowOpacity_) {
        return;
    }
    shadowOpacity_ = o;
    Changed();
}

double Layer::Opacity() const { return view_.Alpha(); }
void Layer::SetOpacity(double opacity) { view_.SetAlpha(opacity); }
bool Layer::MasksToBounds() const { return view_.ClipsToBounds(); }
void Layer::SetMasksToBounds(bool masks) { view_.SetClipsToBounds(masks); }

void Layer::AddAnimation(const Animation& animation, const std::string& key) {
    const bool transition = animation.GetKind() == Animation::Kind::Transition;
    const std::string storedKey = transition ? Transition::kKey : key;

    std::shared_ptr<Animation> copy = animation.Clone();
    ns::RunLoop& loop = Loop();
    copy->SetBeginTime(loop.Now());

    AnimationLogEntry log;
    log.kind = transition ? "transition" : "basic";
    log.key = storedKey;
    if (transition) {
        log.keyPath = static_cast<const Transition&>(animation).TypeName();
    } else {
        log.keyPath = static_cast<const BasicAnimation&>(animation).KeyPath();
    }
    log.duration = copy->Duration();
    log.repeatCount = copy->RepeatCount();
    log.autoreverses = copy->Autoreverses();
    log.timing = TimingName(copy->Timing());
    log.identifier = view_.Identifier();
    AnimationLog::Append(std::move(log));

    // An unnamed animation replaces nothing.
    std::vector<Entry> replaced;
    if (!storedKey.empty()) {
        auto it = std::find_if(animations_.begin(), animations_.end(),
                               [&](const Entry& e) { return e.key == storedKey; });
        if (it != animations_.end()) {
            replaced.push_back(std::move(*it));
            animations_.erase(it);
        }
    }

    Entry entry{storedKey, nextSerial_++, copy, 0, nullptr};
    if (!copy->IsInfinite()) {
        uint64_t serial = entry.serial;
        std::weak_ptr<int> alive = alive_;
        entry.timer =
            loop.AfterDelay(SecondsToDuration(copy->ActiveDuration()), [this, alive, serial] {
                if (!alive.expired()) {
                    Finish(serial);
                }
            });
        entry.timerLoop = &loop;
    }
    animations_.push_back(std::move(entry));
    Changed();
    Drop(std::move(replaced));
}

void Layer::Finish(uint64_t serial) {
    auto it = std::find_if(animations_.begin(), animations_.end(),
                           [&](const Entry& e) { return e.serial == serial; });
    if (it == animations_.end()) {
        return;
    }
    std::shared_ptr<Animation> animation = it->animation;
    if (animation->IsRemovedOnCompletion()) {
        animations_.erase(it);
        Changed();
    } else {
        it->timer = 0;
        it->finished = true;
    }
    if (auto delegate = animation->Delegate()) {
        delegate->AnimationDidStop(*animation, true);
    }
}

void Layer::Drop(std::vector<Entry> entries) {
    CancelTimers(entries);
    // Delegates may add or remove animations: nothing of this layer is touched from here on.
    for (const Entry& e : entries) {
        if (e.finished) {
            continue;  // it was told already
        }
        if (auto delegate = e.animation->Delegate()) {
            delegate->AnimationDidStop(*e.animation, false);
        }
    }
}

void Layer::RemoveAnimation(const std::string& key) {
    auto it = std::find_if(animations_.begin(), animations_.end(),
                           [&](const Entry& e) { return !key.empty() && e.key == key; });
    if (it == animations_.end()) {
        return;
    }
    std::vector<Entry> removed;
    removed.push_back(std::move(*it));
    animations_.erase(it);
    Changed();
    Drop(std::move(removed));
}

void Layer::RemoveAllAnimations() {
    if (animations_.empty()) {
        return;
    }
    std::vector<Entry> removed;
    removed.swap(animations_);
    Changed();
    Drop(std::move(removed));
}

std::shared_ptr<const Animation> Layer::AnimationForKey(const std::string& key) const {
    for (const Entry& e : animations_) {
        if (!key.empty() && e.key == key) {
            return e.animation;
        }
    }
    return nullptr;
}

std::vector<std::string> Layer::AnimationKeys() const {
    std::vector<std::string> keys;
    for (const Entry& e : animations_) {
        if (!e.key.empty()) {
            keys.push_back(e.key);
        }
    }
    return keys;
}

std::optional<AnimationValue> Layer::ModelValue(const std::string& keyPath) const {
    const std::string k = NormalizedKeyPath(keyPath);
    if (k == "opacity") return view_.Alpha();
    if (k == "transform") return transform_;
    if (k == "transform.rotation.z") return transform_.RotationZ();
    if (k == "position") return view_.Center();
    if (k == "bounds") return view_.Bounds();
    if (k == "cornerRadius") return cornerRadius_;
    if (k == "borderWidth") return borderWidth_;
    if (k == "shadowOpacity") return shadowOpacity_;
    if (k == "shadowRadius") return shadowRadius_;
    if (k == "shadowOffset") return shadowOffset_;
    if (k == "backgroundColor") return view_.BackgroundColor().value_or(Color::Clear());
    return std::nullopt;
}

std::optional<AnimationValue> Layer::PresentationValue(const std::string& keyPath,
                                                       ns::RunLoop::TimePoint time) const {
    const std::string k = NormalizedKeyPath(keyPath);
    std::optional<AnimationValue> model = ModelValue(keyPath);
    for (auto it = animations_.rbegin(); it != animations_.rend(); ++it) {
        if (it->animation->GetKind() != Animation::Kind::Basic) {
            continue;
        }
        const auto& basic = static_cast<const BasicAnimation&>(*it->animation);
        if (NormalizedKeyPath(basic.KeyPath()) != k) {
            continue;
        }
        double t = DurationToSeconds(time - *basic.BeginTime());
        if (t < 0) {
            continue;  // not begun at that time
        }
        if (t >= basic.ActiveDuration() && basic.IsRemovedOnCompletion()) {
            continue;  // over (its timer may not have run yet)
        }
        if (!model && (!basic.FromValue() || !basic.ToValue())) {
            continue;  // nothing stands in for the missing end
        }
        AnimationValue fallback = model ? *model : *basic.FromValue();
        return basic.ValueAt(t, fallback);
    }
    return model;
}

}  // namespace ui
