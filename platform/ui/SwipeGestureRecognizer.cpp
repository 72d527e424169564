#include "platform/ui/SwipeGestureRecognizer.h"

#include <algorithm>

namespace ui {
namespace {

// The attachments, oldest first. The registry holds the recognisers, as a view holds its
// own; an attachment whose view is gone is dropped on the next look.
struct Attachment {
    std::weak_ptr<View> view;
    const View* key;
    SwipeGestureRecognizer::Ptr recognizer;
};

std::vector<Attachment>& Attachments() {
    static auto* attachments = new std::vector<Attachment>();  // never destroyed
    return *attachments;
}

void DropDeadViews() {
    std::vector<Attachment>& all = Attachments();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const Attachment& a) { return a.view.expired(); }),
              all.end());
}

}  // namespace

SwipeGestureRecognizer::SwipeGestureRecognizer(const void* owner, Action action) {
    AddTarget(owner, std::move(action));
}

void SwipeGestureRecognizer::AddTarget(const void* owner, Action action) {
    if (action) {
        targets_.push_back(Target{owner, std::make_shared<Action>(std::move(action))});
    }
}

void SwipeGestureRecognizer::RemoveTarget(const void* owner) {
    targets_.erase(
        std::remove_if(targets_.begin(), targets_.end(),
                       [&](const Target& t) { return owner == nullptr || t.owner == owner; }),
        targets_.end());
}

void SwipeGestureRecognizer::AddTo(const View::Ptr& view, const Ptr& recognizer) {
    if (!view || !recognizer) {
        return;
    }
    DropDeadViews();
    std::vector<Attachment>& all = Attachments();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [&](const Attachment& a) { return a.recognizer == recognizer; }),
              all.end());
    all.push_back(Attachment{view, view.get(), recognizer});
    recognizer->view_ = view;
}

void SwipeGestureRecognizer::RemoveFrom(const View::Ptr& view, const Ptr& recognizer) {
    if (!view || !recognizer) {
        return;
    }
    std::vector<Attachment>& all = Attachments();
    auto it = std::find_if(all.begin(), all.end(), [&](const Attachment& a) {
        return a.key == view.get() && a.recognizer == recognizer;
    });
    if (it == all.end()) {
        return;
    }
    all.erase(it);
    recognizer->view_.reset();
    DropDeadViews();
}

std::vector<SwipeGestureRecognizer::Ptr> SwipeGestureRecognizer::RecognizersOf(const View& view) {
    DropDeadViews();
    std::vector<Ptr> found;
    for (const Attachment& a : Attachments()) {
        if (a.key == &view) {
            found.push_back(a.recognizer);
        }
    }
    return found;
}

bool SwipeGestureRecognizer::Swipe(View& view, unsigned direction) {
    if (direction == 0) {
        return false;
    }
    View::Ptr hold = view.weak_from_this().lock();
    for (View* current = &view; current != nullptr;) {
        for (const Ptr& r : RecognizersOf(*current)) {
            if (r->IsEnabled() && (r->Direction() & direction) != 0) {
                r->Fire();
                return true;
            }
        }
        hold = current->Superview();  // keeps the next one alive while it is looked at
        current = hold.get();
    }
    return false;
}

void SwipeGestureRecognizer::Fire() {
    Ptr keep = shared_from_this();
    std::vector<Target> targets = targets_;  // actions may change them
    for (const Target& t : targets) {
        (*t.action)(*this);
    }
}

}  // namespace ui
