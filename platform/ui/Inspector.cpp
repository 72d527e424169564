#include "platform/ui/Inspector.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/EscapeTable.h"
#include "platform/Utf8.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextMeasure.h"

namespace ui {

namespace {

// The text dump's escaping: one line, every byte kept or spelled out.
constexpr ns::EscapeTable kTextEscapes(ns::EscapeTable::kUpperCaseHex | ns::EscapeTable::kDelete);
// The JSON dump's.
constexpr ns::EscapeTable kJsonEscapes(ns::EscapeTable::kUnicode | ns::EscapeTable::kUpperCaseHex |
                                       ns::EscapeTable::kLetters);

// The length of the well-formed UTF-8 sequence at text[i] (no overlong forms, no surrogates,
// nothing past U+10FFFF), or 0 when there is none.
size_t Utf8SequenceAt(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    uint32_t value;
    uint32_t minimum;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void AppendJsonString(std::string& out, const std::string& text) {
    std::string valid;  // JSON text must be UTF-8: what is not becomes U+FFFD
    valid.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceAt(text, i);
        if (length == 0) {
            ns::AppendUtf8(valid, 0xFFFD);
            ++i;
            continue;
        }
        valid.append(text, i, length);
        i += length;
    }
    kJsonEscapes.AppendQuoted(out, valid);
}

void AppendJsonNumber(std::string& out, double value) {
    out += std::isfinite(value) ? FormatNumber(value) : "null";
}

// What a dump shows of a view besides its geometry: its text, image and colours.
struct Shown {
    std::optional<std::string> text;
    std::optional<std::string> image;
    std::optional<Color> background;
    std::optional<Color> textColor;
};

Shown ShownBy(const View& view) {
    return Shown{TextOf(view), ImageNameOf(view), view.BackgroundColor(), TextColorOf(view)};
}

// The subviews a dump lists.
bool Listed(const View& parent, const View& child) {
    const auto* button = dynamic_cast<const Button*>(&parent);
    return button == nullptr || !button->IsOwnSubview(child);
}

void DumpText(const View& view, int depth, std::string& out) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += view.ClassName();
    if (!view.Identifier().empty()) {
        out += '#';
        kTextEscapes.Append(out, view.Identifier());
    }
    const Rect frame = view.Frame();
    out += " frame=(" + FormatNumber(frame.X()) + "," + FormatNumber(frame.Y()) + "," +
           FormatNumber(frame.Width()) + "," + FormatNumber(frame.Height()) + ")";
    if (view.Alpha() != 1) {
        out += " alpha=" + FormatNumber(view.Alpha());
    }
    if (view.IsHidden()) {
        out += " hidden";
    }
    const Shown shown = ShownBy(view);
    if (shown.text) {
        out += " text=";
        kTextEscapes.AppendQuoted(out, *shown.text);
    }
    if (shown.image) {
        out += " image=";
        kTextEscapes.AppendQuoted(out, *shown.image);
    }
    if (shown.background) {
        out += " background=" + shown.background->ToString();
    }
    if (shown.textColor) {
        out += " textColor=" + shown.textColor->ToString();
    }
    out += '\n';
    for (const View::Ptr& sub : view.Subviews()) {
        if (Listed(view, *sub)) {
            DumpText(*sub, depth + 1, out);
        }
    }
}

void DumpJsonObject(const View& view, std::string& out) {
    out += "{\"class\":";
    AppendJsonString(out, view.ClassName());
    out += ",\"identifier\":";
    AppendJsonString(out, view.Identifier());
    const Rect frame = view.Frame();
    out += ",\"frame\":{\"x\":";
    AppendJsonNumber(out, frame.X());
    out += ",\"y\":";
    AppendJsonNumber(out, frame.Y());
    out += ",\"width\":";
    AppendJsonNumber(out, frame.Width());
    out += ",\"height\":";
    AppendJsonNumber(out, frame.Height());
    out += "},\"alpha\":";
    AppendJsonNumber(out, view.Alpha());
    out += view.IsHidden() ? ",\"hidden\":true" : ",\"hidden\":false";
    const Shown shown = ShownBy(view);
    if (shown.text) {
        out += ",\"text\":";
        AppendJsonString(out, *shown.text);
    }
    if (shown.image) {
        out += ",\"image\":";
        AppendJsonString(out, *shown.image);
    }
    if (shown.background) {
        out += ",\"background\":";
        AppendJsonString(out, shown.background->ToString());
    }
    if (shown.textColor) {
        out += ",\"textColor\":";
        AppendJsonString(out, shown.textColor->ToString());
    }
    out += ",\"subviews\":[";
    bool first = true;
    for (const View::Ptr& sub : view.Subviews()) {
        if (!Listed(view, *sub)) {
            continue;
        }
        if (!first) {
            out += ',';
        }
        first = false;
        DumpJsonObject(*sub, out);
    }
    out += "]}";
}

}  // namespace

std::optional<std::string> TextOf(const View& view) {
    if (const auto* label = dynamic_cast<const Label*>(&view)) {
        return label->Text();
    }
    if (const auto* button = dynamic_cast<const Button*>(&view)) {
        return button->CurrentTitle();
    }
    if (const auto* field = dynamic_cast<const TextField*>(&view)) {
        if (!field->IsSecureTextEntry()) return field->Text();
        // What the window shows of a password, never the password itself: a dump goes to
        // standard output, logs and test reports.
        std::string masked;
        for (size_t i = TextMeasure::CodePoints(field->Text()); i > 0; --i) masked += kMaskBullet;
        return masked;
    }
    if (const auto* bar = dynamic_cast<const SearchBar*>(&view)) {
        return bar->Text();
    }
    return std::nullopt;
}

std::optional<std::string> ImageNameOf(const View& view) {
    Image::Ptr image;
    if (const auto* imageView = dynamic_cast<const ImageView*>(&view)) {
        image = imageView->GetImage();
    } else if (const auto* button = dynamic_cast<const Button*>(&view)) {
        image = button->CurrentImage();
    }
    if (!image) {
        return std::nullopt;
    }
    return image->Name();
}

std::optional<Color> TextColorOf(const View& view) {
    if (const auto* label = dynamic_cast<const Label*>(&view)) {
        return label->TextColor();
    }
    if (const auto* button = dynamic_cast<const Button*>(&view)) {
        return button->CurrentTitleColor();
    }
    if (const auto* field = dynamic_cast<const TextField*>(&view)) {
        return field->TextColor();
    }
    return std::nullopt;
}

std::string Dump(const View& view) {
    std::string out;
    DumpText(view, 0, out);
    return out;
}

std::string DumpJson(const View& view) {
    std::string out;
    DumpJsonObject(view, out);
    return out;
}

std::string FormatNumber(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    char buffer[400];  // %.2f of the largest double: 309 digits and the decimals
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string text(buffer);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
        text.pop_back();
    }
    if (text == "-0") {
        text = "0";
    }
    return text;
}

}  // namespace ui
