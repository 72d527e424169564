// The demo's outputs: the log file outlives whoever let go of it while a sink still writes, and
// the step report keeps the standard output the program started with to itself while
// everything else printed goes to its file.
#include "app/demo/DemoOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "SVLibrary/Output/LineWriter.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(DemoOutputTest, ALogSinkKeepsTheFileOpenAfterItsOwnerIsGone) {
    SvTestSupport::TemporaryDirectory folder("zul-demo-output-");
    const std::string path = folder.File("zul.log");
    ns::LogWriter::Sink late;
    {
        auto output = std::make_unique<DemoOutput>();
        std::string error;
        ASSERT_TRUE(output->openLog(path, error)) << error;
        ns::LogWriter::Sink sink = output->logSink();
        sink("one\n");
        // A thread that took the sink before the session let go of the log.
        late = sink;
    }
    // The owner and its sink are gone; the late line still reaches the file (a closed FILE
    // written here would be a use after free).
    std::thread thread([&late] { late("two\n"); });
    thread.join();
    EXPECT_EQ("one\ntwo\n", ReadFile(path));
    late = nullptr;
    EXPECT_EQ("one\ntwo\n", ReadFile(path));
}

TEST(DemoOutputTest, AnUnwritableLogSaysWhyAndItsSinkWritesNothing) {
    DemoOutput output;
    std::string error;
    EXPECT_FALSE(output.openLog("/nonexistent-folder/zul.log", error));
    EXPECT_EQ("cannot write /nonexistent-folder/zul.log: No such file or directory", error);
    // Nothing to write to: the line is dropped, nothing fails.
    output.logSink()("one\n");
}

// In a child process whose standard output is a pipe and whose standard error is a file: after
// the split, the report is all the pipe carries, and the engine's lines, any other printing and
// whatever a library writes to standard error (a sound library without a card) land in the
// file, in order; what went to standard error before the split stays where it went.
TEST(DemoOutputTest, TheReportHasStandardOutputToItselfEverythingElseGoesToTheFile) {
    SvTestSupport::TemporaryDirectory folder("zul-demo-output-");
    const std::string path = folder.File("zul.out");
    const std::string errorPath = folder.File("stderr");
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (dup2(fds[1], STDOUT_FILENO) != STDOUT_FILENO) _exit(3);
        close(fds[1]);
        const int errorFile = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (errorFile < 0 || dup2(errorFile, STDERR_FILENO) != STDERR_FILENO) _exit(5);
        close(errorFile);
        std::printf("before\n");
        std::fflush(stdout);
        std::fprintf(stderr, "early warning\n");
        DemoOutput output;
        std::string error;
        if (!output.separateReport(path, error)) _exit(4);
        SV::WriteLine("SessionSetupCompleted");
        output.report("[0.0 s] 1. the sign-in screen: ok in 0.1 s");
        std::printf("printed\n");
        std::fflush(stdout);
        std::fprintf(stderr, "ALSA lib confmisc.c: cannot find card '0'\n");
        const char raw[] = "AL lib: no playback device\n";
        if (write(STDERR_FILENO, raw, sizeof raw - 1) != sizeof raw - 1) _exit(6);
        SV::WriteLine("~Transformer");
        output.report("all 1 steps held in 0.1 s");
        _exit(0);
    }
    close(fds[1]);
    std::string piped;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) piped.append(buffer, n);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(
        "before\n"
        "[0.0 s] 1. the sign-in screen: ok in 0.1 s\n"
        "all 1 steps held in 0.1 s\n",
        piped);
    EXPECT_EQ(
        "SessionSetupCompleted\n"
        "printed\n"
        "ALSA lib confmisc.c: cannot find card '0'\n"
        "AL lib: no playback device\n"
        "~Transformer\n",
        ReadFile(path));
    EXPECT_EQ("early warning\n", ReadFile(errorPath));
}

TEST(DemoOutputTest, AnUnwritableFileLeavesStandardOutputAlone) {
    DemoOutput output;
    std::string error;
    EXPECT_FALSE(output.separateReport("/nonexistent-folder/zul.out", error));
    EXPECT_EQ("cannot write /nonexistent-folder/zul.out: No such file or directory", error);
    // Still this process's standard output (gtest's own): the descriptor is the terminal's or
    // ctest's pipe, not a file of ours.
    testing::internal::CaptureStdout();
    output.report("line");
    EXPECT_EQ("line\n", testing::internal::GetCapturedStdout());
}

}  // namespace
