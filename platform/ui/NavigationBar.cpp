#include "platform/ui/NavigationBar.h"

#include <algorithm>

#include "platform/ui/Animate.h"
#include "platform/ui/ScreenMetrics.h"

namespace ui {
namespace {

constexpr double kBarHeight = 44;
constexpr double kLandscapePhoneBarHeight = 32;
constexpr double kItemHeight = 30;
constexpr double kLandscapePhoneItemHeight = 24;
constexpr double kItemPadding = 20;
constexpr double kEdgeMargin = 5;
constexpr double kSlideSeconds = 0.3;
constexpr unsigned kStates[] = {ControlState::Normal, ControlState::Highlighted,
                                ControlState::Disabled};

}  // namespace

bool NavigationBarDelegate::ShouldPushItem(NavigationBar&, NavigationItem&) { return true; }
void NavigationBarDelegate::DidPushItem(NavigationBar&, NavigationItem&) {}
bool NavigationBarDelegate::ShouldPopItem(NavigationBar&, NavigationItem&) { return true; }
void NavigationBarDelegate::DidPopItem(NavigationBar&, NavigationItem&) {}

NavigationBar::NavigationBar(const Rect& frame) : View(frame) {}

NavigationBar::~NavigationBar() {
    for (const NavigationItem::Ptr& item : items_) {
        item->SetChangeListener(nullptr);
    }
}

NavigationItem::Ptr NavigationBar::TopItem() const {
    return items_.empty() ? nullptr : items_.back();
}

NavigationItem::Ptr NavigationBar::BackItem() const {
    return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
}

void NavigationBar::Listen(const NavigationItem::Ptr& item) {
    std::weak_ptr<View> self = weak_from_this();
    item->SetChangeListener([self] {
        if (auto bar = std::static_pointer_cast<NavigationBar>(self.lock())) {
            bar->UpdateContent();
        }
    });
}

bool NavigationBar::PushNavigationItem(NavigationItem::Ptr item, bool animated) {
    if (!item || std::find(items_.begin(), items_.end(), item) != items_.end()) {
        return false;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    std::shared_ptr<NavigationBarDelegate> delegate = Delegate();
    if (delegate && !delegate->ShouldPushItem(*this, *item)) {
        return false;
    }
    if (std::find(items_.begin(), items_.end(), item) != items_.end()) {
        return false;  // the delegate pushed it meanwhile
    }
    items_.push_back(item);
    Listen(item);
    if (animated) {
        Animate(kSlideSeconds, [this] { UpdateContent(); });
    } else {
        UpdateContent();
    }
    if (delegate) {
        delegate->DidPushItem(*this, *item);
    }
    return true;
}

NavigationItem::Ptr NavigationBar::PopNavigationItem(bool animated) {
    NavigationItem::Ptr item = TopItem();
    if (!item) {
        return nullptr;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    std::shared_ptr<NavigationBarDelegate> delegate = Delegate();
    if (delegate && !delegate->ShouldPopItem(*this, *item)) {
        return nullptr;
    }
    if (TopItem() != item) {
        return nullptr;  // the delegate changed the stack meanwhile
    }
    items_.pop_back();
    item->SetChangeListener(nullptr);
    if (animated) {
        Animate(kSlideSeconds, [this] { UpdateContent(); });
    } else {
        UpdateContent();
    }
    if (delegate) {
        delegate->DidPopItem(*this, *item);
    }
    return item;
}

std::shared_ptr<Button> NavigationBar::BackButton() const {
    return backButton_ && leftView_ == backButton_ ? backButton_ : nullptr;
}

bool NavigationBar::TapBackButton() {
    if (!BackButton()) {
        return false;
    }
    return PopNavigationItem(true) != nullptr;
}

void NavigationBar::SetBackgroundImage(Image::Ptr image, BarMetrics metrics) {
    Image::Ptr& slot =
        metrics == BarMetrics::LandscapePhone ? backgroundLandscapePhone_ : backgroundDefault_;
    if (image == slot) {
        return;
    }
    slot = std::move(image);
    NoteChange();
}

Image::Ptr NavigationBar::BackgroundImage(BarMetrics metrics) const {
    return metrics == BarMetrics::LandscapePhone ? backgroundLandscapePhone_ : backgroundDefault_;
}

BarMetrics NavigationBar::CurrentBarMetrics() const {
    const double h = Bounds().size.height;
    return h > 0 && h < kBarHeight ? BarMetrics::LandscapePhone : BarMetrics::Default;
}

Image::Ptr NavigationBar::CurrentBackgroundImage() const {
    Image::Ptr image = BackgroundImage(CurrentBarMetrics());
    return image ? image : backgroundDefault_;
}

Size NavigationBar::SizeThatFits(const Size& size) const {
    return Size(size.width, ScreenMetrics::Current().IsLandscapePhone() ? kLandscapePhoneBarHeight
                                                                        : kBarHeight);
}

bool NavigationBar::EnsurePieces() {
    if (titleLabel_) {
        return true;
    }
    if (weak_from_this().expired()) {
        return false;  // still being made: the pieces come with the first change afterwards
    }
    std::weak_ptr<View> self = weak_from_this();
    auto bar = [self] { return std::static_pointer_cast<NavigationBar>(self.lock()); };
    auto makeButton = [] {
        auto button = std::make_shared<Button>();
        button->TitleLabel()->SetFont(Font::BoldSystemFont(12));
        return button;
    };
    leftButton_ = makeButton();
    leftButton_->AddTarget(
        this,
        [bar](Control&) {
            auto b = bar();
            NavigationItem::Ptr top = b ? b->TopItem() : nullptr;
            if (top && top->LeftBarButtonItem()) {
                top->LeftBarButtonItem()->Press();
            }
        },
        ControlEvent::TouchUpInside);
    rightButton_ = makeButton();
    rightButton_->AddTarget(
        this,
        [bar](Control&) {
            auto b = bar();
            NavigationItem::Ptr top = b ? b->TopItem() : nullptr;
            if (top && top->RightBarButtonItem()) {
                top->RightBarButtonItem()->Press();
            }
        },
        ControlEvent::TouchUpInside);
    backButton_ = makeButton();
    backButton_->AddTarget(
        this,
        [bar](Control&) {
            if (auto b = bar()) {
                b->TapBackButton();
            }
        },
        ControlEvent::TouchUpInside);
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->SetFont(Font::BoldSystemFont(20));
    titleLabel_->SetTextColor(Color::White());
    titleLabel_->SetTextAlignment(TextAlignment::Center);
    return true;
}

View::Ptr NavigationBar::ShowItem(const std::shared_ptr<Button>& button, const BarButtonItem& item,
                                  BarMetrics metrics) {
    if (item.CustomView()) {
        return item.CustomView();
    }
    button->SetTitle(item.Title().empty() ? std::nullopt : std::optional<std::string>(item.Title()),
                     ControlState::Normal);
    button->SetImage(item.GetImage(), ControlState::Normal);
    button->SetEnabled(item.IsEnabled());
    for (unsigned state : kStates) {
        button->SetBackgroundImage(item.EffectiveBackgroundImage(state, metrics), state);
    }
    return button;
}

void NavigationBar::ShowBackButton(const NavigationItem& below, BarMetrics metrics) {
    const BarButtonItem::Ptr& back = below.BackBarButtonItem();
    std::string title = back && !back->Title().empty() ? back->Title() : below.Title();
    if (title.empty()) {
        title = "Back";
    }
    backButton_->SetTitle(title, ControlState::Normal);
    backButton_->SetEnabled(!back || back->IsEnabled());
    for (unsigned state : kStates) {
        Image::Ptr image =
            back ? back->EffectiveBackButtonBackgroundImage(state, metrics)
                 : BarButtonItem::Appearance().backButtonBackgroundImages.Resolve(state, metrics);
        backButton_->SetBackgroundImage(image, state);
    }
}

void NavigationBar::Swap(View::Ptr& slot, const View::Ptr& view) {
    if (slot && slot != view && slot->Superview().get() == this) {
        slot->RemoveFromSuperview();
    }
    slot = view;
    if (view && view->Superview().get() != this) {
        AddSubview(view);
    }
}

void NavigationBar::UpdateContent() {
    if (!EnsurePieces()) {
        return;
    }
    const BarMetrics metrics = CurrentBarMetrics();
    NavigationItem::Ptr top = TopItem();
    NavigationItem::Ptr below = BackItem();
    View::Ptr left, right, title;
    if (top) {
        if (top->LeftBarButtonItem()) {
            left = ShowItem(leftButton_, *top->LeftBarButtonItem(), metrics);
        } else if (below && !top->HidesBackButton()) {
            ShowBackButton(*below, metrics);
            left = backButton_;
        }
        if (top->RightBarButtonItem()) {
            right = ShowItem(rightButton_, *top->RightBarButtonItem(), metrics);
        }
        if (top->TitleView()) {
            title = top->TitleView();
        } else {
            titleLabel_->SetText(top->Title());
            title = titleLabel_;
        }
    }
    Swap(leftView_, left);
    Swap(rightView_, right);
    Swap(titleView_, title);
    NoteChange();
    PlacePieces();
}

void NavigationBar::PlacePieces() {
    const Size size = Bounds().size;
    const double itemHeight =
        CurrentBarMetrics() == BarMetrics::LandscapePhone ? kLandscapePhoneItemHeight : kItemHeight;
    auto sizeOf = [&](const View::Ptr& view) {
        if (view == leftButton_ || view == rightButton_ || view == backButton_) {
            return Size(view->SizeThatFits(size).width + kItemPadding, itemHeight);
        }
        if (view == titleLabel_) {
            return titleLabel_->SizeThatFits(Size());
        }
        return view->Bounds().size;
    };
    if (leftView_) {
        Size s = sizeOf(leftView_);
        leftView_->SetFrame(
            Rect(kEdgeMargin, (size.height - s.height) / 2, s.width, s.height).Round());
    }
    if (rightView_) {
        Size s = sizeOf(rightView_);
        rightView_->SetFrame(Rect(size.width - kEdgeMargin - s.width, (size.height - s.height) / 2,
                                  s.width, s.height)
                                 .Round());
    }
    if (titleView_) {
        Size s = sizeOf(titleView_);
        titleView_->SetFrame(
            Rect((size.width - s.width) / 2, (size.height - s.height) / 2, s.width, s.height)
                .Round());
    }
}

void NavigationBar::LayoutSubviews() { UpdateContent(); }

}  // namespace ui
