// The ctest label script of a test program (see TestLabels.h): every test program's main asks
// LabelScriptRequested first, so a program with a main of its own keeps its marks too.

#include "tests/support/TestLabelScript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestLabels.h"

namespace {

const char kOption[] = "--sv_ctest_labels=";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// A suite's name as GoogleTest reports it carries an instantiation's prefix
// ("Titles/LiveHttpSegmenterPlayerTest") or a typed suite's index ("Suite/0"): the mark names
// the suite as written, which is one of its parts.
bool SuiteMatches(const std::string& reported, const std::string& written) {
    for (const std::string& part : Split(reported, '/')) {
        if (part == written) return true;
    }
    return false;
}

// A parameterised test's name ends in "/index".
bool TestMatches(const std::string& reported, const std::string& written) {
    return written.empty() || Split(reported, '/').front() == written;
}

// The name gtest_discover_tests gives a test when it leaves parameters unprinted: GoogleTest's
// own "Prefix/Suite.Name/0" for value-parameterised tests, "Suite.Name<0>" for typed ones.
std::string CtestName(const testing::TestSuite& suite, const testing::TestInfo& info) {
    const std::string name = suite.name();
    if (suite.type_param() == nullptr) return name + "." + info.name();
    return name.substr(0, name.find('/')) + "." + info.name() + "<" +
           name.substr(name.rfind('/') + 1) + ">";
}

int WriteLabelScript(const std::string& argument) {
    const size_t colon = argument.find(':');
    if (colon == std::string::npos) {
        std::fprintf(stderr, "%s needs FOLDER_LABEL:SCRIPT\n", kOption);
        return 2;
    }
    const std::string folderLabel = argument.substr(0, colon);
    const std::string scriptPath = argument.substr(colon + 1);
    const std::set<std::string> known = {"e2e", "slow"};
    std::map<std::string, std::set<std::string>> labels;  // ctest name -> further labels
    int failures = 0;
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    for (const SvTestSupport::TestLabelMark& mark : SvTestSupport::TestLabelMarks()) {
        const std::string where = mark.suite + (mark.test.empty() ? "" : "." + mark.test);
        if (known.count(mark.label) == 0) {
            std::fprintf(stderr, "label %s of %s: only e2e and slow are known\n",
                         mark.label.c_str(), where.c_str());
            ++failures;
            continue;
        }
        bool found = false;
        for (int s = 0; s < unit.total_test_suite_count(); ++s) {
            const testing::TestSuite& suite = *unit.GetTestSuite(s);
            if (!SuiteMatches(suite.name(), mark.suite)) continue;
            for (int t = 0; t < suite.total_test_count(); ++t) {
                const testing::TestInfo& info = *suite.GetTestInfo(t);
                if (!TestMatches(info.name(), mark.test)) continue;
                labels[CtestName(suite, info)].insert(mark.label);
                found = true;
            }
        }
        if (!found) {
            std::fprintf(stderr, "label %s names no test: %s\n", mark.label.c_str(), where.c_str());
            ++failures;
        }
    }
    if (failures != 0) return 1;
    std::ofstream script(scriptPath, std::ios::trunc);
    script << "# Written by the test program when it was built: the labels its tests carry\n"
              "# beside their folder's.\n";
    for (const auto& [name, extra] : labels) {
        std::string list = folderLabel;
        for (const std::string& label : extra) list += ";" + label;
        script << "set_tests_properties([==[" << name << "]==] PROPERTIES LABELS \"" << list
               << "\")\n";
    }
    script.close();
    if (!script) {
        std::fprintf(stderr, "cannot write %s\n", scriptPath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

std::optional<int> SvTestSupport::LabelScriptRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kOption, sizeof kOption - 1) == 0) {
            return WriteLabelScript(argv[i] + sizeof kOption - 1);
        }
    }
    return std::nullopt;
}
