#include "tools/mktitle/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    return text;
}

TEST(ProgressLine, RedrawsOnlyWhenThePercentageChanges) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(nullptr, file);
    {
        SvTools::ProgressLine line(file, true);
        line.Update("reading a.ts", 0, 200);
        line.Update("reading a.ts", 1, 200);    // still 0 %
        line.Update("reading a.ts", 101, 200);  // 50 %
        line.Update("writing b", 7, 0);         // nothing to do is all done
        line.Update("writing b", 9, 0);
    }  // ended by the destructor
    EXPECT_EQ(
        "\rmktitle: reading a.ts 0%"
        "\rmktitle: reading a.ts 50%"
        // the shorter line blanks what is left of the longest one (25 characters)
        "\rmktitle: writing b 100%  "
        "\n",
        Contents(file));
    std::fclose(file);
}

TEST(ProgressLine, DisabledPrintsNothing) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(nullptr, file);
    {
        SvTools::ProgressLine line(file, false);
        line.Update("reading", 5, 10);
        line.End();
    }
    EXPECT_EQ("", Contents(file));
    std::fclose(file);
}

}  // namespace
