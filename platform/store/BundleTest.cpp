#include "platform/store/Bundle.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/store/StoreTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ns::Bundle;
using ns::ImageSize;

using StoreTestSupport::RunProgram;

// A bundle folder laid out as the application ships it:
//   Info.plist, Config.plist, WebError.html, Logo.png, Photo.jpg, Shared.strings
//   en.lproj/  Localizable.strings, Errors.strings, Help.html
//   de.lproj/  Localizable.strings (UTF-16), Help.html, Broken.strings (malformed)
//   pt-BR.lproj/ Localizable.strings
class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        Write("Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\"><dict>\n"
              "<key>CFBundleIdentifier</key><string>org.example.player</string>\n"
              "<key>CFBundleDevelopmentRegion</key><string>en</string>\n"
              "<key>Build</key><integer>42</integer>\n"
              "</dict></plist>\n");
        Write("Config.plist", "<plist><dict/></plist>");
        Write("WebError.html", "<p>%@</p>");
        Write("Shared.strings", "\"shared\" = \"for all\";");
        Mkdir("en.lproj");
        Mkdir("de.lproj");
        Mkdir("pt-BR.lproj");
        Mkdir("Folder.png");  // a directory is not a resource
        Write("en.lproj/Localizable.strings",
              "/* English */\n\"Login-SignIn\" = \"Sign in\";\n\"Title-Home\" = \"Home\";\n");
        Write("en.lproj/Errors.strings", "\"Error-Network-Title\" = \"No network\";");
        Write("en.lproj/Help.html", "en");
        Write("en.lproj/EnglishOnly.txt", "en");
        // UTF-16 little endian with a byte order mark, as such tables are often saved.
        std::string utf16 = "\xFF\xFE";
        for (char c : std::string("\"Login-SignIn\" = \"Anmelden \\U00e4\";\n")) {
            utf16 += c;
            utf16 += '\0';
        }
        Write("de.lproj/Localizable.strings", utf16);
        Write("de.lproj/Help.html", "de");
        Write("de.lproj/Broken.strings", "\"a\" = \"1\";\n\"b\" = \"unterminated;\n");
        Write("pt-BR.lproj/Localizable.strings", "\"Login-SignIn\" = \"Entrar\";");
        std::ofstream(dir_.Path() + "/../outside-" + Base() + ".txt") << "outside";
    }
    void TearDown() override { unlink((dir_.Path() + "/../outside-" + Base() + ".txt").c_str()); }

    std::string Base() const { return dir_.Path().substr(dir_.Path().rfind('/') + 1); }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_.File(name), std::ios::binary) << bytes;
    }
    void Mkdir(const std::string& name) { ASSERT_EQ(0, mkdir(dir_.File(name).c_str(), 0700)); }
    std::string MakePicture(const std::string& name, const std::string& size,
                            const std::vector<std::string>& codec) {
        std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-v",
                                         "error",     "-y",       "-f",
                                         "lavfi",     "-i",       "testsrc=size=" + size,
                                         "-frames:v", "1"};
        argv.insert(argv.end(), codec.begin(), codec.end());
        argv.push_back(dir_.File(name));
        EXPECT_EQ(0, RunProgram(argv)) << name;
        return dir_.File(name);
    }

    SvTestSupport::TemporaryDirectory dir_{"bundle-"};
};

TEST_F(BundleTest, InfoPlistGivesIdentifierAndSettings) {
    Bundle bundle(dir_.Path(), {"en"});
    EXPECT_EQ("org.example.player", bundle.Identifier());
    EXPECT_EQ("en", bundle.DevelopmentLocalization());
    EXPECT_EQ(42, bundle.ObjectForInfoDictionaryKey("Build").IntValue());
    EXPECT_TRUE(bundle.ObjectForInfoDictionaryKey("Missing").IsNull());
    EXPECT_TRUE(bundle.InfoDictionary().IsDictionary());

    // Without Info.plist (or with a broken one) the bundle has no settings but still works.
    Write("Info.plist", "<plist><dict><key>x</key></dict>");
    Bundle broken(dir_.Path(), {"en"});
    EXPECT_EQ("", broken.Identifier());
    EXPECT_EQ("en", broken.DevelopmentLocalization());
    EXPECT_TRUE(broken.InfoDictionary().IsNull());
    EXPECT_EQ("Sign in", broken.LocalizedString("Login-SignIn"));
}

TEST_F(BundleTest, ResourcesByNameAndType) {
    Bundle bundle(dir_.Path(), {"de"});
    EXPECT_EQ(dir_.File("Config.plist"), bundle.PathForResource("Config", "plist"));
    EXPECT_EQ(dir_.File("Config.plist"), bundle.PathForResource("Config.plist", ""));
    EXPECT_EQ(dir_.File("WebError.html"), bundle.PathForResource("WebError", ".html"));
    // Language folders: the chosen one, then the development language's.
    EXPECT_EQ(dir_.File("de.lproj/Help.html"), bundle.PathForResource("Help", "html"));
    EXPECT_EQ(dir_.File("en.lproj/EnglishOnly.txt"), bundle.PathForResource("EnglishOnly", "txt"));
    EXPECT_EQ(dir_.File("en.lproj/Help.html"),
              Bundle(dir_.Path(), {"en"}).PathForResource("Help", "html"));
    // In a sub-folder.
    Mkdir("Sub");
    Write("Sub/Inner.txt", "x");
    EXPECT_EQ(dir_.File("Sub/Inner.txt"), bundle.PathForResource("Inner", "txt", "Sub"));
    EXPECT_EQ(dir_.File("Sub/Inner.txt"), bundle.PathForResource("Inner", "txt", "Sub/"));
    // Missing things, directories and names that climb out of the bundle find nothing.
    EXPECT_EQ("", bundle.PathForResource("Config", "json"));
    EXPECT_EQ("", bundle.PathForResource("Folder", "png"));
    EXPECT_EQ("", bundle.PathForResource("", "plist"));
    EXPECT_EQ("", bundle.PathForResource("../outside-" + Base(), "txt"));
    EXPECT_EQ("", bundle.PathForResource("outside-" + Base(), "txt", ".."));
    EXPECT_EQ("", bundle.PathForResource(dir_.File("Config"), "plist"));
    EXPECT_EQ("", bundle.PathForResource("Sub//Inner", "txt"));
    EXPECT_EQ("", Bundle(dir_.File("missing"), {"en"}).PathForResource("Config", "plist"));
}

TEST_F(BundleTest, LanguageFolderChosenFromThePreferenceList) {
    EXPECT_EQ((std::vector<std::string>{"de", "en", "pt-BR"}),
              Bundle(dir_.Path(), {}).Localizations());
    struct Case {
        std::vector<std::string> preferred;
        std::string chosen;
    };
    const Case cases[] = {
        {{"de"}, "de"},
        {{"de-AT", "en"}, "de"},     // region falls back to its language
        {{"fr", "pt_BR"}, "pt-BR"},  // first available in order; "_" and "-" alike
        {{"PT-br"}, "pt-BR"},        // case ignored
        {{"pt"}, "pt-BR"},           // language takes a regional folder
        {{"fr", "it"}, "en"},        // none: the development language
        {{}, "en"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.chosen, Bundle(dir_.Path(), c.preferred).Localization())
            << (c.preferred.empty() ? "" : c.preferred.front());
    }
    // Without the development language's folder: the first there is; without any: none.
    EXPECT_EQ("de", Bundle::ChooseLocalization({"de", "fr"}, {"it"}, "en"));
    EXPECT_EQ("", Bundle::ChooseLocalization({}, {"de"}, "en"));
    EXPECT_EQ("", Bundle(dir_.File("missing"), {"de"}).Localization());
}

TEST_F(BundleTest, LocalisedStringsAndMissingKeys) {
    Bundle de(dir_.Path(), {"de"});
    EXPECT_EQ("Anmelden \xC3\xA4", de.LocalizedString("Login-SignIn"));  // a-umlaut, U+00E4
    // A key the chosen table lacks is not taken from another language: it returns the key,
    // or the default value when one is given.
    EXPECT_EQ("Title-Home", de.LocalizedString("Title-Home"));
    EXPECT_EQ("Startseite", de.LocalizedString("Title-Home", "Startseite"));
    // A table the chosen language lacks comes from the development language, then the
    // shared folder.
    EXPECT_EQ("No network", de.LocalizedString("Error-Network-Title", "", "Errors"));
    EXPECT_EQ("for all", de.LocalizedString("shared", "", "Shared"));
    EXPECT_EQ("Login-SignIn", de.LocalizedString("Login-SignIn", "", "NoSuchTable"));
    // A malformed table counts as empty, even for its good first entry.
    EXPECT_EQ("a", de.LocalizedString("a", "", "Broken"));
    EXPECT_EQ("Entrar", Bundle(dir_.Path(), {"pt-BR"}).LocalizedString("Login-SignIn"));
    EXPECT_EQ("Sign in", Bundle(dir_.Path(), {"en"}).LocalizedString("Login-SignIn"));
    EXPECT_EQ("key", Bundle(dir_.File("missing"), {}).LocalizedString("key"));
}

TEST_F(BundleTest, PicturesByNameWithTheirSizes) {
    MakePicture("Logo.png", "30x20", {"-pix_fmt", "rgb24"});
    MakePicture("Photo.jpg", "64x48", {"-c:v", "mjpeg", "-pix_fmt", "yuvj444p"});
    Write("Fake.png", "not a picture");
    Bundle bundle(dir_.Path(), {"en"});
    EXPECT_EQ(dir_.File("Logo.png"), bundle.PathForImage("Logo"));
    EXPECT_EQ(dir_.File("Logo.png"), bundle.PathForImage("Logo.png"));
    EXPECT_EQ(dir_.File("Photo.jpg"), bundle.PathForImage("Photo"));
    EXPECT_EQ("", bundle.PathForImage("Missing"));
    EXPECT_EQ("", bundle.PathForImage("Logo.jpg"));

    // Sizes against ffprobe's reading of the same files.
    for (const char* name : {"Logo", "Photo.jpg"}) {
        std::string out;
        ASSERT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-show_entries", "stream=width,height",
                                 "-of", "csv=p=0:s=x", bundle.PathForImage(name)},
                                &out));
        unsigned w = 0, h = 0;
        ASSERT_EQ(2, sscanf(out.c_str(), "%ux%u", &w, &h)) << out;
        ImageSize size;
        std::string error;
        ASSERT_TRUE(bundle.ImageSizeNamed(name, size, &error)) << error;
        EXPECT_EQ(w, size.Width()) << name;
        EXPECT_EQ(h, size.Height()) << name;
    }
    ImageSize size;
    std::string error;
    EXPECT_FALSE(bundle.ImageSizeNamed("Missing", size, &error));
    EXPECT_NE(std::string::npos, error.find("Missing")) << error;
    EXPECT_FALSE(bundle.ImageSizeNamed("Fake", size, &error));
}

TEST(BundleEnvironmentTest, PreferredLanguagesComeFromTheLocaleVariables) {
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* n : names) unsetenv(n);
    EXPECT_TRUE(Bundle::PreferredLanguagesFromEnvironment().empty());
    setenv("LANG", "de_AT.UTF-8", 1);
    EXPECT_EQ((std::vector<std::string>{"de-AT"}), Bundle::PreferredLanguagesFromEnvironment());
    setenv("LC_MESSAGES", "C", 1);  // the first one set decides, and "C" names no language
    EXPECT_TRUE(Bundle::PreferredLanguagesFromEnvironment().empty());
    setenv("LC_ALL", "fr_FR@euro", 1);
    EXPECT_EQ((std::vector<std::string>{"fr-FR"}), Bundle::PreferredLanguagesFromEnvironment());
    setenv("LANGUAGE", "pt_BR:pt::en", 1);
    EXPECT_EQ((std::vector<std::string>{"pt-BR", "pt", "en"}),
              Bundle::PreferredLanguagesFromEnvironment());
    for (const char* n : names) unsetenv(n);
}

TEST(BundleMainTest, MainBundleIsTheResourcesFolderBesideTheProgram) {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string path(exe, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/')) + "/Resources";
    EXPECT_EQ(path, Bundle::Main().Path());
    EXPECT_EQ(&Bundle::Main(), &Bundle::Main());
}

}  // namespace
