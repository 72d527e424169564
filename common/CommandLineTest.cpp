// The option layer the tools share: the forms users type, the texts they see and the exit
// statuses scripts rely on.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "common/CommandLine.h"

namespace {

using SvTools::CommandLine;

struct Parsed {
    CommandLine::Outcome outcome;
    std::string out;
    std::string err;
};

CommandLine MakeTool() {
    CommandLine cli("tool", "[OPTIONS] INPUT -o OUTPUT", "Does a thing.");
    cli.AddOption("output", 'o', "FILE", "where the result goes");
    cli.AddOption("chapter", 0, "TIME:TITLE", "a chapter (repeatable)");
    cli.AddOption("json", 0, nullptr, "print JSON");
    cli.AddOption("verbose", 'v', nullptr, "say more");
    cli.SetArgumentCount(1, 1);
    return cli;
}

Parsed Parse(CommandLine& cli, std::vector<std::string> words) {
    words.insert(words.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    const std::vector<char*> before = argv;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Parsed run;
    run.outcome = cli.Parse(int(argv.size()), argv.data());
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(before, argv) << "the caller's argument array is left as it was";
    return run;
}

TEST(CommandLine, EveryFormOfAnOptionValueReadsTheSame) {
    const std::vector<std::vector<std::string>> forms = {
        {"-o", "out.ts", "in.svm"},    {"-oout.ts", "in.svm"},
        {"--output=out.ts", "in.svm"}, {"--output", "out.ts", "in.svm"},
        {"in.svm", "-o", "out.ts"},    {"--out=out.ts", "in.svm"},  // a unique prefix
    };
    for (const auto& words : forms) {
        CommandLine cli = MakeTool();
        const Parsed run = Parse(cli, words);
        ASSERT_EQ(CommandLine::Proceed, run.outcome) << words[0] << "\n" << run.err;
        EXPECT_EQ("out.ts", cli.Value("output")) << words[0];
        EXPECT_EQ(std::vector<std::string>{"in.svm"}, cli.Arguments()) << words[0];
        EXPECT_EQ("", run.out + run.err);
        EXPECT_FALSE(cli.Has("json"));
    }
}

TEST(CommandLine, RepeatsFlagsDashAndDoubleDash) {
    CommandLine cli = MakeTool();
    Parsed run = Parse(cli, {"--chapter", "0:A", "-v", "--chapter=2.5:B C", "--json", "-"});
    ASSERT_EQ(CommandLine::Proceed, run.outcome) << run.err;
    EXPECT_EQ((std::vector<std::string>{"0:A", "2.5:B C"}), cli.Values("chapter"));
    EXPECT_EQ("2.5:B C", cli.Value("chapter"));
    EXPECT_TRUE(cli.Has("json"));
    EXPECT_TRUE(cli.Has("verbose"));
    EXPECT_FALSE(cli.Has("output"));
    EXPECT_EQ("fallback", cli.Value("output", "fallback"));
    EXPECT_TRUE(cli.Values("output").empty());
    ASSERT_EQ(1u, cli.Arguments().size());
    EXPECT_TRUE(CommandLine::IsStandardStream(cli.Arguments()[0]));

    // After "--" a word that looks like an option is an argument; a second parse starts afresh.
    run = Parse(cli, {"--", "--json"});
    ASSERT_EQ(CommandLine::Proceed, run.outcome) << run.err;
    EXPECT_EQ(std::vector<std::string>{"--json"}, cli.Arguments());
    EXPECT_FALSE(cli.Has("json"));
    EXPECT_FALSE(cli.Has("chapter"));
}

TEST(CommandLine, HelpAndVersionGoToStandardOutput) {
    for (const char* word : {"-h", "--help", "--he"}) {
        CommandLine cli = MakeTool();
        const Parsed help = Parse(cli, {word});
        EXPECT_EQ(CommandLine::Done, help.outcome) << word;
        EXPECT_EQ(0, CommandLine::ExitStatus(help.outcome));
        EXPECT_EQ("", help.err);
        EXPECT_EQ(0u, help.out.find("usage: tool [OPTIONS] INPUT -o OUTPUT\n\nDoes a thing.\n"))
            << help.out;
        for (const char* row : {"  -o, --output=FILE         where the result goes\n",
                                "      --chapter=TIME:TITLE  a chapter (repeatable)\n",
                                "      --json                print JSON\n",
                                "  -h, --help                show this text and exit\n",
                                "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n"}) {
            EXPECT_NE(std::string::npos, help.out.find(row)) << row << help.out;
        }
    }
    CommandLine cli = MakeTool();
    const Parsed version = Parse(cli, {"--version"});
    EXPECT_EQ(CommandLine::Done, version.outcome);
    // "tool", a space, then a dotted version number.
    EXPECT_TRUE(testing::internal::RE::FullMatch(version.out, "tool [0-9]+(\\.[0-9]+)+\n"))
        << version.out;
    EXPECT_EQ("", version.err);
}

TEST(CommandLine, UsageErrorsNameTheProblemOnStandardError) {
    const struct {
        std::vector<std::string> words;
        std::string message;
    } cases[] = {
        {{"--bogus", "in"}, "tool: unknown option --bogus\n"},
        {{"--bogus=3", "in"}, "tool: unknown option --bogus\n"},
        {{"-x", "in"}, "tool: unknown option -x\n"},
        {{"-vx", "in"}, "tool: unknown option -x\n"},
        {{"in", "-o"}, "tool: option -o needs a value\n"},
        {{"in", "--output"}, "tool: option --output needs a value\n"},
        {{"in", "--chapter"}, "tool: option --chapter needs a value\n"},
        {{"--json=yes", "in"}, "tool: option --json takes no value\n"},
        {{"--ver", "in"}, "tool: unknown option --ver\n"},  // --verbose or --version
        {{}, "tool: an argument is missing\n"},
        {{"a", "b"}, "tool: unexpected argument b\n"},
    };
    for (const auto& c : cases) {
        CommandLine cli = MakeTool();
        const Parsed run = Parse(cli, c.words);
        EXPECT_EQ(CommandLine::Invalid, run.outcome) << c.message;
        EXPECT_EQ(2, CommandLine::ExitStatus(run.outcome));
        EXPECT_EQ("", run.out);
        EXPECT_EQ(c.message +
                      "usage: tool [OPTIONS] INPUT -o OUTPUT\n"
                      "Try 'tool --help' for more information.\n",
                  run.err);
    }
}

TEST(CommandLine, NumbersAreWholeAndInRange) {
    const struct {
        const char* text;
        bool accepted;
        uint64_t value;
    } cases[] = {
        {"0", false, 0},
        {"1", true, 1},
        {"4096", true, 4096},
        {"4097", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {" 5", false, 0},
        {"5k", false, 0},
        {"", false, 0},
        {"0x10", false, 0},
        {"99999999999999999999999", false, 0},  // past 64 bits
    };
    for (const auto& c : cases) {
        CommandLine cli("tool", "[--chunk N]", "");
        cli.AddOption("chunk", 0, "N", "piece size");
        const Parsed run = Parse(cli, {std::string("--chunk=") + c.text});
        ASSERT_EQ(CommandLine::Proceed, run.outcome);
        uint64_t value = 77;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.accepted, cli.UnsignedValue("chunk", 1, 4096, value)) << c.text;
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.accepted) {
            EXPECT_EQ(c.value, value);
            EXPECT_EQ("", err);
        } else {
            EXPECT_EQ(77u, value) << c.text;
            EXPECT_NE(std::string::npos,
                      err.find("tool: --chunk takes a whole number from 1 to 4096"))
                << err;
        }
    }
    // An absent option leaves the default.
    CommandLine cli("tool", "", "");
    cli.AddOption("chunk", 0, "N", "piece size");
    ASSERT_EQ(CommandLine::Proceed, Parse(cli, {}).outcome);
    uint64_t value = 9;
    EXPECT_TRUE(cli.UnsignedValue("chunk", 1, 4096, value));
    EXPECT_EQ(9u, value);
}

TEST(CommandLine, MessagesSayWhyInWords) {
    EXPECT_EQ("No such file or directory", SvTools::SystemReason(ENOENT));
    EXPECT_EQ("Permission denied", SvTools::SystemReason(EACCES));
    EXPECT_EQ("Media was truncated (1005)", SvTools::StatusText(1005, "Media was truncated"));
    EXPECT_EQ("error (1013)", SvTools::StatusText(1013, ""));
}

}  // namespace
