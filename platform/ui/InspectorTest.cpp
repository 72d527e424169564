// Dumps of view trees: a golden text dump typed by hand, the JSON dump read back by an
// independent parser, escaping, number formatting, and the notification recorder.

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Inspector.h"
#include "platform/ui/Label.h"
#include "platform/ui/NotificationRecorder.h"
#include "platform/ui/PngTestSupport.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/TextField.h"

namespace {

using ui::Color;
using ui::Rect;
using ui::View;

const char* const kPassword = "p\xC3\xA4s\"1";

// The start of a PNG of w x h (signature and IHDR): all the model reads of an image.
ui::Image::Ptr PngImage(uint32_t w, uint32_t h, const std::string& name) {
    const std::vector<uint8_t> png = ui::PngHeader(w, h);
    std::string error;
    auto image = ui::Image::FromBytes(png, name, &error);
    EXPECT_NE(image, nullptr) << error;
    return image;
}

// root
//   title (label), ok (button with a title and an image), logo (image view, half transparent)
//   panel (hidden, coloured)
//     email (text field), password (secure text field)
//     an unnamed view with odd geometry
class SmallTree {
public:
    SmallTree() {
        root = std::make_shared<View>(Rect(0, 0, 320, 480));
        root->SetIdentifier("root");
        root->SetBackgroundColor(Color::White());

        auto title = std::make_shared<ui::Label>(Rect(10, 20.5, 300, 21));
        title->SetIdentifier("title");
        title->SetText("Welcome");
        root->AddSubview(title);

        ok = std::make_shared<ui::Button>(Rect(10, 50, 100, 44));
        ok->SetIdentifier("ok");
        ok->SetTitle(std::string("OK"), ui::ControlState::Normal);
        ok->SetImage(PngImage(16, 16, "arrow"), ui::ControlState::Normal);
        root->AddSubview(ok);

        auto logo = std::make_shared<ui::ImageView>(Rect(200, 50, 15, 8));
        logo->SetIdentifier("logo");
        logo->SetImage(PngImage(15, 8, "logo"));
        logo->SetAlpha(0.5);
        root->AddSubview(logo);

        auto panel = std::make_shared<View>(Rect(0, 100, 320, 100.0 + 1.0 / 3));
        panel->SetIdentifier("panel");
        panel->SetHidden(true);
        panel->SetBackgroundColor(Color::FromRGB255(0x12, 0x34, 0x56));
        root->AddSubview(panel);

        auto email = std::make_shared<ui::TextField>(Rect(8, 8, 304, 31));
        email->SetIdentifier("email");
        email->SetText("a@b.c");
        email->SetTextColor(Color::FromRGB255(183, 183, 183));
        panel->AddSubview(email);

        // Five characters, one of two bytes and a quote that the dump would escape.
        auto password = std::make_shared<ui::TextField>(Rect(8, 39, 304, 31));
        password->SetIdentifier("password");
        password->SetSecureTextEntry(true);
        password->SetText(kPassword);
        password->SetTextColor(Color::Black());
        panel->AddSubview(password);

        panel->AddSubview(std::make_shared<View>(Rect(1.25, -3, 0.1, 0)));
        ui::RunLayoutPass();  // the button lays out its title label and image view
    }

    std::shared_ptr<View> root;
    std::shared_ptr<ui::Button> ok;
};

TEST(InspectorTest, TextDumpOfASmallTreeMatchesTheGolden) {
    ui::TestLoop loop;
    SmallTree tree;
    ASSERT_EQ(tree.ok->Subviews().size(), 2u);  // its title label and image view exist...
    const std::string expected =
        // white background: every component 255, alpha 1
        "View#root frame=(0,0,320,480) background=#FFFFFFFF\n"
        // y keeps its half point; a label's colour is black unless set
        "  Label#title frame=(10,20.5,300,21) text=\"Welcome\" textColor=#000000FF\n"
        // ...but are not listed: the title, image and a custom button's white title are here
        "  Button#ok frame=(10,50,100,44) text=\"OK\" image=\"arrow\" textColor=#FFFFFFFF\n"
        // alpha shows when it is not 1; an image view has no text
        "  ImageView#logo frame=(200,50,15,8) alpha=0.5 image=\"logo\"\n"
        // 100 1/3 cut to two decimals; 0x12 0x34 0x56 as set
        "  View#panel frame=(0,100,320,100.33) hidden background=#123456FF\n"
        // 183 = 0xB7
        "    TextField#email frame=(8,8,304,31) text=\"a@b.c\" textColor=#B7B7B7FF\n"
        // secure: a bullet (E2 80 A2) per character of "p\xC3\xA4s\"1", not the text
        "    TextField#password frame=(8,39,304,31) text=\"\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2"
        "\xE2\x80\xA2\xE2\x80\xA2\" textColor=#000000FF\n"
        // no identifier, no '#'; a negative y and a fraction below one
        "    View frame=(1.25,-3,0.1,0)\n";
    EXPECT_EQ(ui::Dump(*tree.root), expected);
}

const rapidjson::Value& Member(const rapidjson::Value& object, const char* name) {
    static const rapidjson::Value missing;
    if (!object.IsObject() || !object.HasMember(name)) {
        ADD_FAILURE() << "no member " << name;
        return missing;
    }
    return object[name];
}

TEST(InspectorTest, JsonDumpParsesAndHoldsTheSameFields) {
    ui::TestLoop loop;
    SmallTree tree;
    const std::string json = ui::DumpJson(*tree.root);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str(), json.size());
    ASSERT_FALSE(doc.HasParseError()) << rapidjson::GetParseError_En(doc.GetParseError()) << " at "
                                      << doc.GetErrorOffset() << " in " << json;

    EXPECT_STREQ(Member(doc, "class").GetString(), "View");
    EXPECT_STREQ(Member(doc, "identifier").GetString(), "root");
    const auto& frame = Member(doc, "frame");
    EXPECT_EQ(Member(frame, "x").GetDouble(), 0);
    EXPECT_EQ(Member(frame, "width").GetDouble(), 320);
    EXPECT_EQ(Member(frame, "height").GetDouble(), 480);
    EXPECT_EQ(Member(doc, "alpha").GetDouble(), 1);
    EXPECT_FALSE(Member(doc, "hidden").GetBool());
    EXPECT_STREQ(Member(doc, "background").GetString(), "#FFFFFFFF");
    EXPECT_FALSE(doc.HasMember("text"));  // a plain view shows none

    const auto& subs = Member(doc, "subviews");
    ASSERT_TRUE(subs.IsArray());
    ASSERT_EQ(subs.Size(), 4u);  // the button's own title label and image view are left out
    EXPECT_STREQ(Member(subs[0], "text").GetString(), "Welcome");
    EXPECT_EQ(Member(Member(subs[0], "frame"), "y").GetDouble(), 20.5);
    EXPECT_STREQ(Member(subs[1], "class").GetString(), "Button");
    EXPECT_STREQ(Member(subs[1], "text").GetString(), "OK");
    EXPECT_STREQ(Member(subs[1], "image").GetString(), "arrow");
    EXPECT_STREQ(Member(subs[1], "textColor").GetString(), "#FFFFFFFF");
    EXPECT_EQ(Member(subs[1], "subviews").Size(), 0u);
    EXPECT_EQ(Member(subs[2], "alpha").GetDouble(), 0.5);
    EXPECT_FALSE(subs[2].HasMember("text"));
    EXPECT_TRUE(Member(subs[3], "hidden").GetBool());
    EXPECT_EQ(Member(Member(subs[3], "frame"), "height").GetDouble(), 100.33);
    const auto& inner = Member(subs[3], "subviews");
    ASSERT_EQ(inner.Size(), 3u);
    EXPECT_STREQ(Member(inner[0], "text").GetString(), "a@b.c");
    EXPECT_STREQ(Member(inner[0], "textColor").GetString(), "#B7B7B7FF");
    EXPECT_STREQ(Member(inner[1], "text").GetString(),
                 "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
    EXPECT_EQ(json.find("p\xC3\xA4s"), std::string::npos) << json;
    EXPECT_STREQ(Member(inner[2], "identifier").GetString(), "");
    EXPECT_EQ(Member(Member(inner[2], "frame"), "y").GetDouble(), -3);
}

TEST(InspectorTest, TextsAreEscapedForEachDump) {
    ui::Label label(Rect(0, 0, 10, 10));
    // quote, backslash, newline, tab, 0x01, 0x1F, e-acute (2 bytes), a stray 0xFF byte, and a
    // code point of four bytes (U+1F600)
    label.SetText(std::string("q\"b\\c\n\t\x01\x1F\xC3\xA9\xFF\xF0\x9F\x98\x80", 16));
    label.SetTextColor(Color::Black());

    EXPECT_EQ(
        ui::Dump(label),
        "Label frame=(0,0,10,10) text=\"q\\\"b\\\\c\\n\\t\\x01\\x1F\xC3\xA9\xFF\xF0\x9F\x98\x80\""
        " textColor=#000000FF\n");

    const std::string json = ui::DumpJson(label);
    EXPECT_NE(json.find(R"("text":"q\"b\\c\n\t\u0001\u001F)"), std::string::npos) << json;
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str(), json.size());
    ASSERT_FALSE(doc.HasParseError()) << json;
    // The stray byte comes back as U+FFFD (EF BF BD); everything else as it was.
    EXPECT_EQ(std::string(Member(doc, "text").GetString(), Member(doc, "text").GetStringLength()),
              "q\"b\\c\n\t\x01\x1F\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80");

    // A surrogate written as UTF-8 and an overlong '/' are not UTF-8 either; NUL is escaped.
    label.SetText(std::string("\xED\xA0\x80|\xC0\xAF|\0", 8));
    const std::string json2 = ui::DumpJson(label);
    EXPECT_NE(json2.find("\"text\":\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
                         "\xEF\xBF\xBD\xEF\xBF\xBD|\\u0000\""),
              std::string::npos)
        << json2;

    // Carriage return by letter in both; backspace and form feed by letter in JSON, by number
    // in the text dump, which also spells out DEL; '/' as it is. The identifier likewise.
    label.SetText("r\rb\bf\fd\x7Fs/");
    label.SetIdentifier("id\"\x7F");
    EXPECT_EQ(ui::Dump(label),
              "Label#id\\\"\\x7F frame=(0,0,10,10) text=\"r\\rb\\x08f\\x0Cd\\x7Fs/\""
              " textColor=#000000FF\n");
    const std::string json3 = ui::DumpJson(label);
    EXPECT_NE(json3.find("\"identifier\":\"id\\\"\x7F\""), std::string::npos) << json3;
    EXPECT_NE(json3.find("\"text\":\"r\\rb\\bf\\fd\x7Fs/\""), std::string::npos) << json3;
}

TEST(InspectorTest, NumbersHaveAtMostTwoDecimals) {
    EXPECT_EQ(ui::FormatNumber(10), "10");
    EXPECT_EQ(ui::FormatNumber(0.5), "0.5");
    EXPECT_EQ(ui::FormatNumber(1.0 / 3), "0.33");
    EXPECT_EQ(ui::FormatNumber(2.0 / 3), "0.67");
    EXPECT_EQ(ui::FormatNumber(-12.25), "-12.25");
    EXPECT_EQ(ui::FormatNumber(2.999), "3");
    EXPECT_EQ(ui::FormatNumber(-0.001), "0");  // no "-0"
    EXPECT_EQ(ui::FormatNumber(1e6), "1000000");
    EXPECT_EQ(ui::FormatNumber(std::nan("")), "nan");

    // Not-finite numbers are no JSON numbers: null.
    View view(Rect(0, 0, 1, 1));
    view.SetCenter(ui::Point(std::nan(""), 0));
    EXPECT_NE(ui::DumpJson(view).find("\"x\":null"), std::string::npos) << ui::DumpJson(view);
}

TEST(InspectorTest, NotificationRecorderLogsWhatIsPostedWhileItLives) {
    ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));  // deliver on this thread
    ns::NotificationCenter& center = ns::NotificationCenter::Default();
    int sender = 0;
    const size_t observers = center.ObserverCount();
    center.Post("Before");
    {
        ui::NotificationRecorder recorder;
        center.Post("A", &sender, ns::Value("x"));
        center.Post("B");
        center.Post("A");
        EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"A", "B", "A"}));
        EXPECT_EQ(recorder.Count("A"), 2u);
        EXPECT_EQ(recorder.Entries()[0].sender, &sender);
        EXPECT_EQ(recorder.Entries()[0].userInfo, ns::Value("x"));
        recorder.Clear();
        EXPECT_TRUE(recorder.Entries().empty());
    }
    EXPECT_EQ(center.ObserverCount(), observers);  // it stopped observing
    center.Post("After");
}

}  // namespace
