// The player screen's side of subtitles and sound: choosing a language in the chooser loads
// its document and shows its cues in the subtitle label, "None" hides the label, and the
// volume slider sets the application's sound volume.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/QplayerControls.h"
#include "app/QplayerTestFixture.h"
#include "platform/media/SystemVolume.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"

namespace {

using QplayerTest::QplayerTestBase;

class QplayerSubtitlesTest : public QplayerTestBase {
protected:
    void SetUp() override {
        QplayerTestBase::SetUp();
        bridge_->playbackUrlToHand = ClipPath("mandelbrot");
        Open(PlaybackUrl("103"));
        ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
        // Held at the start while the document comes.
        ASSERT_TRUE(driver_.Tap("pauseButton"));
    }
    int DocumentRequests(const std::string& language) {
        int n = 0;
        for (const auto& request : portal_->Requests()) {
            n += request.path == "/media/103." + language + ".ttml";
        }
        return n;
    }
    bool Choose(const std::string& label) {
        if (!driver_.Tap("subtitleButton") && !driver_.Tap("subtitleButtonON")) return false;
        return driver_.Tap(driver_.FindWithText<ui::Button>(label, "Button"));
    }
    std::shared_ptr<ui::Label> SubtitleLabel() { return driver_.Find<ui::Label>("subtitleView"); }
};

TEST_F(QplayerSubtitlesTest, ALanguageShowsItsCuesAndNoneHidesThem) {
    ASSERT_TRUE(Choose("English"));
    EXPECT_FALSE(player_->controls().isSubtitleChooser());
    EXPECT_TRUE(player_->controls().showingSubtitles());
    EXPECT_DOUBLE_EQ(1, SubtitleLabel()->Alpha());
    EXPECT_TRUE(driver_.Find("subtitleButton")->IsHidden());
    EXPECT_FALSE(driver_.Find("subtitleButtonON")->IsHidden());
    ASSERT_TRUE(WaitReal([&] { return DocumentRequests("en") == 1; }, 10));
    WaitReal([] { return false; }, 0.2);  // the answer parsed

    ASSERT_TRUE(driver_.Tap("playButton"));
    // The first cue runs from 1 s to 3 s.
    EXPECT_TRUE(RunUntil([&] { return SubtitleLabel()->Text() == "First line\nsecond line"; }, 3))
        << SubtitleLabel()->Text();
    EXPECT_TRUE(RunUntil([&] { return SubtitleLabel()->Text().empty(); }, 3));

    ASSERT_TRUE(Choose("None"));
    EXPECT_FALSE(player_->controls().showingSubtitles());
    EXPECT_DOUBLE_EQ(0, SubtitleLabel()->Alpha());
    EXPECT_FALSE(driver_.Find("subtitleButton")->IsHidden());
    EXPECT_TRUE(driver_.Find("subtitleButtonON")->IsHidden());
    // Choosing the same language again loads nothing new.
    ASSERT_TRUE(Choose("English"));
    WaitReal([] { return false; }, 0.2);
    EXPECT_EQ(1, DocumentRequests("en"));
}

// The player picks its layout by the device's model, which follows the idiom the application
// runs as (whatever machine runs it): on a phone the subtitle line sits on the bottom edge of
// the picture, on a pad 190 points above it.
class QplayerLayoutByModelTest : public QplayerTestBase {
protected:
    // The subtitle label's frame once the first playback has laid the controls out.
    ui::Rect SubtitleFrameOn(ui::UserInterfaceIdiom idiom) {
        ui::UiDevice::Current().SetIdiom(idiom);
        bridge_->playbackUrlToHand = ClipPath("mandelbrot");
        Open(PlaybackUrl("103"));
        EXPECT_TRUE(RunUntil([&] { return Playing(); }, 10));
        auto label = driver_.Find<ui::Label>("subtitleView");
        return label ? label->Frame() : ui::Rect();
    }
    double ViewHeight() const { return player_->GetView()->Bounds().Height(); }
};

TEST_F(QplayerLayoutByModelTest, OnAPhoneTheSubtitleLineSitsAtTheBottom) {
    const ui::Rect frame = SubtitleFrameOn(ui::UserInterfaceIdiom::Phone);
    EXPECT_EQ("iPhone", ui::UiDevice::Current().Model());
    EXPECT_GT(frame.Height(), 0);
    EXPECT_DOUBLE_EQ(ViewHeight(), frame.MaxY());
}

TEST_F(QplayerLayoutByModelTest, OnAPadTheSubtitleLineStands190PointsAboveTheBottom) {
    const ui::Rect frame = SubtitleFrameOn(ui::UserInterfaceIdiom::Pad);
    EXPECT_EQ("iPad", ui::UiDevice::Current().Model());
    EXPECT_DOUBLE_EQ(ViewHeight() - 190, frame.MinY());
}

// White subtitle text carries a dark shadow off its glyphs in both layouts, so a white or
// bright picture does not swallow it.
void ExpectWhiteTextWithADarkShadow(const ui::Label& label) {
    EXPECT_EQ(ui::Color::White(), label.TextColor());
    ASSERT_TRUE(label.ShadowColor().has_value());
    const ui::Color& shadow = *label.ShadowColor();
    EXPECT_LE(shadow.R(), 0.25);
    EXPECT_LE(shadow.G(), 0.25);
    EXPECT_LE(shadow.B(), 0.25);
    EXPECT_GE(shadow.A(), 0.75);
    // Off the glyphs by at least a point in some direction, and not so far that it reads as a
    // second line of text.
    const ui::Size& off = label.ShadowOffset();
    EXPECT_GE(std::max(std::abs(off.width), std::abs(off.height)), 1.0);
    EXPECT_LE(std::max(std::abs(off.width), std::abs(off.height)), 4.0);
}

TEST_F(QplayerLayoutByModelTest, OnAPhoneTheSubtitleLineIsWhiteWithADarkShadow) {
    SubtitleFrameOn(ui::UserInterfaceIdiom::Phone);
    auto label = driver_.Find<ui::Label>("subtitleView");
    ASSERT_NE(nullptr, label);
    ExpectWhiteTextWithADarkShadow(*label);
}

TEST_F(QplayerLayoutByModelTest, OnAPadTheSubtitleLineIsWhiteWithADarkShadow) {
    SubtitleFrameOn(ui::UserInterfaceIdiom::Pad);
    auto label = driver_.Find<ui::Label>("subtitleView");
    ASSERT_NE(nullptr, label);
    ExpectWhiteTextWithADarkShadow(*label);
}

TEST_F(QplayerSubtitlesTest, TheVolumeSliderSetsTheApplicationsVolume) {
    ns::SystemVolume::Set(1);
    ASSERT_TRUE(driver_.Tap("audioButton"));
    auto slider = player_->controls().volumeSlider();
    ASSERT_NE(nullptr, slider);
    EXPECT_DOUBLE_EQ(1, slider->Value());
    ASSERT_TRUE(driver_.SetSlider(slider, 0.25));
    EXPECT_DOUBLE_EQ(0.25, ns::SystemVolume::Get());
    ns::SystemVolume::Set(1);
}

}  // namespace
