#include "app/LoginViewControllerBuilders.h"

#include <memory>

#include "app/LoginViewController.h"
#include "app/WeakCallback.h"
#include "app/ZULColor.h"
#include "app/ZULSecureTextField.h"
#include "app/ZULTextField.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/InterfaceBuilder.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

namespace {

// One layout, at the two sizes. The stack starts `margin` below the top and keeps `margin`
// between its pieces (the controller moves them along the same rule when the keyboard comes).
struct Metrics {
    double contentWidth;  // label, form and button
    double margin;        // from the top and between the pieces
    double labelHeight;   // two lines of the sign-in text
    double fieldHeight;   // each of the two fields
    double buttonHeight;
    double fieldFontSize;  // the controller keeps the size and sets the face
};

constexpr Metrics kPhone{280, 25, 44, 44, 44, 17};
constexpr Metrics kPad{400, 30, 64, 50, 50, 20};

const ui::Color kSeparatorColor = ui::Color::FromRGB255(204, 204, 204);
const ui::Color kButtonColor = ui::Color::FromRGB255(196, 38, 46);
const ui::Color kButtonPressedColor = ui::Color::FromRGB255(150, 26, 33);
const ui::Color kButtonDisabledColor = ui::Color::FromRGB255(90, 90, 90);
constexpr double kButtonCornerRadius = 6;

// Kept at the same distance from both sides when the width changes.
constexpr unsigned kCentred =
    ui::Autoresizing::FlexibleLeftMargin | ui::Autoresizing::FlexibleRightMargin;

template <typename Field>
std::shared_ptr<Field> MakeField(const char* identifier, const ui::Rect& frame, const Metrics& m) {
    auto field = std::make_shared<Field>(frame);
    field->SetIdentifier(identifier);
    field->SetBackgroundColor(ui::Color::White());
    field->SetBorderStyle(ui::TextBorderStyle::None);
    field->SetClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    field->SetFont(ui::Font::SystemFont(m.fieldFontSize));
    field->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    return field;
}

std::shared_ptr<ui::View> BuildLoginScreen(ui::InterfaceBuilder::Context& context,
                                           const Metrics& m) {
    const ui::Rect screen = ui::Screen::Main().Bounds();
    auto root = std::make_shared<ui::View>(ui::Rect(0, 0, screen.Width(), screen.Height()));
    root->SetBackgroundColor(ZULColor::zulSigningInBackgroundColor());
    root->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth | ui::Autoresizing::FlexibleHeight);

    const double x = (screen.Width() - m.contentWidth) / 2;
    double y = m.margin;

    auto label = std::make_shared<ui::Label>(ui::Rect(x, y, m.contentWidth, m.labelHeight));
    label->SetIdentifier("label");
    label->SetNumberOfLines(2);
    label->SetTextAlignment(ui::TextAlignment::Center);
    label->SetTextColor(ui::Color::White());
    label->SetBackgroundColor(ui::Color::Clear());
    label->SetAutoresizingMask(kCentred);
    root->AddSubview(label);
    y += m.labelHeight + m.margin;

    auto form = std::make_shared<ui::View>(ui::Rect(x, y, m.contentWidth, 2 * m.fieldHeight));
    form->SetIdentifier("emailAndPasswordView");
    // The fields cover the box; it shows while signing in, under the light grey "Signing in"
    // text, which needs a dark ground to be read.
    form->SetBackgroundColor(ZULColor::zulSigningInBackgroundColor());
    form->SetClipsToBounds(true);
    form->SetAutoresizingMask(kCentred);
    auto email =
        MakeField<ZULTextField>("emailTextField", ui::Rect(0, 0, m.contentWidth, m.fieldHeight), m);
    // The line between the fields belongs to the upper one: it goes with the fields when they
    // fade out for the "Signing in" text, which would otherwise be struck through.
    auto separator = std::make_shared<ui::View>(ui::Rect(0, m.fieldHeight - 1, m.contentWidth, 1));
    separator->SetBackgroundColor(kSeparatorColor);
    separator->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                   ui::Autoresizing::FlexibleTopMargin);
    email->AddSubview(separator);
    auto password = MakeField<ZULSecureTextField>(
        "passwordlTextField", ui::Rect(0, m.fieldHeight, m.contentWidth, m.fieldHeight), m);
    password->SetSecureTextEntry(true);
    form->AddSubview(email);
    form->AddSubview(password);
    root->AddSubview(form);
    y += 2 * m.fieldHeight + m.margin;

    auto button = std::make_shared<ui::Button>(ui::Rect(x, y, m.contentWidth, m.buttonHeight));
    button->SetIdentifier("signInButton");
    const ui::Size buttonSize(m.contentWidth, m.buttonHeight);
    button->SetBackgroundImage(ui::Image::Filled(buttonSize, kButtonColor, kButtonCornerRadius),
                               ui::ControlState::Normal);
    button->SetBackgroundImage(
        ui::Image::Filled(buttonSize, kButtonPressedColor, kButtonCornerRadius),
        ui::ControlState::Highlighted);
    button->SetBackgroundImage(
        ui::Image::Filled(buttonSize, kButtonDisabledColor, kButtonCornerRadius),
        ui::ControlState::Disabled);
    button->SetTitleColor(ui::Color::White(), ui::ControlState::Normal);
    button->SetTitleColor(ui::Color::LightGray(), ui::ControlState::Disabled);
    button->SetAutoresizingMask(kCentred);
    // The file's action connection: the button's owner is the controller, held weakly.
    if (auto* login = dynamic_cast<LoginViewController*>(&context.Owner())) {
        button->AddTarget(&context.Owner(),
                          WeakCallback(*login, &LoginViewController::signInAction),
                          ui::ControlEvent::TouchUpInside);
    }
    root->AddSubview(button);
    return root;
}

}  // namespace

void RegisterLoginViewControllerBuilders() {
    static const bool registered = [] {
        ui::InterfaceBuilder::Register(
            kLoginViewControllerPhoneInterface,
            [](ui::InterfaceBuilder::Context& c) { return BuildLoginScreen(c, kPhone); });
        ui::InterfaceBuilder::Register(
            kLoginViewControllerPadInterface,
            [](ui::InterfaceBuilder::Context& c) { return BuildLoginScreen(c, kPad); });
        return true;
    }();
    (void)registered;
}
