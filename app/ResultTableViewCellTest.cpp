#include "app/ResultTableViewCell.h"

#include <gtest/gtest.h>

#include "app/ResultEmptyTableViewCell.h"
#include "app/ResultLoadingTableViewCell.h"
#include "app/ResultTableViewSectionView.h"
#include "platform/ui/Transition.h"
#include "platform/ui/UiDevice.h"

namespace {

class ResultTableViewCellTest : public ::testing::Test {
protected:
    void TearDown() override { ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone); }
    static void Idiom(ui::UserInterfaceIdiom idiom) { ui::UiDevice::Current().SetIdiom(idiom); }
    const ui::Color grey_ = ui::Color::FromRGB255(183, 183, 183);
};

// A phone: margins 15, thumbnail 200 x 160, result text 12 points, separator 2 high (the drawn
// Separator-Line is 320 x 2). Row: 15 + 160 + 15 + 12 + 15 + 2 = 219.
TEST_F(ResultTableViewCellTest, PhoneLayout) {
    for (ui::UserInterfaceIdiom idiom :
         {ui::UserInterfaceIdiom::Phone, ui::UserInterfaceIdiom::Unspecified}) {
        Idiom(idiom);
        EXPECT_EQ(219, ResultTableViewCell::resultTableViewCellHeight());
        auto cell = ResultTableViewCell::create();
        EXPECT_EQ("searchResultCellID", cell->ReuseIdentifier());
        EXPECT_EQ(ui::Rect(0, 0, 320, 219), cell->Frame());
        EXPECT_EQ(ui::Rect(60, 15, 200, 160), cell->thumbView()->Frame());
        EXPECT_EQ(ui::Rect(15, 190, 290, 12), cell->label()->Frame());
        EXPECT_EQ(ui::Rect(0, 217, 320, 2), cell->separator()->Frame());
    }
}

// A tablet: margins 25, thumbnail 400 x 340, text 16. Row: 25 + 340 + 25 + 16 + 25 + 2 = 433;
// in a 320-point cell the thumbnail starts at (320 - 400) / 2 = -40.
TEST_F(ResultTableViewCellTest, TabletLayout) {
    Idiom(ui::UserInterfaceIdiom::Pad);
    EXPECT_EQ(433, ResultTableViewCell::resultTableViewCellHeight());
    auto cell = ResultTableViewCell::create();
    EXPECT_EQ(ui::Rect(-40, 25, 400, 340), cell->thumbView()->Frame());
    EXPECT_EQ(ui::Rect(25, 390, 270, 16), cell->label()->Frame());
    EXPECT_EQ(ui::Rect(0, 431, 320, 2), cell->separator()->Frame());
    EXPECT_EQ(16, cell->label()->GetFont().PointSize());
}

// Widened to 768: the thumbnail stays centred ((768 - 200) / 2 = 284); the text's margins and
// width share the 448 points in proportion 15 : 290 : 15 (21, 406, 21); the separator widens.
TEST_F(ResultTableViewCellTest, WiderRowKeepsTheThumbnailCentred) {
    auto cell = ResultTableViewCell::create();
    cell->SetFrame(ui::Rect(0, 0, 768, 219));
    EXPECT_EQ(ui::Rect(284, 15, 200, 160), cell->thumbView()->Frame());
    EXPECT_EQ(ui::Rect(36, 190, 696, 12), cell->label()->Frame());
    EXPECT_EQ(ui::Rect(0, 217, 768, 2), cell->separator()->Frame());
}

TEST_F(ResultTableViewCellTest, LookOfTheResultRow) {
    auto cell = ResultTableViewCell::create();
    EXPECT_EQ(ui::Color::FromRGB255(17, 17, 17), cell->BackgroundColor().value_or(ui::Color()));
    ASSERT_NE(nullptr, cell->SelectedBackgroundView());
    EXPECT_EQ(ui::Color::Clear(),
              cell->SelectedBackgroundView()->BackgroundColor().value_or(ui::Color::Black()));
    EXPECT_TRUE(cell->ContentView()->ClipsToBounds());
    EXPECT_EQ(grey_, cell->TextLabel()->TextColor());
    EXPECT_EQ(18, cell->TextLabel()->GetFont().PointSize());
    EXPECT_EQ(ui::ContentMode::ScaleAspectFill, cell->thumbView()->GetContentMode());
    EXPECT_EQ(ui::TextAlignment::Center, cell->label()->GetTextAlignment());
    EXPECT_EQ(ui::Color::White(), cell->label()->TextColor());
    EXPECT_EQ("HelveticaNeue", cell->label()->GetFont().Name());
    EXPECT_EQ(cell->ContentView().get(), cell->separator()->Superview().get());
    EXPECT_EQ(ui::Image::Named("Separator-Line.png"), cell->separator()->GetImage());
}

TEST_F(ResultTableViewCellTest, ThumbnailFadesInOnlyWhenAnimated) {
    auto cell = ResultTableViewCell::create();
    ui::Image::Ptr picture = ui::Image::Named("Search-Placeholder");
    ASSERT_NE(nullptr, picture);
    cell->setThumbImage(picture, false);
    EXPECT_EQ(picture, cell->thumbView()->GetImage());
    EXPECT_EQ(nullptr, cell->thumbView()->GetLayer().AnimationForKey(ui::Transition::kKey));

    ui::Image::Ptr missing = ui::Image::Named("Search-Placeholder-Missing");
    cell->setThumbImage(missing, true);
    EXPECT_EQ(missing, cell->thumbView()->GetImage());
    auto fade = cell->thumbView()->GetLayer().AnimationForKey(ui::Transition::kKey);
    ASSERT_NE(nullptr, fade);
    EXPECT_DOUBLE_EQ(1.2, fade->Duration());
    EXPECT_EQ(ui::TimingFunction::EaseIn, fade->Timing());
}

// The section background is drawn 320 x 24; the name sits 10 in from each side.
TEST_F(ResultTableViewCellTest, SectionHeader) {
    EXPECT_EQ(24, ResultTableViewSectionView::resultTableViewSectionViewHeight());
    auto header = ResultTableViewSectionView::create();
    EXPECT_EQ(ui::Rect(0, 0, 320, 24), header->Frame());
    EXPECT_EQ(ui::Rect(10, 0, 300, 24), header->label()->Frame());
    EXPECT_EQ(header.get(), header->label()->Superview().get());
    EXPECT_EQ(16, header->label()->GetFont().PointSize());
    EXPECT_EQ(grey_, header->label()->TextColor());
    EXPECT_EQ(ui::Color::Black(), header->label()->ShadowColor().value_or(ui::Color::Clear()));
    EXPECT_EQ(ui::Size(0, 1), header->label()->ShadowOffset());
    header->SetFrame(ui::Rect(0, 0, 768, 24));
    EXPECT_EQ(ui::Rect(10, 0, 748, 24), header->label()->Frame());
}

TEST_F(ResultTableViewCellTest, LoadingAndEmptyRows) {
    auto loading = ResultLoadingTableViewCell::create();
    EXPECT_EQ("searchResultInProgressCellID", loading->ReuseIdentifier());
    ASSERT_NE(nullptr, loading->zulLoadingView());
    EXPECT_EQ(loading->ContentView().get(), loading->zulLoadingView()->Superview().get());
    EXPECT_EQ(ui::Rect(0, 0, 320, 44), loading->zulLoadingView()->Frame());
    EXPECT_EQ("Searching...", loading->zulLoadingView()->label()->Text());
    EXPECT_EQ(ui::Color::FromRGB255(17, 17, 17), loading->BackgroundColor().value_or(ui::Color()));

    auto empty = ResultEmptyTableViewCell::create();
    EXPECT_EQ("searchResultNoneCellID", empty->ReuseIdentifier());
    EXPECT_EQ("No results", empty->TextLabel()->Text());
    EXPECT_EQ(ui::TextAlignment::Center, empty->TextLabel()->GetTextAlignment());
    EXPECT_EQ(18, empty->TextLabel()->GetFont().PointSize());
    EXPECT_EQ(ui::Color::Black(), empty->TextLabel()->ShadowColor().value_or(ui::Color::Clear()));
    EXPECT_EQ(ui::Size(0, 1), empty->TextLabel()->ShadowOffset());
}

}  // namespace
