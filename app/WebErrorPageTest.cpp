// The error page's text: only the first placeholder is filled, and the error's words are shown
// as text.

#include "app/WebErrorPage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/store/Bundle.h"

namespace {

TEST(WebErrorPageTest, FillsOnlyTheFirstPlaceholderWithEscapedText) {
    EXPECT_EQ("<p>&lt;a href=&#39;x&#39;&gt;&amp;&quot;</p><p>%@</p> 100% %d %s",
              WebErrorPage::fill("<p>%@</p><p>%@</p> 100% %d %s", "<a href='x'>&\""));
    // A percent in the text is not a format either.
    EXPECT_EQ("[%@ 50% %d]", WebErrorPage::fill("[%@]", "%@ 50% %d"));
    EXPECT_EQ("no placeholder", WebErrorPage::fill("no placeholder", "text"));
    EXPECT_EQ("", WebErrorPage::fill("%@", ""));
}

TEST(WebErrorPageTest, TheBundlesPageHasItsPlaceholderInAParagraph) {
    const std::string path = ns::Bundle::Main().PathForResource(WebErrorPage::kResourceName,
                                                                WebErrorPage::kResourceType);
    ASSERT_FALSE(path.empty());
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    const std::string page = WebErrorPage::fill(text.str(), "gone & lost");
    EXPECT_NE(std::string::npos, page.find("<p>gone &amp; lost</p>"));
    EXPECT_EQ(std::string::npos, page.find("%@"));
}

}  // namespace
