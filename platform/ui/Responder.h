#ifndef PLATFORM_UI_RESPONDER_H
#define PLATFORM_UI_RESPONDER_H
// First responder: the one view of a view tree that receives typing. A tree is keyed by its root
// (the topmost superview; a window is such a root), so each window has at most one first
// responder, and trees that are not in a window yet keep their own.
//
// A Responder is mixed into a View subclass (class TextField : public Control, public
// Responder) and names that view in ResponderView(); the view must be owned by a shared_ptr.
//
// BecomeFirstResponder: true at once when already first responder; otherwise false when
// CanBecomeFirstResponder() or ShouldBecomeFirstResponder() says no, or when the tree's current
// first responder refuses to resign; else the current one resigns and this one becomes first
// responder (DidBecomeFirstResponder). ResignFirstResponder: true when not first responder;
// false when CanResignFirstResponder() says no; else DidResignFirstResponder.
//
// Subclasses resign when their view leaves its superview or its window (TextField does). When
// trees holding a first responder each are joined, the one that became first responder last
// counts; the others resign when the next one becomes first responder there.
//
// The keyboard (Keyboard.h) is shown while any tree's first responder ShowsKeyboard(); it is
// brought up to date once per Become / Resign call, after the whole hand-over. Main thread only.

#include <memory>

namespace ui {

class View;

class Responder {
public:
    virtual ~Responder();

    virtual bool CanBecomeFirstResponder() const { return false; }
    virtual bool CanResignFirstResponder() const { return true; }
    virtual bool BecomeFirstResponder();
    virtual bool ResignFirstResponder();
    virtual bool IsFirstResponder() const;
    // Whether being first responder brings up the keyboard (text inputs).
    virtual bool ShowsKeyboard() const { return false; }

    // The first responder of the tree view belongs to; null when it has none.
    static std::shared_ptr<View> FirstResponderOf(const View& view);

protected:
    Responder() = default;
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // The view this responder is.
    virtual View& ResponderView() = 0;
    virtual const View& ResponderView() const = 0;
    // Asked after CanBecomeFirstResponder, before the current first responder resigns (a text
    // field asks its delegate here).
    virtual bool ShouldBecomeFirstResponder() { return true; }
    virtual void DidBecomeFirstResponder() {}
    virtual void DidResignFirstResponder() {}

private:
    // Leaves the bookkeeping (also when no longer the tree's first responder) and tells
    // DidResignFirstResponder; false when CanResignFirstResponder says no.
    bool ResignRegistered();
};

}  // namespace ui

#endif  // PLATFORM_UI_RESPONDER_H
