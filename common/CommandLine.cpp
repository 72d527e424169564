#include "common/CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Util/Hex.h"
#include "SVLibrary/Util/LibraryVersion.h"

namespace SvTools {

namespace {

// getopt_long's value for an option without a short form: past every char.
const int kLongOnly = 0x100;
const int kHelp = 'h';
const int kVersion = kLongOnly - 1;  // not a character anyone types as an option

const std::vector<std::string> kNoValues;

}  // namespace

CommandLine::CommandLine(std::string program, std::string synopsis, std::string description,
                         std::string epilogue)
    : program_(std::move(program)),
      synopsis_(std::move(synopsis)),
      description_(std::move(description)),
      epilogue_(std::move(epilogue)) {}

void CommandLine::AddOption(const std::string& longName, char shortName, const char* valueName,
                            const std::string& help) {
    options_.push_back(Option{longName, shortName, valueName ? valueName : "", help});
}

void CommandLine::SetArgumentCount(size_t least, size_t most) {
    leastArguments_ = least;
    mostArguments_ = most;
}

const CommandLine::Option* CommandLine::FindShort(int shortName) const {
    if (shortName >= kLongOnly) {
        const size_t index = size_t(shortName - kLongOnly);
        return index < options_.size() ? &options_[index] : nullptr;
    }
    for (const Option& option : options_) {
        if (option.shortName != 0 && option.shortName == shortName) {
            return &option;
        }
    }
    return nullptr;
}

const CommandLine::Option* CommandLine::FindLong(const std::string& name) const {
    for (const Option& option : options_) {
        if (option.longName == name) {
            return &option;
        }
    }
    return nullptr;
}

CommandLine::Outcome CommandLine::Parse(int argc, char* const* argv) {
    values_.clear();
    arguments_.clear();

    // A leading ':' makes a missing value come back as ':' rather than '?', so the two usage
    // errors can be told apart; the messages are ours (opterr 0), not getopt's.
    std::string shortOptions = ":h";
    std::vector<struct option> longOptions;
    longOptions.push_back({"help", no_argument, nullptr, kHelp});
    longOptions.push_back({"version", no_argument, nullptr, kVersion});
    for (size_t i = 0; i < options_.size(); ++i) {
        const Option& o = options_[i];
        const bool takesValue = !o.valueName.empty();
        const int val = o.shortName != 0 ? o.shortName : kLongOnly + int(i);
        longOptions.push_back(
            {o.longName.c_str(), takesValue ? required_argument : no_argument, nullptr, val});
        if (o.shortName != 0) {
            shortOptions += o.shortName;
            if (takesValue) {
                shortOptions += ':';
            }
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    // getopt_long moves the arguments behind the options: it works on a copy of the pointers.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    optind = 0;  // a full restart of getopt's state, so that a second Parse reads afresh
    opterr = 0;
    for (;;) {
        int longIndex = -1;
        const int c =
            getopt_long(argc, args.data(), shortOptions.c_str(), longOptions.data(), &longIndex);
        if (c == -1) {
            break;
        }
        if (c == kHelp) {
            std::fputs(HelpText().c_str(), stdout);
            return Done;
        }
        if (c == kVersion) {
            std::printf("%s %s\n", program_.c_str(), SV::GetLibraryVersion());
            return Done;
        }
        if (c == '?' || c == ':') {
            // The option as typed: a long one from its argument, a short one from optopt.
            const char* arg = optind > 0 && optind <= argc ? args[size_t(optind - 1)] : nullptr;
            std::string typed;
            if (arg != nullptr && std::strncmp(arg, "--", 2) == 0) {
                typed = arg;
                typed.resize(std::min(typed.size(), typed.find('=')));
            } else {
                typed = std::string("-") + char(optopt);
            }
            // A known long option given a value it does not take keeps its optopt.
            const bool flagWithValue = c == '?' && optopt != 0 && typed.compare(0, 2, "--") == 0;
            UsageError(c == ':'        ? "option " + typed + " needs a value"
                       : flagWithValue ? "option " + typed + " takes no value"
                                       : "unknown option " + typed);
            return Invalid;
        }
        const Option* option = FindShort(c);
        if (option == nullptr) {
            UsageError("unknown option");
            return Invalid;
        }
        values_[option->longName].push_back(optarg != nullptr ? optarg : "");
    }
    for (int i = optind; i < argc; ++i) {
        arguments_.push_back(args[size_t(i)]);
    }
    if (arguments_.size() < leastArguments_) {
        UsageError(leastArguments_ == 1 && arguments_.empty() ? "an argument is missing"
                                                              : "too few arguments");
        return Invalid;
    }
    if (arguments_.size() > mostArguments_) {
        UsageError("unexpected argument " + arguments_[mostArguments_]);
        return Invalid;
    }
    return Proceed;
}

bool CommandLine::Has(const std::string& longName) const {
    return values_.find(longName) != values_.end();
}

std::string CommandLine::Value(const std::string& longName, const std::string& fallback) const {
    const auto found = values_.find(longName);
    return found == values_.end() ? fallback : found->second.back();
}

const std::vector<std::string>& CommandLine::Values(const std::string& longName) const {
    const auto found = values_.find(longName);
    return found == values_.end() ? kNoValues : found->second;
}

bool CommandLine::UnsignedValue(const std::string& longName, uint64_t least, uint64_t most,
                                uint64_t& value) const {
    if (!Has(longName)) {
        return true;
    }
    const std::string text = Value(longName);
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] < '0' || text[0] > '9' || errno != 0 || *end != '\0' || n < least ||
        n > most) {
        UsageError("--" + longName + " takes a whole number from " + std::to_string(least) +
                   " to " + std::to_string(most) + ", not \"" + text + "\"");
        return false;
    }
    value = n;
    return true;
}

int CommandLine::UsageError(const std::string& message) const {
    std::fprintf(stderr, "%s: %s\n%sTry '%s --help' for more information.\n", program_.c_str(),
                 message.c_str(), UsageLine().c_str(), program_.c_str());
    return kExitUsage;
}

int CommandLine::Failure(const std::string& message) const {
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), message.c_str());
    return kExitFailure;
}

std::string CommandLine::HelpText() const {
    std::string text = UsageLine();
    if (!description_.empty()) {
        text += "\n" + description_;
        if (text.back() != '\n') {
            text += '\n';
        }
    }
    text += "\noptions:\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Option& o : options_) {
        std::string left = o.shortName != 0 ? std::string("-") + o.shortName + ", " : "    ";
        left += "--" + o.longName;
        if (!o.valueName.empty()) {
            left += "=" + o.valueName;
        }
        rows.emplace_back(left, o.help);
    }
    rows.emplace_back("-h, --help", "show this text and exit");
    rows.emplace_back("    --version", "show the version and exit");
    size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.first.size());
    }
    for (const auto& row : rows) {
        text +=
            "  " + row.first + std::string(width - row.first.size() + 2, ' ') + row.second + "\n";
    }
    text += "\nExit status: 0 on success, 1 on failure, 2 on a usage error.\n";
    if (!epilogue_.empty()) {
        text += "\n" + epilogue_;
        if (text.back() != '\n') {
            text += '\n';
        }
    }
    return text;
}

std::string SystemReason(int error) { return std::strerror(error); }

std::string StatusText(int status, const std::string& text) {
    const std::string number = "(" + std::to_string(status) + ")";
    return text.empty() ? "error " + number : text + " " + number;
}

std::string NotATitleHint(const std::string& program) {
    return program +
           ": hint: a title is a file of the engine's own container (.svm); mktitle makes one\n"
           "from MPEG-TS files as ffmpeg writes them (an .mp4 becomes one with:\n"
           "ffmpeg -i IN.mp4 -c copy IN.ts, then mktitle IN.ts OUT.svm)\n";
}

bool IsNotATitle(int status, const std::string& text) {
    // The demultiplexer's two refusals of such data; its third of this status is the empty file.
    return status == SVStatusInvalidDataFormat &&
           (text == "Invalid data format" || text == "The title has no index");
}

namespace {

const char kFileScheme[] = "file://";
const size_t kFileSchemeLength = sizeof(kFileScheme) - 1;

}  // namespace

bool IsFileUrl(const std::string& title) {
    return title.compare(0, kFileSchemeLength, kFileScheme) == 0;
}

bool FileUrlPath(const std::string& url, std::string& path, std::string& reason) {
    std::string rest = IsFileUrl(url) ? url.substr(kFileSchemeLength) : std::string();
    if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') {
        reason = "a file:// URL names a path on this machine (file:///path)";
        return false;
    }
    std::string decoded;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && SV::HexDigitValue(rest[i + 1]) >= 0 &&
            SV::HexDigitValue(rest[i + 2]) >= 0) {
            const char byte =
                char(SV::HexDigitValue(rest[i + 1]) * 16 + SV::HexDigitValue(rest[i + 2]));
            if (byte == '\0') {
                reason = "the URL's path holds a NUL byte";
                return false;
            }
            decoded += byte;
            i += 2;
        } else if (rest[i] == '?' || rest[i] == '#') {
            break;
        } else {
            decoded += rest[i];
        }
    }
    path = decoded;
    return true;
}

}  // namespace SvTools
