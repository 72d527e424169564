// titledump: prints a title's tracks, seek tables, chapters and streams as the parser reads them.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/demux/Mpeg2PsParser.h"
#include "tools/titledump/TitleDump.h"

namespace {

const char kUsage[] =
    "usage: titledump TITLE\n"
    "\n"
    "Reads a title of the engine's indexed program-stream container with the engine's parser\n"
    "and prints its tracks (TrackInfoKey_* values and seek table), its chapters, and per\n"
    "elementary stream the sample count and the first and last decode times.\n"
    "\n"
    "Exit status: 0 when the title was read to its end, 1 when it cannot be read or the\n"
    "parser stops with an error, 2 on a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    SvTools::TitleSummary summary;
    std::string error;
    if (!SvTools::ReadTitle(argv[1], summary, error)) {
        std::fprintf(stderr, "titledump: %s\n", error.c_str());
        return 1;
    }
    std::fputs(SvTools::FormatTitle(summary).c_str(), stdout);
    const bool ended = summary.result == SarvelonMediaKit::Mpeg2PsParser::ResultProgramEnd ||
                       summary.result == SarvelonMediaKit::Mpeg2PsParser::ResultOk;
    return ended ? 0 : 1;
}
