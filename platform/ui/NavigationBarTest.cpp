// Navigation bars, items and bar button items: the stack through the delegate, the back button,
// layout, metrics and the appearance defaults.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/NavigationBar.h"
#include "platform/ui/ScreenMetrics.h"

namespace {

using ui::BarButtonItem;
using ui::BarMetrics;
using ui::NavigationBar;
using ui::NavigationItem;
using ui::Rect;
namespace State = ui::ControlState;

struct NavigationBarRecorder : ui::NavigationBarDelegate {
    bool ShouldPushItem(NavigationBar&, NavigationItem& item) override {
        calls.push_back("should push " + item.Title());
        return allowPush;
    }
    void DidPushItem(NavigationBar&, NavigationItem& item) override {
        calls.push_back("did push " + item.Title());
    }
    bool ShouldPopItem(NavigationBar&, NavigationItem& item) override {
        calls.push_back("should pop " + item.Title());
        return allowPop;
    }
    void DidPopItem(NavigationBar&, NavigationItem& item) override {
        calls.push_back("did pop " + item.Title());
    }
    std::vector<std::string> calls;
    bool allowPush = true;
    bool allowPop = true;
};

ui::Image::Ptr Picture(double width) {
    return ui::Image::Filled(ui::Size(width, 30), ui::Color::Gray(), 0);
}

void TapBar(ui::View& view) {
    view.TouchesBegan(ui::Point(1, 1));
    view.TouchesEnded(ui::Point(1, 1));
}

class NavigationBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar = std::make_shared<NavigationBar>(Rect(0, 0, 320, 44));
        delegate = std::make_shared<NavigationBarRecorder>();
        menu = std::make_shared<NavigationItem>("Menu");
        back = std::make_shared<NavigationItem>("Movies");
        ASSERT_TRUE(bar->PushNavigationItem(menu, false));  // before the delegate is set
        bar->SetDelegate(delegate);
    }
    void TearDown() override {
        BarButtonItem::Appearance().Reset();
        ui::ScreenMetrics::ClearOverride();
    }

    std::shared_ptr<NavigationBar> bar;
    std::shared_ptr<NavigationBarRecorder> delegate;
    NavigationItem::Ptr menu, back;
};

TEST_F(NavigationBarTest, PushAndPopAskTheDelegateAndARefusalChangesNothing) {
    delegate->allowPush = false;
    EXPECT_FALSE(bar->PushNavigationItem(back, false));
    EXPECT_EQ(bar->Items().size(), 1u);
    delegate->allowPush = true;
    EXPECT_TRUE(bar->PushNavigationItem(back, false));
    EXPECT_FALSE(bar->PushNavigationItem(back, false));  // already there: not even asked
    EXPECT_EQ(bar->TopItem(), back);
    EXPECT_EQ(bar->BackItem(), menu);

    delegate->allowPop = false;
    EXPECT_FALSE(bar->TapBackButton());
    EXPECT_EQ(bar->PopNavigationItem(false), nullptr);
    EXPECT_EQ(bar->TopItem(), back);
    delegate->allowPop = true;
    EXPECT_TRUE(bar->TapBackButton());
    EXPECT_EQ(bar->TopItem(), menu);
    EXPECT_EQ(bar->BackItem(), nullptr);
    EXPECT_FALSE(bar->TapBackButton());  // no back button on the root level
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"should push Movies", "should push Movies",
                                        "did push Movies", "should pop Movies", "should pop Movies",
                                        "should pop Movies", "did pop Movies"}));
}

TEST_F(NavigationBarTest, TheBackButtonIsNamedAfterTheLevelBelowAndATouchOnItPops) {
    ASSERT_TRUE(bar->PushNavigationItem(back, false));
    auto backButton = bar->BackButton();
    ASSERT_NE(backButton, nullptr);
    EXPECT_EQ(backButton->CurrentTitle(), "Menu");
    EXPECT_EQ(bar->LeftItemView(), backButton);
    // Bold 12: 6 points a character; "Menu" 24 + 20 = 44 wide, 30 high, y (44 - 30) / 2.
    EXPECT_EQ(backButton->Frame(), Rect(5, 7, 44, 30));
    // Title "Movies", bold 20: 6 x 10 = 60 wide, ceil(1.2 x 20) = 24 high, centred.
    EXPECT_EQ(bar->TitleItemView()->Frame(), Rect(130, 10, 60, 24));

    menu->SetBackBarButtonItem(
        std::make_shared<BarButtonItem>("Back!", ui::BarButtonItemStyle::Plain));
    EXPECT_EQ(backButton->CurrentTitle(), "Back!");  // the item told the bar at once
    back->SetHidesBackButton(true);
    EXPECT_EQ(bar->BackButton(), nullptr);
    EXPECT_FALSE(bar->TapBackButton());
    back->SetHidesBackButton(false);

    TapBar(*bar->BackButton());
    EXPECT_EQ(bar->TopItem(), menu);
    EXPECT_EQ(delegate->calls.back(), "did pop Movies");
    EXPECT_EQ(bar->BackButton(), nullptr);
}

TEST_F(NavigationBarTest, BarButtonItemsShowAsButtonsThatRunTheirActions) {
    int shows = 0, hides = 0;
    auto button = std::make_shared<BarButtonItem>(Picture(36), ui::BarButtonItemStyle::Plain);
    button->SetAction([&](BarButtonItem& sender) {
        ++shows;
        sender.SetAction([&](BarButtonItem&) { ++hides; });  // as the menu button does
    });
    menu->SetLeftBarButtonItem(button);
    auto edit = std::make_shared<BarButtonItem>("Edit", ui::BarButtonItemStyle::Bordered);
    menu->SetRightBarButtonItem(edit);

    auto left = std::dynamic_pointer_cast<ui::Button>(bar->LeftItemView());
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->Frame(), Rect(5, 7, 56, 30));                    // image 36 + 20
    EXPECT_EQ(bar->RightItemView()->Frame(), Rect(271, 7, 44, 30));  // 320 - 5 - 44
    TapBar(*left);
    TapBar(*left);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(hides, 1);
    button->SetAction(nullptr);  // while the menu animates
    EXPECT_FALSE(button->Press());
    button->SetEnabled(false);
    EXPECT_FALSE(left->IsEnabled());

    auto custom = std::make_shared<ui::View>(Rect(0, 0, 50, 20));
    edit->SetCustomView(custom);
    EXPECT_EQ(bar->RightItemView(), custom);
    EXPECT_EQ(custom->Superview(), bar);
    EXPECT_EQ(custom->Frame(), Rect(265, 12, 50, 20));
    auto titleView = std::make_shared<ui::View>(Rect(0, 0, 100, 30));
    menu->SetTitleView(titleView);
    EXPECT_EQ(bar->TitleItemView(), titleView);
    EXPECT_EQ(titleView->Frame(), Rect(110, 7, 100, 30));
}

TEST_F(NavigationBarTest, MetricsFollowTheBarsHeightAndFittingFollowsTheScreen) {
    EXPECT_EQ(bar->SizeThatFits(ui::Size(320, 0)), ui::Size(320, 44));
    ui::ScreenMetrics landscapePhone;
    landscapePhone.size = ui::Size(480, 320);
    ui::ScreenMetrics::SetCurrent(landscapePhone);
    bar->SetFrame(Rect(0, 0, 480, 44));
    bar->SizeToFit();
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 480, 32));
    EXPECT_EQ(bar->CurrentBarMetrics(), BarMetrics::LandscapePhone);
    ui::ScreenMetrics landscapePad;
    landscapePad.pad = true;
    landscapePad.size = ui::Size(1024, 768);
    ui::ScreenMetrics::SetCurrent(landscapePad);
    bar->SizeToFit();
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 480, 44));
    EXPECT_EQ(bar->CurrentBarMetrics(), BarMetrics::Default);

    auto portrait = Picture(320), landscape = Picture(480);
    bar->SetBackgroundImage(portrait, BarMetrics::Default);
    EXPECT_EQ(bar->CurrentBackgroundImage(), portrait);
    bar->SetFrame(Rect(0, 0, 480, 32));
    EXPECT_EQ(bar->CurrentBackgroundImage(), portrait);  // none of its own: the default's
    bar->SetBackgroundImage(landscape, BarMetrics::LandscapePhone);
    EXPECT_EQ(bar->CurrentBackgroundImage(), landscape);
}

TEST_F(NavigationBarTest, AppearanceDefaultsApplyWhereAnItemHasNoImageOfItsOwn) {
    auto backDefault = Picture(50), backLandscape = Picture(40), backPressed = Picture(51);
    auto menuDefault = Picture(60), menuLandscape = Picture(45);
    BarButtonItem::Appearance().backButtonBackgroundImages.Set(backDefault, State::Normal,
                                                               BarMetrics::Default);
    BarButtonItem::Appearance().backButtonBackgroundImages.Set(backLandscape, State::Normal,
                                                               BarMetrics::LandscapePhone);
    BarButtonItem::Appearance().backButtonBackgroundImages.Set(backPressed, State::Highlighted,
                                                               BarMetrics::Default);
    ASSERT_TRUE(bar->PushNavigationItem(back, false));
    auto backButton = bar->BackButton();
    EXPECT_EQ(backButton->CurrentBackgroundImage(), backDefault);
    EXPECT_EQ(backButton->BackgroundImageForState(State::Highlighted), backPressed);
    bar->SetFrame(Rect(0, 0, 480, 32));
    bar->LayoutIfNeeded();
    EXPECT_EQ(backButton->CurrentBackgroundImage(), backLandscape);
    // Landscape metrics without a highlighted image: their normal one comes before the
    // default metrics' highlighted one.
    EXPECT_EQ(backButton->BackgroundImageForState(State::Highlighted), backLandscape);
    EXPECT_EQ(backButton->Frame(), Rect(5, 4, 44, 24));  // 24 high in landscape: y (32 - 24) / 2

    auto item = std::make_shared<BarButtonItem>("Menu", ui::BarButtonItemStyle::Plain);
    item->SetBackgroundImage(menuDefault, State::Normal, BarMetrics::Default);
    item->SetBackgroundImage(menuLandscape, State::Normal, BarMetrics::LandscapePhone);
    BarButtonItem::Appearance().backgroundImages.Set(Picture(70), State::Normal,
                                                     BarMetrics::Default);
    EXPECT_EQ(item->EffectiveBackgroundImage(State::Normal, BarMetrics::Default), menuDefault);
    EXPECT_EQ(item->EffectiveBackgroundImage(State::Highlighted, BarMetrics::LandscapePhone),
              menuLandscape);
    back->SetRightBarButtonItem(item);
    auto right = std::dynamic_pointer_cast<ui::Button>(bar->RightItemView());
    EXPECT_EQ(right->CurrentBackgroundImage(), menuLandscape);
}

}  // namespace
