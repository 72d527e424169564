#ifndef APP_RESULTTABLEVIEWSECTIONVIEW_H
#define APP_RESULTTABLEVIEWSECTIONVIEW_H
// The header of a search result section ("movies", "episodes", "series"): the section
// background picture with the section's name on it, 10 points in from either side.

#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

class ResultTableViewSectionView : public ui::ImageView {
public:
    // The background picture's height; 0 without the picture.
    static double resultTableViewSectionViewHeight();

    // Made complete here: the label's superview link needs an owned view.
    static std::shared_ptr<ResultTableViewSectionView> create();
    const char* ClassName() const override { return "ResultTableViewSectionView"; }

    const std::shared_ptr<ui::Label>& label() const { return label_; }

private:
    ResultTableViewSectionView();

    std::shared_ptr<ui::Label> label_;
};

#endif  // APP_RESULTTABLEVIEWSECTIONVIEW_H
