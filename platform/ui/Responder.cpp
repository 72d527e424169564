#include "platform/ui/Responder.h"

#include <algorithm>
#include <vector>

#include "platform/ui/Keyboard.h"
#include "platform/ui/View.h"

namespace ui {
namespace {

// The responders that became first responder, oldest first. The view is held weakly: a view
// that is gone no longer counts (and its Responder part unregisters itself when destroyed).
struct Entry {
    std::weak_ptr<View> view;
    Responder* responder;
};

std::vector<Entry>& Entries() {
    static auto* entries = new std::vector<Entry>();  // never destroyed
    return *entries;
}

int& BatchDepth() {
    static int depth = 0;
    return depth;
}

const View* RootOf(const View& view) {
    const View* root = &view;
    for (View::Ptr up = view.Superview(); up; up = up->Superview()) {
        root = up.get();  // kept alive by the tree below it
    }
    return root;
}

// The tree's first responder: the latest living entry whose view is in that tree.
const Entry* EffectiveFor(const View* root) {
    const std::vector<Entry>& entries = Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        View::Ptr v = it->view.lock();
        if (v && RootOf(*v) == root) {
            return &*it;
        }
    }
    return nullptr;
}

bool KeyboardWanted() {
    std::vector<Entry> entries = Entries();
    for (const Entry& e : entries) {
        View::Ptr v = e.view.lock();
        if (!v) {
            continue;
        }
        const Entry* effective = EffectiveFor(RootOf(*v));
        if (effective && effective->responder == e.responder && e.responder->ShowsKeyboard()) {
            return true;
        }
    }
    return false;
}

void UpdateKeyboard() {
    // An observer of a keyboard notification may hand first responder on; a few rounds settle
    // it without letting two observers bounce it for ever.
    for (int round = 0; round < 4; ++round) {
        bool wanted = Keyboard::IsOnScreen() && KeyboardWanted();
        if (wanted == Keyboard::IsVisible()) {
            return;
        }
        Keyboard::SetVisible(wanted);
    }
}

void Unregister(const Responder* responder) {
    std::vector<Entry>& entries = Entries();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return e.responder == responder; }),
                  entries.end());
}

// Brings the keyboard up to date when the outermost Become / Resign call ends.
class Batch {
public:
    Batch() { ++BatchDepth(); }
    ~Batch() {
        if (--BatchDepth() == 0) {
            UpdateKeyboard();
        }
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
};

}  // namespace

Responder::~Responder() {
    Unregister(this);
    if (BatchDepth() == 0) {
        UpdateKeyboard();
    }
}

bool Responder::IsFirstResponder() const {
    const Entry* effective = EffectiveFor(RootOf(ResponderView()));
    return effective != nullptr && effective->responder == this;
}

std::shared_ptr<View> Responder::FirstResponderOf(const View& view) {
    const Entry* effective = EffectiveFor(RootOf(view));
    return effective ? effective->view.lock() : nullptr;
}

bool Responder::BecomeFirstResponder() {
    View& self = ResponderView();
    std::shared_ptr<View> keep = self.weak_from_this().lock();
    if (!keep) {
        return false;  // not owned by a shared_ptr: cannot be tracked
    }
    if (IsFirstResponder()) {
        return true;
    }
    if (!CanBecomeFirstResponder() || !ShouldBecomeFirstResponder()) {
        return false;
    }
    Batch batch;
    // Every other responder registered in this tree resigns, the current one first.
    const View* root = RootOf(self);
    std::vector<std::pair<std::shared_ptr<View>, Responder*>> others;
    const std::vector<Entry>& entries = Entries();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        View::Ptr v = it->view.lock();
        if (v && it->responder != this && RootOf(*v) == root) {
            others.emplace_back(v, it->responder);
        }
    }
    for (auto& other : others) {
        if (!other.second->ResignRegistered()) {
            return false;
        }
    }
    Unregister(this);
    Entries().push_back(Entry{keep, this});
    DidBecomeFirstResponder();
    return true;
}

bool Responder::ResignFirstResponder() {
    if (!IsFirstResponder()) {
        return true;
    }
    std::shared_ptr<View> keep = ResponderView().weak_from_this().lock();
    Batch batch;
    return ResignRegistered();
}

bool Responder::ResignRegistered() {
    if (!CanResignFirstResponder()) {
        return false;
    }
    Unregister(this);
    DidResignFirstResponder();
    return true;
}

}  // namespace ui
