#ifndef TOOLS_MKTITLE_PROGRESSLINE_H
#define TOOLS_MKTITLE_PROGRESSLINE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace SvTools {

// One line on a terminal that tells how far a long job is: "mktitle: reading a.ts 42%", redrawn
// in place when the whole percentage changes, ended with a new line. Prints nothing when
// disabled, so a tool can make one whatever its standard error is.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
    // Enabled when standard error is a terminal.
    static bool StderrIsTerminal();
    ~ProgressLine() { End(); }

    // done of total for the step named by what; a total of 0 counts as done.
    void Update(const std::string& what, uint64_t done, uint64_t total);
    // Ends the line (once something was shown).
    void End();

private:
    std::FILE* out_;
    bool enabled_;
    bool shown_ = false;
    std::string what_;
    int percent_ = -1;
    size_t width_ = 0;
};

}  // namespace SvTools

#endif
