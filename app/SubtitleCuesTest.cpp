// The cue list on hand-made entries: which text shows at each second, across minutes and seeks,
// and how the filing follows the duration. Every expected text is worked out by hand from the
// entries in the test.
#include "app/SubtitleCues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/testing/LogCapture.h"

namespace {

class SubtitleCuesTest : public ::testing::Test {
protected:
    int Count(const std::string& message) {
        int n = 0;
        for (const std::string& m : log_.Messages("[Q-S]")) n += m == message;
        return n;
    }

    SubtitleCues cues_;
    AppTestSupport::LogCapture log_;  // last: what the members log while made is not counted
};

// Cues 58-62 "Across", 118-120 "Before" and 120-123 "On the minute", as a document gives them:
// each text at its begin, then its end marker.
TEST_F(SubtitleCuesTest, CueAcrossAMinuteEndsWithTheMinuteAndShowsAgainAfterASeekBack) {
    cues_.setDuration(300);
    cues_.fill(
        {{58, "Across"}, {62, ""}, {118, "Before"}, {120, ""}, {120, "On the minute"}, {123, ""}});
    EXPECT_EQ("Across", cues_.textAt(58));
    EXPECT_EQ("Across", cues_.textAt(59));
    EXPECT_EQ("", cues_.textAt(60));
    EXPECT_EQ("", cues_.textAt(61));
    EXPECT_EQ("", cues_.textAt(62));
    // Seeking back: the stored cue is unchanged.
    EXPECT_EQ("Across", cues_.textAt(58));
    EXPECT_EQ("Across", cues_.textAt(59));
    // An entry right at the new minute shows there (its own begin after the other's end).
    EXPECT_EQ("Before", cues_.textAt(118));
    EXPECT_EQ("On the minute", cues_.textAt(120));
    EXPECT_EQ("On the minute", cues_.textAt(122));
    EXPECT_EQ("", cues_.textAt(123));
}

// Cues past the duration, and every cue given before the duration is known, are kept; a second
// past the last one answers "". The duration is whole seconds, never below 0.
TEST_F(SubtitleCuesTest, CuesPastTheDurationAreKept) {
    cues_.fill({{5, "Early"}, {6, ""}, {300, "Later"}, {302, ""}});
    EXPECT_EQ(1, Count("[Q-S] the max interval 0.000000"));
    EXPECT_EQ("Early", cues_.textAt(5));
    EXPECT_EQ("Later", cues_.textAt(300));
    EXPECT_EQ("Later", cues_.textAt(301));
    EXPECT_EQ("", cues_.textAt(302));
    EXPECT_EQ("", cues_.textAt(100000));

    for (double bad : {-5.0, std::nan("")}) {
        cues_.setDuration(bad);
        EXPECT_EQ(0, cues_.duration());
    }
    cues_.setDuration(125.9);
    EXPECT_EQ(125, cues_.duration());
    cues_.setDuration(30.9);
    EXPECT_EQ(30, cues_.duration());
}

// New entries replace the old ones, a day or more in is dropped, and clearing drops them all.
TEST_F(SubtitleCuesTest, FillReplacesAndClearDropsTheCues) {
    cues_.setDuration(120);
    cues_.fill({{5, "Five"}, {7, ""}});
    EXPECT_EQ("Five", cues_.textAt(5));
    cues_.fill({{6, "Six"}, {8, ""}, {SubtitleCues::kMaxMinutes * 60, "A day in"}});
    EXPECT_EQ("", cues_.textAt(5));
    EXPECT_EQ("Six", cues_.textAt(6));
    EXPECT_EQ(1, Count("[Q-S] Bad cell 86400 - A day in"));
    EXPECT_EQ("", cues_.textAt(86400));
    cues_.clear();
    EXPECT_EQ("", cues_.textAt(6));
}

}  // namespace
