#ifndef APP_MENUTABLEVIEWCELL_H
#define APP_MENUTABLEVIEWCELL_H
// One row of the side menu: the menu's text colour and font, no highlight of its own (the
// menu colours its selected row itself), and a separator line along the bottom edge that
// follows the cell's width. Main thread only.

#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/TableViewCell.h"

class MenuTableViewCell : public ui::TableViewCell {
public:
    static constexpr const char* kSeparatorImageName = "Separator-Line.png";

    // A set-up cell (the parts of a cell can only be added once it is owned).
    static std::shared_ptr<MenuTableViewCell> initWithReuseIdentifier(
        const std::string& reuseIdentifier);

    const char* ClassName() const override { return "MenuTableViewCell"; }

    // The separator line along the bottom edge.
    const std::shared_ptr<ui::ImageView>& separator() const { return separator_; }

    // Use initWithReuseIdentifier.
    explicit MenuTableViewCell(std::string reuseIdentifier);

private:
    void SetUp();

    std::shared_ptr<ui::ImageView> separator_;
};

#endif  // APP_MENUTABLEVIEWCELL_H
