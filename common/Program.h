#ifndef COMMON_PROGRAM_H
#define COMMON_PROGRAM_H

#include <cstddef>
#include <string>
#include <vector>

namespace SvTools {

// Runs a program (looked up in PATH, no shell) with standard input from /dev/null and returns
// its exit status (128 + signal number when a signal ended it, -1 when it could not start).
// The child gets standard input, output and error and no other descriptor of this process.
// Standard output and standard error are collected into output when it is given; once keep
// bytes are held, the rest is read and dropped, so that a chatty program neither blocks nor
// fills memory. When the program cannot start, output says why. The program starts with no
// signal blocked and SIGINT and SIGTERM at their defaults, whatever this process does with them.
// When stopFd is given (a signalfd, a pipe), the program is killed as soon as stopFd becomes
// readable, and the call returns without waiting for its output to end (status 128 + SIGKILL).
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
               size_t keep = std::string::npos, int stopFd = -1);

// A name beside path for a file that is then renamed onto it, unique within and across the
// processes that make the same path.
std::string TemporaryName(const std::string& path);

// Writes bytes to a temporary file beside path and renames it onto path, so that a reader finds
// the old file or the whole new one; false (nothing left behind) when it cannot.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace SvTools

#endif  // COMMON_PROGRAM_H
