#include "platform/ui/AlertView.h"

#include <algorithm>

#include "platform/ui/AlertLog.h"

namespace ui {
namespace {

std::vector<AlertView::Ptr>& Visible() {
    static auto* visible = new std::vector<AlertView::Ptr>();  // never destroyed
    return *visible;
}

uint64_t& Revision() {
    static uint64_t revision = 0;
    return revision;
}

}  // namespace

void AlertViewDelegate::ClickedButtonAtIndex(AlertView&, int) {}
void AlertViewDelegate::WillDismissWithButtonIndex(AlertView&, int) {}
void AlertViewDelegate::DidDismissWithButtonIndex(AlertView&, int) {}

AlertView::AlertView(std::string title, std::string message,
                     const std::shared_ptr<AlertViewDelegate>& delegate,
                     std::optional<std::string> cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)), message_(std::move(message)), delegate_(delegate) {
    if (cancelButtonTitle) {
        cancelIndex_ = 0;
        buttons_.push_back(std::move(*cancelButtonTitle));
    }
    for (std::string& other : otherButtonTitles) {
        buttons_.push_back(std::move(other));
    }
}

int AlertView::AddButtonWithTitle(const std::string& title) {
    buttons_.push_back(title);
    return NumberOfButtons() - 1;
}

std::string AlertView::ButtonTitleAtIndex(int index) const {
    return index >= 0 && index < NumberOfButtons() ? buttons_[static_cast<size_t>(index)]
                                                   : std::string();
}

int AlertView::FirstOtherButtonIndex() const {
    const int first = cancelIndex_ == 0 ? 1 : 0;
    return first < NumberOfButtons() ? first : -1;
}

void AlertView::Show() {
    Ptr self = weak_from_this().lock();
    if (!self || IsVisible()) {
        return;  // an alert not owned by a shared_ptr cannot be kept alive while shown
    }
    Visible().push_back(self);
    ++Revision();
    AlertLog::Append(AlertLogEntry{title_, message_, buttons_, cancelIndex_, tag_});
}

bool AlertView::IsVisible() const {
    const std::vector<Ptr>& visible = Visible();
    return std::any_of(visible.begin(), visible.end(),
                       [this](const Ptr& a) { return a.get() == this; });
}

bool AlertView::ClickButtonAtIndex(int index) {
    if (!IsVisible() || index < 0 || index >= NumberOfButtons()) {
        return false;
    }
    Ptr keep = shared_from_this();
    if (std::shared_ptr<AlertViewDelegate> d = Delegate()) {
        d->ClickedButtonAtIndex(*this, index);
    }
    // The delegate may have dismissed it itself.
    DismissWithClickedButtonIndex(index, true);
    return true;
}

bool AlertView::DismissWithClickedButtonIndex(int index, bool /*animated*/) {
    if (!IsVisible()) {
        return false;
    }
    Ptr keep = shared_from_this();  // the visible list lets go of it below
    std::shared_ptr<AlertViewDelegate> d = Delegate();
    if (d) {
        d->WillDismissWithButtonIndex(*this, index);
    }
    std::vector<Ptr>& visible = Visible();
    auto it = std::find(visible.begin(), visible.end(), keep);
    if (it == visible.end()) {
        return true;  // dismissed from inside WillDismiss: that dismissal told the rest
    }
    visible.erase(it);
    ++Revision();
    if (d) {
        d->DidDismissWithButtonIndex(*this, index);
    }
    return true;
}

std::vector<AlertView::Ptr> AlertView::VisibleAlerts() { return Visible(); }

AlertView::Ptr AlertView::TopVisibleAlert() {
    return Visible().empty() ? nullptr : Visible().back();
}

uint64_t AlertView::VisibleRevision() { return Revision(); }

}  // namespace ui
