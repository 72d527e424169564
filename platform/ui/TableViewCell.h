#ifndef PLATFORM_UI_TABLE_VIEW_CELL_H
#define PLATFORM_UI_TABLE_VIEW_CELL_H
// One row of a table. Its parts, bottom to top: the background view, the selected-background
// view (shown only while the cell is selected or highlighted), and the content view, which
// holds the text label, the image view and whatever a subclass adds. Every part fills the
// cell and follows its size. The text label and the image view are made on first use (a cell
// that never asks for them has none), like the other composite views of the toolkit.
//
// Default style: the image view (when it has an image) sits kMargin from the left, centred
// vertically at the image's size; the text label takes the rest of the width between the
// margins (from the image's right edge plus kMargin when there is one) and the full height.
//
// Without a selected-background view a selected cell is drawn highlighted according to its
// selection style (none draws nothing); with one, that view is shown instead (an empty clear
// view therefore hides the highlight). Main thread only.

#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace ui {

enum class TableViewCellStyle { Default = 0 };

// The platform's values.
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2 };

class TableViewCell : public View {
public:
    // Space between the content's parts and the cell's left and right edges.
    static constexpr double kMargin = 10;

    // A 320 x 44 cell; a cell without an identifier is never reused.
    explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default,
                           std::string reuseIdentifier = std::string());
    const char* ClassName() const override { return "TableViewCell"; }

    TableViewCellStyle Style() const { return style_; }
    const std::string& ReuseIdentifier() const { return reuseIdentifier_; }

    // Null only while the cell is still being made (in its constructor).
    std::shared_ptr<View> ContentView();
    // Bold system font at 20, black, on a clear background.
    std::shared_ptr<Label> TextLabel();
    std::shared_ptr<ui::ImageView> GetImageView();

    // None by default; a new one replaces the old one in the view tree.
    const std::shared_ptr<View>& BackgroundView() const { return backgroundView_; }
    void SetBackgroundView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& SelectedBackgroundView() const { return selectedBackgroundView_; }
    void SetSelectedBackgroundView(std::shared_ptr<View> view);

    // Blue by default.
    TableViewCellSelectionStyle SelectionStyle() const { return selectionStyle_; }
    void SetSelectionStyle(TableViewCellSelectionStyle style);

    bool IsSelected() const { return selected_; }
    void SetSelected(bool selected, bool animated = false);
    bool IsHighlighted() const { return highlighted_; }
    void SetHighlighted(bool highlighted, bool animated = false);

    // Called by the table when it hands the cell out again from its reuse pool: the cell is
    // neither selected nor highlighted any more. Subclasses reset their own state and call
    // this.
    virtual void PrepareForReuse();

    void LayoutSubviews() override;

private:
    // Makes the content view once the cell is owned; false while it is not yet.
    bool EnsureContentView();
    void UpdateSelectionDisplay();

    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    std::shared_ptr<View> contentView_;
    std::shared_ptr<Label> textLabel_;
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<View> backgroundView_;
    std::shared_ptr<View> selectedBackgroundView_;
    TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
    bool selected_ = false;
    bool highlighted_ = false;
};

}  // namespace ui

#endif  // PLATFORM_UI_TABLE_VIEW_CELL_H
