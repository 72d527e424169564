// The built bundle beside the test program holds every text and picture the screens ask for by
// name. A strings file with one syntax slip is refused whole, and a missing picture shows
// nothing: both would pass unnoticed until someone looked at the screen.
#include <gtest/gtest.h>

#include <string>

#include "platform/core/Format.h"
#include "platform/store/Bundle.h"

namespace {

TEST(BundleResources, EveryTextTheScreensNameHasAnEnglishText) {
    ns::Bundle bundle(ns::Bundle::Main().Path(), {"en"});
    ASSERT_EQ("en", bundle.Localization());
    const char* const keys[] = {"Login-Message",
                                "Login-Email-Placeholder",
                                "Login-Password-Placeholder",
                                "Login-SignIn",
                                "Login-Signing-In",
                                "Error-Network-Title",
                                "Error-Network-Message",
                                "Error-Network-Button",
                                "Error-Player-Custom-Error-Title",
                                "Error-Player-Custom-Error-Message",
                                "Error-Player-Custom-Error-Button",
                                "Title-Home",
                                "Title-Series",
                                "Title-Movies",
                                "Title-MyZUL",
                                "Search-Loading",
                                "Search-Empty"};
    for (const char* key : keys) {
        EXPECT_NE(key, bundle.LocalizedString(key)) << key;
    }
    for (const char* prefix :
         {"Error-Sign-In", "Error-Sign-In-No-More-Slots", "Success-Sign-In-Device-Added",
          "Error-Sign-In-Service-Unavailable"}) {
        for (const char* part : {"-Title", "-Message", "-Button"}) {
            const std::string key = std::string(prefix) + part;
            EXPECT_NE(key, bundle.LocalizedString(key)) << key;
        }
    }
    EXPECT_EQ("Sign in", bundle.LocalizedString("Login-SignIn"));
}

TEST(BundleResources, PicturesAreDrawnAtTheSizesTheLayoutsUse) {
    const ns::Bundle& bundle = ns::Bundle::Main();
    const struct {
        const char* name;
        uint32_t width;
        uint32_t height;
    } pictures[] = {
        {"Navigation-Bar-Background.png", 320, 44},
        {"Navigation-Bar-Title", 100, 30},
        {"Menu-Button-Background", 40, 30},
        {"Menu-Button-Landscape-Background", 40, 24},
        {"Back-Button", 50, 30},
        {"Back-Button-Landscape", 50, 24},
        {"Separator-Line.png", 320, 2},
        {"TableView-Section-Background", 320, 24},
        {"Search-Placeholder", 400, 340},  // the tablet's thumbnail
        {"Search-Placeholder-Missing", 400, 340},
        {"Spinner-Loading", 20, 20},
        {"track_left.png", 21, 9},  // 10-point caps around one stretched column
        {"track_right.png", 21, 9},
        {"track_left_vol.png", 21, 9},
        {"track_right_vol.png", 21, 9},
        {"arrow.png", 15, 8},
    };
    for (const auto& picture : pictures) {
        ns::ImageSize size;
        std::string error;
        ASSERT_TRUE(bundle.ImageSizeNamed(picture.name, size, &error)) << picture.name << error;
        EXPECT_EQ(ns::ImageSize(ns::ImageSize::Format::PNG, picture.width, picture.height), size)
            << picture.name;
    }
    // The player's 85 x 85 indicator, thirty frames.
    for (int frame = 1; frame <= 30; ++frame) {
        const std::string name = ns::Format("spinner%04d.png", frame);
        ns::ImageSize size;
        ASSERT_TRUE(bundle.ImageSizeNamed(name, size)) << name;
        EXPECT_EQ(ns::ImageSize(ns::ImageSize::Format::PNG, 85, 85), size) << name;
    }
    ns::ImageSize none;
    EXPECT_FALSE(bundle.ImageSizeNamed("spinner0031.png", none));
}

TEST(BundleResources, InfoAndTheErrorPageAreThere) {
    const ns::Bundle& bundle = ns::Bundle::Main();
    EXPECT_EQ("tv.zul.client", bundle.Identifier());
    EXPECT_FALSE(bundle.PathForResource("WebError", "html").empty());
    EXPECT_FALSE(bundle.PathForResource("ZULPropertyListRelease", "plist").empty());
}

}  // namespace
