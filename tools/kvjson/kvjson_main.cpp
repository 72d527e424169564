// kvjson: checks a JSON document with the project's parser.
//
//   kvjson [--chunk N] [--roundtrip [--human] [--sort]] [-o OUTPUT] FILE|-
//
// Parses the whole input (a file, or standard input for "-"). Exit status 0 when the document
// is accepted, 1 when it is rejected (the parser's error text on standard error) or cannot be
// read or written, 2 for a usage error. --chunk N feeds the parser N bytes at a time;
// --roundtrip prints the parsed value written back as JSON (--human: indented; --sort: keys
// sorted), to standard output or to OUTPUT.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"
#include "json/KvJsonWriter.h"
#include "common/CommandLine.h"
#include "common/OutputFile.h"

namespace {

constexpr size_t kMaxChunk = size_t{64} << 20;
// The parser keeps the value it builds and the token it reads: an input without end (a device,
// a document that never closes) is refused past this size rather than filling the memory.
constexpr uint64_t kMaxInputMiB = 128;
constexpr uint64_t kMaxInput = kMaxInputMiB << 20;
// The piece read and parsed at a time when --chunk is not given.
constexpr size_t kReadPiece = 65536;

const char kDescription[] =
    "Checks a JSON document with the project's parser: FILE, or standard input for -.\n"
    "A rejected document has the parser's error text on standard error. The document is\n"
    "parsed as it is read; an input over 128 MiB is refused. The output is never the input.\n";

// Writes the text to the output; false with errno set when it cannot.
bool WriteAll(std::FILE* file, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        return false;
    }
    return std::fflush(file) == 0;
}

struct Input {
    std::FILE* file = nullptr;
    bool owned = false;
    ~Input() {
        if (owned && file != nullptr) {
            std::fclose(file);
        }
    }
};

// Fed in pieces of `chunk` bytes as they are read, as a network reader would. tooLarge is set
// when the input goes on past kMaxInput.
std::optional<ns::Value> Parse(std::FILE* file, size_t chunk, std::string& error, bool& readFailed,
                               bool& tooLarge) {
    KvJsonStreamParserAccumulator accumulator;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&accumulator);
    KvJsonStreamParser parser;
    parser.setDelegate(&adapter);
    std::vector<char> buffer(chunk);
    int status = KvJsonStreamParserWaitingForData;
    uint64_t total = 0;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, chunk, file);
        if (n == 0) {
            break;
        }
        total += n;
        if (total > kMaxInput) {
            tooLarge = true;
            return std::nullopt;
        }
        status = parser.parse(buffer.data(), n);
        if (status == KvJsonStreamParserError) {
            error = parser.error();
            return std::nullopt;
        }
    }
    if (std::ferror(file)) {
        readFailed = true;
        return std::nullopt;
    }
    if (status == KvJsonStreamParserComplete && !parser.hasUnfinishedToken()) {
        return accumulator.takeValue();
    }
    error = "Unexpected end of input";
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine cli("kvjson", "[--chunk N] [--roundtrip [--human] [--sort]] FILE|-",
                             kDescription);
    cli.AddOption("chunk", 0, "N", "feed the parser N bytes at a time, as a network reader would");
    cli.AddOption("roundtrip", 0, nullptr, "print the parsed value written back as JSON");
    cli.AddOption("human", 0, nullptr, "with --roundtrip: indented");
    cli.AddOption("sort", 0, nullptr, "with --roundtrip: keys sorted");
    cli.AddOption("output", 'o', "FILE", "write the --roundtrip output to FILE (default: -)");
    cli.SetArgumentCount(1, 1);
    const SvTools::CommandLine::Outcome outcome = cli.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) {
        return SvTools::CommandLine::ExitStatus(outcome);
    }
    uint64_t chunk = 0;
    if (!cli.UnsignedValue("chunk", 1, kMaxChunk, chunk)) {
        return SvTools::CommandLine::kExitUsage;
    }
    const bool roundtrip = cli.Has("roundtrip");
    if ((cli.Has("human") || cli.Has("sort")) && !roundtrip) {
        return cli.UsageError("--human and --sort go with --roundtrip");
    }
    const std::string path = cli.Arguments()[0];
    const std::string outputPath = cli.Value("output", "-");
    if (!SvTools::CommandLine::IsStandardStream(outputPath) &&
        SvTools::IsSameFile(SvTools::CommandLine::IsStandardStream(path) ? "/dev/stdin" : path,
                            outputPath)) {
        // The document written back would take the place of the one it was read from.
        return cli.Failure(outputPath + " is the input itself");
    }

    Input input;
    if (SvTools::CommandLine::IsStandardStream(path)) {
        input.file = stdin;
    } else {
        input.file = std::fopen(path.c_str(), "rbe");
        input.owned = true;
        if (input.file == nullptr) {
            return cli.Failure("cannot open " + path + ": " + SvTools::SystemReason(errno));
        }
    }

    std::string error;
    bool readFailed = false;
    bool tooLarge = false;
    std::optional<ns::Value> value =
        Parse(input.file, chunk > 0 ? size_t(chunk) : kReadPiece, error, readFailed, tooLarge);
    if (tooLarge) {
        return cli.Failure(path + ": the input is larger than " + std::to_string(kMaxInputMiB) +
                           " MiB");
    }
    if (readFailed) {
        const int reason = errno;
        return cli.Failure("cannot read " + path + ": " + SvTools::SystemReason(reason));
    }
    if (!value) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return SvTools::CommandLine::kExitFailure;
    }
    if (!roundtrip) {
        return SvTools::CommandLine::kExitSuccess;
    }
    KvJsonWriter writer;
    writer.setHumanReadable(cli.Has("human"));
    writer.setSortKeys(cli.Has("sort"));
    std::optional<std::string> text = writer.dataWithObject(*value);
    if (!text) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        return SvTools::CommandLine::kExitFailure;
    }
    text->push_back('\n');
    if (SvTools::CommandLine::IsStandardStream(outputPath)) {
        if (!WriteAll(stdout, *text)) {
            return cli.Failure("cannot write standard output: " + SvTools::SystemReason(errno));
        }
        return SvTools::CommandLine::kExitSuccess;
    }
    SvTools::OutputFile output;
    if (!output.Prepare(outputPath, error)) {
        return cli.Failure("cannot write " + error);
    }
    std::FILE* file = std::fopen(output.WritePath().c_str(), "wbe");
    const bool written = file != nullptr && WriteAll(file, *text);
    const int reason = errno;
    const bool closed = file != nullptr && std::fclose(file) == 0;
    if (!written || !closed) {
        output.Discard();
        return cli.Failure("cannot write " + outputPath + ": " +
                           SvTools::SystemReason(written ? errno : reason));
    }
    if (!output.Commit(error)) {
        return cli.Failure("cannot write " + error);
    }
    return SvTools::CommandLine::kExitSuccess;
}
