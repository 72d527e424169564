#ifndef APP_WEAKCALLBACK_H
#define APP_WEAKCALLBACK_H
// A callback that reaches a controller only while the controller lives. Views, timers,
// notification observers and animation completions hold such callbacks; the controller owns
// them or outlives none of them, so they must neither keep it alive (the pair would never be
// freed) nor call it once it has gone.
//
//   ui::Loop().AfterDelay(delay, WeakCallback(*this, &Qplayer::targetMethod));
//   ui::Animate(duration, block, WeakCallback(*this, [](LoginViewController& login) { ... }));
//
// `function` is a member function of the controller, or anything callable with the controller
// as its first argument. The callback's own arguments follow the controller, or are left out
// when `function` does not take them (a control's sender, an animation's finished flag). The
// controller is held by its weak_from_this() reference and kept alive while `function` runs;
// a callback made before any std::shared_ptr owns the controller never calls it. Main thread
// only, as the controllers are.

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace weak_callback_detail {
// A function template rather than a branch inside the generic lambda: there clang checks the
// call without the arguments as soon as the lambda is made, because it does not depend on them,
// and refuses a `function` that needs them.
template <typename Controller, typename Function, typename... Args>
void Call(const Function& function, Controller& target, Args&&... args) {
    if constexpr (std::is_invocable_v<const Function&, Controller&, Args&&...>) {
        std::invoke(function, target, std::forward<Args>(args)...);
    } else {
        std::invoke(function, target);
    }
}
}  // namespace weak_callback_detail

template <typename Controller, typename Function>
auto WeakCallback(Controller& controller, Function function) {
    return [weak = controller.weak_from_this(), function = std::move(function)](auto&&... args) {
        const auto locked = weak.lock();
        if (!locked) return;
        weak_callback_detail::Call(function, static_cast<Controller&>(*locked),
                                   std::forward<decltype(args)>(args)...);
    };
}

#endif  // APP_WEAKCALLBACK_H
