#ifndef APP_RESULTTABLEVIEWCELL_H
#define APP_RESULTTABLEVIEWCELL_H
// A search result row: the thumbnail centred at the top, the title under it, a separator line
// along the bottom. A tablet shows a 400 x 340 thumbnail with margins of 25, a phone (and a
// device that reports no idiom) 200 x 160 with margins of 15:
//
//   margin | thumbnail | margin | title (one line of the result font) | margin | separator
//
// which is the row height resultTableViewCellHeight() gives.

#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"

class ResultTableViewCell : public ui::TableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "searchResultCellID";
    // Seconds of the fade that shows a thumbnail which arrived later.
    static constexpr double kThumbFadeSeconds = 1.2;

    struct Metrics {
        double margin;
        ui::Size thumbnail;
    };
    // For the current device.
    static Metrics metrics();
    static double resultTableViewCellHeight();

    // A cell's parts live in its content view, which exists once the cell is owned: cells
    // are made here, complete.
    static std::shared_ptr<ResultTableViewCell> create(
        const std::string& reuseIdentifier = kReuseIdentifier);
    const char* ClassName() const override { return "ResultTableViewCell"; }

    const std::shared_ptr<ui::Label>& label() const { return label_; }
    const std::shared_ptr<ui::ImageView>& thumbView() const { return thumbView_; }
    const std::shared_ptr<ui::ImageView>& separator() const { return separator_; }

    // Animated: the new picture fades in (1.2 s, ease-in).
    void setThumbImage(const ui::Image::Ptr& image, bool animated);

private:
    explicit ResultTableViewCell(const std::string& reuseIdentifier);
    void setUp();

    std::shared_ptr<ui::ImageView> thumbView_;
    std::shared_ptr<ui::Label> label_;
    std::shared_ptr<ui::ImageView> separator_;
};

#endif  // APP_RESULTTABLEVIEWCELL_H
