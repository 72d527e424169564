#include "platform/ui/TableViewCell.h"

#include <utility>

namespace ui {

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    SetBackgroundColor(Color::White());
}

bool TableViewCell::EnsureContentView() {
    if (contentView_) {
        return true;
    }
    if (weak_from_this().expired()) {
        return false;  // still being made: the content view comes with the first use afterwards
    }
    contentView_ = std::make_shared<View>(Bounds());
    contentView_->SetAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    AddSubview(contentView_);
    return true;
}

std::shared_ptr<View> TableViewCell::ContentView() {
    EnsureContentView();
    return contentView_;
}

std::shared_ptr<Label> TableViewCell::TextLabel() {
    if (!textLabel_ && EnsureContentView()) {
        textLabel_ = std::make_shared<Label>();
        textLabel_->SetFont(Font::BoldSystemFont(20));
        textLabel_->SetBackgroundColor(Color::Clear());
        contentView_->AddSubview(textLabel_);
        SetNeedsLayout();
    }
    return textLabel_;
}

std::shared_ptr<ui::ImageView> TableViewCell::GetImageView() {
    if (!imageView_ && EnsureContentView()) {
        imageView_ = std::make_shared<ui::ImageView>();
        imageView_->SetHighlighted(selected_ || highlighted_);
        contentView_->AddSubview(imageView_);
        SetNeedsLayout();
    }
    return imageView_;
}

void TableViewCell::SetBackgroundView(std::shared_ptr<View> view) {
    if (view == backgroundView_) {
        return;
    }
    if (backgroundView_) {
        backgroundView_->RemoveFromSuperview();
    }
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        backgroundView_->SetFrame(Bounds());
        backgroundView_->SetAutoresizingMask(Autoresizing::FlexibleWidth |
                                             Autoresizing::FlexibleHeight);
        InsertSubviewAt(backgroundView_, 0);
    }
    NoteChange();
}

void TableViewCell::SetSelectedBackgroundView(std::shared_ptr<View> view) {
    if (view == selectedBackgroundView_) {
        return;
    }
    if (selectedBackgroundView_) {
        selectedBackgroundView_->RemoveFromSuperview();
    }
    selectedBackgroundView_ = std::move(view);
    if (selectedBackgroundView_) {
        selectedBackgroundView_->SetFrame(Bounds());
        selectedBackgroundView_->SetAutoresizingMask(Autoresizing::FlexibleWidth |
                                                     Autoresizing::FlexibleHeight);
        // Above the background view, below the content.
        InsertSubviewAt(selectedBackgroundView_, backgroundView_ ? 1 : 0);
    }
    UpdateSelectionDisplay();
    NoteChange();
}

void TableViewCell::SetSelectionStyle(TableViewCellSelectionStyle style) {
    if (style == selectionStyle_) {
        return;
    }
    selectionStyle_ = style;
    NoteChange();
}

void TableViewCell::SetSelected(bool selected, bool /*animated*/) {
    // the renderer shows the change at its next frame either way
    if (selected == selected_) {
        return;
    }
    selected_ = selected;
    UpdateSelectionDisplay();
    NoteChange();
}

void TableViewCell::SetHighlighted(bool highlighted, bool /*animated*/) {
    if (highlighted == highlighted_) {
        return;
    }
    highlighted_ = highlighted;
    UpdateSelectionDisplay();
    NoteChange();
}

void TableViewCell::UpdateSelectionDisplay() {
    const bool shown = selected_ || highlighted_;
    if (selectedBackgroundView_) {
        selectedBackgroundView_->SetHidden(!shown);
    }
    if (imageView_) {
        imageView_->SetHighlighted(shown);
    }
}

void TableViewCell::PrepareForReuse() {
    SetSelected(false);
    SetHighlighted(false);
}

void TableViewCell::LayoutSubviews() {
    if (!EnsureContentView()) {
        return;
    }
    const Rect bounds = Bounds();
    const Rect full(0, 0, bounds.size.width, bounds.size.height);
    contentView_->SetFrame(full);
    if (backgroundView_) {
        backgroundView_->SetFrame(full);
    }
    if (selectedBackgroundView_) {
        selectedBackgroundView_->SetFrame(full);
    }
    double textLeft = kMargin;
    if (imageView_ && imageView_->GetImage()) {
        const Size image = imageView_->GetImage()->GetSize();
        imageView_->SetFrame(
            Rect(kMargin, (full.size.height - image.height) / 2, image.width, image.height));
        textLeft = kMargin + image.width + kMargin;
    }
    if (textLabel_) {
        const double width = full.size.width - textLeft - kMargin;
        textLabel_->SetFrame(Rect(textLeft, 0, width > 0 ? width : 0, full.size.height));
    }
}

}  // namespace ui
