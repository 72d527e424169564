#ifndef APP_RESULTLOADINGTABLEVIEWCELL_H
#define APP_RESULTLOADINGTABLEVIEWCELL_H
// The one row shown while a search runs: "Search-Loading" with a turning spinner.

#include <memory>

#include "app/ZULLoadingView.h"
#include "platform/ui/TableViewCell.h"

class ResultLoadingTableViewCell : public ui::TableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "searchResultInProgressCellID";

    // Made complete here (its parts live in the content view, which needs an owned cell).
    static std::shared_ptr<ResultLoadingTableViewCell> create(
        const std::string& reuseIdentifier = kReuseIdentifier);
    const char* ClassName() const override { return "ResultLoadingTableViewCell"; }

    const std::shared_ptr<ZULLoadingView>& zulLoadingView() const { return zulLoadingView_; }

private:
    explicit ResultLoadingTableViewCell(const std::string& reuseIdentifier);
    void setUp();

    std::shared_ptr<ZULLoadingView> zulLoadingView_;
};

#endif  // APP_RESULTLOADINGTABLEVIEWCELL_H
