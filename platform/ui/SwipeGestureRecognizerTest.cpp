// Swipe recognisers: direction matching, enabled, and the way up the view chain.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/SwipeGestureRecognizer.h"

namespace {

using ui::Rect;
using ui::SwipeGestureRecognizer;
using ui::View;
namespace Dir = ui::SwipeDirection;

class SwipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = std::make_shared<View>(Rect(0, 0, 320, 480));
        web = std::make_shared<View>(Rect(0, 44, 320, 436));
        pane->AddSubview(web);
        onPane = Make("pane");
        SwipeGestureRecognizer::AddTo(pane, onPane);
    }
    SwipeGestureRecognizer::Ptr Make(const std::string& name) {
        return std::make_shared<SwipeGestureRecognizer>(
            nullptr, [this, name](SwipeGestureRecognizer& r) {
                fired.push_back(name + " " + std::to_string(r.Direction()));
            });
    }

    std::shared_ptr<View> pane, web;
    SwipeGestureRecognizer::Ptr onPane;
    std::vector<std::string> fired;
};

TEST_F(SwipeTest, OnlyAnEnabledRecogniserOfTheSwipedDirectionFires) {
    EXPECT_EQ(onPane->Direction(), Dir::Right);  // the default
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*web, Dir::Left));
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*web, Dir::Right));  // up the chain to the pane
    onPane->SetEnabled(false);
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*web, Dir::Right));
    onPane->SetEnabled(true);
    onPane->SetDirection(Dir::Left);  // as the menu opens
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*pane, Dir::Right));
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*pane, Dir::Left));
    onPane->SetDirection(Dir::Up | Dir::Down);
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*pane, Dir::Down));
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*pane, 0));
    EXPECT_EQ(fired, (std::vector<std::string>{"pane 1", "pane 2", "pane 12"}));
}

TEST_F(SwipeTest, TheNearestMatchingRecogniserWinsAlone) {
    auto onWeb = Make("web");
    SwipeGestureRecognizer::AddTo(web, onWeb);
    onPane->SetDirection(Dir::Right | Dir::Left);
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*web, Dir::Right));  // the web view's only
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*web, Dir::Left));   // the web view's does not match
    onWeb->SetEnabled(false);
    EXPECT_TRUE(SwipeGestureRecognizer::Swipe(*web, Dir::Right));
    EXPECT_EQ(fired, (std::vector<std::string>{"web 1", "pane 3", "pane 3"}));
}

TEST_F(SwipeTest, AttachingMovesARecogniserAndAViewThatGoesTakesItsRecognisers) {
    EXPECT_EQ(onPane->GetView(), pane);
    SwipeGestureRecognizer::AddTo(web, onPane);  // moved
    EXPECT_TRUE(SwipeGestureRecognizer::RecognizersOf(*pane).empty());
    EXPECT_EQ(SwipeGestureRecognizer::RecognizersOf(*web).size(), 1u);
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*pane, Dir::Right));  // no longer above web
    SwipeGestureRecognizer::RemoveFrom(web, onPane);
    EXPECT_EQ(onPane->GetView(), nullptr);
    EXPECT_FALSE(SwipeGestureRecognizer::Swipe(*web, Dir::Right));

    std::weak_ptr<SwipeGestureRecognizer> kept;
    {
        auto temp = std::make_shared<View>();
        auto r = Make("temp");
        kept = r;
        SwipeGestureRecognizer::AddTo(temp, r);
    }
    EXPECT_FALSE(kept.expired());                  // the view kept it
    SwipeGestureRecognizer::RecognizersOf(*pane);  // any look drops the dead view's
    EXPECT_TRUE(kept.expired());
    EXPECT_TRUE(fired.empty());
}

}  // namespace
