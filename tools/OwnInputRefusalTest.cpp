// Every tool that reads a file and writes another refuses to write over what it reads: the
// output named as the input itself, through a symbolic link or a hard link, or the file that
// standard input comes from. Each refusal exits 1 with the reason and leaves the input as it was
// and nothing else behind. A folder, or a stream that is no title, given as the input is refused
// by every tool in the same words.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"
#include "common/OutputFile.h"

namespace {

using SvTestSupport::DirectoryEntries;
using SvTestSupport::Fixtures;
using SvTestSupport::ReadWholeFile;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;
using SvTestSupport::WriteWholeFile;

class OwnInputRefusal : public ::testing::Test {
protected:
    // The input copied into the folder, with a symbolic link and a hard link to it beside.
    std::string Place(const std::string& source, const std::string& name) {
        input_ = dir_.File(name);
        bytes_ = ReadWholeFile(source);
        EXPECT_FALSE(bytes_.empty());
        WriteWholeFile(input_, bytes_);
        EXPECT_EQ(0, symlink(input_.c_str(), dir_.File("link").c_str()));
        EXPECT_EQ(0, link(input_.c_str(), dir_.File("hard").c_str()));
        return input_;
    }
    // Runs the command and checks the refusal: exit 1, "<tool>: <output><reason>" alone on
    // standard error, the input's bytes and the folder's names as they were.
    void ExpectRefused(const std::vector<std::string>& argv, const std::string& output) {
        SCOPED_TRACE(argv.back());
        const std::string message = tool_ + ": " + output + reason_;
        const std::set<std::string> before = DirectoryEntries(dir_.Path());
        std::string report;
        EXPECT_EQ(1, RunProgram(argv, &report)) << report;
        EXPECT_EQ(message, report);
        EXPECT_TRUE(ReadWholeFile(input_) == bytes_) << "the input was changed";
        EXPECT_EQ(before, DirectoryEntries(dir_.Path()));
        struct stat info;
        ASSERT_EQ(0, lstat(dir_.File("link").c_str(), &info));
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
    }
    // The command with standard input from the input file.
    std::vector<std::string> FromStandardInput(const std::vector<std::string>& argv) {
        std::vector<std::string> shell = {"sh", "-c", "f=$1; shift; exec \"$@\" <\"$f\"", "sh",
                                          input_};
        shell.insert(shell.end(), argv.begin(), argv.end());
        return shell;
    }

    TemporaryDirectory dir_{"owninput"};
    std::string input_;
    std::string bytes_;
    std::string tool_, reason_;  // the refusal's message is "<tool_>: <output><reason_>"
};

TEST(IsSameFile, NamesOneFileThroughLinksAndNothingElse) {
    TemporaryDirectory dir("samefile");
    const std::string a = dir.File("a"), b = dir.File("b");
    WriteWholeFile(a, "same bytes");
    WriteWholeFile(b, "same bytes");  // equal contents, another file
    ASSERT_EQ(0, symlink(a.c_str(), dir.File("soft").c_str()));
    ASSERT_EQ(0, symlink(dir.File("soft").c_str(), dir.File("soft2").c_str()));
    ASSERT_EQ(0, link(a.c_str(), dir.File("hard").c_str()));
    EXPECT_TRUE(SvTools::IsSameFile(a, a));
    EXPECT_TRUE(SvTools::IsSameFile(a, dir.File("soft2")));
    EXPECT_TRUE(SvTools::IsSameFile(dir.File("hard"), a));
    EXPECT_TRUE(SvTools::IsSameFile(
        a, dir.Path() + "/./../" + dir.Path().substr(dir.Path().rfind('/') + 1) + "/a"));
    EXPECT_FALSE(SvTools::IsSameFile(a, b));
    EXPECT_FALSE(SvTools::IsSameFile(a, dir.File("missing")));
    EXPECT_FALSE(SvTools::IsSameFile(dir.File("missing"), dir.File("missing")));
}

TEST_F(OwnInputRefusal, Mktitle) {
    const std::string in = Place(Fixtures::ShortClip(), "in.ts");
    const std::string mktitle = Fixtures::MktitlePath();
    tool_ = "mktitle", reason_ = " is the input " + in + " itself\n";
    ExpectRefused({mktitle, in, "-o", in}, in);
    // The output as the last name, through a link; the input among others.
    ExpectRefused({mktitle, in, dir_.File("link")}, dir_.File("link"));
    ExpectRefused({mktitle, Fixtures::ShortClip(), in, "-o", dir_.File("hard")}, dir_.File("hard"));
}

// With --smil the output is a folder of files with fixed names: none of them may be an input,
// a rendition or a subtitle file, whatever it is called on the command line.
TEST_F(OwnInputRefusal, MktitleSmil) {
    const std::string in = Place(Fixtures::ShortClip(), "video.svm");
    const std::string mktitle = Fixtures::MktitlePath();
    const std::string folder = dir_.Path();
    tool_ = "mktitle", reason_ = " is the input " + in + " itself\n";
    ExpectRefused({mktitle, "--smil", folder, in}, folder + "/video.svm");
    reason_ = " is the input " + dir_.File("hard") + " itself\n";
    ExpectRefused({mktitle, "--smil", folder, Fixtures::ShortClip(), dir_.File("hard")},
                  folder + "/video.svm");
    // The sound's file of its language, through a link named otherwise.
    ASSERT_EQ(0, rename(in.c_str(), dir_.File("audio-en.svm").c_str()));
    input_ = dir_.File("audio-en.svm");
    reason_ = " is the input " + dir_.File("hard") + " itself\n";
    ExpectRefused({mktitle, "--smil", folder, "--lang", "en", dir_.File("hard")},
                  folder + "/audio-en.svm");
    // A subtitle file copied onto itself, and one that another language's copy would replace.
    const std::string subtitles = "<tt xmlns=\"http://www.w3.org/ns/ttml\"><body/></tt>\n";
    WriteWholeFile(dir_.File("text-fr.ttml"), subtitles);
    WriteWholeFile(dir_.File("other.ttml"), "<tt xmlns=\"http://www.w3.org/ns/ttml\"/>\n");
    reason_ = " is the input " + dir_.File("text-fr.ttml") + " itself\n";
    ExpectRefused({mktitle, "--smil", folder, "--textstream", "fr:" + dir_.File("text-fr.ttml"),
                   Fixtures::ShortClip()},
                  folder + "/text-fr.ttml");
    ExpectRefused({mktitle, "--smil", folder, "--textstream", "de:" + dir_.File("text-fr.ttml"),
                   "--textstream", "fr:" + dir_.File("other.ttml"), Fixtures::ShortClip()},
                  folder + "/text-fr.ttml");
    EXPECT_EQ(subtitles, ReadWholeFile(dir_.File("text-fr.ttml")));
    // The manifest.
    WriteWholeFile(dir_.File("title.smil"), subtitles);
    reason_ = " is the input " + dir_.File("title.smil") + " itself\n";
    ExpectRefused({mktitle, "--smil", folder, "--textstream", "en:" + dir_.File("title.smil"),
                   Fixtures::ShortClip()},
                  folder + "/title.smil");
    EXPECT_EQ(subtitles, ReadWholeFile(dir_.File("title.smil")));
}

TEST_F(OwnInputRefusal, Titledump) {
    const std::string in = Place(Fixtures::ShortTitle(), "in.svm");
    tool_ = "titledump", reason_ = " is the title itself\n";
    ExpectRefused({SV_TITLEDUMP_PATH, in, "-o", in}, in);
    ExpectRefused({SV_TITLEDUMP_PATH, "--json", in, "-o", dir_.File("link")}, dir_.File("link"));
    ExpectRefused({SV_TITLEDUMP_PATH, dir_.File("hard"), "-o", in}, in);
    ExpectRefused(FromStandardInput({SV_TITLEDUMP_PATH, "-", "-o", in}), in);
}

TEST_F(OwnInputRefusal, Kvjson) {
    // Written back sorted, the document would change.
    const std::string doc = dir_.File("doc.json");
    WriteWholeFile(doc, "{\"b\": 1, \"a\": [true, null]}\n");
    const std::string in = Place(doc, "in.json");
    ASSERT_EQ(0, unlink(doc.c_str()));
    const std::vector<std::string> kvjson = {SV_KVJSON_PATH, "--roundtrip", "--sort"};
    auto with = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = kvjson;
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    };
    tool_ = "kvjson", reason_ = " is the input itself\n";
    ExpectRefused(with({in, "-o", in}), in);
    ExpectRefused(with({in, "-o", dir_.File("link")}), dir_.File("link"));
    ExpectRefused(with({dir_.File("hard"), "-o", in}), in);
    ExpectRefused(FromStandardInput(with({"-", "-o", in})), in);
    // Another file is written as asked.
    std::string report;
    EXPECT_EQ(0, RunProgram(with({in, "-o", dir_.File("sorted.json")}), &report)) << report;
    EXPECT_EQ("{\"a\":[true,null],\"b\":1}\n", ReadWholeFile(dir_.File("sorted.json")));
}

TEST_F(OwnInputRefusal, Svremux) {
    const std::string in = Place(Fixtures::ShortTitle(), "in.svm");
    tool_ = "svremux", reason_ = " is the title itself\n";
    ExpectRefused({SV_SVREMUX_PATH, in, "-o", dir_.File("link")}, dir_.File("link"));
    ExpectRefused({SV_SVREMUX_PATH, dir_.File("hard"), "-o", in}, in);
}

// A folder given where a tool reads its title or input is refused as the system words it, by
// every tool; a stream that is no title (ffmpeg's MPEG-TS named as a title) is refused with the
// reason and, in every tool that reads titles, the same hint how titles are made. Exit 1 and no
// output either way.
TEST(InputRefusal, AFolderIsADirectoryAndAStreamThatIsNoTitleGetsTheHint) {
    TemporaryDirectory dir("inputrefusal");
    const std::string folder = dir.File("folder");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    const std::string stream = dir.File("clip.svm");
    WriteWholeFile(stream, ReadWholeFile(Fixtures::ShortClip()));
    const std::string out = dir.File("out");
    const std::string port = std::to_string(SvTestSupport::UnusedLoopbackPort());
    const auto hint = [](const std::string& tool) {
        return tool +
               ": hint: a title is a file of the engine's own container (.svm); mktitle makes "
               "one\nfrom MPEG-TS files as ffmpeg writes them (an .mp4 becomes one with:\n"
               "ffmpeg -i IN.mp4 -c copy IN.ts, then mktitle IN.ts OUT.svm)\n";
    };
    const std::string isDirectory = ": Is a directory\n";
    const struct {
        std::vector<std::string> argv;
        std::string end;  // how the report ends (svplay's event lines come before)
    } cases[] = {
        {{Fixtures::MktitlePath(), folder, out}, "mktitle: cannot read " + folder + isDirectory},
        {{Fixtures::MktitlePath(), "--smil", out, "--textstream", "en:" + folder,
          Fixtures::ShortClip()},
         "mktitle: cannot read " + folder + isDirectory},
        {{SV_TITLEDUMP_PATH, folder}, "titledump: cannot read " + folder + isDirectory},
        {{SV_KVJSON_PATH, folder}, "kvjson: cannot read " + folder + isDirectory},
        {{SV_SVREMUX_PATH, folder, "-o", out}, "svremux: cannot open " + folder + isDirectory},
        {{SV_SVPLAY_PATH, "--port", port, folder}, "svplay: cannot play " + folder + isDirectory},
        {{SV_SVPLAY_PATH, "--port", port, "file://" + folder},
         "svplay: cannot play file://" + folder + isDirectory},
        {{SV_SVREMUX_PATH, stream, "-o", out},
         "svremux: " + stream + ": Invalid data format (1001)\n" + hint("svremux")},
        {{SV_SVPLAY_PATH, "--port", port, stream},
         "svplay: cannot play " + stream + ": Invalid data format (1001)\n" + hint("svplay")},
        {{SV_TITLEDUMP_PATH, stream},
         "titledump: " + stream + ": the title has no tracks\n" + hint("titledump")},
    };
    for (const auto& c : cases) {
        std::string command;
        for (const std::string& arg : c.argv) command += arg + " ";
        SCOPED_TRACE(command);
        std::string report;
        EXPECT_EQ(1, RunProgram(c.argv, &report)) << report;
        ASSERT_GE(report.size(), c.end.size()) << report;
        EXPECT_EQ(c.end, report.substr(report.size() - c.end.size())) << report;
        EXPECT_NE(0, access(out.c_str(), F_OK)) << "no output is made";
    }
}

}  // namespace
