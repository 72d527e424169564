#include "platform/ui/Window.h"

#include "platform/core/LogWriter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

namespace ui {

Window::Window(const Rect& frame) : View(frame) { SetHidden(true); }

void Window::SetRootViewController(const ViewController::Ptr& controller) {
    if (controller == root_) {
        return;
    }
    if (controller &&
        (controller->ParentViewController() || controller->PresentingViewController())) {
        ns::Log("[UI] Window: %s is in a container or presented; it cannot be the root",
                controller->ClassName());
        return;
    }
    const bool visible = !IsHidden();
    ViewController::Ptr old = root_;
    if (old) {
        // What the old root presents goes first, topmost first.
        old->TearDownPresentations();
        if (visible) {
            old->BeginAppearanceTransition(false, false);
        }
    }
    root_ = controller;
    if (controller) {
        std::shared_ptr<View> view = controller->GetView();
        view->SetFrame(ContentFrameFor(*controller));
        view->SetAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
        if (visible) {
            controller->BeginAppearanceTransition(true, false);
        }
        AddSubview(view);
    }
    if (old) {
        if (old->view_ && old->view_->Superview().get() == this) {
            old->view_->RemoveFromSuperview();
        }
        if (visible) {
            old->EndAppearanceTransition();
        }
    }
    if (controller && visible) {
        controller->EndAppearanceTransition();
    }
}

void Window::MakeKeyAndVisible() {
    auto self = std::static_pointer_cast<Window>(shared_from_this());
    Application::Shared().AddWindow(self);
    Application::Shared().SetKeyWindow(self);
    if (!IsHidden()) {
        return;
    }
    SetHidden(false);
    for (const ViewController::Ptr& vc : PresentationChain()) {
        if (vc->view_ && vc->view_->Superview().get() == this) {
            vc->BeginAppearanceTransition(true, false);
            vc->EndAppearanceTransition();
        }
    }
}

bool Window::IsKeyWindow() const { return Application::Shared().KeyWindow().get() == this; }

Rect Window::ContentFrameFor(const ViewController& controller) const {
    Rect b = Bounds();
    if (Application::Shared().IsStatusBarHidden() || controller.WantsFullScreenLayout()) {
        return Rect(Point(), b.size);
    }
    return Rect(0, kStatusBarHeight, b.Width(), b.Height() - kStatusBarHeight);
}

void Window::LayoutControllerViews() {
    for (const ViewController::Ptr& vc : PresentationChain()) {
        if (vc->view_ && vc->view_->Superview().get() == this) {
            vc->view_->SetFrame(ContentFrameFor(*vc));
        }
    }
}

std::vector<ViewController::Ptr> Window::PresentationChain() const {
    std::vector<ViewController::Ptr> chain;
    for (ViewController::Ptr vc = root_; vc; vc = vc->PresentedViewController()) {
        chain.push_back(vc);
    }
    return chain;
}

ViewController::Ptr Window::TopViewController() const {
    std::vector<ViewController::Ptr> chain = PresentationChain();
    return chain.empty() ? nullptr : chain.back();
}

}  // namespace ui
