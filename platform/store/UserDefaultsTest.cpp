#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/store/StoreTestSupport.h"
#include "platform/store/UserDefaults.h"

namespace {

using ns::Dictionary;
using ns::UserDefaults;
using ns::Value;
using StoreTestSupport::FileText;

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

class UserDefaultsTest : public ::testing::Test {
protected:
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

    SvTestSupport::TemporaryDirectory directory_{"defaults-test-"};
    const std::string root_ = directory_.Path();
    const std::string folder_ = root_ + "/config/app";  // made by the first write
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

// Lowers the open-file limit so that the next open fails with EMFILE; restores it when gone.
class NoMoreFiles {
public:
    NoMoreFiles() {
        getrlimit(RLIMIT_NOFILE, &old_);
        const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);  // the lowest free number
        close(probe);
        rlimit low = old_;
        low.rlim_cur = static_cast<rlim_t>(probe);
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~NoMoreFiles() { setrlimit(RLIMIT_NOFILE, &old_); }

private:
    rlimit old_{};
};

TEST_F(UserDefaultsTest, AFailedWriteKeepsTheOldFileAndTheChangesPending) {
    {
        UserDefaults defaults(folder_);
        defaults.SetObject("old", "value");
        ASSERT_TRUE(defaults.Synchronize());
    }
    const std::string path = folder_ + "/" + UserDefaults::kFileName;
    const std::string before = FileText(path);
    UserDefaults defaults(folder_);
    EXPECT_TRUE(defaults.SetObject("unstorable", nullptr));  // removes nothing: no change
    EXPECT_TRUE(defaults.SetObject("volume", 4));
    {
        const NoMoreFiles limit;  // the temporary file cannot be made
        EXPECT_FALSE(defaults.Synchronize());
    }
    EXPECT_NE(defaults.LastError().find("Too many open files"), std::string::npos)
        << defaults.LastError();
    EXPECT_EQ(FileText(path), before);
    EXPECT_EQ(Listing(), std::string(UserDefaults::kFileName) + " ");
    // Still pending: the next synchronisation stores it.
    ASSERT_TRUE(defaults.Synchronize()) << defaults.LastError();
    UserDefaults again(folder_);
    EXPECT_EQ(again.IntegerForKey("volume"), 4);
    EXPECT_EQ(again.StringForKey("old"), "value");
}

TEST_F(UserDefaultsTest, AValueTheFileCannotHoldIsRefusedAndBlocksNothing) {
    UserDefaults defaults(folder_);
    ASSERT_TRUE(defaults.SetObject("agent", "kept"));
    ns::Array withNull;
    withNull.push_back(Value("a"));
    withNull.emplace_back();  // a JSON null in a stored server answer, say
    Dictionary nested;
    nested.Set("inner", Value(withNull));
    const std::vector<Value> refused = {
        Value(withNull),
        Value(nested),
        Value(std::string("caf\xE9")),   // Latin-1, not UTF-8
        Value(std::string("\xC3")),      // a cut UTF-8 sequence
        Value(std::string("bell\x07")),  // a control character XML 1.0 cannot carry
        Value(std::string("nul\0inside", 10)),
    };
    for (const Value& value : refused) {
        EXPECT_FALSE(defaults.SetObject("agent", value)) << value.Description();
        EXPECT_FALSE(defaults.LastError().empty());
        EXPECT_EQ(defaults.StringForKey("agent"), "kept");  // the old value stays
    }
    EXPECT_FALSE(defaults.SetObject(std::string("key\x01"), "fine value"));  // nor a bad key
    EXPECT_EQ(defaults.DictionaryRepresentation().size(), 1u);
    // Tab, line feed and carriage return are text XML carries.
    EXPECT_TRUE(defaults.SetObject("lines", "a\tb\nc\rd"));
    EXPECT_TRUE(defaults.SetObject("volume", 7));
    ASSERT_TRUE(defaults.Synchronize()) << defaults.LastError();
    UserDefaults again(folder_);
    EXPECT_EQ(again.StringForKey("agent"), "kept");
    EXPECT_EQ(again.StringForKey("lines"), "a\tb\nc\rd");
    EXPECT_EQ(again.IntegerForKey("volume"), 7);
    EXPECT_EQ(again.DictionaryRepresentation().size(), 3u);
}

TEST_F(UserDefaultsTest, AFileTheSystemFailedToReadIsReadAgainNotMovedAside) {
    {
        UserDefaults defaults(folder_);
        defaults.SetObject("token", "precious");
        defaults.SetObject("volume", 3);
        defaults.SetObject("gone", "soon");
        ASSERT_TRUE(defaults.Synchronize());
    }
    const std::string path = folder_ + "/" + UserDefaults::kFileName;
    const std::string before = FileText(path);
    std::unique_ptr<UserDefaults> defaults;
    {
        const NoMoreFiles limit;
        defaults = std::make_unique<UserDefaults>(folder_);
    }
    EXPECT_NE(defaults->LastError().find("Too many open files"), std::string::npos)
        << defaults->LastError();
    EXPECT_TRUE(defaults->SetObject("volume", 4));
    defaults->RemoveObjectForKey("gone");  // only in the file this instance could not read
    {
        // Still unreadable at the write: refused, the file untouched and nothing moved aside.
        const NoMoreFiles limit;
        EXPECT_FALSE(defaults->Synchronize());
    }
    EXPECT_NE(defaults->LastError().find("cannot be read"), std::string::npos)
        << defaults->LastError();
    EXPECT_EQ(FileText(path), before);
    EXPECT_EQ(Listing(), std::string(UserDefaults::kFileName) + " ");
    // Readable again: the file's settings with the changes made meanwhile on top.
    ASSERT_TRUE(defaults->Synchronize()) << defaults->LastError();
    EXPECT_EQ(defaults->StringForKey("token"), "precious");
    defaults.reset();
    EXPECT_EQ(Listing(), std::string(UserDefaults::kFileName) + " ");
    UserDefaults again(folder_);
    EXPECT_EQ(again.StringForKey("token"), "precious");
    EXPECT_EQ(again.IntegerForKey("volume"), 4);
    EXPECT_TRUE(again.ObjectForKey("gone").IsNull());
}

TEST_F(UserDefaultsTest, APipeAtThePathNeitherBlocksNorIsOverwritten) {
    ASSERT_EQ(mkdir((root_ + "/config").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    const std::string path = folder_ + "/" + UserDefaults::kFileName;
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] {
                  alarm(5);  // a blocking open ends the child with SIGALRM
                  UserDefaults defaults(folder_);
                  return defaults.LastError().find("not a regular file") != std::string::npos &&
                         defaults.SetObject("new", 1) && defaults.Synchronize();
              }),
              0);
    struct stat status {};
    ASSERT_EQ(lstat((path + ".bad").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));  // moved aside as it was
    EXPECT_EQ(UserDefaults(folder_).IntegerForKey("new"), 1);
}

TEST(UserDefaultsFolder, FollowsTheConfigHomeThenTheHomeFolder) {
    const StoreTestSupport::SavedEnvironment config("XDG_CONFIG_HOME");
    const StoreTestSupport::SavedEnvironment home("HOME");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/cfg/zul");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/home/someone/.config/zul");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::DefaultFolder("zul"), "/home/someone/.config/zul");
}

}  // namespace
