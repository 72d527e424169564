// titledump: prints a title's tracks, seek tables, chapters and streams as the parser reads them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/CommandLine.h"
#include "common/OutputFile.h"
#include "tools/titledump/TitleDump.h"

namespace {

const char kDescription[] =
    "Reads a title of the engine's indexed program-stream container with the engine's parser\n"
    "and prints its tracks (TrackInfoKey_* values and seek table), its chapters, and per\n"
    "elementary stream the sample count and the first and last decode times. TITLE may be -\n"
    "for standard input.\n";

const char kEpilogue[] =
    "The report is printed even for a title that is not whole; the exit status is then 1, with\n"
    "the reasons on standard error: the parser stopped with an error or without the program end\n"
    "code, the file is empty, the title has no tracks, the file or its media end before its\n"
    "index says, or groups of pictures its index lists are missing. A file named by -o is then\n"
    "left as it was (or not made); a device or FIFO gets the report. The output is never the\n"
    "title itself.\n";

// Writes the whole text to the output; false with errno set when it cannot.
bool WriteAll(const std::string& path, const std::string& text) {
    std::FILE* file = path == "/dev/stdout" ? stdout : std::fopen(path.c_str(), "wbe");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeError = errno;
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = file == stdout || std::fclose(file) == 0;
    errno = !written ? writeError : !flushed ? flushError : errno;
    return written && flushed && closed;
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("titledump", "[OPTIONS] TITLE", kDescription, kEpilogue);
    cli.AddOption("json", 0, nullptr, "print the report as JSON");
    cli.AddOption("output", 'o', "FILE", "write the report to FILE (default: standard output)");
    cli.SetArgumentCount(1, 1);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    const std::string argument = cli.Arguments()[0];
    const bool standardInput = SvTools::CommandLine::IsStandardStream(argument);
    const std::string input = standardInput ? "/dev/stdin" : argument;
    const std::string name = standardInput ? "standard input" : argument;

    const std::string outputPath = cli.Value("output", "-");
    if (!SvTools::CommandLine::IsStandardStream(outputPath) &&
        SvTools::IsSameFile(input, outputPath)) {
        // The report would take the place of the title it describes.
        return cli.Failure(outputPath + " is the title itself");
    }

    SvTools::TitleSummary summary;
    std::string error;
    if (!SvTools::ReadTitle(input, summary, error)) {
        return cli.Failure(error);
    }
    const std::vector<std::string> problems = SvTools::TitleProblems(summary);
    if (summary.fileSize == 0) {
        return cli.Failure(name + ": " + problems.front());  // nothing to report
    }

    std::string report;
    if (!cli.Has("json")) {
        report = SvTools::FormatTitle(summary);
    } else if (!SvTools::FormatTitleJson(summary, report, error)) {
        // Nothing is printed rather than a document that is not the report.
        return cli.Failure(name + ": the report cannot be written as JSON: " + error);
    }
    if (SvTools::CommandLine::IsStandardStream(outputPath)) {
        // Standard output as it is, a terminal included.
        if (!WriteAll("/dev/stdout", report)) {
            return cli.Failure("cannot write standard output: " + SvTools::SystemReason(errno));
        }
    } else {
        SvTools::OutputFile output;
        if (!output.Prepare(outputPath, error)) {
            return cli.Failure("cannot write " + error);
        }
        if (!WriteAll(output.WritePath(), report)) {
            const int reason = errno;
            output.Discard();
            return cli.Failure("cannot write " + outputPath + ": " + SvTools::SystemReason(reason));
        }
        if (!problems.empty()) {
            // The run fails: a file this run made goes, and one that was there keeps what it
            // held (a device or FIFO has had the report, as given).
            output.Discard();
        } else if (!output.Commit(error)) {
            return cli.Failure("cannot write " + error);
        }
    }
    for (const std::string& problem : problems) {
        cli.Failure(name + ": " + problem);
    }
    if (SvTools::IsNotATitle(summary)) {
        std::fputs(SvTools::NotATitleHint(cli.Program()).c_str(), stderr);
    }
    return problems.empty() ? SvTools::CommandLine::kExitSuccess
                            : SvTools::CommandLine::kExitFailure;
}
