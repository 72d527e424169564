#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Value.h"
#include "platform/store/Keychain.h"
#include "platform/store/StoreTestSupport.h"

namespace {

using ns::Data;
using ns::Keychain;
using StoreTestSupport::FileText;

Data DataOf(std::string_view text) { return Data(text); }

class KeychainTest : public ::testing::Test {
protected:
    SvTestSupport::TemporaryDirectory directory_{"keychain-test-"};
    const std::string root_ = directory_.Path();
    const std::string folder_ = root_ + "/data/app/keychain";
};

TEST_F(KeychainTest, StatusCodesForAddCopyUpdateDelete) {
    Keychain keychain(folder_);
    const std::string key = "app.example.UniqueDeviceKey";
    Data out = DataOf("untouched");
    // The platform's codes: 0 success, -25300 not found, -25299 duplicate.
    EXPECT_EQ(keychain.CopyGenericPassword(key, key, out), -25300);
    EXPECT_EQ(out, DataOf("untouched"));
    EXPECT_EQ(keychain.AddGenericPassword(key, key, DataOf("UUID-1")), 0);
    EXPECT_EQ(keychain.AddGenericPassword(key, key, DataOf("UUID-2")), -25299);
    EXPECT_EQ(keychain.CopyGenericPassword(key, key, out), 0);
    EXPECT_EQ(out, DataOf("UUID-1")) << "a duplicate add must not replace the item";

    // Service and account together name an item.
    EXPECT_EQ(keychain.CopyGenericPassword(key, "other", out), -25300);
    EXPECT_EQ(keychain.CopyGenericPassword("other", key, out), -25300);
    const Data binary = DataOf(std::string_view("\0\x01\xff<&>\r\n", 8));
    EXPECT_EQ(keychain.AddGenericPassword(key, "other", binary), 0);
    EXPECT_EQ(keychain.CopyGenericPassword(key, "other", out), 0);
    EXPECT_EQ(out, binary);

    EXPECT_EQ(keychain.UpdateGenericPassword("svc", "none", DataOf("x")), -25300);
    EXPECT_EQ(keychain.UpdateGenericPassword(key, key, DataOf("UUID-3")), 0);
    EXPECT_EQ(keychain.CopyGenericPassword(key, key, out), 0);
    EXPECT_EQ(out, DataOf("UUID-3"));
    EXPECT_EQ(keychain.DeleteGenericPassword(key, key), 0);
    EXPECT_EQ(keychain.DeleteGenericPassword(key, key), -25300);
    EXPECT_EQ(keychain.CopyGenericPassword(key, key, out), -25300);
    EXPECT_EQ(keychain.CopyGenericPassword(key, "other", out), 0);
}

TEST_F(KeychainTest, AnItemAddedByOneProcessIsFoundByAnother) {
    const pid_t pid = fork();
    if (pid == 0) {
        Keychain child(folder_);
        _exit(child.AddGenericPassword("svc", "acct", DataOf("from child")) == 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Data out;
    EXPECT_EQ(Keychain(folder_).CopyGenericPassword("svc", "acct", out), 0);
    EXPECT_EQ(out, DataOf("from child"));
}

TEST_F(KeychainTest, FileIsOwnerOnlyInAnOwnerOnlyFolder) {
    // A folder made too open beforehand is narrowed.
    ASSERT_EQ(system(("mkdir -p '" + folder_ + "' && chmod 0755 '" + folder_ + "'").c_str()), 0);
    const mode_t old = umask(0);
    Keychain keychain(folder_);
    EXPECT_EQ(keychain.AddGenericPassword("s", "a", DataOf("secret")), 0);
    umask(old);
    struct stat status {};
    ASSERT_EQ(stat(folder_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(keychain.Path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST_F(KeychainTest, InjectedFailuresAnswerTheirStatusAndChangeNothing) {
    Keychain keychain(folder_);
    ASSERT_EQ(keychain.AddGenericPassword("s", "a", DataOf("one")), 0);
    const std::string before = FileText(keychain.Path());
    keychain.SetInjectedFailure(-25308);  // as a locked device answers
    Data out = DataOf("untouched");
    EXPECT_EQ(keychain.CopyGenericPassword("s", "a", out), -25308);
    EXPECT_EQ(out, DataOf("untouched"));
    EXPECT_EQ(keychain.AddGenericPassword("s", "b", DataOf("two")), -25308);
    EXPECT_EQ(keychain.UpdateGenericPassword("s", "a", DataOf("three")), -25308);
    EXPECT_EQ(keychain.DeleteGenericPassword("s", "a"), -25308);
    EXPECT_EQ(FileText(keychain.Path()), before);
    keychain.SetInjectedFailure(0);
    EXPECT_EQ(keychain.CopyGenericPassword("s", "a", out), 0);
    EXPECT_EQ(out, DataOf("one"));
    EXPECT_EQ(keychain.CopyGenericPassword("s", "b", out), -25300);
}

TEST_F(KeychainTest, AnUnreadableFileIsReportedAndNeverOverwritten) {
    Keychain keychain(folder_);
    ASSERT_EQ(keychain.AddGenericPassword("s", "a", DataOf("one")), 0);
    const std::string damaged = "<plist><array><dict><key>service</key>";
    std::ofstream(keychain.Path()) << damaged;
    Data out;
    EXPECT_EQ(keychain.CopyGenericPassword("s", "a", out), Keychain::kDecodeError);
    EXPECT_EQ(keychain.AddGenericPassword("s", "b", DataOf("two")), Keychain::kDecodeError);
    EXPECT_NE(keychain.LastError().find(keychain.Path()), std::string::npos);
    EXPECT_EQ(FileText(keychain.Path()), damaged);
    // Well-formed XML of the wrong shape counts as unreadable too.
    std::ofstream(keychain.Path()) << "<plist><array><dict><key>service</key><string>s</string>"
                                      "</dict></array></plist>";
    EXPECT_EQ(keychain.CopyGenericPassword("s", "a", out), Keychain::kDecodeError);
    // A folder that cannot be made is an I/O error.
    std::ofstream(root_ + "/plain-file") << "x";
    Keychain blocked(root_ + "/plain-file/keychain");
    EXPECT_EQ(blocked.AddGenericPassword("s", "a", DataOf("x")), Keychain::kIOError);
}

TEST(KeychainFolder, FollowsTheDataHomeThenTheHomeFolder) {
    const StoreTestSupport::SavedEnvironment data("XDG_DATA_HOME");
    const StoreTestSupport::SavedEnvironment home("HOME");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(Keychain::DefaultFolder("zul"), "/data/zul/keychain");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(Keychain::DefaultFolder("zul"), "/home/someone/.local/share/zul/keychain");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "relative-home", 1);  // not absolute either: the password database decides
    const std::string fromDatabase = Keychain::DefaultFolder("zul");
    EXPECT_EQ(fromDatabase.front(), '/');
    EXPECT_NE(fromDatabase.find("/.local/share/zul/keychain"), std::string::npos);
    EXPECT_EQ(fromDatabase.find("relative-home"), std::string::npos);
}

}  // namespace
