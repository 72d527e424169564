#include "platform/ui/SearchBar.h"

#include <algorithm>

#include "platform/ui/Animate.h"

namespace ui {
namespace {

constexpr double kMargin = 8;
constexpr double kFieldHeight = 30;
constexpr double kCancelWidth = 60;
constexpr double kBarHeight = 44;
constexpr double kCancelSlideSeconds = 0.25;

}  // namespace

bool SearchBarDelegate::ShouldBeginEditing(SearchBar&) { return true; }
void SearchBarDelegate::TextDidChange(SearchBar&, const std::string&) {}
void SearchBarDelegate::SearchButtonClicked(SearchBar&) {}
void SearchBarDelegate::CancelButtonClicked(SearchBar&) {}

// Owned by the bar and known to the field only weakly, so `bar_` never outlives the bar.
class SearchBar::FieldDelegate : public TextFieldDelegate {
public:
    explicit FieldDelegate(SearchBar& bar) : bar_(bar) {}

    bool ShouldBeginEditing(TextField&) override {
        std::shared_ptr<SearchBarDelegate> d = bar_.Delegate();
        return d ? d->ShouldBeginEditing(bar_) : true;
    }
    bool ShouldReturn(TextField&) override {
        if (std::shared_ptr<SearchBarDelegate> d = bar_.Delegate()) {
            d->SearchButtonClicked(bar_);
        }
        return true;
    }

private:
    SearchBar& bar_;
};

SearchBar::SearchBar(const Rect& frame)
    : View(frame),
      field_(std::make_shared<TextField>()),
      fieldDelegate_(std::make_shared<FieldDelegate>(*this)) {
    field_->SetBorderStyle(TextBorderStyle::RoundedRect);
    field_->SetClearButtonMode(TextFieldViewMode::WhileEditing);
    field_->SetDelegate(fieldDelegate_);
    field_->AddTarget(
        this,
        [this](Control&) {
            if (std::shared_ptr<SearchBarDelegate> d = Delegate()) {
                d->TextDidChange(*this, field_->Text());
            }
        },
        ControlEvent::EditingChanged);
}

SearchBar::~SearchBar() {
    // The field may outlive the bar (someone kept it): it must not call back into it.
    field_->RemoveTarget(this);
    field_->SetDelegate(nullptr);
    if (cancel_) {
        cancel_->RemoveTarget(this);
    }
}

void SearchBar::EnsureSubviews() {
    if (subviewsAdded_ || weak_from_this().expired()) {
        return;
    }
    subviewsAdded_ = true;
    AddSubview(field_);
    if (showsCancel_ && cancel_) {
        AddSubview(cancel_);
    }
    PlaceSubviews();
}

void SearchBar::DidMoveToSuperview() { EnsureSubviews(); }

const std::shared_ptr<TextField>& SearchBar::SearchField() {
    EnsureSubviews();
    return field_;
}

void SearchBar::SetText(const std::string& text) {
    EnsureSubviews();
    field_->SetText(text);
}

void SearchBar::SetPlaceholder(const std::string& placeholder) {
    EnsureSubviews();
    field_->SetPlaceholder(placeholder);
}

void SearchBar::SetShowsCancelButton(bool show, bool animated) {
    EnsureSubviews();
    if (show == showsCancel_) {
        return;
    }
    showsCancel_ = show;
    if (show && !cancel_) {
        cancel_ = std::make_shared<Button>();
        cancel_->SetTitle(std::string("Cancel"), ControlState::Normal);
        cancel_->AddTarget(
            this,
            [this](Control&) {
                if (std::shared_ptr<SearchBarDelegate> d = Delegate()) {
                    d->CancelButtonClicked(*this);
                }
            },
            ControlEvent::TouchUpInside);
    }
    if (subviewsAdded_) {
        if (show) {
            AddSubview(cancel_);
        } else {
            cancel_->RemoveFromSuperview();
        }
    }
    NoteChange();
    if (animated) {
        Animate(kCancelSlideSeconds, [this] { PlaceSubviews(); });
    } else {
        PlaceSubviews();
    }
}

void SearchBar::SetTintColor(const std::optional<Color>& color) {
    EnsureSubviews();
    if (color == tint_) {
        return;
    }
    tint_ = color;
    NoteChange();
}

void SearchBar::SetBackgroundImage(Image::Ptr image) {
    EnsureSubviews();
    if (image == backgroundImage_) {
        return;
    }
    backgroundImage_ = std::move(image);
    NoteChange();
}

bool SearchBar::CanBecomeFirstResponder() const { return field_->CanBecomeFirstResponder(); }

bool SearchBar::BecomeFirstResponder() {
    EnsureSubviews();
    return field_->BecomeFirstResponder();
}

bool SearchBar::ResignFirstResponder() { return field_->ResignFirstResponder(); }

bool SearchBar::IsFirstResponder() const { return field_->IsFirstResponder(); }

void SearchBar::LayoutSubviews() {
    EnsureSubviews();
    PlaceSubviews();
}

void SearchBar::PlaceSubviews() {
    const Size size = Bounds().size;
    const double fieldHeight = std::min(kFieldHeight, size.height);
    double right = size.width - kMargin;
    if (showsCancel_ && cancel_) {
        const Rect cancel(size.width - kMargin - kCancelWidth, (size.height - fieldHeight) / 2,
                          kCancelWidth, fieldHeight);
        cancel_->SetFrame(cancel);
        right = cancel.X() - kMargin;
    }
    field_->SetFrame(Rect(kMargin, (size.height - fieldHeight) / 2, std::max(0.0, right - kMargin),
                          fieldHeight));
}

Size SearchBar::SizeThatFits(const Size& size) const { return Size(size.width, kBarHeight); }

}  // namespace ui
