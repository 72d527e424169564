// The player screen's side of subtitles and sound: choosing a language in the chooser loads
// its document and shows its cues in the subtitle label, "None" hides the label, and the
// volume slider sets the application's sound volume.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/QplayerControls.h"
#include "app/QplayerTestFixture.h"
#include "app/testing/AppTestSupport.h"
#include "platform/media/SystemVolume.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"

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
    ASSERT_TRUE(WaitReal(
        [&] { return DocumentRequests("en") == 1 && !player_->controls().loadingSubtitles(); },
        10));

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
    // A load would be under way until its document was handed over, after the portal took
    // its request.
    ASSERT_TRUE(WaitReal([&] { return !player_->controls().loadingSubtitles(); }, 10));
    EXPECT_EQ(1, DocumentRequests("en"));
}

// Subtitles from documents of the test's own origin, on the 20 s zoom held at its start: an
// English one with a cue from 2 s to 4 s, and one whose answer is empty, a document that never
// began.
class QplayerOriginSubtitlesTest : public QplayerTestBase {
protected:
    void SetUp() override {
        QplayerTestBase::SetUp();
        origin_.Serve("/en.ttml",
                      AppTestSupport::TtmlWithCues("<p begin=\"0:0:2\" end=\"0:0:4\">Kept</p>\n"));
        origin_.Serve("/empty.ttml", "");
        bridge_->playbackUrlToHand = ClipPath("mandelbrot");
        Open(
            Info("{\"subtitleLanguage\":\"en\",\"UILanguage\":\"en\",\"video\":{"
                 "\"subtitles\":{\"en\":{\"label\":\"English\",\"assets\":{\"TTML\":{\"uri\":"
                 "\"" +
                 origin_.Url("/en.ttml") +
                 "\"}}},"
                 "\"xx\":{\"label\":\"Empty\",\"assets\":{\"TTML\":{\"uri\":\"" +
                 origin_.Url("/empty.ttml") +
                 "\"}}}},"
                 "\"mediaID\":\"7\",\"startPosition\":0,\"drm\":{\"deliveryUri\":"
                 "\"http://x/t.svm\"}}}"));
        ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
        ASSERT_TRUE(driver_.Tap("pauseButton"));
        ASSERT_LT(Movie()->CurrentPlaybackTime(), 1.5);
    }
    // Chooses the language in the chooser and waits until its document has been handed over
    // (or its download failed).
    bool ChooseAndLoad(const std::string& label, const std::string& path) {
        const int before = Requests(path);
        if (!driver_.Tap("subtitleButton") && !driver_.Tap("subtitleButtonON")) return false;
        if (!driver_.Tap(driver_.FindWithText<ui::Button>(label, "Button"))) return false;
        return WaitReal([&] {
            return Requests(path) == before + 1 && !player_->controls().loadingSubtitles();
        });
    }
    int Requests(const std::string& path) const {
        int n = 0;
        for (const auto& request : origin_.Requests()) n += request.path == path;
        return n;
    }
    std::string Line() { return driver_.Find<ui::Label>("subtitleView")->Text(); }
};

// An empty answer is no document: the English cues stay in use and show at their second.
TEST_F(QplayerOriginSubtitlesTest, ADocumentThatNeverBeganKeepsTheCuesInUse) {
    ASSERT_TRUE(ChooseAndLoad("English", "/en.ttml"));
    ASSERT_TRUE(ChooseAndLoad("Empty", "/empty.ttml"));
    ASSERT_TRUE(driver_.Tap("playButton"));
    EXPECT_TRUE(RunUntil([&] { return Line() == "Kept"; }, 3)) << "\"" << Line() << "\"";
}

// Taking the scrubber empties the subtitle line at once, a cue showing or not, and the line
// stays empty while the finger moves it.
TEST_F(QplayerOriginSubtitlesTest, ScrubbingEmptiesTheSubtitleLine) {
    ASSERT_TRUE(ChooseAndLoad("English", "/en.ttml"));
    ASSERT_TRUE(driver_.Tap("playButton"));
    ASSERT_TRUE(RunUntil([&] { return Line() == "Kept"; }, 3)) << "\"" << Line() << "\"";
    ASSERT_TRUE(driver_.Tap("pauseButton"));
    const auto scrubber = driver_.Find<ui::Slider>("scrubber_ui");
    ASSERT_NE(nullptr, scrubber);
    ASSERT_TRUE(driver_.SetSlider(scrubber, 1000));  // 10 s, in hundredths
    EXPECT_EQ("", Line());
    EXPECT_TRUE(player_->controls().isScrubbing());
    RunFor(1);
    EXPECT_EQ("", Line());
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
