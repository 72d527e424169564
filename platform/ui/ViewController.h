#ifndef PLATFORM_UI_VIEW_CONTROLLER_H
#define PLATFORM_UI_VIEW_CONTROLLER_H
// A view controller: one screen of the application, its view tree, life cycle, rotation and
// modal presentation.
//
// The view is made when it is first asked for (GetView): LoadView runs the builder registered
// under the controller's interface name (InterfaceBuilder) and fills the outlets the controller
// declared with BindOutlet; without a builder it makes a plain view of the screen's size.
// ViewDidLoad follows, once per loaded view. A memory warning drops a view that is not in a
// window (ViewDidUnload); the next GetView loads it again.
//
// Appearance calls come in pairs, Will... when a transition begins and Did... when it ends, and
// only on a real change (a controller that has appeared is not told again that it appears).
// Containers (NavigationController) pass appearance and rotation calls on to the child they
// show.
//
// Modal presentation: the presented controller's view covers the window; the presenting one
// gets the disappear calls and its view leaves the window when the transition ends. Transitions
// take kModalTransitionDuration on toolkit-loop timers (no time when not animated: they end at
// the next loop step); the completion runs when the transition has ended. A present or dismiss
// asked for while a transition runs waits for it to end instead of being lost. A controller
// inside a container presents through its outermost container, as the platform does.
//
// Controllers are owned by std::shared_ptr (make them with std::make_shared): a window owns its
// root controller, a controller owns the one it presents and a container its children; the
// way back up is weak. Main thread only.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/ui/InterfaceBuilder.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationController;
class NavigationItem;  // built with the navigation bar
class Window;

// The platform's styles, numbered as the application gives them.
enum class ModalTransitionStyle {
    CoverVertical = 0,
    CrossDissolve = 1,
    FlipHorizontal = 2,
    PartialCurl = 3,
};

constexpr double kModalTransitionDuration = 0.3;

class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    using Ptr = std::shared_ptr<ViewController>;

    // interfaceName: the builder's name ("LoginViewController~iPhone"); empty: none.
    explicit ViewController(std::string interfaceName = std::string());
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // For logs.
    virtual const char* ClassName() const { return "ViewController"; }
    const std::string& InterfaceName() const { return interfaceName_; }

    // --- the view
    // Loads the view first if needed (LoadView, then ViewDidLoad).
    std::shared_ptr<View> GetView();
    bool IsViewLoaded() const { return view_ != nullptr; }
    // For LoadView overrides; called from outside it replaces the view without ViewDidLoad.
    void SetView(std::shared_ptr<View> view);
    // Drops the view when it is in no window and no superview, then calls ViewDidUnload.
    virtual void DidReceiveMemoryWarning();

    // --- life cycle (the defaults do nothing but LoadView)
    virtual void LoadView();
    virtual void ViewDidLoad() {}
    virtual void ViewDidUnload() {}
    virtual void ViewWillAppear(bool /*animated*/) {}
    virtual void ViewDidAppear(bool /*animated*/) {}
    virtual void ViewWillDisappear(bool /*animated*/) {}
    virtual void ViewDidDisappear(bool /*animated*/) {}

    // Windows, containers and presentations call these; each sends its call only on a change
    // (appearing: not while appearing or appeared; disappearing: not while disappearing or
    // gone). A controller that comes back after the interface turned while it was away is first
    // told of the rotation (will, will-animate, did, with no time).
    void BeginAppearanceTransition(bool appearing, bool animated);
    void EndAppearanceTransition();
    // Between the end of an appear transition and the start of a disappear one.
    bool IsAppeared() const { return appearance_ == Appearance::Appeared; }

    // --- title and containers
    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    // Made on first use by the factory the navigation bar's code installs (null without one).
    std::shared_ptr<NavigationItem> GetNavigationItem();
    void SetNavigationItem(std::shared_ptr<NavigationItem> item) { navigationItem_ = item; }
    using NavigationItemFactory = std::function<std::shared_ptr<NavigationItem>(ViewController&)>;
    static void SetNavigationItemFactory(NavigationItemFactory factory);
    // The container this controller is a child of; null for none.
    Ptr ParentViewController() const { return parent_.lock(); }
    // The nearest navigation controller up the parent chain.
    std::shared_ptr<NavigationController> GetNavigationController() const;
    // Whether the view reaches under a shown status bar (false: the window gives it the
    // application frame below the bar).
    bool WantsFullScreenLayout() const { return wantsFullScreenLayout_; }
    void SetWantsFullScreenLayout(bool wants) { wantsFullScreenLayout_ = wants; }

    // --- rotation
    // The default allows portrait only, as the platform's does.
    virtual bool ShouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation);
    virtual void WillRotateToInterfaceOrientation(InterfaceOrientation /*orientation*/,
                                                  double /*duration*/) {}
    // Runs inside the rotation's animation block, after the window took its new size.
    virtual void WillAnimateRotationToInterfaceOrientation(InterfaceOrientation /*orientation*/,
                                                           double /*duration*/) {}
    virtual void DidRotateFromInterfaceOrientation(InterfaceOrientation /*from*/) {}
    // The application's interface orientation.
    InterfaceOrientation GetInterfaceOrientation() const;

    // Rotation calls to this controller and then to the child it shows (Application uses them).
    void SendWillRotate(InterfaceOrientation orientation, double duration);
    void SendWillAnimateRotation(InterfaceOrientation orientation, double duration);
    void SendDidRotate(InterfaceOrientation from);

    // --- modal presentation
    ModalTransitionStyle GetModalTransitionStyle() const { return modalTransitionStyle_; }
    void SetModalTransitionStyle(ModalTransitionStyle style) { modalTransitionStyle_ = style; }
    // False, with a log line and without the completion, when it cannot be done: no
    // controller, one that is already presented or in a container, a presenter that already
    // presents one or whose view is in no window.
    bool PresentViewController(const Ptr& controller, bool animated,
                               std::function<void()> completion = nullptr);
    // Dismisses the controller this one presents, or else this one from its presenter
    // (with everything presented above it). Nothing happens when neither exists.
    void DismissViewController(bool animated, std::function<void()> completion = nullptr);
    Ptr PresentedViewController() const { return presented_; }
    Ptr PresentingViewController() const { return presenting_.lock(); }

protected:
    // Declares an outlet: after the builder ran, `slot` holds the view whose identifier is
    // `identifier` (of type T or derived from it) or, for a T that is not a view, the object
    // the builder added under that name. A missing outlet or one of another type is reported
    // by a log line and left null. Call it from the constructor; `slot` must be a member.
    template <typename T>
    void BindOutlet(const std::string& identifier, std::shared_ptr<T>& slot) {
        outlets_.push_back(
            Outlet{identifier, [&slot, identifier](const std::shared_ptr<View>& root,
                                                   const InterfaceBuilder::Context& ctx) {
                       return BindOne(root, ctx, identifier, slot);
                   }});
    }

    // The child that appearance and rotation calls go on to; containers override it.
    virtual Ptr ForwardingChild() const { return nullptr; }
    // The window this controller's view is in; null when it is in none.
    std::shared_ptr<Window> WindowOfView() const;

private:
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
    enum class BindResult { Bound, Missing, WrongType };
    struct Outlet {
        std::string identifier;
        std::function<BindResult(const std::shared_ptr<View>&, const InterfaceBuilder::Context&)>
            bind;
    };

    template <typename T>
    static BindResult BindOne(const std::shared_ptr<View>& root,
                              const InterfaceBuilder::Context& ctx, const std::string& id,
                              std::shared_ptr<T>& slot) {
        slot.reset();
        if constexpr (std::is_base_of_v<View, T>) {
            if (std::shared_ptr<View> v = root ? root->FindByIdentifier(id) : nullptr) {
                slot = std::dynamic_pointer_cast<T>(v);
                return slot ? BindResult::Bound : BindResult::WrongType;
            }
        }
        if (const std::any* object = ctx.FindObject(id)) {
            if (const auto* typed = std::any_cast<std::shared_ptr<T>>(object)) {
                slot = *typed;
                return BindResult::Bound;
            }
            return BindResult::WrongType;
        }
        return BindResult::Missing;
    }
    void BindOutlets(const std::shared_ptr<View>& root, const InterfaceBuilder::Context& ctx);

    Ptr OutermostParent();
    // Starts a presentation transition whose last step is `finish`.
    void StartTransition(bool animated, std::function<void()> finish);
    // Ends the running transition now (its timer is cancelled), then starts waiting requests.
    void FinishTransition();
    // Takes away, at once, everything this controller presents (topmost first).
    void TearDownPresentations();

    void SetParent(const Ptr& parent) { parent_ = parent; }

    friend class NavigationController;
    friend class Window;

    std::string interfaceName_;
    std::string title_;
    std::shared_ptr<View> view_;
    bool loadingView_ = false;
    std::vector<Outlet> outlets_;
    std::shared_ptr<NavigationItem> navigationItem_;
    std::weak_ptr<ViewController> parent_;
    bool wantsFullScreenLayout_ = false;

    Appearance appearance_ = Appearance::Disappeared;
    bool appearanceAnimated_ = false;
    // The interface orientation this controller last knew of (none before it first appeared).
    std::optional<InterfaceOrientation> orientationSeen_;

    ModalTransitionStyle modalTransitionStyle_ = ModalTransitionStyle::CoverVertical;
    Ptr presented_;
    std::weak_ptr<ViewController> presenting_;
    // The running transition of the controller this one presents: its timer and last step.
    uint64_t transitionTimer_ = 0;
    std::function<void()> finishTransition_;
    std::deque<std::function<void()>> waiting_;
};

}  // namespace ui

#endif  // PLATFORM_UI_VIEW_CONTROLLER_H
