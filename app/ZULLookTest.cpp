// The look of the screens as a person takes it in, measured with yardsticks of legibility
// rather than against the palette's own numbers: text stands out from what lies behind it by
// the contrast ratio of the Web Content Accessibility Guidelines (WCAG 2), the menu's selected
// row stands out from the others, an empty sign-in field is tinted as a warning and stays
// readable, text is large enough to read and fits its box, and the screens share one face,
// with larger text where a tablet has the room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/LoginViewControllerBuilders.h"
#include "app/ResultTableViewCell.h"
#include "app/ZULColor.h"
#include "app/ZULFont.h"
#include "app/ZULScreenHost.h"
#include "app/ZULSecureTextField.h"
#include "app/ZULTextField.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/UiDevice.h"

namespace {

// WCAG 2's relative luminance of an sRGB colour: each component made linear, then weighted as
// the eye weighs red, green and blue.
double LookLuminance(const ui::Color& c) {
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.R()) + 0.7152 * linear(c.G()) + 0.0722 * linear(c.B());
}

// WCAG 2's contrast ratio: 1 for two equal colours up to 21 for black against white.
double LookContrast(const ui::Color& a, const ui::Color& b) {
    const double la = LookLuminance(a);
    const double lb = LookLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What text needs against its background to be read by most people, low vision included
// (WCAG 2, level AA, text below 18 points).
constexpr double kLegibleContrast = 4.5;
// The smallest text a handheld screen should show, in points.
constexpr double kSmallestReadableSize = 11;

// The yardstick itself, on values published with the guidelines: black on white is 21 : 1,
// and #767676 is the lightest grey that passes on white (#777777 just fails).
TEST(ZULLookTest, ContrastYardstickMatchesThePublishedValues) {
    EXPECT_NEAR(21.0, LookContrast(ui::Color::Black(), ui::Color::White()), 1e-9);
    EXPECT_NEAR(1.0, LookContrast(ui::Color::Gray(), ui::Color::Gray()), 1e-9);
    EXPECT_GE(LookContrast(ui::Color::FromRGB255(0x76, 0x76, 0x76), ui::Color::White()),
              kLegibleContrast);
    EXPECT_LT(LookContrast(ui::Color::FromRGB255(0x77, 0x77, 0x77), ui::Color::White()),
              kLegibleContrast);
}

// Text of the lists and what lies behind it, as the screens put them together.
struct LookTextOnBackground {
    const char* where;
    ui::Color text;
    ui::Color background;
};

TEST(ZULLookTest, ListTextIsLegibleOnItsBackground) {
    const std::shared_ptr<ResultTableViewCell> result = ResultTableViewCell::create("look");
    const std::vector<LookTextOnBackground> texts = {
        {"menu row", ZULColor::zulTableViewCellTextColor(),
         ZULColor::zulTableViewCellBackgroundColor()},
        {"selected menu row", ZULColor::zulTableViewCellSelectedTextColor(),
         ZULColor::zulTableViewCellSelectedBackgroundColor()},
        {"search result's title", result->label()->TextColor(),
         result->BackgroundColor().value_or(ui::Color::Clear())},
        {"search result's row text", result->TextLabel()->TextColor(),
         result->BackgroundColor().value_or(ui::Color::Clear())},
        {"search status row ('Loading', 'No results')",
         ZULColor::zulTableViewResultLoadingCellTextColor(),
         ZULColor::zulTableViewResultLoadingCellBackgroundColor()},
    };
    for (const LookTextOnBackground& t : texts) {
        SCOPED_TRACE(t.where);
        // Opaque both: text over a see-through colour would depend on what lies further down.
        EXPECT_EQ(1.0, t.text.A());
        EXPECT_EQ(1.0, t.background.A());
        EXPECT_GE(LookContrast(t.text, t.background), kLegibleContrast)
            << t.text << " on " << t.background;
    }
}

// The menu shows its selected row by colour alone (no check mark, no highlight view): the row
// must come forward, lighter than the others, its text no dimmer than theirs.
TEST(ZULLookTest, TheSelectedMenuRowStandsOutFromTheOthers) {
    EXPECT_GT(LookLuminance(ZULColor::zulTableViewCellSelectedBackgroundColor()),
              LookLuminance(ZULColor::zulTableViewCellBackgroundColor()));
    EXPECT_GE(LookLuminance(ZULColor::zulTableViewCellSelectedTextColor()),
              LookLuminance(ZULColor::zulTableViewCellTextColor()));
}

// Every face and size the palette offers the screens.
struct LookNamedFont {
    const char* use;
    ui::Font (*font)();
};
const LookNamedFont kLookFonts[] = {
    {"menu and result rows", ZULFont::zulTableViewCellFont},
    {"search result's title", ZULFont::zulTableViewResultCellFont},
    {"search section header", ZULFont::zulTableViewSectionFont},
    {"search status row", ZULFont::zulTableViewResultLoadingCellFont},
    {"search bar", ZULFont::zulSearchBarTextFieldFont},
    {"sign-in message", ZULFont::zulSignInTextFont},
    {"sign-in button", ZULFont::zulSignInButtonFont},
};

class ZULLookFontTest : public ::testing::Test {
protected:
    void TearDown() override { ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone); }

    static std::vector<double> Sizes(ui::UserInterfaceIdiom idiom) {
        ui::UiDevice::Current().SetIdiom(idiom);
        std::vector<double> sizes;
        for (const LookNamedFont& f : kLookFonts) sizes.push_back(f.font().PointSize());
        return sizes;
    }
};

// One face on every screen, so that they read as one product; a size asked for is the size
// given.
TEST_F(ZULLookFontTest, EveryTextSharesOneFaceAtTheSizeAsked) {
    for (double size : {9.0, 13.5, 30.0}) {
        EXPECT_EQ(size, ZULFont::zulFontWithSize(size).PointSize());
    }
    const std::string face = ZULFont::zulFontWithSize(12).Name();
    EXPECT_FALSE(face.empty());
    for (ui::UserInterfaceIdiom idiom :
         {ui::UserInterfaceIdiom::Phone, ui::UserInterfaceIdiom::Pad}) {
        ui::UiDevice::Current().SetIdiom(idiom);
        for (const LookNamedFont& f : kLookFonts) {
            EXPECT_EQ(face, f.font().Name()) << f.use;
        }
    }
}

TEST_F(ZULLookFontTest, EveryTextIsLargeEnoughToRead) {
    for (ui::UserInterfaceIdiom idiom : {ui::UserInterfaceIdiom::Phone, ui::UserInterfaceIdiom::Pad,
                                         ui::UserInterfaceIdiom::Unspecified}) {
        const std::vector<double> sizes = Sizes(idiom);
        for (size_t i = 0; i < sizes.size(); ++i) {
            EXPECT_GE(sizes[i], kSmallestReadableSize)
                << kLookFonts[i].use << " on idiom " << static_cast<int>(idiom);
        }
    }
}

// A tablet's text is never smaller than a phone's; the result titles under the tablet's larger
// thumbnails and the message over its wider form are larger. A device that reports no idiom
// gets a phone's text.
TEST_F(ZULLookFontTest, TabletTextIsNeverSmallerAndNoIdiomReadsAsAPhone) {
    const std::vector<double> phone = Sizes(ui::UserInterfaceIdiom::Phone);
    const std::vector<double> pad = Sizes(ui::UserInterfaceIdiom::Pad);
    const std::vector<double> unspecified = Sizes(ui::UserInterfaceIdiom::Unspecified);
    for (size_t i = 0; i < phone.size(); ++i) {
        const std::string use = kLookFonts[i].use;
        EXPECT_GE(pad[i], phone[i]) << use;
        EXPECT_EQ(phone[i], unspecified[i]) << use;
        if (use == "search result's title" || use == "sign-in message") {
            EXPECT_GT(pad[i], phone[i]) << use;
        }
    }
}

// The sign-in screen as a phone and as a tablet lay it out, loaded as the application loads
// it, on a loop of the test's own (the field's warning shake runs on it).
class ZULSignInLookTest : public ::testing::TestWithParam<ui::UserInterfaceIdiom> {
protected:
    void SetUp() override {
        // A sign-in kept by an earlier test would fill the fields.
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserLoginKey);
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserPasswordKey);
        ui::UiDevice::Current().SetIdiom(GetParam());
        // No application: the look needs no host.
        login_ = std::make_shared<LoginViewController>(GetParam() == ui::UserInterfaceIdiom::Pad
                                                           ? kLoginViewControllerPadInterface
                                                           : kLoginViewControllerPhoneInterface,
                                                       std::weak_ptr<ZULScreenHost>());
        root_ = login_->GetView();
        ASSERT_NE(nullptr, root_);
        ASSERT_NE(nullptr, login_->label());
        ASSERT_NE(nullptr, login_->emailTextField());
        ASSERT_NE(nullptr, login_->passwordlTextField());
        ASSERT_NE(nullptr, login_->signInButton());
    }
    void TearDown() override {
        root_.reset();
        login_.reset();
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    }

    std::vector<std::shared_ptr<ui::TextField>> Fields() const {
        return {login_->emailTextField(), login_->passwordlTextField()};
    }
    // The colour under the middle of the button's face in a state (its background picture).
    ui::Color ButtonFace(unsigned state) const {
        ui::Button& button = *login_->signInButton();
        ui::Image::Ptr face = button.BackgroundImageForState(state);
        if (!face) face = button.BackgroundImageForState(ui::ControlState::Normal);
        if (!face) return ui::Color::Clear();
        return face->PixelAt(face->PixelWidth() / 2, face->PixelHeight() / 2);
    }

    ui::TestLoop loop_;
    std::shared_ptr<LoginViewController> login_;
    ui::View::Ptr root_;
};

TEST_P(ZULSignInLookTest, TextIsLegibleOnWhatLiesBehindIt) {
    // The message has no background of its own: the screen's shows through.
    ASSERT_TRUE(root_->BackgroundColor().has_value());
    EXPECT_EQ(0.0, login_->label()->BackgroundColor().value_or(ui::Color::Clear()).A());
    EXPECT_GE(LookContrast(login_->label()->TextColor(), *root_->BackgroundColor()),
              kLegibleContrast);
    for (const auto& field : Fields()) {
        SCOPED_TRACE(field->Identifier());
        ASSERT_TRUE(field->BackgroundColor().has_value());
        EXPECT_GE(LookContrast(field->TextColor(), *field->BackgroundColor()), kLegibleContrast);
    }
    // The button's title on its face, at rest and while pressed (a disabled button need not
    // be read: WCAG leaves inactive controls out).
    ui::Button& button = *login_->signInButton();
    for (unsigned state : {ui::ControlState::Normal, ui::ControlState::Highlighted}) {
        SCOPED_TRACE(state);
        const ui::Color face = ButtonFace(state);
        ASSERT_EQ(1.0, face.A());
        const ui::Color title = button.TitleColorForState(state).value_or(
            button.TitleColorForState(ui::ControlState::Normal).value_or(ui::Color::Clear()));
        EXPECT_GE(LookContrast(title, face), kLegibleContrast) << title << " on " << face;
    }
}

// A sign-in with the fields left empty tints them: a warning a person sees at once (red leads
// the other components clearly, unlike the plain field), behind text that stays readable.
TEST_P(ZULSignInLookTest, AnEmptyFieldIsTintedAsAWarningAndStaysReadable) {
    const std::vector<std::shared_ptr<ui::TextField>> fields = Fields();
    std::vector<ui::Color> plain;
    for (const auto& field : fields) {
        ASSERT_TRUE(field->Text().empty());
        plain.push_back(field->BackgroundColor().value_or(ui::Color::Clear()));
    }
    login_->signInAction();
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto& field = fields[i];
        SCOPED_TRACE(field->Identifier());
        ASSERT_TRUE(field->BackgroundColor().has_value());
        const ui::Color tint = *field->BackgroundColor();
        EXPECT_GE(tint.R() - std::max(tint.G(), tint.B()), 0.1) << tint;
        EXPECT_LT(plain[i].R() - std::max(plain[i].G(), plain[i].B()), 0.1) << plain[i];
        EXPECT_GE(LookContrast(field->TextColor(), tint), kLegibleContrast) << tint;
    }
}

// No line of text is cut: the message's lines, each field's line and the button's title fit
// the height of their boxes.
TEST_P(ZULSignInLookTest, TextFitsItsBox) {
    const ui::Label& label = *login_->label();
    ASSERT_GT(label.NumberOfLines(), 0);
    EXPECT_LE(label.NumberOfLines() * label.GetFont().LineHeight(), label.Bounds().Height());
    for (const auto& field : Fields()) {
        EXPECT_LE(field->GetFont().LineHeight(), field->Bounds().Height()) << field->Identifier();
    }
    ui::Button& button = *login_->signInButton();
    EXPECT_LE(button.TitleLabel()->GetFont().LineHeight(), button.Bounds().Height());
}

// The message heads the screen: no text on it is larger, and all of it is in the one face.
TEST_P(ZULSignInLookTest, TheMessageHeadsTheScreenInTheOneFace) {
    const ui::Font message = login_->label()->GetFont();
    std::vector<ui::Font> others = {login_->signInButton()->TitleLabel()->GetFont()};
    for (const auto& field : Fields()) others.push_back(field->GetFont());
    for (const ui::Font& font : others) {
        EXPECT_GE(message.PointSize(), font.PointSize()) << font;
        EXPECT_EQ(message.Name(), font.Name());
    }
    EXPECT_EQ(ZULFont::zulFontWithSize(12).Name(), message.Name());
}

INSTANTIATE_TEST_SUITE_P(PhoneAndPad, ZULSignInLookTest,
                         ::testing::Values(ui::UserInterfaceIdiom::Phone,
                                           ui::UserInterfaceIdiom::Pad),
                         [](const ::testing::TestParamInfo<ui::UserInterfaceIdiom>& info) {
                             return info.param == ui::UserInterfaceIdiom::Pad ? "Pad" : "Phone";
                         });

}  // namespace
