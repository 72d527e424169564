#ifndef APP_RESULTEMPTYTABLEVIEWCELL_H
#define APP_RESULTEMPTYTABLEVIEWCELL_H
// The one row shown when a search found nothing (or has not answered): "Search-Empty".

#include <memory>
#include <string>

#include "platform/ui/TableViewCell.h"

class ResultEmptyTableViewCell : public ui::TableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "searchResultNoneCellID";

    // Made complete here (the text label lives in the content view, which needs an owned
    // cell).
    static std::shared_ptr<ResultEmptyTableViewCell> create(
        const std::string& reuseIdentifier = kReuseIdentifier);
    const char* ClassName() const override { return "ResultEmptyTableViewCell"; }

private:
    explicit ResultEmptyTableViewCell(const std::string& reuseIdentifier);
    void setUp();
};

#endif  // APP_RESULTEMPTYTABLEVIEWCELL_H
