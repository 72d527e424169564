#include "platform/ui/NavigationController.h"

#include "platform/core/LogWriter.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace ui {

NavigationController::NavigationController(const ViewController::Ptr& root) {
    if (root) {
        stack_.push_back(root);
    }
}

ViewController::Ptr NavigationController::TopViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

bool NavigationController::PushViewController(const ViewController::Ptr& controller,
                                              bool animated) {
    if (!controller || controller.get() == this || controller->ParentViewController() ||
        controller->PresentingViewController() ||
        (controller->IsViewLoaded() && controller->GetView()->Superview())) {
        ns::Log("[UI] NavigationController: cannot push %s: it is missing or has a place already",
                controller ? controller->ClassName() : "nothing");
        return false;
    }
    ViewController::Ptr old = TopViewController();
    for (const ViewController::Ptr& vc : stack_) {
        vc->SetParent(shared_from_this());
    }
    stack_.push_back(controller);
    controller->SetParent(shared_from_this());
    Swap(old, controller, animated);
    return true;
}

ViewController::Ptr NavigationController::PopViewController(bool animated) {
    if (stack_.size() < 2) {
        return nullptr;
    }
    ViewController::Ptr popped = stack_.back();
    stack_.pop_back();
    Swap(popped, TopViewController(), animated);
    popped->SetParent(nullptr);
    return popped;
}

std::vector<ViewController::Ptr> NavigationController::PopToRootViewController(bool animated) {
    if (stack_.size() < 2) {
        return {};
    }
    ViewController::Ptr top = stack_.back();
    std::vector<ViewController::Ptr> popped(stack_.begin() + 1, stack_.end());
    stack_.resize(1);
    Swap(top, stack_.front(), animated);
    for (const ViewController::Ptr& vc : popped) {
        vc->SetParent(nullptr);
    }
    return popped;
}

void NavigationController::Swap(const ViewController::Ptr& outgoing,
                                const ViewController::Ptr& incoming, bool animated) {
    if (!IsViewLoaded()) {
        return;  // the top view is put in place when the container's view loads
    }
    const bool shown = IsAppeared();
    if (shown && outgoing) {
        outgoing->BeginAppearanceTransition(false, animated);
    }
    if (incoming) {
        GetView()->AddSubview(incoming->GetView());
        if (shown) {
            incoming->BeginAppearanceTransition(true, animated);
        }
    }
    if (outgoing && outgoing->IsViewLoaded() && outgoing->GetView()->Superview() == GetView()) {
        outgoing->GetView()->RemoveFromSuperview();
    }
    LayoutBarAndTop();
    if (shown && outgoing) {
        outgoing->EndAppearanceTransition();
    }
    if (shown && incoming) {
        incoming->EndAppearanceTransition();
    }
}

std::shared_ptr<View> NavigationController::NavigationBar() {
    GetView();
    return bar_;
}

void NavigationController::SetNavigationBar(const std::shared_ptr<View>& bar) {
    if (!bar || bar == bar_) {
        return;
    }
    std::shared_ptr<View> container = GetView();
    bar->SetHidden(barHidden_);
    bar->SetAutoresizingMask(Autoresizing::FlexibleWidth);
    container->InsertSubviewAbove(bar, bar_);
    bar_->RemoveFromSuperview();
    bar_ = bar;
    LayoutBarAndTop();
}

void NavigationController::SetNavigationBarHidden(bool hidden, bool /*animated*/) {
    barHidden_ = hidden;
    if (bar_) {
        bar_->SetHidden(hidden);
        LayoutBarAndTop();
    }
}

bool NavigationController::ShouldAutorotateToInterfaceOrientation(
    InterfaceOrientation orientation) {
    ViewController::Ptr top = TopViewController();
    return top ? top->ShouldAutorotateToInterfaceOrientation(orientation)
               : ViewController::ShouldAutorotateToInterfaceOrientation(orientation);
}

void NavigationController::WillAnimateRotationToInterfaceOrientation(
    InterfaceOrientation /*orientation*/, double /*duration*/) {
    LayoutBarAndTop();
}

void NavigationController::LoadView() {
    auto container = std::make_shared<View>(Screen::Main().Bounds());
    bar_ = std::make_shared<View>();
    bar_->SetIdentifier("navigationBar");
    bar_->SetAutoresizingMask(Autoresizing::FlexibleWidth);
    bar_->SetHidden(barHidden_);
    container->AddSubview(bar_);
    SetView(container);
    // The root came with the constructor, before this controller had an owner; it knows its
    // container before its own view loads.
    for (const ViewController::Ptr& vc : stack_) {
        vc->SetParent(shared_from_this());
    }
    if (ViewController::Ptr top = TopViewController()) {
        container->InsertSubviewBelow(top->GetView(), bar_);
    }
    LayoutBarAndTop();
}

void NavigationController::LayoutBarAndTop() {
    std::shared_ptr<View> container = GetView();
    const Rect b = container->Bounds();
    const bool compact = !UiDevice::Current().IsPad() && IsLandscape(GetInterfaceOrientation());
    const double barHeight = compact ? kNavigationBarLandscapePhoneHeight : kNavigationBarHeight;
    bar_->SetFrame(Rect(0, 0, b.Width(), barHeight));
    if (ViewController::Ptr top = TopViewController()) {
        std::shared_ptr<View> v = top->GetView();
        if (v->Superview() == container && v != bar_) {
            container->InsertSubviewBelow(v, bar_);
        }
        const double y = barHidden_ ? 0 : barHeight;
        v->SetFrame(Rect(0, y, b.Width(), b.Height() - y));
        v->SetAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    }
}

}  // namespace ui
