// The frame spinner: its 32-frame sequence and its timing on the toolkit loop's clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ZULSpinner.h"
#include "platform/ui/TestLoop.h"

namespace {

// spinner0001 .. spinner0030, with 0012 and 0022 written twice, by hand.
std::vector<std::string> ExpectedNames() {
    std::vector<std::string> names;
    for (const char* n :
         {"0001", "0002", "0003", "0004", "0005", "0006", "0007", "0008", "0009", "0010", "0011",
          "0012", "0012", "0013", "0014", "0015", "0016", "0017", "0018", "0019", "0020", "0021",
          "0022", "0022", "0023", "0024", "0025", "0026", "0027", "0028", "0029", "0030"}) {
        names.push_back(std::string("spinner") + n + ".png");
    }
    return names;
}

TEST(ZULSpinnerTest, SequenceHoldsThirtyTwoFramesWithTwoLingering) {
    EXPECT_EQ(ExpectedNames(), ZULSpinner::sequenceNames());
    // Every frame is in the bundle.
    std::vector<std::string> loaded;
    for (const ui::Image::Ptr& image : ZULSpinner::sequence()) loaded.push_back(image->Name());
    EXPECT_EQ(ExpectedNames(), loaded);
}

TEST(ZULSpinnerTest, TurnsOncePerSecondAndShowsOnlyWhileAnimating) {
    ui::TestLoop loop;
    ZULSpinner spinner(ui::Rect(0, 0, 32, 32));
    EXPECT_EQ(1.0, spinner.AnimationDuration());
    ASSERT_EQ(32u, spinner.AnimationImages().size());

    spinner.doStartAnimating();
    EXPECT_TRUE(spinner.IsAnimating());
    EXPECT_EQ(1.0, spinner.Alpha());
    // Each of the 32 frames shows for 1/32 s: frame 11 (0.34375 s ..) and frame 12
    // (0.375 s ..) are both spinner0012; a second later the turn is at the same frame.
    const auto start = ui::LoopNow();
    EXPECT_EQ("spinner0012.png",
              spinner.DisplayedImage(start + ui::SecondsToDuration(0.36))->Name());
    EXPECT_EQ("spinner0012.png",
              spinner.DisplayedImage(start + ui::SecondsToDuration(0.39))->Name());
    EXPECT_EQ("spinner0013.png",
              spinner.DisplayedImage(start + ui::SecondsToDuration(0.42))->Name());
    EXPECT_EQ("spinner0030.png",
              spinner.DisplayedImage(start + ui::SecondsToDuration(0.99))->Name());
    EXPECT_EQ("spinner0001.png",
              spinner.DisplayedImage(start + ui::SecondsToDuration(1.01))->Name());

    spinner.doStopAnimating();
    EXPECT_FALSE(spinner.IsAnimating());
    EXPECT_EQ(0.0, spinner.Alpha());
}

}  // namespace
