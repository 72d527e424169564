#ifndef TOOLS_MKTITLE_MKTITLETESTSUPPORT_H
#define TOOLS_MKTITLE_MKTITLETESTSUPPORT_H

// Shared by the title maker's tests (included by *Test.cpp only): a run of mktitle and a table
// of runs it must refuse.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/Fixtures.h"

namespace MktitleTestSupport {

// Runs mktitle with args: its exit status, what it said in said.
inline int Mktitle(const std::vector<std::string>& args, std::string* said) {
    std::vector<std::string> argv = {SvTestSupport::Fixtures::MktitlePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return SvTestSupport::RunProgram(argv, said);
}

// A run mktitle refuses: its arguments, its exit status and a part of what it says.
struct RefusedRun {
    std::vector<std::string> args;
    int status;
    std::string message;
};

// Runs each, then checks its status, its message and that output was not made.
inline void ExpectRefused(const std::vector<RefusedRun>& runs, const std::string& output) {
    for (const RefusedRun& run : runs) {
        std::string said;
        EXPECT_EQ(run.status, Mktitle(run.args, &said)) << said;
        EXPECT_NE(std::string::npos, said.find(run.message)) << said;
        EXPECT_NE(0, access(output.c_str(), F_OK)) << "no output on failure";
    }
}

}  // namespace MktitleTestSupport

#endif
