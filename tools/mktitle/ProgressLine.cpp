#include "tools/mktitle/ProgressLine.h"

#include <algorithm>

#include <unistd.h>

namespace SvTools {

bool ProgressLine::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void ProgressLine::Update(const std::string& what, uint64_t done, uint64_t total) {
    if (!enabled_) {
        return;
    }
    const int percent = total == 0 || done >= total ? 100 : static_cast<int>(done * 100 / total);
    if (shown_ && what == what_ && percent == percent_) {
        return;
    }
    std::string line = "mktitle: " + what + " " + std::to_string(percent) + "%";
    // Blanks over what is left of a longer line before it.
    const size_t width = line.size();
    if (line.size() < width_) {
        line.append(width_ - line.size(), ' ');
    }
    std::fprintf(out_, "\r%s", line.c_str());
    std::fflush(out_);
    width_ = std::max(width_, width);
    what_ = what;
    percent_ = percent;
    shown_ = true;
}

void ProgressLine::End() {
    if (shown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        shown_ = false;
        width_ = 0;
    }
}

}  // namespace SvTools
