// The subtitle chooser's panel as laid out (sizes worked out by hand from 85-point-wide,
// 44-point-high entries) and its buttons tapped as a person would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/SubtitleChooser.h"
#include "app/testing/LogCapture.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TestLoop.h"

namespace {

class RecordingDelegate : public SubtitleChooserDelegate {
public:
    void changeSubtitle(const std::string& language) override { languages.push_back(language); }
    std::vector<std::string> languages;
};

std::vector<SubtitleLanguageObject> ThreeEntries() {
    return {{"None", "None", std::nullopt},
            {"en", "English", std::string("http://127.0.0.1:1/media/1.en.ttml")},
            {"pl", "Polski", std::string("http://127.0.0.1:1/media/1.pl.ttml")}};
}

std::vector<std::shared_ptr<ui::Button>> Buttons(const ui::View& chooser) {
    std::vector<std::shared_ptr<ui::Button>> buttons;
    for (const ui::View::Ptr& view : chooser.Subviews()) {
        if (auto button = std::dynamic_pointer_cast<ui::Button>(view)) buttons.push_back(button);
    }
    return buttons;
}

class SubtitleChooserTest : public ::testing::Test {
protected:
    std::vector<std::string> Messages() const { return log_.Messages("[Q-SC]"); }

    ui::TestLoop loop_;
    AppTestSupport::LogCapture log_;
};

TEST_F(SubtitleChooserTest, WithoutSubtitlesOnlyTheArrowSpaceRemains) {
    auto chooser = SubtitleChooser::initWithSubtitles({}, ui::Rect(0, 0, 85, 20));
    EXPECT_EQ(20, chooser->componentHeight());
    EXPECT_TRUE(Buttons(*chooser).empty());
    EXPECT_EQ(std::vector<std::string>{"[Q-SC] num of items: 0"}, Messages());
}

TEST_F(SubtitleChooserTest, PanelArrowAndButtonsAreLaidOutPerEntry) {
    auto chooser = SubtitleChooser::initWithSubtitles(ThreeEntries(), ui::Rect(10, 20, 85, 152));
    // 3 x 44 + 20.
    EXPECT_EQ(152, chooser->componentHeight());
    EXPECT_EQ(ui::Rect(10, 20, 85, 152), chooser->Frame());
    ASSERT_EQ(5u, chooser->Subviews().size());

    const ui::View::Ptr& panel = chooser->Subviews()[0];
    EXPECT_EQ(ui::Rect(0, 0, 85, 132), panel->Frame());
    ASSERT_TRUE(panel->BackgroundColor().has_value());
    // 28, 39, 43 of 255, opaque.
    EXPECT_EQ("#1C272BFF", panel->BackgroundColor()->ToString());
    EXPECT_TRUE(panel->IsOpaque());
    EXPECT_EQ(5, panel->GetLayer().CornerRadius());

    auto arrow = std::dynamic_pointer_cast<ui::ImageView>(chooser->Subviews()[1]);
    ASSERT_NE(nullptr, arrow);
    // x = 85 / 2 - 8 = 34.5, just under the 132-point panel.
    EXPECT_EQ(ui::Rect(34.5, 132, 15, 8), arrow->Frame());
    ASSERT_NE(nullptr, arrow->GetImage());
    EXPECT_EQ("arrow.png", arrow->GetImage()->Name());

    const std::vector<std::shared_ptr<ui::Button>> buttons = Buttons(*chooser);
    ASSERT_EQ(3u, buttons.size());
    const char* titles[] = {"None", "English", "Polski"};
    for (int i = 0; i < 3; ++i) {
        const ui::Button& button = *buttons[i];
        SCOPED_TRACE(titles[i]);
        EXPECT_EQ(ui::Rect(0, 44.0 * i, 85, 44), button.Frame());
        EXPECT_EQ(i, button.Tag());
        EXPECT_EQ(ui::ButtonType::Custom, button.GetButtonType());
        EXPECT_EQ(titles[i], button.CurrentTitle());
        EXPECT_EQ(ui::Color::White(), button.CurrentTitleColor());
        EXPECT_EQ(ui::Color::Clear(), button.BackgroundColor());
        EXPECT_EQ(ui::Font("Arial-BoldMT", 16), buttons[i]->TitleLabel()->GetFont());
        EXPECT_EQ(ui::TextAlignment::Center, buttons[i]->TitleLabel()->GetTextAlignment());
        EXPECT_TRUE(button.ReversesTitleShadowWhenHighlighted());
        EXPECT_TRUE(button.ShowsTouchWhenHighlighted());
    }
    EXPECT_EQ((std::vector<std::string>{"[Q-SC] num of items: 3", "[Q-SC] setupItem",
                                        "[Q-SC] setupItem", "[Q-SC] setupItem"}),
              Messages());
}

TEST_F(SubtitleChooserTest, TappingAButtonTellsTheDelegateItsLanguage) {
    auto chooser = SubtitleChooser::initWithSubtitles(ThreeEntries(), ui::Rect(0, 0, 85, 152));
    auto delegate = std::make_shared<RecordingDelegate>();
    chooser->setDelegate(delegate);
    ui::Driver driver(chooser, &loop_.Clock());
    const std::vector<std::shared_ptr<ui::Button>> buttons = Buttons(*chooser);
    ASSERT_EQ(3u, buttons.size());
    ASSERT_TRUE(driver.Tap(buttons[1]));
    ASSERT_TRUE(driver.Tap(buttons[0]));
    ASSERT_TRUE(driver.Tap(buttons[2]));
    EXPECT_EQ((std::vector<std::string>{"en", "None", "pl"}), delegate->languages);

    // A tag that names no entry is ignored.
    ui::Button stray;
    stray.SetTag(3);
    chooser->itemsTabHandler(stray);
    stray.SetTag(-1);
    chooser->itemsTabHandler(stray);
    EXPECT_EQ(3u, delegate->languages.size());

    // The delegate gone: a tap reaches no one and does no harm.
    delegate.reset();
    EXPECT_TRUE(driver.Tap(buttons[1]));
}

}  // namespace
