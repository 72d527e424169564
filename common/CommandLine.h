#ifndef TOOLS_COMMON_COMMANDLINE_H
#define TOOLS_COMMON_COMMANDLINE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace SvTools {

// The option layer every tool shares, on getopt_long, so that all of them behave alike:
//   -h, --help      the help text on standard output, exit 0
//   --version       the program name and the library version on standard output, exit 0
//   --opt=value, --opt value, -o value, -ovalue
//   "-" as an argument or as an option value is left to the tool (standard input or output),
//   "--" ends the options.
// Options and arguments may come in any order. A usage error prints the reason and the usage
// line on standard error; the tool then exits with kExitUsage.
class CommandLine {
public:
    static constexpr int kExitSuccess = 0;
    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;

    enum Outcome {
        Proceed,  // options and arguments read: the tool runs
        Done,     // help or version printed: exit with kExitSuccess
        Invalid   // a usage error was printed: exit with kExitUsage
    };

    // program: the tool's name, for messages. synopsis: what follows "usage: program " (for
    // example "[OPTIONS] TITLE -o OUTPUT.ts"). description: the text between the usage line and
    // the option list, and epilogue the text after it (both may be empty).
    CommandLine(std::string program, std::string synopsis, std::string description,
                std::string epilogue = "");

    // An option with a value (valueName names it in the help, "FILE") or a flag (valueName
    // null). shortName 0 means a long form only. A repeated option keeps every value in order.
    void AddOption(const std::string& longName, char shortName, const char* valueName,
                   const std::string& help);
    // The number of arguments (not options) the tool takes.
    void SetArgumentCount(size_t least, size_t most);

    // Reads argv. Prints help or version on standard output, usage errors on standard error.
    Outcome Parse(int argc, char* const* argv);
    // Exit status for an outcome other than Proceed.
    static int ExitStatus(Outcome outcome) {
        return outcome == Invalid ? kExitUsage : kExitSuccess;
    }

    bool Has(const std::string& longName) const;
    // The last value given for the option, or fallback when it was not given.
    std::string Value(const std::string& longName, const std::string& fallback = "") const;
    const std::vector<std::string>& Values(const std::string& longName) const;
    const std::vector<std::string>& Arguments() const { return arguments_; }

    // The option's value read as a whole decimal number in [least, most]. False, with a usage
    // error printed, when it is anything else; value untouched when the option is absent.
    bool UnsignedValue(const std::string& longName, uint64_t least, uint64_t most,
                       uint64_t& value) const;

    // Prints "program: message", the usage line and a pointer to --help on standard error;
    // returns kExitUsage.
    int UsageError(const std::string& message) const;
    // Prints "program: message" on standard error; returns kExitFailure.
    int Failure(const std::string& message) const;

    std::string HelpText() const;
    std::string UsageLine() const {
        return "usage: " + program_ + (synopsis_.empty() ? "" : " " + synopsis_) + "\n";
    }
    const std::string& Program() const { return program_; }

    // "-" names standard input or standard output.
    static bool IsStandardStream(const std::string& name) { return name == "-"; }

private:
    struct Option {
        std::string longName;
        char shortName;
        std::string valueName;  // empty for a flag
        std::string help;
    };

    const Option* FindShort(int shortName) const;
    const Option* FindLong(const std::string& name) const;

    std::string program_;
    std::string synopsis_;
    std::string description_;
    std::string epilogue_;
    std::vector<Option> options_;
    size_t leastArguments_ = 0;
    size_t mostArguments_ = ~size_t(0);

    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> arguments_;
};

// Message helpers, so every tool words its failures alike.
// "Permission denied" and the like, for an errno value.
std::string SystemReason(int error);
// The engine's status text with its number in parentheses: "Media was truncated (1005)".
std::string StatusText(int status, const std::string& text);
// What every program that reads titles adds after refusing a file that is no title at all
// (another kind of media renamed, a program stream without an index): what a title is and that
// mktitle makes one. "program: hint: ..." on lines of their own, each ending in a line end.
std::string NotATitleHint(const std::string& program);
// Whether the engine's refusal of a title (its status and text) says that the bytes are no
// title at all: data that do not begin as a program stream, or a program stream without an
// index. An empty file is not among them: it is told as such.
bool IsNotATitle(int status, const std::string& text);

// Whether a title is named by a "file://" URL.
bool IsFileUrl(const std::string& title);
// The path a "file://" URL names on this machine: "file:///p" or "file://localhost/p", each
// "%XX" escape decoded, a query or fragment dropped. False, with the reason, for one that names
// no local path or whose path holds a NUL byte.
bool FileUrlPath(const std::string& url, std::string& path, std::string& reason);

}  // namespace SvTools

#endif  // TOOLS_COMMON_COMMANDLINE_H
