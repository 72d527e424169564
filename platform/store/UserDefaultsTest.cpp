#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/Value.h"
#include "platform/store/UserDefaults.h"

namespace {

using ns::Dictionary;
using ns::UserDefaults;
using ns::Value;

// Runs `body` in a child process and answers its exit status (0: the body answered true).
int InChild(const std::function<bool()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body() ? 0 : 1);
    }
    int status = -1;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + status;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/defaults-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
        folder_ = root_ + "/config/app";  // made by the first write
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    // Names in the settings folder (to see leftovers).
    std::string Listing() const {
        std::string names;
        if (DIR* dir = opendir(folder_.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names += name + " ";
            }
            closedir(dir);
        }
        return names;
    }

    std::string root_;
    std::string folder_;
};

TEST_F(UserDefaultsTest, AValueStoredByOneProcessIsReadByANewOneAndBeatsTheRegisteredOne) {
    // The child stores two values and ends; nothing of it is left in this process.
    ASSERT_EQ(InChild([&] {
                  UserDefaults defaults(folder_);
                  defaults.SetObject("UserAgent", "stored-agent");
                  defaults.SetObject("Count", 7);
                  return defaults.Synchronize();
              }),
              0);

    UserDefaults defaults(folder_);
    Dictionary registered;
    registered.Set("UserAgent", "registered-agent");
    registered.Set("Other", "registered-other");
    defaults.RegisterDefaults(registered);
    EXPECT_EQ(defaults.ObjectForKey("UserAgent"), Value("stored-agent"));
    EXPECT_EQ(defaults.ObjectForKey("Other"), Value("registered-other"));
    EXPECT_EQ(defaults.IntegerForKey("Count"), 7);
    EXPECT_TRUE(defaults.ObjectForKey("Missing").IsNull());

    // And back: this process stores, a new child reads it (registered values are not stored,
    // so the child sees only what was set).
    defaults.SetObject("Device UDID", "ABC");
    ASSERT_TRUE(defaults.Synchronize()) << defaults.LastError();
    EXPECT_EQ(InChild([&] {
                  UserDefaults fresh(folder_);
                  return fresh.StringForKey("Device UDID") == "ABC" &&
                         fresh.StringForKey("UserAgent") == "stored-agent" &&
                         fresh.ObjectForKey("Other").IsNull();
              }),
              0);

    // The file is a property list a person can read.
    const std::string text = FileText(defaults.Path());
    EXPECT_NE(text.find("<key>UserAgent</key>\n\t<string>stored-agent</string>"), std::string::npos)
        << text;
}

TEST_F(UserDefaultsTest, FilesAreOwnerOnlyWhateverTheUmask) {
    const mode_t old = umask(0);
    {
        UserDefaults defaults(folder_);
        defaults.SetObject("k", "v");
        EXPECT_TRUE(defaults.Synchronize()) << defaults.LastError();
    }
    umask(old);
    struct stat status {};
    ASSERT_EQ(stat(folder_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(stat((folder_ + "/" + UserDefaults::kFileName).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(Listing(), std::string(UserDefaults::kFileName) + " ");  // no temporary left
}

TEST_F(UserDefaultsTest, RemovingAStoredValueUncoversTheRegisteredOne) {
    UserDefaults defaults(folder_);
    Dictionary registered;
    registered.Set("UserAgent", "zul-agent");
    defaults.RegisterDefaults(registered);
    defaults.SetObject("UserAgent", "custom");
    defaults.SetObject("Keep", true);
    EXPECT_EQ(defaults.StringForKey("UserAgent"), "custom");
    defaults.RemoveObjectForKey("UserAgent");
    EXPECT_EQ(defaults.StringForKey("UserAgent"), "zul-agent");
    defaults.SetObject("Keep", nullptr);  // null removes too
    EXPECT_TRUE(defaults.ObjectForKey("Keep").IsNull());
    defaults.SetObject("Last", 1.5);
    ASSERT_TRUE(defaults.Synchronize());

    UserDefaults fresh(folder_);
    EXPECT_TRUE(fresh.ObjectForKey("UserAgent").IsNull());
    EXPECT_TRUE(fresh.ObjectForKey("Keep").IsNull());
    EXPECT_EQ(fresh.DoubleForKey("Last"), 1.5);
    const Dictionary all = fresh.DictionaryRepresentation();
    EXPECT_EQ(all.size(), 1u);
}

TEST_F(UserDefaultsTest, ConversionsFollowTheValueRules) {
    UserDefaults defaults(folder_);
    defaults.SetObject("text", "42 apples");
    defaults.SetObject("yes", "YES");
    defaults.SetObject("number", 12);
    EXPECT_EQ(defaults.IntegerForKey("text"), 42);
    EXPECT_TRUE(defaults.BoolForKey("yes"));
    EXPECT_FALSE(defaults.BoolForKey("absent"));
    EXPECT_EQ(defaults.StringForKey("number"), "12");
    EXPECT_EQ(defaults.StringForKey("absent"), "");
}

TEST_F(UserDefaultsTest, SynchronizeWithoutChangesSeesAnotherProcessesValues) {
    UserDefaults defaults(folder_);
    EXPECT_TRUE(defaults.ObjectForKey("late").IsNull());
    ASSERT_EQ(InChild([&] {
                  UserDefaults other(folder_);
                  other.SetObject("late", "arrived");
                  return other.Synchronize();
              }),
              0);
    ASSERT_TRUE(defaults.Synchronize());
    EXPECT_EQ(defaults.StringForKey("late"), "arrived");
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsMovedAsideNotLost) {
    ASSERT_EQ(mkdir((root_ + "/config").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    const std::string path = folder_ + "/" + UserDefaults::kFileName;
    std::ofstream(path) << "<plist><dict><key>half";
    UserDefaults defaults(folder_);
    EXPECT_NE(defaults.LastError().find(path), std::string::npos) << defaults.LastError();
    EXPECT_TRUE(defaults.DictionaryRepresentation().empty());
    defaults.SetObject("new", 1);
    ASSERT_TRUE(defaults.Synchronize()) << defaults.LastError();
    EXPECT_EQ(FileText(path + ".bad"), "<plist><dict><key>half");
    EXPECT_EQ(UserDefaults(folder_).IntegerForKey("new"), 1);
}

TEST_F(UserDefaultsTest, AFailedWriteKeepsTheOldFileAndTheChangesPending) {
    {
        UserDefaults defaults(folder_);
        defaults.SetObject("old", "value");
        ASSERT_TRUE(defaults.Synchronize());
    }
    const std::string path = folder_ + "/" + UserDefaults::kFileName;
    const std::string before = FileText(path);
    UserDefaults defaults(folder_);
    defaults.SetObject("unstorable", nullptr);  // removes nothing: no change
    defaults.SetObject("bad", std::string("nul\0inside", 10));
    EXPECT_FALSE(defaults.Synchronize());
    EXPECT_NE(defaults.LastError().find("bad"), std::string::npos) << defaults.LastError();
    EXPECT_EQ(FileText(path), before);
    EXPECT_EQ(Listing(), std::string(UserDefaults::kFileName) + " ");
    // Still pending: fixing the value lets the next synchronisation store both.
    defaults.SetObject("bad", "fine");
    ASSERT_TRUE(defaults.Synchronize()) << defaults.LastError();
    EXPECT_EQ(UserDefaults(folder_).StringForKey("bad"), "fine");
}

TEST(UserDefaultsFolder, FollowsTheConfigHomeThenTheHomeFolder) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string config = savedConfig ? savedConfig : "";
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/cfg/zul");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/home/someone/.config/zul");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/home/someone/.config/zul");
    savedConfig ? setenv("XDG_CONFIG_HOME", config.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}

}  // namespace
