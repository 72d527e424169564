// The `zul` program as a script runs it: options, the headless start against a running demo
// portal, and where it stores things.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/testing/ZulProcess.h"
#include "platform/store/UserDefaults.h"
#include "portal/PortalServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

struct ZulRun {
    int status = -1;
    std::string out;
};

// Runs zul with the arguments in ZulEnvironment(home), without a display, to its end (a
// minute at most); standard error goes to /dev/null.
ZulRun RunZul(const std::vector<std::string>& arguments, const std::string& home,
              const std::string& program = SV_ZUL_PATH) {
    // Its output goes beside home, not in it: the tests look at what the program stores there.
    SvTestSupport::TemporaryDirectory output("zul-out-");
    AppTestSupport::ZulProcess zul(program, arguments, AppTestSupport::ZulEnvironment(home),
                                   output.File("stdout"), "/dev/null");
    ZulRun run;
    const std::optional<int> status = zul.WaitForExit(std::chrono::minutes(1));
    if (status && WIFEXITED(*status)) run.status = WEXITSTATUS(*status);
    std::ifstream in(output.File("stdout"), std::ios::binary);
    run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

class ZulProgramTest : public ::testing::Test {
protected:
    SvTestSupport::TemporaryDirectory home_{"zul-home-"};
};

TEST_F(ZulProgramTest, HelpAndVersionExitZero) {
    const ZulRun help = RunZul({"-h"}, home_.Path());
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: zul [--portal URL] [--headless] [--idiom pad|phone]\n"))
        << help.out;
    // The demo session is the demo program's alone.
    const ZulRun demoHelp = RunZul({"-h"}, home_.Path(), SV_ZUL_DEMO_PATH);
    EXPECT_EQ(0, demoHelp.status);
    EXPECT_EQ(0u, demoHelp.out.find("usage: zul-demo [--portal URL] [--headless] [--idiom "
                                    "pad|phone] [--demo DIR]\n"))
        << demoHelp.out;
    const ZulRun version = RunZul({"--version"}, home_.Path());
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.find("zul ")) << version.out;
    // Nothing stored for either.
    EXPECT_TRUE(SvTestSupport::DirectoryEntries(home_.Path()).empty());
}

TEST_F(ZulProgramTest, BadOptionsAreUsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--headless", "--portal", "ftp://127.0.0.1:21/"},
             {"--headless", "--portal", "http://127.0.0.1:8080/c/portal/login"},
             {"--headless", "--portal", "http://user:pw@127.0.0.1:8080/"},
             {"--headless", "--portal", "not a url"},
             {"--headless", "--idiom", "watch"},
             {"--headless", "extra-argument"},
             // The shipped program has no demo session.
             {"--headless", "--demo", home_.File("demo")},
         }) {
        EXPECT_EQ(2, RunZul(args, home_.Path()).status) << args.back();
    }
    // The demo session needs the window; its folder is not even made.
    EXPECT_EQ(2,
              RunZul({"--headless", "--demo", home_.File("demo")}, home_.Path(), SV_ZUL_DEMO_PATH)
                  .status);
    EXPECT_TRUE(SvTestSupport::DirectoryEntries(home_.Path()).empty());
}

TEST_F(ZulProgramTest, ADemoSessionWithoutADisplayFailsAndSaysWhyInItsLog) {
    const std::string folder = home_.File("demo");
    const ZulRun run = RunZul({"--portal", "http://127.0.0.1:9/", "--demo", folder}, home_.Path(),
                              SV_ZUL_DEMO_PATH);
    EXPECT_EQ(1, run.status) << run.out;
    std::ifstream log(folder + "/zul.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("] [UI] no display")) << text;
    // No step ran, so no picture was taken and no step was reported; the file for what else
    // goes to standard output is there.
    EXPECT_EQ((std::set<std::string>{"zul.log", "zul.out"}),
              SvTestSupport::DirectoryEntries(folder));
    EXPECT_EQ("", run.out);
}

TEST_F(ZulProgramTest, HeadlessStartAgainstThePortalShowsTheSignInScreen) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    ZulPortal::PortalServer portal(options);

    const ZulRun phone = RunZul({"--headless", "--portal", portal.Url("/")}, home_.Path());
    ASSERT_EQ(0, phone.status) << phone.out;
    const std::vector<std::string> lines = Lines(phone.out);
    ASSERT_GE(lines.size(), 3u) << phone.out;
    EXPECT_EQ("zulAddress: " + portal.Address(), lines[0]);
    EXPECT_EQ("root: NavigationController > LoginViewController (LoginViewController~iPhone)",
              lines[1]);
    // The window fills the phone's portrait screen.
    EXPECT_EQ(0u, lines[2].find("Window frame=(0,0,320,480) background=#000000FF")) << lines[2];

    const ZulRun pad =
        RunZul({"--headless", "--idiom", "pad", "--portal", portal.Url("")}, home_.Path());
    ASSERT_EQ(0, pad.status) << pad.out;
    const std::vector<std::string> padLines = Lines(pad.out);
    ASSERT_GE(padLines.size(), 3u);
    EXPECT_EQ("root: NavigationController > LoginViewController (LoginViewController~iPad)",
              padLines[1]);
    EXPECT_EQ(0u, padLines[2].find("Window frame=(0,0,768,1024)")) << padLines[2];

    // Everything it stored is in its one data folder under the home folder.
    EXPECT_EQ(std::set<std::string>{".local"}, SvTestSupport::DirectoryEntries(home_.Path()));
    EXPECT_EQ(std::set<std::string>{"share"},
              SvTestSupport::DirectoryEntries(home_.File(".local")));
    EXPECT_EQ(std::set<std::string>{"zul"},
              SvTestSupport::DirectoryEntries(home_.File(".local/share")));
    EXPECT_EQ(std::set<std::string>{"Thumbs"},
              SvTestSupport::DirectoryEntries(home_.File(".local/share/zul/Documents")));
}

// What the window shows of a stored password is what the headless start prints of it.
TEST_F(ZulProgramTest, HeadlessStartMasksTheStoredPassword) {
    {
        ns::UserDefaults settings(home_.File(".local/share/zul/Preferences"));
        ASSERT_TRUE(settings.SetObject("ZUL User Login", "demo@zul.test"));
        ASSERT_TRUE(settings.SetObject("ZUL User Password", "p4ss\"word"));
        ASSERT_TRUE(settings.Synchronize()) << settings.LastError();
    }
    const ZulRun run = RunZul({"--headless", "--portal", "http://127.0.0.1:9/"}, home_.Path());
    ASSERT_EQ(0, run.status) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("ZULTextField#emailTextField ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find(" text=\"demo@zul.test\"")) << run.out;
    // Nine bullets (U+2022) for the nine characters.
    std::string bullets;
    for (int i = 0; i < 9; ++i) bullets += "\xE2\x80\xA2";
    const size_t field = run.out.find("ZULSecureTextField#passwordlTextField ");
    ASSERT_NE(std::string::npos, field) << run.out;
    const std::string line = run.out.substr(field, run.out.find('\n', field) - field);
    EXPECT_NE(std::string::npos, line.find(" text=\"" + bullets + "\" ")) << line;
    EXPECT_EQ(std::string::npos, run.out.find("p4ss")) << run.out;
}

TEST_F(ZulProgramTest, WithoutPortalTheBundlesAddressIsUsed) {
    const ZulRun run = RunZul({"--headless"}, home_.Path());
    ASSERT_EQ(0, run.status);
    // The bundle's configuration template.
    EXPECT_EQ("zulAddress: 127.0.0.1:8080", Lines(run.out).at(0));
}

}  // namespace
