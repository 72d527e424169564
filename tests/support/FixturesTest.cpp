#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Fixtures.h"

namespace SvTestSupport {
namespace {

TEST(Fixtures, RunProgramReportsStatusAndOutput) {
    std::string output;
    EXPECT_EQ(3, RunProgram({"sh", "-c", "echo out; echo err >&2; exit 3"}, &output));
    EXPECT_EQ("out\nerr\n", output);
    EXPECT_EQ(-1, RunProgram({"/nonexistent/program"}, &output));
    EXPECT_EQ(0, RunProgram({"true"}));

    // A descriptor opened without close-on-exec still stays out of the child.
    const int stray = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    ASSERT_GE(stray, 0);
    // The shell's own word for a descriptor it was not given: it exits 2 and says so.
    EXPECT_EQ(2, RunProgram({"sh", "-c", "true <&" + std::to_string(stray)}, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("Bad file descriptor")) << output;
    ::close(stray);

    // Past the bytes kept the output is drained and dropped: the program finishes.
    EXPECT_EQ(0, SvTools::RunProgram({"head", "-c", "100000", "/dev/zero"}, &output, 16384));
    EXPECT_GE(output.size(), 16384u);
    EXPECT_LT(output.size(), 100000u);
}

// A recipe runs once however many callers ask at the same time, and a failed one leaves no
// file behind and says what the command printed.
TEST(Fixtures, ConcurrentCallersShareOneResultThenItIsCachedAndFailuresLeaveNothing) {
    const std::string dir = Fixtures::Directory();
    const std::string name = "fixture-test-" + std::to_string(::getpid());
    const std::string counter = dir + "/" + name + ".count";
    const std::vector<std::string> recipe = {
        "sh", "-c", "echo run >> '" + counter + "'; sleep 0.2; echo made > \"$0\"", "{out}"};
    std::vector<std::thread> threads;
    std::vector<std::string> paths(4);
    for (size_t i = 0; i < paths.size(); ++i) {
        threads.emplace_back([&, i] { paths[i] = Fixtures::Make(name, recipe); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const std::string& path : paths) {
        EXPECT_EQ(paths[0], path);
        EXPECT_EQ(0u, path.find(dir + "/" + name + "-"));
    }
    std::ifstream made(paths[0]);
    std::string text;
    std::getline(made, text);
    EXPECT_EQ("made", text);
    // Callers after the first finished file find it cached.
    EXPECT_EQ(paths[0], Fixtures::Make(name, recipe));
    std::ifstream runs(counter);
    size_t count = 0;
    for (std::string line; std::getline(runs, line);) {
        ++count;
    }
    EXPECT_GE(count, 1u);
    EXPECT_LE(count, paths.size());  // at most once per concurrent caller, never after

    const std::string bad = name + "-bad";
    try {
        Fixtures::Make(bad, {"sh", "-c", "echo broken recipe >&2; exit 1"});
        ADD_FAILURE() << "a failing recipe returned a path";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("broken recipe"))
            << error.what();
    }
    std::string leftovers;
    RunProgram({"sh", "-c", "ls '" + dir + "' | grep -c -- '" + bad + "'"}, &leftovers);
    EXPECT_EQ("0\n", leftovers) << "a failed recipe leaves no file, finished or temporary";
    std::remove(paths[0].c_str());
    std::remove(counter.c_str());
}

}  // namespace
}  // namespace SvTestSupport
