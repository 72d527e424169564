#include "engine/container/Mpeg2PsResult.h"

#include <gtest/gtest.h>

#include <string>

namespace SarvelonMediaKit {
namespace {

// The numbers and words that reach users: the demultiplexer's "Mpeg2PsParser error N", the
// title dump's "result: N (words)" and svremux's "the parser stopped: words (N, ...)". Written
// out here as those outputs have always shown them, so that a renumbered or reworded result
// is caught.
TEST(Mpeg2PsResultTest, EveryResultKeepsItsReportedNumberAndWords) {
    struct Case {
        Mpeg2PsResult result;
        uint32_t number;
        const char* words;
    };
    const Case cases[] = {
        {Mpeg2PsResult::Ok, 0, "ok"},
        {Mpeg2PsResult::NoPackFirst, 1, "data before the first pack"},
        {Mpeg2PsResult::BadStreamMap, 2, "bad program stream map"},
        {Mpeg2PsResult::BadMagic, 4, "bad index entry magic"},
        {Mpeg2PsResult::EntryTooShort, 5, "index entry too short"},
        {Mpeg2PsResult::UnknownVersion, 6, "unknown index entry version"},
        {Mpeg2PsResult::EntryIncomplete, 10, "index entry incomplete"},
        {Mpeg2PsResult::ProgramEnd, 12, "program end"},
        {Mpeg2PsResult::SeekTableNotStored, 13, "seek table cannot be stored"},
        {Mpeg2PsResult::UnsupportedAudio, 16, "unsupported audio for trick play"},
        {Mpeg2PsResult::BadTags, 17, "bad tags or metadata block"},
        {Mpeg2PsResult::NoMetadataItem, 19, "header record outside the first pack"},
        {Mpeg2PsResult::SeekTableTooLong, 21, "seek table longer than its entry"},
        {Mpeg2PsResult::NoSelectedTrack, 22, "trick play without a track"},
        {Mpeg2PsResult::DigestFailed, 23, "index digest failed"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.number, Mpeg2PsResultNumber(c.result)) << c.words;
        EXPECT_EQ(std::string(c.words), Mpeg2PsResultText(c.result)) << c.number;
    }
}

TEST(Mpeg2PsResultTest, ACodeOutsideTheListIsAnError) {
    // Gaps between the numbers, and a listener's own code, have no words of their own.
    for (uint32_t number : {3u, 11u, 14u, 18u, 24u, 0x2Au, 0xFFFFFFFFu}) {
        EXPECT_EQ(std::string("error"), Mpeg2PsResultText(static_cast<Mpeg2PsResult>(number)))
            << number;
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
