#include "app/QplayerInterface.h"

#include <memory>
#include <string>

#include "app/QplayerLayout.h"
#include "platform/ui/Button.h"
#include "platform/ui/Font.h"
#include "platform/ui/InterfaceBuilder.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Slider.h"

namespace {

using namespace QplayerLayout;

std::shared_ptr<ui::Button> MakeButton(const std::string& identifier, const std::string& title,
                                       const ui::Rect& frame) {
    auto button = std::make_shared<ui::Button>(frame);
    button->SetIdentifier(identifier);
    button->SetTitle(title, ui::ControlState::Normal);
    button->SetTitleColor(ui::Color::White(), ui::ControlState::Normal);
    button->TitleLabel()->SetFont(ui::Font::BoldSystemFont(kButtonFontSize));
    return button;
}

std::shared_ptr<ui::Label> MakeLabel(const std::string& identifier, const ui::Rect& frame,
                                     double fontSize, const std::string& text) {
    auto label = std::make_shared<ui::Label>(frame);
    label->SetIdentifier(identifier);
    label->SetTextColor(ui::Color::White());
    label->SetBackgroundColor(ui::Color::Clear());
    label->SetTextAlignment(ui::TextAlignment::Center);
    label->SetFont(ui::Font::SystemFont(fontSize));
    label->SetText(text);
    return label;
}

std::shared_ptr<ui::View> BuildPlayerScreen(ui::InterfaceBuilder::Context& /*context*/) {
    const ui::Rect screen = ui::Screen::Main().Bounds();
    const double w = screen.Width();
    const double h = screen.Height();
    const unsigned fill = ui::Autoresizing::FlexibleWidth | ui::Autoresizing::FlexibleHeight;

    auto root = std::make_shared<ui::View>(ui::Rect(0, 0, w, h));
    root->SetIdentifier("view");
    root->SetBackgroundColor(ui::Color::Black());
    root->SetAutoresizingMask(fill);

    auto videoDisplay = std::make_shared<ui::View>(ui::Rect(0, 0, w, h));
    videoDisplay->SetIdentifier("videoDisplay");
    videoDisplay->SetBackgroundColor(ui::Color::Black());
    videoDisplay->SetAutoresizingMask(fill);
    root->AddSubview(videoDisplay);

    auto playerHit = std::make_shared<ui::Button>(ui::Rect(0, 0, w, h));
    playerHit->SetIdentifier("playerHit");
    playerHit->SetAutoresizingMask(fill);
    root->AddSubview(playerHit);

    // The top bar.
    auto topBar = std::make_shared<ui::View>(ui::Rect(0, 0, w, kTopBarHeight));
    topBar->SetIdentifier("topBar");
    topBar->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    const double barY = (kTopBarHeight - kButtonHeight) / 2;
    auto close = MakeButton("closeViewButton", "Done",
                            ui::Rect(kBarMargin, barY, kCloseButtonWidth, kButtonHeight));
    topBar->AddSubview(close);
    auto title = MakeLabel("videoTitle", ui::Rect(kTitleX, barY, w - 2 * kTitleX, kButtonHeight),
                           kTitleFontSize, "");
    title->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    topBar->AddSubview(title);
    const ui::Rect scaleFrame(w - kBarMargin - kButtonWidth, barY, kButtonWidth, kButtonHeight);
    auto scale = MakeButton("scaleModeButton", "Fill", scaleFrame);
    auto scaleExit = MakeButton("scaleModeExitButton", "Fit", scaleFrame);
    for (const auto& button : {scale, scaleExit}) {
        button->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin);
        topBar->AddSubview(button);
    }
    root->AddSubview(topBar);

    // The bottom bar.
    auto controls =
        std::make_shared<ui::View>(ui::Rect(0, h - kBottomBarHeight, w, kBottomBarHeight));
    controls->SetIdentifier("controls");
    controls->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                  ui::Autoresizing::FlexibleTopMargin);
    const double rowY = (kBottomBarHeight - kButtonHeight) / 2;
    const ui::Rect playFrame(kPlayButtonX, rowY, kButtonWidth, kButtonHeight);
    auto play = MakeButton("playButton", "Play", playFrame);
    auto pause = MakeButton("pauseButton", "Pause", playFrame);
    controls->AddSubview(play);
    controls->AddSubview(pause);
    controls->AddSubview(MakeLabel(
        "progressTimeDisplay", ui::Rect(kProgressLabelX, kScrubberY, kLabelWidth, kScrubberHeight),
        kTimeFontSize, "0:00"));
    const double scrubberWidth =
        w - kScrubberX - 3 * kButtonWidth - kLabelWidth - kScrubberEndMargin;
    auto scrubber = std::make_shared<ui::Slider>(
        ui::Rect(kScrubberX, kScrubberY, scrubberWidth, kScrubberHeight));
    scrubber->SetIdentifier("scrubber_ui");
    scrubber->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    controls->AddSubview(scrubber);
    double x = kScrubberX + scrubberWidth + kControlGap;
    auto remaining =
        MakeLabel("remainingTimeDisplay", ui::Rect(x, kScrubberY, kLabelWidth, kScrubberHeight),
                  kTimeFontSize, "0:00");
    remaining->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin);
    controls->AddSubview(remaining);
    x += kLabelWidth + kControlGap;
    auto subtitlesOff =
        MakeButton("subtitleButton", "CC", ui::Rect(x, rowY, kButtonWidth, kButtonHeight));
    auto subtitlesOn = MakeButton("subtitleButtonON", "CC\xE2\x80\xA2",
                                  ui::Rect(x, rowY, kButtonWidth, kButtonHeight));
    for (const auto& button : {subtitlesOff, subtitlesOn}) {
        button->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin);
        controls->AddSubview(button);
    }
    x += kButtonWidth + kControlGap;
    auto audio = MakeButton("audioButton", "Vol", ui::Rect(x, rowY, kButtonWidth, kButtonHeight));
    audio->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin);
    controls->AddSubview(audio);
    root->AddSubview(controls);

    // The subtitle line.
    auto subtitleView = MakeLabel(
        "subtitleView",
        ui::Rect(kSubtitleInset, h - kLargeSubtitleOffset, w - 2 * kSubtitleInset, kSubtitleHeight),
        kLargeSubtitleFont, "");
    subtitleView->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                      ui::Autoresizing::FlexibleTopMargin);
    subtitleView->SetUserInteractionEnabled(false);
    // White text alone vanishes over a white or bright picture: a dark shadow down and to the
    // right keeps every glyph's edge readable whatever the movie shows under it.
    subtitleView->SetShadowColor(ui::Color::Black());
    subtitleView->SetShadowOffset(ui::Size(kSubtitleShadowOffset, kSubtitleShadowOffset));
    // Over the bars: on the small layout the line lies across the bottom bar, and a cue must
    // stay readable while the controls show. Under the panels, which open over it.
    root->AddSubview(subtitleView);

    // Panels that wait below the screen until shown. Hidden or shown, each keeps its distance
    // from the bottom edge (and from the right one) when the window changes size, so a hidden
    // one stays below the screen and a shown one beside the buttons that open it.
    const unsigned panelMask =
        ui::Autoresizing::FlexibleLeftMargin | ui::Autoresizing::FlexibleTopMargin;
    auto volume = std::make_shared<ui::View>(
        ui::Rect(w - kPanelRightOffset, h, kVolumePanelWidth, kVolumePanelHeight));
    volume->SetIdentifier("volumeView");
    volume->SetAutoresizingMask(panelMask);
    root->AddSubview(volume);
    auto chooser = std::make_shared<ui::View>(
        ui::Rect(w - kPanelRightOffset, h, kChooserWidth, kChooserInitialHeight));
    chooser->SetIdentifier("subtitleChooserView");
    chooser->SetAutoresizingMask(panelMask);
    root->AddSubview(chooser);
    return root;
}

}  // namespace

void RegisterQplayerInterface() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    ui::InterfaceBuilder::Register(kQplayerInterfaceName, BuildPlayerScreen);
}
