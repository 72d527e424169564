#include "platform/ui/ViewController.h"

#include "platform/core/LogWriter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

ViewController::NavigationItemFactory& ItemFactory() {
    static auto* factory = new ViewController::NavigationItemFactory();  // never destroyed
    return *factory;
}

}  // namespace

ViewController::ViewController(std::string interfaceName)
    : interfaceName_(std::move(interfaceName)) {}

ViewController::~ViewController() {
    if (transitionTimer_ != 0) {
        Loop().CancelTimer(transitionTimer_);
    }
}

// --- the view

std::shared_ptr<View> ViewController::GetView() {
    if (view_) {
        return view_;
    }
    if (loadingView_) {  // LoadView asked for the view it is making
        ns::Log("[UI] %s \"%s\": the view was asked for while it loads", ClassName(),
                interfaceName_);
        return nullptr;
    }
    loadingView_ = true;
    LoadView();
    loadingView_ = false;
    if (!view_) {
        ns::Log("[UI] %s \"%s\": LoadView made no view; using a plain one", ClassName(),
                interfaceName_);
        view_ = std::make_shared<View>(Screen::Main().Bounds());
    }
    std::shared_ptr<View> keep = view_;
    ViewDidLoad();
    return keep;
}

void ViewController::SetView(std::shared_ptr<View> view) { view_ = std::move(view); }

void ViewController::DidReceiveMemoryWarning() {
    if (!view_ || view_->Superview() || view_->WindowOf()) {
        return;
    }
    view_.reset();
    ViewDidUnload();
}

void ViewController::LoadView() {
    InterfaceBuilder::Context context(*this);
    std::shared_ptr<View> root;
    if (InterfaceBuilder::Builder build = InterfaceBuilder::Find(interfaceName_)) {
        root = build(context);
        if (!root) {
            ns::Log("[UI] %s: the interface \"%s\" made no view; using a plain one", ClassName(),
                    interfaceName_);
        }
    } else if (!interfaceName_.empty()) {
        ns::Log("[UI] %s: no interface is registered under \"%s\"; using a plain view", ClassName(),
                interfaceName_);
    }
    if (!root) {
        root = std::make_shared<View>(Screen::Main().Bounds());
    }
    BindOutlets(root, context);
    SetView(root);
}

void ViewController::BindOutlets(const std::shared_ptr<View>& root,
                                 const InterfaceBuilder::Context& ctx) {
    for (const Outlet& outlet : outlets_) {
        switch (outlet.bind(root, ctx)) {
            case BindResult::Bound: break;
            case BindResult::Missing:
                ns::Log("[UI] %s: outlet \"%s\" is not in the interface \"%s\"; left empty",
                        ClassName(), outlet.identifier, interfaceName_);
                break;
            case BindResult::WrongType: {
                std::shared_ptr<View> v = root->FindByIdentifier(outlet.identifier);
                ns::Log(
                    "[UI] %s: outlet \"%s\" of the interface \"%s\" is a %s of another type "
                    "than the outlet's; left empty",
                    ClassName(), outlet.identifier, interfaceName_, v ? v->ClassName() : "object");
                break;
            }
        }
    }
}

// --- appearance

void ViewController::BeginAppearanceTransition(bool appearing, bool animated) {
    if (appearing) {
        if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) {
            return;
        }
        const InterfaceOrientation now = GetInterfaceOrientation();
        if (orientationSeen_ && *orientationSeen_ != now) {
            // The interface turned while this controller was away.
            const InterfaceOrientation from = *orientationSeen_;
            SendWillRotate(now, 0);
            SendWillAnimateRotation(now, 0);
            SendDidRotate(from);
        }
        orientationSeen_ = now;
        appearance_ = Appearance::Appearing;
        appearanceAnimated_ = animated;
        ViewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) {
            return;
        }
        appearance_ = Appearance::Disappearing;
        appearanceAnimated_ = animated;
        ViewWillDisappear(animated);
    }
    if (Ptr child = ForwardingChild()) {
        child->BeginAppearanceTransition(appearing, animated);
    }
}

void ViewController::EndAppearanceTransition() {
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        ViewDidAppear(appearanceAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        ViewDidDisappear(appearanceAnimated_);
    }
    if (Ptr child = ForwardingChild()) {
        child->EndAppearanceTransition();
    }
}

// --- title and containers

std::shared_ptr<NavigationItem> ViewController::GetNavigationItem() {
    if (!navigationItem_ && ItemFactory()) {
        navigationItem_ = ItemFactory()(*this);
    }
    return navigationItem_;
}

void ViewController::SetNavigationItemFactory(NavigationItemFactory factory) {
    ItemFactory() = std::move(factory);
}

std::shared_ptr<NavigationController> ViewController::GetNavigationController() const {
    for (Ptr p = parent_.lock(); p; p = p->parent_.lock()) {
        if (auto nav = std::dynamic_pointer_cast<NavigationController>(p)) {
            return nav;
        }
    }
    return nullptr;
}

std::shared_ptr<Window> ViewController::WindowOfView() const {
    return view_ ? std::dynamic_pointer_cast<Window>(view_->WindowOf()) : nullptr;
}

ViewController::Ptr ViewController::OutermostParent() {
    Ptr p = shared_from_this();
    while (Ptr up = p->parent_.lock()) {
        p = up;
    }
    return p;
}

// --- rotation

bool ViewController::ShouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
    return orientation == InterfaceOrientation::Portrait;
}

InterfaceOrientation ViewController::GetInterfaceOrientation() const {
    return Application::Shared().StatusBarOrientation();
}

void ViewController::SendWillRotate(InterfaceOrientation orientation, double duration) {
    orientationSeen_ = orientation;
    WillRotateToInterfaceOrientation(orientation, duration);
    if (Ptr child = ForwardingChild()) {
        child->SendWillRotate(orientation, duration);
    }
}

void ViewController::SendWillAnimateRotation(InterfaceOrientation orientation, double duration) {
    WillAnimateRotationToInterfaceOrientation(orientation, duration);
    if (Ptr child = ForwardingChild()) {
        child->SendWillAnimateRotation(orientation, duration);
    }
}

void ViewController::SendDidRotate(InterfaceOrientation from) {
    DidRotateFromInterfaceOrientation(from);
    if (Ptr child = ForwardingChild()) {
        child->SendDidRotate(from);
    }
}

// --- modal presentation

bool ViewController::PresentViewController(const Ptr& controller, bool animated,
                                           std::function<void()> completion) {
    Ptr host = OutermostParent();
    if (!controller || controller == host || controller->parent_.lock() ||
        controller->presenting_.lock()) {
        ns::Log(
            "[UI] %s: cannot present %s: it is missing, this controller, in a container "
            "or already presented",
            ClassName(), controller ? controller->ClassName() : "nothing");
        return false;
    }
    if (host->finishTransition_) {
        std::weak_ptr<ViewController> weak = host;
        host->waiting_.push_back([weak, controller, animated, completion] {
            if (Ptr h = weak.lock()) {
                h->PresentViewController(controller, animated, completion);
            }
        });
        return true;
    }
    if (host->presented_) {
        ns::Log("[UI] %s: cannot present %s: it already presents %s", host->ClassName(),
                controller->ClassName(), host->presented_->ClassName());
        return false;
    }
    std::shared_ptr<Window> window = host->WindowOfView();
    if (!window) {
        ns::Log("[UI] %s: cannot present %s: its view is in no window", host->ClassName(),
                controller->ClassName());
        return false;
    }
    host->presented_ = controller;
    controller->presenting_ = host;
    std::shared_ptr<View> view = controller->GetView();
    view->SetFrame(window->ContentFrameFor(*controller));
    view->SetAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    window->AddSubview(view);
    controller->BeginAppearanceTransition(true, animated);
    host->BeginAppearanceTransition(false, animated);
    ViewController* h = host.get();  // the step is stored in the host itself
    host->StartTransition(animated, [h, controller, completion] {
        if (h->view_ && h->view_->WindowOf()) {
            h->view_->RemoveFromSuperview();  // covered now
        }
        controller->EndAppearanceTransition();
        h->EndAppearanceTransition();
        if (completion) {
            completion();
        }
    });
    return true;
}

void ViewController::DismissViewController(bool animated, std::function<void()> completion) {
    Ptr self = OutermostParent();
    Ptr host = self->presented_ ? self : self->presenting_.lock();
    if (!host) {
        return;
    }
    if (host->finishTransition_) {
        std::weak_ptr<ViewController> weak = host;
        host->waiting_.push_back([weak, animated, completion] {
            if (Ptr h = weak.lock()) {
                if (h->presented_) {
                    h->DismissViewController(animated, completion);
                }
            }
        });
        return;
    }
    Ptr presented = host->presented_;
    presented->TearDownPresentations();
    std::shared_ptr<Window> window = presented->WindowOfView();
    if (window) {
        std::shared_ptr<View> hostView = host->GetView();
        hostView->SetFrame(window->ContentFrameFor(*host));
        window->InsertSubviewBelow(hostView, presented->view_);
    }
    presented->BeginAppearanceTransition(false, animated);
    host->BeginAppearanceTransition(true, animated);
    ViewController* h = host.get();
    host->StartTransition(animated, [h, presented, completion] {
        if (presented->view_) {
            presented->view_->RemoveFromSuperview();
        }
        presented->EndAppearanceTransition();
        h->EndAppearanceTransition();
        h->presented_.reset();
        presented->presenting_.reset();
        if (completion) {
            completion();
        }
    });
}

void ViewController::StartTransition(bool animated, std::function<void()> finish) {
    finishTransition_ = std::move(finish);
    const double duration = animated ? kModalTransitionDuration : 0;
    Ptr self = shared_from_this();  // kept until the transition ends
    transitionTimer_ = Loop().AfterDelay(SecondsToDuration(duration), [self] {
        self->transitionTimer_ = 0;
        self->FinishTransition();
    });
}

void ViewController::FinishTransition() {
    if (transitionTimer_ != 0) {
        Loop().CancelTimer(transitionTimer_);
        transitionTimer_ = 0;
    }
    if (finishTransition_) {
        std::function<void()> finish = std::move(finishTransition_);
        finishTransition_ = nullptr;
        finish();
    }
    // Requests that waited for the transition; one of them may start the next transition.
    while (!finishTransition_ && !waiting_.empty()) {
        std::function<void()> next = std::move(waiting_.front());
        waiting_.pop_front();
        next();
    }
}

void ViewController::TearDownPresentations() {
    waiting_.clear();
    FinishTransition();
    if (!presented_) {
        return;
    }
    Ptr presented = presented_;
    presented->TearDownPresentations();
    presented->BeginAppearanceTransition(false, false);
    if (presented->view_) {
        presented->view_->RemoveFromSuperview();
    }
    presented->EndAppearanceTransition();
    presented_.reset();
    presented->presenting_.reset();
}

}  // namespace ui
